// One call of an entry point as the simulated device saw it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace hnx::sim {

struct TraceRecord {
  enum class Call { OpenPipe, ClosePipe, BulkWrite, BulkRead };
  Call call = Call::OpenPipe;
  std::uint32_t length = 0;         // bytes asked for
  std::uint32_t count = 0;          // bytes reported moved
  bool ok = false;                  // the entry point's result
  std::vector<std::uint8_t> bytes;  // a 10-byte write's frame; a 1-byte read's status

  bool operator==(const TraceRecord&) const = default;
};

// One line of the trace file, e.g. "write 10 10 1 28 00 00 00 00 00 40 00 40 00" (sim/README.md).
std::string FormatTraceRecord(const TraceRecord& record);

}  // namespace hnx::sim
