#include "ops/production_record.h"

#include <cctype>
#include <cmath>
#include <ctime>

#include <nlohmann/json.hpp>

namespace hnx {
namespace {

using Json = nlohmann::ordered_json;

// "2026-12-07T19:10:18.123Z"
std::string UtcText(std::chrono::system_clock::time_point time) {
  const auto milliseconds =
      std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count();
  std::tm utc{};
#if defined(_WIN32)
  // The 32-bit program's time_t ends in January 2038; its 64-bit sibling does not.
  const __time64_t seconds = milliseconds / 1000;
  _gmtime64_s(&utc, &seconds);
#else
  const std::time_t seconds = static_cast<std::time_t>(milliseconds / 1000);
  gmtime_r(&seconds, &utc);
#endif
  char text[40];
  const std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
  std::snprintf(text + length, sizeof text - length, ".%03dZ", static_cast<int>(milliseconds % 1000));
  return text;
}

std::string Hex4(std::uint16_t value) {
  char text[8];
  std::snprintf(text, sizeof text, "%04x", value);
  return text;
}

Json OrNull(const std::optional<std::string>& text) {
  return text ? Json(*text) : Json(nullptr);
}

Json ImageJson(const std::optional<ImageIdentity>& image) {
  if (!image) return nullptr;
  return {{"source", image->source},
          {"size", image->size},
          {"sha256", image->sha256.empty() ? Json(nullptr) : Json(image->sha256)}};
}

Json UsbJson(const std::optional<DeviceFacts>& usb) {
  if (!usb) return nullptr;
  return {{"vendor", Hex4(usb->vendorId)},
          {"product", Hex4(usb->productId)},
          {"bus", usb->bus},
          {"address", usb->address},
          {"speed", usb->speed}};
}

}  // namespace

ImageIdentity IdentifyImage(std::string source, std::span<const std::uint8_t> bytes) {
  ImageIdentity identity{std::move(source), bytes.size(), ""};
  if (const std::optional<Sha256Digest> digest = Sha256(bytes)) {
    static constexpr char kDigits[] = "0123456789abcdef";
    for (const std::uint8_t byte : *digest) {
      identity.sha256 += kDigits[byte >> 4];
      identity.sha256 += kDigits[byte & 0xF];
    }
  }
  return identity;
}

bool IsSha256Text(const std::string& text) {
  if (text.size() != 64) return false;
  for (const char c : text)
    if (std::isxdigit(static_cast<unsigned char>(c)) == 0) return false;
  return true;
}

std::string RecordLine(const ProductionRecord& record) {
  const RecordHeader& header = *record.header;
  Json line = {{"time", UtcText(record.start)},
               {"duration_s", std::round(record.durationSeconds * 1000) / 1000},
               {"host", header.host},
               {"operator", header.operatorName},
               {"tool", header.tool},
               {"command", header.command},
               {"device", OrNull(record.device)},
               {"usb", UsbJson(record.usb)},
               {"serial", record.usb ? OrNull(record.usb->serial) : Json(nullptr)},
               {"chip", header.chip},
               {"image", ImageJson(header.image)},
               {"bytes", record.bytes},
               {"transfers", record.transfers},
               {"result", record.result},
               {"code", record.code}};
  // A file name or an outcome text that is not UTF-8 (a Chinese code page's) keeps the line valid.
  return line.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
}

DeviceRunRecord::DeviceRunRecord(const RecordHeader& header, std::optional<std::string> device,
                                 TransferLog* next)
    : header_(header), device_(std::move(device)), next_(next) {}

void DeviceRunRecord::Record(const TraceRecord& record) {
  const bool bulk = record.call == TraceRecord::Call::BulkWrite || record.call == TraceRecord::Call::BulkRead;
  if (bulk && record.ok && record.count == record.length) ++transfers_;
  if (next_ != nullptr) next_->Record(record);
}

void DeviceRunRecord::DeviceOpened(const DeviceFacts& facts) {
  usb_ = facts;
  if (next_ != nullptr) next_->DeviceOpened(facts);
}

ProductionRecord DeviceRunRecord::Finish(const std::string& result, int code, std::uint64_t bytes) const {
  ProductionRecord record;
  record.start = start_;
  record.durationSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
  record.header = &header_;
  record.device = usb_ ? std::optional(usb_->location) : device_;
  record.usb = usb_;
  record.bytes = bytes;
  record.transfers = transfers_;
  record.result = result;
  record.code = code;
  return record;
}

std::string DeviceRunRecord::Write(const std::string& result, int code, std::uint64_t bytes) const {
  if (header_.path.empty()) return "";
  const std::string failure = AppendRecordLine(header_.path, RecordLine(Finish(result, code, bytes)));
  return failure.empty() ? "" : "Can't write the record file " + header_.path + ": " + failure;
}

}  // namespace hnx
