#include "support/ops_expect.h"

#include <algorithm>
#include <ostream>

#include "ops/operation_scope.h"
#include "link/isp.h"

namespace hnx::test {
namespace {

constexpr const char* kCaption = "HNX470 Update Tool";

bool IsTransfer(const sim::TraceRecord& record) {
  return record.call == sim::TraceRecord::Call::BulkWrite || record.call == sim::TraceRecord::Call::BulkRead;
}

}  // namespace

ShownMessage Info(const std::string& text) {
  return {text, kCaption, MessageIcon::Information, false};
}
ShownMessage Error(const std::string& text) {
  return {text, kCaption, MessageIcon::Error, false};
}
ShownMessage Warning(const std::string& text) {
  return {text, kCaption, MessageIcon::Exclamation, false};
}
ShownMessage Plain(const std::string& text) {
  return {text, kCaption, MessageIcon::None, false};
}
ShownMessage AppMessage(const std::string& text) {
  return {text, "", MessageIcon::None, true};
}

std::vector<EnableChange> GuardHistory() {
  std::vector<EnableChange> history;
  for (bool enable : {false, true})
    for (int id : kOperationButtons) history.push_back({id, enable});
  return history;
}

void PrintTo(const SentFrame& frame, std::ostream* out) {
  *out << "frame 0x" << std::hex << int{frame.opcode} << " @0x" << frame.address << std::dec;
}

std::vector<SentFrame> SentFrames(const Trace& trace) {
  std::vector<SentFrame> frames;
  for (const auto& record : trace) {
    if (record.call != sim::TraceRecord::Call::BulkWrite || record.bytes.size() != kFrameLength) continue;
    const auto& b = record.bytes;
    frames.push_back(
        {b[0], std::uint32_t{b[3]} << 24 | std::uint32_t{b[4]} << 16 | std::uint32_t{b[5]} << 8 | b[6]});
  }
  return frames;
}

std::vector<SentFrame> BlockFrames(std::uint8_t opcode, std::uint32_t imageSize, std::uint32_t blockLength) {
  std::vector<SentFrame> frames;
  for (std::uint32_t address = 0; address < imageSize; address += blockLength)
    frames.push_back({opcode, address});
  return frames;
}

std::vector<SentFrame> Concat(std::vector<std::vector<SentFrame>> parts) {
  std::vector<SentFrame> all;
  for (auto& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

std::size_t TransferCount(const Trace& trace) {
  return static_cast<std::size_t>(std::count_if(trace.begin(), trace.end(), IsTransfer));
}

std::size_t CallCount(const Trace& trace, sim::TraceRecord::Call call) {
  return static_cast<std::size_t>(
      std::count_if(trace.begin(), trace.end(), [call](const auto& record) { return record.call == call; }));
}

std::vector<sim::TraceRecord::Call> CallsAfterLastTransfer(const Trace& trace) {
  const auto last = std::find_if(trace.rbegin(), trace.rend(), IsTransfer);
  std::vector<sim::TraceRecord::Call> calls;
  for (auto record = last.base(); record != trace.end(); ++record) calls.push_back(record->call);
  return calls;
}

}  // namespace hnx::test
