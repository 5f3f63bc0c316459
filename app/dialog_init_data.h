// The initial data of a dialog template (resource type 240): messages to send to controls once the
// dialog exists, such as the entries of a combo box's list.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace hnx {

inline constexpr std::uint16_t kDialogInitResourceType = 240;
// The 16-bit number of the combo box add-string message, as the data carries it.
inline constexpr std::uint16_t kDialogInitAddString16 = 0x0403;  // CB_ADDSTRING

struct DialogInitRecord {
  std::uint16_t controlId = 0;
  std::uint16_t message = 0;
  std::vector<std::uint8_t> data;
};

// Records up to the end mark (a control id of 0). A record that runs past the data ends the list.
std::vector<DialogInitRecord> ParseDialogInitData(std::span<const std::uint8_t> bytes);

}  // namespace hnx
