#include "app/dialog_support.h"

#include <algorithm>

#include "link/byte_order.h"

namespace hnx {

std::vector<DialogInitRecord> ParseDialogInitData(std::span<const std::uint8_t> bytes) {
  constexpr std::size_t kHeaderSize = 8;  // control id, message, data length
  std::vector<DialogInitRecord> records;
  std::size_t offset = 0;
  while (offset + 2 <= bytes.size()) {
    DialogInitRecord record;
    record.controlId = static_cast<std::uint16_t>(ReadLe16(bytes, offset));
    if (record.controlId == 0 || offset + kHeaderSize > bytes.size()) break;
    record.message = static_cast<std::uint16_t>(ReadLe16(bytes, offset + 2));
    const std::uint32_t length = ReadLe32(bytes, offset + 4);
    offset += kHeaderSize;
    if (length > bytes.size() - offset) break;
    record.data.assign(bytes.begin() + offset, bytes.begin() + offset + length);
    offset += length;
    records.push_back(std::move(record));
  }
  return records;
}

std::string FilterWithNulls(const std::string& filter) {
  std::string list = filter;
  std::replace(list.begin(), list.end(), '|', '\0');
  list.append(2, '\0');
  return list;
}

std::string DefaultExtension(const std::string& text) {
  const auto start = text.find_first_not_of("*.");
  return start == std::string::npos ? std::string() : text.substr(start);
}

std::string ModuleBaseName(const std::string& path) {
  const auto separator = path.find_last_of("\\/:");
  std::string name = separator == std::string::npos ? path : path.substr(separator + 1);
  const auto dot = name.rfind('.');
  if (dot != std::string::npos && dot != 0) name.erase(dot);
  return name;
}

}  // namespace hnx
