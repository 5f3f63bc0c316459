#include "support/sim_trace_lines.h"

#include <cstdio>
#include <fstream>

namespace hnx::test {

std::vector<std::string> TraceLines(const sim::SimDevice& device) {
  std::vector<std::string> lines;
  for (const sim::TraceRecord& record : device.trace()) lines.push_back(sim::FormatTraceRecord(record));
  return lines;
}

std::vector<std::string> TraceFileLines(const std::string& path) {
  std::vector<std::string> lines;
  std::ifstream file(path, std::ios::binary);
  for (std::string line; std::getline(file, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

std::string FrameTraceLine(std::uint8_t opcode, std::uint32_t address) {
  char line[64];
  std::snprintf(line, sizeof line, "write 10 10 1 %02X 00 00 %02X %02X %02X %02X 00 %s 00", opcode,
                static_cast<unsigned>(address >> 24), static_cast<unsigned>(address >> 16 & 0xFF),
                static_cast<unsigned>(address >> 8 & 0xFF), static_cast<unsigned>(address & 0xFF),
                opcode == 0x25 ? "FF" : "40");
  return line;
}

}  // namespace hnx::test
