#include "app/application_title.h"

#include <windows.h>

#include "app/module_name.h"

namespace hnx::win {

std::string ApplicationTitle() {
  char path[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  return hnx::ModuleBaseName(std::string(path, length));
}

}  // namespace hnx::win
