#include "link/transfer_trace.h"

#include <cstdio>

#include "link/file_names.h"

namespace hnx {
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

TransferLogFile::TransferLogFile(const std::string& path) : file_(OpenForAppending(path)) {}

TransferLogFile::~TransferLogFile() {
  if (file_ != nullptr) std::fclose(file_);
}

void TransferLogFile::Record(const TraceRecord& record) {
  if (file_ == nullptr) return;
  std::fputs(FormatTraceRecord(record).c_str(), file_);
  std::fputc('\n', file_);
  std::fflush(file_);
}

}  // namespace hnx
