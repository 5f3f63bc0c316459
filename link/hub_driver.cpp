#include "link/hub_driver.h"

#include <cstring>

namespace hnx {

std::optional<std::string> WideToNarrow(HubDriver& driver, const char16_t* text) {
  const int size = driver.ConvertWideToNarrow(text, nullptr, 0);
  if (size <= 0) return std::nullopt;
  std::string narrow(static_cast<std::size_t>(size), '\0');
  if (driver.ConvertWideToNarrow(text, narrow.data(), size) == 0) return std::nullopt;
  narrow.resize(std::strlen(narrow.c_str()));
  return narrow;
}

}  // namespace hnx
