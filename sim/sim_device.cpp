#include "sim/sim_device.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "link/isp.h"

namespace hnx::sim {
namespace {

// Refused reads answer the complement of the flash, so a caller that keeps a refused block shows up.
constexpr std::uint8_t kRefusedStatus = 1;

std::uint32_t FrameAddress(const std::uint8_t* frame) {
  return std::uint32_t{frame[3]} << 24 | std::uint32_t{frame[4]} << 16 | std::uint32_t{frame[5]} << 8 |
         frame[6];
}

}  // namespace

SimDevice::SimDevice(std::uint32_t flashSize, std::uint32_t blockLength)
    : flashSize_(flashSize), blockLength_(blockLength), flash_(flashSize, 0xFF) {}

std::uint8_t SimDevice::OpenPipe() {
  const bool refused = faults_.openFailures < 0 || openFailuresGiven_ < faults_.openFailures;
  if (refused && faults_.openFailures > 0) ++openFailuresGiven_;
  if (!refused) {
    pipeOpen_ = true;
    exitedIsp_ = false;
    transfers_ = 0;
    turn_ = Turn::Frame;
  }
  Record({TraceRecord::Call::OpenPipe, 0, 0, !refused, {}});
  return refused ? 0 : 1;
}

void SimDevice::ClosePipe() {
  pipeOpen_ = false;
  turn_ = Turn::Frame;
  Record({TraceRecord::Call::ClosePipe, 0, 0, true, {}});
}

SimDevice::Fate SimDevice::NextTransferFate() {
  ++transfers_;
  if (faults_.delayMicroseconds != 0)
    std::this_thread::sleep_for(std::chrono::microseconds(faults_.delayMicroseconds));
  if (transfers_ == faults_.failTransfer) return Fate::Failed;
  if (transfers_ == faults_.shortTransfer) return Fate::Short;
  return Fate::Whole;
}

std::uint8_t SimDevice::BulkWrite(const std::uint8_t* data, std::uint32_t length, std::uint32_t* count) {
  TraceRecord record{TraceRecord::Call::BulkWrite, length, 0, false, {}};
  if (data != nullptr && length == kFrameLength) record.bytes.assign(data, data + length);
  const Fate fate = NextTransferFate();
  const bool usable = pipeOpen_ && !exitedIsp_ && data != nullptr && count != nullptr;
  if (usable && fate == Fate::Short) {
    record.ok = true;
    record.count = length == 0 ? 0 : length - 1;
  } else if (usable && fate == Fate::Whole && Receive(data, length)) {
    record.ok = true;
    record.count = length;
  }
  if (record.count != length || !record.ok) turn_ = Turn::Frame;
  if (count != nullptr) *count = record.count;
  Record(record);
  return record.ok ? 1 : 0;
}

std::uint8_t SimDevice::BulkRead(std::uint8_t* buffer, std::uint32_t length, std::uint32_t* count) {
  TraceRecord record{TraceRecord::Call::BulkRead, length, 0, false, {}};
  const Fate fate = NextTransferFate();
  const bool usable = pipeOpen_ && !exitedIsp_ && buffer != nullptr && count != nullptr;
  if (usable && fate == Fate::Short) {
    record.ok = true;
    record.count = length == 0 ? 0 : length - 1;
  } else if (usable && fate == Fate::Whole && Answer(buffer, length)) {
    record.ok = true;
    record.count = length;
    if (length == 1) record.bytes.push_back(buffer[0]);
  }
  if (record.count != length || !record.ok) turn_ = Turn::Frame;
  if (count != nullptr) *count = record.count;
  Record(record);
  return record.ok ? 1 : 0;
}

bool SimDevice::Receive(const std::uint8_t* data, std::uint32_t length) {
  if (turn_ == Turn::Frame) return length == kFrameLength && ReceiveFrame(data);
  if (turn_ != Turn::ProgramData || length != blockLength_) return false;
  Program(data);
  turn_ = Turn::Status;
  return true;
}

bool SimDevice::ReceiveFrame(const std::uint8_t* frame) {
  const auto opcode = frame[0];
  const std::uint32_t address = FrameAddress(frame);
  if (frame[1] != 0 || frame[2] != 0 || frame[7] != 0 || frame[9] != 0) return false;
  if (frame[8] != (opcode == OpMassErase ? kMassEraseTrailer : kCommandTrailer)) return false;
  const bool takesBlock = opcode == OpProgramBlock || opcode == OpReadBlock;
  if (takesBlock ? address % blockLength_ != 0 || address >= flashSize_ : address != 0) return false;
  switch (opcode) {
    case OpMassErase:
      flash_.assign(flashSize_, 0xFF);
      readProtected_ = false;
      ++changes_;
      pendingStatus_ = faults_.eraseStatus.value_or(0);
      turn_ = Turn::Status;
      return true;
    case OpProgramBlock:
      pendingAddress_ = address;
      turn_ = Turn::ProgramData;
      return true;
    case OpReadBlock:
      pendingAddress_ = address;
      turn_ = Turn::ReadData;
      return true;
    case OpFinish:
      return true;
    case OpReadProtect:
      readProtected_ = true;
      ++changes_;
      return true;
    case OpExitIsp:
      exitedIsp_ = true;
      return true;
    default:
      return false;
  }
}

void SimDevice::Program(const std::uint8_t* data) {
  const auto planned = faults_.programStatus.find(pendingAddress_);
  pendingStatus_ = planned == faults_.programStatus.end() ? 0 : planned->second;
  if (pendingStatus_ != 0) return;
  // NOR flash: programming only clears bits.
  for (std::uint32_t i = 0; i < blockLength_; ++i) flash_[pendingAddress_ + i] &= data[i];
  ++changes_;
}

bool SimDevice::Answer(std::uint8_t* buffer, std::uint32_t length) {
  if (turn_ == Turn::ReadData && length == blockLength_) {
    AnswerBlock(buffer);
    turn_ = Turn::Status;
    return true;
  }
  if (turn_ == Turn::Status && length == 1) {
    buffer[0] = pendingStatus_;
    turn_ = Turn::Frame;
    return true;
  }
  return false;
}

void SimDevice::AnswerBlock(std::uint8_t* buffer) {
  const auto planned = faults_.readRefusals.find(pendingAddress_);
  const bool refuse =
      planned != faults_.readRefusals.end() && refusalsGiven_[pendingAddress_] < planned->second;
  if (refuse) ++refusalsGiven_[pendingAddress_];
  pendingStatus_ = refuse ? kRefusedStatus : 0;
  const std::uint32_t end = pendingAddress_ + blockLength_;
  if (readProtected_) {
    std::fill(buffer, buffer + blockLength_, 0);
  } else {
    std::copy(flash_.begin() + pendingAddress_, flash_.begin() + end, buffer);
    for (auto stuck = faults_.stuckCells.lower_bound(pendingAddress_);
         stuck != faults_.stuckCells.end() && stuck->first < end; ++stuck)
      buffer[stuck->first - pendingAddress_] = stuck->second;
  }
  if (refuse)
    std::transform(buffer, buffer + blockLength_, buffer,
                   [](std::uint8_t b) { return static_cast<std::uint8_t>(~b); });
}

void SimDevice::Record(TraceRecord record) {
  if (traceSink_) traceSink_(record);
  trace_.push_back(std::move(record));
}

}  // namespace hnx::sim
