#include "sim/trace_record.h"

#include <cstdio>

namespace hnx::sim {
namespace {

std::string Transfer(const char* name, const TraceRecord& record) {
  std::string line = std::string(name) + " " + std::to_string(record.length) + " " +
                     std::to_string(record.count) + (record.ok ? " 1" : " 0");
  for (std::uint8_t byte : record.bytes) {
    char hex[4];
    std::snprintf(hex, sizeof hex, " %02X", byte);
    line += hex;
  }
  return line;
}

}  // namespace

std::string FormatTraceRecord(const TraceRecord& record) {
  switch (record.call) {
    case TraceRecord::Call::OpenPipe:
      return record.ok ? "open 1" : "open 0";
    case TraceRecord::Call::ClosePipe:
      return "close";
    case TraceRecord::Call::BulkWrite:
      return Transfer("write", record);
    case TraceRecord::Call::BulkRead:
      return Transfer("read", record);
  }
  return "";
}

}  // namespace hnx::sim
