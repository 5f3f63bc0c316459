#include "ops/image_formats.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <new>
#include <numeric>
#include <optional>
#include <string_view>

namespace hnx {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Result = std::variant<DecodedImage, ImageError>;

constexpr char kMalformed[] = "malformed record";
constexpr char kBadChecksum[] = "bad checksum";

// Length, address, type, 255 data bytes and checksum of Intel HEX; S-records are shorter.
constexpr std::size_t kLongestRecord = 260;
using RecordBuffer = std::array<std::uint8_t, kLongestRecord>;

std::string HexText(std::uint64_t value, int digits) {
  char text[24];
  std::snprintf(text, sizeof text, "%0*llX", digits, static_cast<unsigned long long>(value));
  return text;
}

bool IsText(std::uint8_t byte) {
  return (byte >= 0x20 && byte <= 0x7E) || byte == '\t' || byte == '\r' || byte == '\n';
}

bool IsDigit(std::uint8_t byte) {
  return byte >= '0' && byte <= '9';
}

ImageFormat Detect(std::span<const std::uint8_t> content) {
  const bool hex = !content.empty() && content[0] == ':';
  const bool srecord = content.size() >= 2 && content[0] == 'S' && IsDigit(content[1]);
  if (!(hex || srecord) || !std::all_of(content.begin(), content.end(), IsText)) return ImageFormat::Binary;
  return hex ? ImageFormat::IntelHex : ImageFormat::SRecord;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// The bytes that `digits` spell in pairs, kept in `buffer`; none for any other character, an odd
// number of digits or more bytes than a record can hold.
std::optional<std::span<const std::uint8_t>> RecordBytes(std::string_view digits, RecordBuffer& buffer) {
  if (digits.size() % 2 != 0 || digits.size() / 2 > buffer.size()) return std::nullopt;
  for (std::size_t i = 0; i < digits.size(); i += 2) {
    const int high = HexDigit(digits[i]);
    const int low = HexDigit(digits[i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    buffer[i / 2] = static_cast<std::uint8_t>(high << 4 | low);
  }
  return std::span<const std::uint8_t>(buffer.data(), digits.size() / 2);
}

std::uint8_t Sum(std::span<const std::uint8_t> bytes) {
  return static_cast<std::uint8_t>(std::accumulate(bytes.begin(), bytes.end(), 0u));
}

std::uint32_t BigEndian(std::span<const std::uint8_t> bytes) {
  return std::accumulate(bytes.begin(), bytes.end(), 0u,
                         [](std::uint32_t value, std::uint8_t byte) { return value << 8 | byte; });
}

// The lines of a text file without their LF or CRLF ends, numbered from 1.
class Lines {
 public:
  explicit Lines(std::span<const std::uint8_t> content)
      : text_(reinterpret_cast<const char*>(content.data()), content.size()) {}

  bool Next(std::string_view& line) {
    if (at_ >= text_.size()) return false;
    const std::size_t end = std::min(text_.find('\n', at_), text_.size());
    line = text_.substr(at_, end - at_);
    if (line.ends_with('\r')) line.remove_suffix(1);
    at_ = end + 1;
    ++number_;
    return true;
  }
  std::uint32_t number() const { return number_; }

 private:
  std::string_view text_;
  std::size_t at_ = 0;
  std::uint32_t number_ = 0;
};

// The flash as records fill it: erased until given, and never given two values for one address.
class Flash {
 public:
  explicit Flash(std::uint32_t size) : bytes_(size, 0xFF), given_(size) {}

  std::optional<ImageError> Put(std::uint64_t address, std::span<const std::uint8_t> data,
                                std::uint32_t line) {
    for (const std::uint8_t byte : data) {
      if (address >= bytes_.size())
        return ImageError{line, "data outside the chip at address 0x" + HexText(address, 8)};
      if (given_[address] && bytes_[address] != byte)
        return ImageError{line, "address 0x" + HexText(address, 8) + " given two different bytes"};
      bytes_[address] = byte;
      given_[address] = true;
      ++address;
    }
    return std::nullopt;
  }
  Bytes Take() { return std::move(bytes_); }

 private:
  Bytes bytes_;
  std::vector<bool> given_;
};

Result DecodeBinary(std::span<const std::uint8_t> content, std::uint32_t flashSize) {
  if (content.size() < flashSize)
    return ImageError{0, "the file holds " + std::to_string(content.size()) +
                             (content.size() == 1 ? " byte" : " bytes") + "; the chip needs " +
                             std::to_string(flashSize)};
  return DecodedImage{ImageFormat::Binary, Bytes(content.begin(), content.begin() + flashSize)};
}

Result DecodeIntelHex(std::span<const std::uint8_t> content, std::uint32_t flashSize) {
  // The data length that each record type other than data requires.
  constexpr std::size_t kLength[] = {0, 0, 2, 4, 2, 4};
  Flash flash(flashSize);
  Lines lines(content);
  std::uint64_t base = 0;
  bool ended = false;
  RecordBuffer buffer;
  for (std::string_view line; lines.Next(line);) {
    if (line.empty()) continue;
    const std::uint32_t number = lines.number();
    if (ended) return ImageError{number, "record after the end-of-file record"};
    const auto record = line.starts_with(':') ? RecordBytes(line.substr(1), buffer) : std::nullopt;
    if (!record || record->size() < 5 || (*record)[0] != record->size() - 5)
      return ImageError{number, kMalformed};
    if (Sum(*record) != 0) return ImageError{number, kBadChecksum};
    const std::uint32_t offset = BigEndian(record->subspan(1, 2));
    const std::uint8_t type = (*record)[3];
    const std::span<const std::uint8_t> data = record->subspan(4, record->size() - 5);
    if (type == 0) {
      if (auto fault = flash.Put(base + offset, data, number)) return *std::move(fault);
      continue;
    }
    if (type > 5) return ImageError{number, "unknown record type " + HexText(type, 2)};
    if (offset != 0 || data.size() != kLength[type]) return ImageError{number, kMalformed};
    if (type == 1) ended = true;
    if (type == 2) base = BigEndian(data) << 4;
    if (type == 4) base = BigEndian(data) << 16;
  }
  if (!ended) return ImageError{lines.number() + 1, "no end-of-file record"};
  return DecodedImage{ImageFormat::IntelHex, flash.Take()};
}

Result DecodeSRecord(std::span<const std::uint8_t> content, std::uint32_t flashSize) {
  // The address length of each type S0 to S9; S4 has none.
  constexpr std::size_t kAddressLength[] = {2, 2, 3, 4, 0, 2, 3, 4, 3, 2};
  Flash flash(flashSize);
  Lines lines(content);
  RecordBuffer buffer;
  for (std::string_view line; lines.Next(line);) {
    if (line.empty()) continue;
    const std::uint32_t number = lines.number();
    const bool typed = line.size() >= 2 && line[0] == 'S' && IsDigit(line[1]);
    const auto record = typed ? RecordBytes(line.substr(2), buffer) : std::nullopt;
    if (!record || record->empty() || (*record)[0] != record->size() - 1)
      return ImageError{number, kMalformed};
    // The checksum is the ones' complement of the sum of the bytes before it.
    if (Sum(*record) != 0xFF) return ImageError{number, kBadChecksum};
    const int type = line[1] - '0';
    if (type == 4) return ImageError{number, "unknown record type S4"};
    const std::size_t addressLength = kAddressLength[type];
    if (record->size() < 2 + addressLength) return ImageError{number, kMalformed};
    const std::span<const std::uint8_t> data =
        record->subspan(1 + addressLength, record->size() - 2 - addressLength);
    if (type >= 5 && !data.empty()) return ImageError{number, kMalformed};
    if (type >= 1 && type <= 3) {
      if (auto fault = flash.Put(BigEndian(record->subspan(1, addressLength)), data, number))
        return *std::move(fault);
    }
  }
  return DecodedImage{ImageFormat::SRecord, flash.Take()};
}

}  // namespace

std::variant<DecodedImage, ImageError> DecodeImage(std::span<const std::uint8_t> content,
                                                   std::uint32_t flashSize) {
  try {
    switch (Detect(content)) {
      case ImageFormat::IntelHex:
        return DecodeIntelHex(content, flashSize);
      case ImageFormat::SRecord:
        return DecodeSRecord(content, flashSize);
      case ImageFormat::Binary:
        break;
    }
    return DecodeBinary(content, flashSize);
  } catch (const std::bad_alloc&) {
    return ImageError{0, "not enough memory for the flash"};
  }
}

const char* ImageFormatName(ImageFormat format) {
  switch (format) {
    case ImageFormat::IntelHex:
      return "Intel HEX";
    case ImageFormat::SRecord:
      return "S-record";
    case ImageFormat::Binary:
      break;
  }
  return "binary";
}

}  // namespace hnx
