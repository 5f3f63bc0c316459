// A model of the microcontroller in ISP mode, as seen through the four entry points of the
// transfer library. Test and demo equipment only.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace hnx::sim {

// What can go wrong, on purpose. Transfer numbers count bulk writes and reads together, from 1,
// starting again at every successful USB_Open_PIPE.
struct FaultPlan {
  int openFailures = 0;                  // USB_Open_PIPE answers 0 this many times; -1: always
  std::uint64_t failTransfer = 0;        // this transfer reports failure (0: none)
  std::uint64_t shortTransfer = 0;       // this transfer reports success with one byte fewer
  std::optional<std::uint8_t> eraseStatus;             // status answered to a mass erase
  std::map<std::uint32_t, std::uint8_t> programStatus; // block address -> status after programming
  std::map<std::uint32_t, std::uint32_t> readRefusals; // block address -> times the read is refused
  std::map<std::uint32_t, std::uint8_t> stuckCells;    // flash address -> value the cell always holds
  std::uint32_t delayMicroseconds = 0;                 // before every bulk transfer

  // "open-fail=3;fail-transfer=7;refuse-read=0x40:2;..." (sim/README.md); nullopt on a syntax error.
  static std::optional<FaultPlan> Parse(std::string_view text);
};

struct TraceRecord {
  enum class Call { OpenPipe, ClosePipe, BulkWrite, BulkRead };
  Call call = Call::OpenPipe;
  std::uint32_t length = 0;         // bytes asked for
  std::uint32_t count = 0;          // bytes reported moved
  bool ok = false;                  // the entry point's result
  std::vector<std::uint8_t> bytes;  // a 10-byte write's frame; a 1-byte read's status

  bool operator==(const TraceRecord&) const = default;
};

// One line of the trace file, e.g. "write 10 10 1 28 00 00 00 00 40 00 40 00" (sim/README.md).
std::string FormatTraceRecord(const TraceRecord& record);

class SimDevice {
 public:
  explicit SimDevice(std::uint32_t flashSize = 0x10000, std::uint32_t blockLength = 64);

  // The entry points, with the library's results: non-zero on success.
  std::uint8_t OpenPipe();
  void ClosePipe();
  std::uint8_t BulkWrite(const std::uint8_t* data, std::uint32_t length, std::uint32_t* count);
  std::uint8_t BulkRead(std::uint8_t* buffer, std::uint32_t length, std::uint32_t* count);

  FaultPlan& faults() { return faults_; }
  const std::vector<TraceRecord>& trace() const { return trace_; }
  void ClearTrace() { trace_.clear(); }

  // The flash as the device holds it (stuck cells show their held value when read).
  std::vector<std::uint8_t>& flash() { return flash_; }
  std::uint32_t blockLength() const { return blockLength_; }
  bool pipeOpen() const { return pipeOpen_; }
  bool readProtected() const { return readProtected_; }
  bool exitedIsp() const { return exitedIsp_; }

  // The persistent part (geometry, flash, protection) as bytes, for the state file.
  std::vector<std::uint8_t> SaveState() const;
  // False, leaving the device as it was, when `state` is not a saved state.
  bool LoadState(const std::vector<std::uint8_t>& state);

 private:
  // implementation-defined members
  struct Pending;
  std::uint32_t flashSize_;
  std::uint32_t blockLength_;
  std::vector<std::uint8_t> flash_;
  FaultPlan faults_;
  std::vector<TraceRecord> trace_;
  bool pipeOpen_ = false;
  bool readProtected_ = false;
  bool exitedIsp_ = false;
};

}  // namespace hnx::sim
