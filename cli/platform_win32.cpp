#include <io.h>

#include "cli/platform.h"

namespace hnx::cli {

StagingPaths StagingForThisRun() {
  return kProgramStaging;
}

std::string DefaultTransferLibraryPath() {
  return TransferLibraryPathBeside(ProgramPath());
}

std::unique_ptr<UsbBus> MakeSystemUsb() {
  return nullptr;
}

std::unique_ptr<HubDriver> MakeHubDriver() {
  return std::make_unique<Win32HubDriver>();
}

std::uint32_t CountDevices(OperationContext& context) {
  std::uint32_t count = 0;
  CountAttachedDevices(context.hubs, count);
  return count;
}

bool IsTerminal(std::FILE* stream) {
  return _isatty(_fileno(stream)) != 0;
}

void PrepareProcess() {
  RestrictLibrarySearchToSystemFolder();
}

}  // namespace hnx::cli
