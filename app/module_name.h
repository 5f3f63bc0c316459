// A program's base name: its path without the folder and the last extension.
#pragma once

#include <string>

namespace hnx {

std::string ModuleBaseName(const std::string& path);

}  // namespace hnx
