// The texts that a file dialog is given, converted from the framework's forms.
#pragma once

#include <string>

namespace hnx {

// "Text|pattern|Text|pattern||" to the NUL-separated list that the system expects, always ending in
// two NULs (a filter written without the closing "||" would otherwise run off its end).
std::string FilterWithNulls(const std::string& filter);

// The extension that the dialog appends to a name typed without one: "*.dmp" and ".dmp" both give
// "dmp", since the system would append the text as it is.
std::string DefaultExtension(const std::string& text);

}  // namespace hnx
