#include "app/module_name.h"

namespace hnx {

std::string ModuleBaseName(const std::string& path) {
  const auto separator = path.find_last_of("\\/:");
  std::string name = separator == std::string::npos ? path : path.substr(separator + 1);
  const auto dot = name.rfind('.');
  if (dot != std::string::npos && dot != 0) name.erase(dot);
  return name;
}

}  // namespace hnx
