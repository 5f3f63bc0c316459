#include <sys/stat.h>
#include <unistd.h>

#include "ops/file_system.h"

namespace hnx {

bool PathExists(const std::string& path) {
  struct stat status {};
  return stat(path.c_str(), &status) == 0;
}

bool FolderExists(const std::string& path) {
  struct stat status {};
  return stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

bool MakeFolder(const std::string& path) {
  return mkdir(path.c_str(), 0777) == 0;
}

bool DeleteFileAt(const std::string& path) {
  return unlink(path.c_str()) == 0;
}

bool RemoveEmptyFolder(const std::string& path) {
  return rmdir(path.c_str()) == 0;
}

}  // namespace hnx
