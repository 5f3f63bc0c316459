#include "ops/image_formats.h"

#include <gtest/gtest.h>

#include <limits>
#include <numeric>
#include <string_view>

namespace hnx {
namespace {

using namespace std::string_view_literals;
using Bytes = std::vector<std::uint8_t>;

Bytes Content(std::string_view text) {
  return {text.begin(), text.end()};
}

// The refusal of a file; a file that decodes gives a line no file has and the format it was read as.
ImageError Refusal(std::string_view file, std::uint32_t flashSize) {
  const auto result = DecodeImage(Content(file), flashSize);
  if (const auto* error = std::get_if<ImageError>(&result)) return *error;
  return {std::numeric_limits<std::uint32_t>::max(),
          std::string("decoded as ") + ImageFormatName(std::get<DecodedImage>(result).format)};
}

struct Placed {
  std::uint32_t address;
  Bytes bytes;
};

// Erased flash with `data` in it.
Bytes Flash(std::uint32_t size, const std::vector<Placed>& data) {
  Bytes flash(size, 0xFF);
  for (const auto& [address, bytes] : data) std::copy(bytes.begin(), bytes.end(), flash.begin() + address);
  return flash;
}

struct DecodedCase {
  std::string_view file;
  std::uint32_t flashSize;
  std::vector<Placed> data;
};

struct RefusedCase {
  std::string_view file;
  std::uint32_t line;
  const char* text;
};

void ExpectDecoded(const std::vector<DecodedCase>& cases, ImageFormat format) {
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    const auto result = DecodeImage(Content(c.file), c.flashSize);
    if (const auto* error = std::get_if<ImageError>(&result)) {
      ADD_FAILURE() << "refused at line " << error->line << ": " << error->text;
      continue;
    }
    EXPECT_EQ(std::get<DecodedImage>(result).format, format);
    EXPECT_EQ(std::get<DecodedImage>(result).bytes, Flash(c.flashSize, c.data));
  }
}

void ExpectRefused(const std::vector<RefusedCase>& cases) {
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    const ImageError error = Refusal(c.file, 0x100);
    EXPECT_EQ(error.line, c.line);
    EXPECT_EQ(error.text, c.text);
  }
}

TEST(ImageDetection, TellsTheFormatByTheFirstBytesOfAFileThatIsAllText) {
  struct Case {
    std::string_view file;
    const char* format;
  };
  // Each file is decoded into a flash of its own size, so that read as binary it fits exactly.
  // clang-format off
  const std::vector<Case> cases = {
      {":00000001FF\n",         "Intel HEX"},
      {"S9030000FC\r\n",        "S-record"},
      {":00000001FF\n\x80"sv,   "binary"},  // a byte above ASCII
      {":00000001FF\n\0"sv,     "binary"},
      {":00000001FF\n\x7F"sv,   "binary"},  // DEL is not printable
      {"S9030000FC\x1A"sv,      "binary"},
      {"SA030000FC\n",          "binary"},  // S without a digit
      {"s9030000FC\n",          "binary"},
      {"\n:00000001FF\n",       "binary"},
      {" S9030000FC\n",         "binary"},
      {"S",                     "binary"},
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    const auto result = DecodeImage(Content(c.file), static_cast<std::uint32_t>(c.file.size()));
    ASSERT_TRUE(std::holds_alternative<DecodedImage>(result)) << std::get<ImageError>(result).text;
    EXPECT_STREQ(ImageFormatName(std::get<DecodedImage>(result).format), c.format);
  }
}

