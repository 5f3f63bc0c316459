#include "app/dialog_init_data.h"

namespace hnx {
namespace {

std::uint32_t ReadLittleEndian(std::span<const std::uint8_t> bytes, std::size_t offset, std::size_t size) {
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < size; ++i) value |= std::uint32_t{bytes[offset + i]} << (8 * i);
  return value;
}

}  // namespace

std::vector<DialogInitRecord> ParseDialogInitData(std::span<const std::uint8_t> bytes) {
  constexpr std::size_t kHeaderSize = 8;  // control id, message, data length
  std::vector<DialogInitRecord> records;
  std::size_t offset = 0;
  while (offset + 2 <= bytes.size()) {
    DialogInitRecord record;
    record.controlId = static_cast<std::uint16_t>(ReadLittleEndian(bytes, offset, 2));
    if (record.controlId == 0 || offset + kHeaderSize > bytes.size()) break;
    record.message = static_cast<std::uint16_t>(ReadLittleEndian(bytes, offset + 2, 2));
    const std::uint32_t length = ReadLittleEndian(bytes, offset + 4, 4);
    offset += kHeaderSize;
    if (length > bytes.size() - offset) break;
    record.data.assign(bytes.begin() + offset, bytes.begin() + offset + length);
    offset += length;
    records.push_back(std::move(record));
  }
  return records;
}

}  // namespace hnx
