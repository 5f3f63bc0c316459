// The link layer's calls into a POSIX system.
#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "link/file_names.h"
#include "link/transfer_library.h"

namespace hnx {

DynamicLibrary::Handle PlatformDynamicLibrary::Load(const std::string& path) {
  return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
}

void* PlatformDynamicLibrary::Resolve(Handle library, const char* name) {
  return dlsym(library, name);
}

void PlatformDynamicLibrary::Unload(Handle library) {
  dlclose(library);
}

void SetFileNameEncoding(FileNameEncoding) {}

std::FILE* OpenForReading(const std::string& name) {
  return std::fopen(name.c_str(), "rb");
}

std::FILE* OpenForAppending(const std::string& name) {
  return std::fopen(name.c_str(), "ab");
}

std::optional<std::uint64_t> RegularFileSize(std::FILE* file) {
  struct stat status {};
  if (fstat(fileno(file), &status) != 0 || !S_ISREG(status.st_mode)) return std::nullopt;
  return static_cast<std::uint64_t>(status.st_size);
}

std::string ProgramPath() {
  std::vector<char> name(256);
  for (;;) {
    const ssize_t length = readlink("/proc/self/exe", name.data(), name.size());
    if (length <= 0) return "";
    if (static_cast<std::size_t>(length) < name.size()) return std::string(name.data(), length);
    name.resize(name.size() * 2);
  }
}

}  // namespace hnx
