// The folder and file operations of staging, in the platform's narrow (ANSI) paths.
#pragma once

#include <string>

namespace hnx {

bool PathExists(const std::string& path);
bool FolderExists(const std::string& path);
// Creates one folder; its parent must exist.
bool MakeFolder(const std::string& path);
bool DeleteFileAt(const std::string& path);
// Removes an empty folder only.
bool RemoveEmptyFolder(const std::string& path);

}  // namespace hnx
