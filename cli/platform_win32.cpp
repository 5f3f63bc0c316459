#include <io.h>
#include <windows.h>

#include <atomic>

#include "cli/platform.h"

namespace hnx::cli {
namespace {

std::atomic<bool> interrupted = false;

// The first Ctrl-C only sets the flag; for the second the system's handler ends the process.
BOOL WINAPI OnConsoleControl(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) return FALSE;
  return interrupted.exchange(true) ? FALSE : TRUE;
}

}  // namespace

StagingPaths StagingForThisRun(const std::string&) {
  return kProgramStaging;
}

StopFlag StopOnInterrupt() {
  SetConsoleCtrlHandler(&OnConsoleControl, TRUE);
  return &interrupted;
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
