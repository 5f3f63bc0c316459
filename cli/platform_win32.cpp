#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <io.h>

#include <atomic>
#include <cstdlib>

#include "cli/platform.h"
#include "link/file_names.h"

namespace hnx::cli {
namespace {

UINT consoleOutputCodePage = 0;

void RestoreConsoleOutputCodePage() {
  SetConsoleOutputCP(consoleOutputCodePage);
}

std::string Utf8(const wchar_t* text) {
  const int length = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (length <= 1) return "";
  std::string narrow(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, narrow.data(), length, nullptr, nullptr);
  narrow.pop_back();  // the terminating zero
  return narrow;
}

// What the console control handler, which the system calls on a thread of its own, can reach.
std::atomic<bool> interrupted = false;
HANDLE runEnded = nullptr;  // a manual-reset event, set by RunEnded()

// After a close, log-off or shutdown event Windows waits about 5 seconds for the handler, then ends
// the process; the handler waits no longer than that.
constexpr DWORD kCloseWaitMilliseconds = 5000;

BOOL WINAPI ConsoleControl(DWORD event) {
  return OnConsoleControl(event) != 0 ? TRUE : FALSE;
}

}  // namespace

// Ctrl-C or Ctrl-Break: the first only asks for the stop; for a second one the system's handler ends
// the process. The console closed, log-off, shutdown: the process ends when the handler returns, so
// it asks for the stop and returns once the run has ended (or the system's patience has).
int OnConsoleControl(unsigned long event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      return interrupted.exchange(true) ? FALSE : TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      interrupted = true;
      if (runEnded != nullptr) WaitForSingleObject(runEnded, kCloseWaitMilliseconds);
      return TRUE;
    default:
      return FALSE;
  }
}

StagingPaths StagingForThisRun(const std::string&) {
  return kProgramStaging;
}

StopFlag StopOnInterrupt() {
  if (runEnded == nullptr) runEnded = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  SetConsoleCtrlHandler(&ConsoleControl, TRUE);
  return &interrupted;
}

void RunEnded() {
  if (runEnded != nullptr) SetEvent(runEnded);
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

// The console shows the UTF-8 lines as written, a path in any script included; the code page the
// console had is given back at exit, as the shell that started the program relies on it. Without a
// console (output to a file or a pipe) the bytes are UTF-8 anyway.
void PrepareProcess() {
  RestrictLibrarySearchToSystemFolder();
  SetFileNameEncoding(FileNameEncoding::Utf8);
  consoleOutputCodePage = GetConsoleOutputCP();
  if (consoleOutputCodePage != 0 && consoleOutputCodePage != CP_UTF8 && SetConsoleOutputCP(CP_UTF8))
    std::atexit(RestoreConsoleOutputCodePage);
}

// The C runtime's argv is in the ANSI code page, which turns what it cannot spell into "?".
std::vector<std::string> CommandLineArguments(int argc, char** argv) {
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr) return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
  std::vector<std::string> arguments;
  for (int i = 1; i < count; ++i) arguments.push_back(Utf8(wide[i]));
  LocalFree(wide);
  return arguments;
}

}  // namespace hnx::cli
