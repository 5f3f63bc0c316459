// Paths as the driver receives them (Unix paths from ctest) and as Windows programs use them.
#pragma once

#include <string>

namespace hnx::e2e {

// "/tmp/x/y.exe" becomes "Z:\tmp\x\y.exe" (Wine maps the Unix root to drive Z); Windows paths stay.
std::string WindowsPath(const std::string& path);
std::string JoinPath(const std::string& folder, const std::string& name);
std::string ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::string& bytes);
bool FileExists(const std::string& path);
bool DirectoryExists(const std::string& path);
// A new empty folder under the system's temporary folder.
std::string MakeTempFolder(const std::string& label);
void RemoveTree(const std::string& folder);

}  // namespace hnx::e2e