// A raw binary is the first flash-size bytes of the file; a file shorter than the flash is refused as
// a whole.
TEST(RawBinary, IsTheFirstFlashSizeBytesOfTheFileOrRefusedWhenShorter) {
  struct Case {
    std::size_t size;
    std::uint32_t flashSize;
    const char* text;  // none: decoded
  };
  // clang-format off
  const std::vector<Case> cases = {
      {20,  20,    nullptr},
      {20,  12,    nullptr},
      {100, 65536, "the file holds 100 bytes; the chip needs 65536"},
      {1,   16,    "the file holds 1 byte; the chip needs 16"},
      {0,   16,    "the file holds 0 bytes; the chip needs 16"},
  };
  // clang-format on
  for (const auto& c : cases) {
    Bytes file(c.size);
    for (std::size_t i = 0; i < file.size(); ++i) file[i] = static_cast<std::uint8_t>(i * 37 + 1);
    const auto result = DecodeImage(file, c.flashSize);
    if (c.text != nullptr) {
      ASSERT_TRUE(std::holds_alternative<ImageError>(result)) << c.size;
      EXPECT_EQ(std::get<ImageError>(result).line, 0u);
      EXPECT_EQ(std::get<ImageError>(result).text, c.text);
      continue;
    }
    ASSERT_TRUE(std::holds_alternative<DecodedImage>(result)) << c.flashSize;
    EXPECT_EQ(std::get<DecodedImage>(result).format, ImageFormat::Binary);
    EXPECT_EQ(std::get<DecodedImage>(result).bytes, Bytes(file.begin(), file.begin() + c.flashSize));
  }
}

TEST(IntelHex, PlacesTheDataOfEachRecordInErasedFlash) {
  // clang-format off
  ExpectDecoded({
      {":0100000011EE\n:01000400AA51\n:00000001FF\n", 8, {{0, {0x11}}, {4, {0xAA}}}},
      // segment base 0x1000 << 4, then linear base 1 << 16, then back to 0
      {":020000021000EC\n:0400040001020304EE\n:00000001FF\n", 0x10010, {{0x10004, {1, 2, 3, 4}}}},
      {":020000040001F9\n:0400040001020304EE\n:020000040000FA\n:0100000011EE\n:00000001FF\n", 0x10010,
       {{0x10004, {1, 2, 3, 4}}, {0, {0x11}}}},
      // start addresses say nothing about the flash
      {":0400000300001234B3\n:0400000500001234B1\n:0100000011EE\n:00000001FF", 4, {{0, {0x11}}}},
      {":02000000abcd86\r\n\r\n:00000001ff\r\n\r\n", 4, {{0, {0xAB, 0xCD}}}},
      {":0100400011AE\n:0100400011AE\n:00000001FF\n", 0x41, {{0x40, {0x11}}}},
  }, ImageFormat::IntelHex);
  // clang-format on
}

TEST(IntelHex, RefusesAFaultyFileAtTheLineOfTheFault) {
  // clang-format off
  ExpectRefused({
      {":0400000001020304F2\n:01000400AA52\n:00000001FF\n",   2, "bad checksum"},
      {":04000000010203G4F2\n:00000001FF\n",                  1, "malformed record"},
      {":0400000001020304F\n:00000001FF\n",                   1, "malformed record"},  // odd digit count
      {":0500000001020304F1\n:00000001FF\n",                  1, "malformed record"},  // length 5, 4 bytes
      {":00000001\n",                                         1, "malformed record"},  // no checksum
      {":0100000011EE\n0400000001020304F2\n:00000001FF\n",    2, "malformed record"},  // no colon
      {":0400000001020304F2\t\n:00000001FF\n",                1, "malformed record"},
      {":0100000011EE\n:020010040001E9\n:00000001FF\n",       2, "malformed record"},  // address on type 04
      {":0100000210ED\n:00000001FF\n",                        1, "malformed record"},  // short type 02
      {":0100000100FE\n",                                     1, "malformed record"},  // end with data
      {":00000006FA\n:00000001FF\n",                          1, "unknown record type 06"},
      {":0400FE0001020304F4\n:00000001FF\n",                  1, "data outside the chip at address 0x00000100"},
      {":020000040001F9\n:0100000011EE\n:00000001FF\n",       2, "data outside the chip at address 0x00010000"},
      {":0100400011AE\n:03003E0011223359\n:00000001FF\n",     2, "address 0x00000040 given two different bytes"},
      {":0100000011EE\n\n",                                   3, "no end-of-file record"},
      {":0100000011EE",                                       2, "no end-of-file record"},
      {":00000001FF\n\n:0100000011EE\n",                      3, "record after the end-of-file record"},
  });
  // clang-format on
}

