// The portable pieces of the dialog framework: the initial data of a dialog template, the texts that
// a file dialog is given, and a program's base name.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace hnx {

// The initial data of a dialog template (resource type 240): messages to send to controls once the
// dialog exists, such as the entries of a combo box's list.
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

// "Text|pattern|Text|pattern||" to the NUL-separated list that the system expects, always ending in
// two NULs (a filter written without the closing "||" would otherwise run off its end).
std::string FilterWithNulls(const std::string& filter);

// The extension that the dialog appends to a name typed without one: "*.dmp" and ".dmp" both give
// "dmp", since the system would append the text as it is.
std::string DefaultExtension(const std::string& text);

// A program's base name: its path without the folder and the last extension.
std::string ModuleBaseName(const std::string& path);

}  // namespace hnx
