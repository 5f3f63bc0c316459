// Production records: one line of JSON per device run, which ties the device (its place, ids and
// serial number) to the image it got (its SHA-256), with when, where, by whom and how it ended. The
// front ends fill a record; the operations' layer hashes, counts, formats and appends it.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "link/transfer_trace.h"

namespace hnx {

using Sha256Digest = std::array<std::uint8_t, 32>;

// By the system's library: OpenSSL's libcrypto on Linux, CNG on Windows (sha256_*.cpp). Nothing when
// the library fails.
std::optional<Sha256Digest> Sha256(std::span<const std::uint8_t> bytes);

// The image a run writes or compares with: where it came from ("embedded", or the file's name as
// given), its size in bytes and its SHA-256 in lowercase hexadecimal ("" when it could not be had).
struct ImageIdentity {
  std::string source;
  std::uint64_t size = 0;
  std::string sha256;
};
inline constexpr const char* kEmbeddedImageSource = "embedded";
ImageIdentity IdentifyImage(std::string source, std::span<const std::uint8_t> bytes);
// Whether `text` is 64 hexadecimal digits, either case.
bool IsSha256Text(const std::string& text);

// What every record of a run shares, known before its devices start (the image once it is read).
struct RecordHeader {
  std::string path;  // the file the records are appended to; "": none
  std::string host;
  std::string operatorName;
  std::string tool;     // "hnx-update 1.0.6"
  std::string command;  // "update"
  std::string chip;
  std::optional<ImageIdentity> image;
};

struct ProductionRecord {
  std::chrono::system_clock::time_point start;
  double durationSeconds = 0;
  const RecordHeader* header = nullptr;
  std::optional<std::string> device;  // the port path; nothing where the way to the device gives none
  std::optional<DeviceFacts> usb;     // the device whose pipe was opened
  std::uint64_t bytes = 0;            // flash bytes moved, both ways
  std::uint64_t transfers = 0;        // bulk transfers that moved
  std::string result;                 // the outcome's text
  int code = 0;                       // the exit code of the device's run
};

// The record as one JSON object on one line, the newline included.
std::string RecordLine(const ProductionRecord& record);

// One device run from its start: counts the transfers and notes the device on their way to the
// transfer log (`next`, when there is one), and writes the record when the run ends. One thread.
class DeviceRunRecord final : public TransferLog {
 public:
  // `device`: the place asked for, if any; the place of the device opened takes over.
  DeviceRunRecord(const RecordHeader& header, std::optional<std::string> device, TransferLog* next = nullptr);

  void Forward(TransferLog* next) { next_ = next; }
  void Record(const TraceRecord& record) override;
  void DeviceOpened(const DeviceFacts& facts) override;

  ProductionRecord Finish(const std::string& result, int code, std::uint64_t bytes) const;
  // Appends the finished record to the header's file, flushed to the disk: "" when written (or no
  // file is named), otherwise the line that says why not, naming the file.
  std::string Write(const std::string& result, int code, std::uint64_t bytes) const;

 private:
  const RecordHeader& header_;
  std::optional<std::string> device_;
  TransferLog* next_;
  std::chrono::system_clock::time_point start_ = std::chrono::system_clock::now();
  std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
  std::uint64_t transfers_ = 0;
  std::optional<DeviceFacts> usb_;
};

// The system's side (platform_*.cpp). Appends `line` with one write to the file at `path`, opened
// for appending (created when absent) so that writers in other threads and processes never
// interleave with it, and flushes it to the disk: "" when done, otherwise the system's reason.
std::string AppendRecordLine(const std::string& path, const std::string& line);
std::string HostName();
// The user's login name; "" when the system cannot tell.
std::string LoginName();

}  // namespace hnx
