// The transfer log: one line per call of a transfer-library entry point. The simulated device writes
// the same lines for the calls it receives, so a log taken in the field and a simulator trace compare
// line by line.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace hnx {

struct TraceRecord {
  enum class Call { OpenPipe, ClosePipe, BulkWrite, BulkRead };
  Call call = Call::OpenPipe;
  std::uint32_t length = 0;         // bytes asked for
  std::uint32_t count = 0;          // bytes reported moved
  bool ok = false;                  // the entry point's result
  std::vector<std::uint8_t> bytes;  // a 10-byte write's frame; a 1-byte read's status

  bool operator==(const TraceRecord&) const = default;
};

// One line, e.g. "write 10 10 1 28 00 00 00 00 00 40 00 40 00" (link/PROTOCOL.md, "The transfer log").
std::string FormatTraceRecord(const TraceRecord& record);

// What a transport knows of the device whose pipe it opened: where it sits and what it says it is.
struct DeviceFacts {
  std::string location;  // "1-4.2"
  std::uint16_t vendorId = 0;
  std::uint16_t productId = 0;
  std::uint8_t bus = 0;
  std::uint8_t address = 0;
  std::string speed;                  // "12 Mbit/s"
  std::optional<std::string> serial;  // the serial number string, when the device has one
};

// Where the binding reports each call it makes.
class TransferLog {
 public:
  virtual ~TransferLog() = default;
  virtual void Record(const TraceRecord& record) = 0;
  // The pipe was opened to this device (transports that know it); after its "open" record.
  virtual void DeviceOpened(const DeviceFacts& /*facts*/) {}
};

// Appends each line to a file and flushes it at once, so that a run that dies keeps its log.
class TransferLogFile final : public TransferLog {
 public:
  // Opens `path` for appending; check isOpen().
  explicit TransferLogFile(const std::string& path);
  ~TransferLogFile() override;
  TransferLogFile(const TransferLogFile&) = delete;
  TransferLogFile& operator=(const TransferLogFile&) = delete;

  bool isOpen() const { return file_ != nullptr; }
  void Record(const TraceRecord& record) override;

 private:
  std::FILE* file_ = nullptr;
};

}  // namespace hnx
