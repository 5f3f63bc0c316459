// The link layer's calls into Windows, other than the hub driver.
#include <windows.h>

#include <vector>

#include "link/transfer_library.h"

namespace hnx {

DynamicLibrary::Handle PlatformDynamicLibrary::Load(const std::string& path) {
  return LoadLibraryA(path.c_str());
}

void* PlatformDynamicLibrary::Resolve(Handle library, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void PlatformDynamicLibrary::Unload(Handle library) {
  FreeLibrary(static_cast<HMODULE>(library));
}

// The buffer grows until the whole path fits, so a long path is never cut short.
std::string ProgramPath() {
  std::vector<char> name(MAX_PATH);
  for (;;) {
    const DWORD length = GetModuleFileNameA(nullptr, name.data(), static_cast<DWORD>(name.size()));
    if (length == 0) return "";
    if (length < name.size()) return std::string(name.data(), length);
    name.resize(name.size() * 2);
  }
}

}  // namespace hnx
