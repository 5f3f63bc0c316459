#include "link/transfer_library_path.h"

#if defined(_WIN32)
#include <windows.h>

#include <vector>
#endif

namespace hnx {

std::string TransferLibraryPathBeside(const std::string& modulePath) {
  const auto lastSeparator = modulePath.find_last_of("\\/");
  if (lastSeparator == std::string::npos) return "";
  return modulePath.substr(0, lastSeparator + 1) + kTransferLibraryName;
}

#if defined(_WIN32)
std::string TransferLibraryPath() {
  std::vector<char> name(MAX_PATH);
  for (;;) {
    const DWORD length = GetModuleFileNameA(nullptr, name.data(), static_cast<DWORD>(name.size()));
    if (length == 0) return "";
    if (length < name.size()) return TransferLibraryPathBeside(std::string(name.data(), length));
    name.resize(name.size() * 2);
  }
}
#endif

}  // namespace hnx
