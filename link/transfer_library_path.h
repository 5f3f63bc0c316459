// Where the program looks for the transfer library.
#pragma once

#include <string>

namespace hnx {

inline constexpr const char* kTransferLibraryName = "ZB_USB.DLL";

// The folder of `modulePath` (up to and including its last separator) followed by the library's
// name; "" (nothing to load) for a path without a folder. Only the program's own folder is searched:
// a library planted in the current directory is never loaded.
std::string TransferLibraryPathBeside(const std::string& modulePath);

#if defined(_WIN32)
// The library beside the running executable.
std::string TransferLibraryPath();
#endif

}  // namespace hnx
