#include <dlfcn.h>

#include "link/dynamic_library.h"

namespace hnx {

DynamicLibrary::Handle PlatformDynamicLibrary::Load(const std::string& path) {
  return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
}

void* PlatformDynamicLibrary::Resolve(Handle library, const char* name) { return dlsym(library, name); }

void PlatformDynamicLibrary::Unload(Handle library) { dlclose(library); }

}  // namespace hnx
