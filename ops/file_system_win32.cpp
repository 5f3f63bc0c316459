#include <windows.h>

#include "ops/file_system.h"

namespace hnx {

bool PathExists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool FolderExists(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool MakeFolder(const std::string& path) {
  return CreateDirectoryA(path.c_str(), nullptr) != 0;
}

bool DeleteFileAt(const std::string& path) {
  return DeleteFileA(path.c_str()) != 0;
}

bool RemoveEmptyFolder(const std::string& path) {
  return RemoveDirectoryA(path.c_str()) != 0;
}

}  // namespace hnx
