// A model of the microcontroller in ISP mode, as seen through the four entry points of the
// transfer library. Test and demo equipment only.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <vector>

#include "sim/fault_plan.h"
#include "link/transfer_trace.h"

namespace hnx::sim {

// The device takes a frame, then the block for a program frame, then answers the block for a read
// frame, then the status byte for erase, program and read. Anything else (a malformed frame, a
// misaligned or out-of-range address, a transfer out of turn, any transfer with the pipe closed or
// after exit ISP) fails and abandons the exchange: the device waits for a frame again.
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
  // Also hands every record, as it is made, to `sink`.
  void SetTraceSink(std::function<void(const TraceRecord&)> sink) { traceSink_ = std::move(sink); }

  // The flash as the device holds it (stuck cells show their held value when read).
  std::vector<std::uint8_t>& flash() { return flash_; }
  const std::vector<std::uint8_t>& flash() const { return flash_; }
  std::uint32_t blockLength() const { return blockLength_; }
  bool pipeOpen() const { return pipeOpen_; }
  // While protected every read answers zeros (with status 0); a mass erase lifts the protection.
  bool readProtected() const { return readProtected_; }
  // Set by the exit frame; the next successful open puts the device back in ISP mode.
  bool exitedIsp() const { return exitedIsp_; }
  // Grows with every change to the persistent part, so a holder knows when to save it.
  std::uint64_t changes() const { return changes_; }

  // The persistent part (geometry, flash, protection) as bytes, for the state file.
  std::vector<std::uint8_t> SaveState() const;
  // False, leaving the device as it was, when `state` is not a saved state of this geometry.
  bool LoadState(const std::vector<std::uint8_t>& state);

 private:
  enum class Turn { Frame, ProgramData, ReadData, Status };
  enum class Fate { Whole, Failed, Short };

  Fate NextTransferFate();
  bool Receive(const std::uint8_t* data, std::uint32_t length);
  bool ReceiveFrame(const std::uint8_t* frame);
  void Program(const std::uint8_t* data);
  bool Answer(std::uint8_t* buffer, std::uint32_t length);
  void AnswerBlock(std::uint8_t* buffer);
  void Record(TraceRecord record);

  std::uint32_t flashSize_;
  std::uint32_t blockLength_;
  std::vector<std::uint8_t> flash_;
  FaultPlan faults_;
  std::vector<TraceRecord> trace_;
  std::function<void(const TraceRecord&)> traceSink_;
  bool pipeOpen_ = false;
  bool readProtected_ = false;
  bool exitedIsp_ = false;
  std::uint64_t changes_ = 0;

  Turn turn_ = Turn::Frame;
  std::uint32_t pendingAddress_ = 0;
  std::uint8_t pendingStatus_ = 0;
  std::uint64_t transfers_ = 0;
  int openFailuresGiven_ = 0;
  std::map<std::uint32_t, std::uint32_t> refusalsGiven_;
};

}  // namespace hnx::sim
