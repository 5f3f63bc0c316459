// Loading a shared library, resolving its exports and unloading it.
#pragma once

#include <string>

namespace hnx {

class DynamicLibrary {
 public:
  using Handle = void*;
  virtual ~DynamicLibrary() = default;

  // The loaded library, or nullptr when it cannot be loaded.
  virtual Handle Load(const std::string& path) = 0;
  // The address of an exported name, or nullptr when the library lacks it.
  virtual void* Resolve(Handle library, const char* name) = 0;
  // Releases a handle that Load returned.
  virtual void Unload(Handle library) = 0;
};

// LoadLibraryA on Windows, dlopen elsewhere.
class PlatformDynamicLibrary final : public DynamicLibrary {
 public:
  Handle Load(const std::string& path) override;
  void* Resolve(Handle library, const char* name) override;
  void Unload(Handle library) override;
};

}  // namespace hnx