// A record: `text`, then the digits of `bytes` and of their checksum, which makes the sum 0 for Intel
// HEX, 0xFF for S-records.
std::string Record(std::string text, Bytes bytes, std::uint8_t sum) {
  bytes.push_back(static_cast<std::uint8_t>(sum - std::accumulate(bytes.begin(), bytes.end(), 0u)));
  for (const std::uint8_t byte : bytes) {
    text.push_back("0123456789ABCDEF"[byte >> 4]);
    text.push_back("0123456789ABCDEF"[byte & 15]);
  }
  return text;
}

// The longest records each format has: 255 data bytes in Intel HEX, 252 in an S1 record.
TEST(LongestRecords, AreDecodedWhole) {
  Bytes data(255);
  std::iota(data.begin(), data.end(), 1);
  Bytes hex = {0xFF, 0x00, 0x01, 0x00}, s1 = {0xFF, 0x00, 0x01};
  hex.insert(hex.end(), data.begin(), data.end());
  s1.insert(s1.end(), data.begin(), data.end() - 3);
  const std::string hexFile = Record(":", hex, 0).append("\n:00000001FF\n"), s1File = Record("S1", s1, 0xFF);
  ExpectDecoded({{hexFile, 0x100, {{1, data}}}}, ImageFormat::IntelHex);
  ExpectDecoded({{s1File, 0x100, {{1, Bytes(data.begin(), data.end() - 3)}}}}, ImageFormat::SRecord);
}

TEST(SRecord, PlacesTheDataOfEachRecordInErasedFlash) {
  // clang-format off
  ExpectDecoded({
      {"S00600004844521B\nS10500000102F7\nS1040004AA4D\nS5030001FB\nS9030000FC\n", 8,
       {{0, {1, 2}}, {4, {0xAA}}}},
      {"S20801000401020304E8\nS604000001FA\nS804000000FB\n", 0x10010, {{0x10004, {1, 2, 3, 4}}}},
      {"S3090001000401020304E7\nS70500000000FA\n", 0x10010, {{0x10004, {1, 2, 3, 4}}}},
      // no termination record
      {"S1050000abcd82\r\n\r\nS104004011AA\r\nS104004011AA", 0x41, {{0, {0xAB, 0xCD}}, {0x40, {0x11}}}},
  }, ImageFormat::SRecord);
  // clang-format on
}

TEST(SRecord, RefusesAFaultyFileAtTheLineOfTheFault) {
  // clang-format off
  ExpectRefused({
      {"S10500000102F7\nS1040004AA4E\n",             2, "bad checksum"},
      {"S10500000102G7\n",                           1, "malformed record"},
      {"S10500000102F\n",                            1, "malformed record"},  // odd digit count
      {"S10600000102F6\n",                           1, "malformed record"},  // count 6, 5 bytes
      {"S10500000102F7\ns1040004AA4D\n",             2, "malformed record"},
      {"S10500000102F7\nSX040004AA4D\n",             2, "malformed record"},
      {"S1\n",                                       1, "malformed record"},
      {"S304000000FB\n",                             1, "malformed record"},  // too short for its address
      {"S10500000102F7\nS904000001FA\n",             2, "malformed record"},  // termination with data
      {"S10500000102F7\nS4030000FC\n",               2, "unknown record type S4"},
      {"S307FFFFFFFE0102FA\n",                       1, "data outside the chip at address 0xFFFFFFFE"},
      {"S104004011AA\nS106003E11223355\n",           2, "address 0x00000040 given two different bytes"},
  });
  // clang-format on
}

}  // namespace
}  // namespace hnx
