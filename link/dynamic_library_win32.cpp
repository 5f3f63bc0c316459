#include <windows.h>

#include "link/dynamic_library.h"

namespace hnx {

DynamicLibrary::Handle PlatformDynamicLibrary::Load(const std::string& path) {
  return LoadLibraryA(path.c_str());
}

void* PlatformDynamicLibrary::Resolve(Handle library, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void PlatformDynamicLibrary::Unload(Handle library) { FreeLibrary(static_cast<HMODULE>(library)); }

}  // namespace hnx
