// What the operation tests expect to see: messages as the dialog shows them, the guard's enabling,
// and the frames and transfers of the simulator's trace.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/trace_record.h"
#include "support/recording_dialog.h"

namespace hnx::test {

ShownMessage Info(const std::string& text);
ShownMessage Error(const std::string& text);
ShownMessage Warning(const std::string& text);  // the exclamation icon
ShownMessage Plain(const std::string& text);    // no icon
ShownMessage AppMessage(const std::string& text);

// The eight operation buttons disabled, then enabled again, each in the guard's order.
std::vector<EnableChange> GuardHistory();

struct SentFrame {
  std::uint8_t opcode = 0;
  std::uint32_t address = 0;
  bool operator==(const SentFrame&) const = default;
};
void PrintTo(const SentFrame& frame, std::ostream* out);

using Trace = std::vector<sim::TraceRecord>;

// Every 10-byte bulk write, sent whole or not.
std::vector<SentFrame> SentFrames(const Trace& trace);
// The frames of `opcode` at 0, L, 2L, ... below `imageSize`.
std::vector<SentFrame> BlockFrames(std::uint8_t opcode, std::uint32_t imageSize, std::uint32_t blockLength);
std::vector<SentFrame> Concat(std::vector<std::vector<SentFrame>> parts);
std::size_t TransferCount(const Trace& trace);
std::size_t CallCount(const Trace& trace, sim::TraceRecord::Call call);
// The calls after the last bulk transfer (all calls when there was none).
std::vector<sim::TraceRecord::Call> CallsAfterLastTransfer(const Trace& trace);

}  // namespace hnx::test
