#include "sim/environment.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <cstdlib>
#endif

namespace hnx::sim {

std::optional<std::string> EnvironmentValue(const char* name) {
#if defined(_WIN32)
  // The process block rather than a C runtime's copy, which the program's runtime may not share.
  const DWORD size = GetEnvironmentVariableA(name, nullptr, 0);
  if (size <= 1) return std::nullopt;
  std::string value(size, '\0');
  const DWORD length = GetEnvironmentVariableA(name, value.data(), size);
  if (length == 0 || length >= size) return std::nullopt;
  value.resize(length);
  return value;
#else
  const char* value = std::getenv(name);
  if (value == nullptr || *value == '\0') return std::nullopt;
  return std::string(value);
#endif
}

}  // namespace hnx::sim
