#include "app/file_dialog_text.h"

#include <algorithm>

namespace hnx {

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

}  // namespace hnx
