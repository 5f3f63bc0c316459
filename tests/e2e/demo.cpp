#include "demo.h"

#include <windows.h>

#include <algorithm>
#include <iostream>
#include <vector>

#include "message_box.h"
#include "paths.h"
#include "program_session.h"
#include "res/resource.h"
#include "screen_image.h"
#include "windows_probe.h"

namespace hnx::e2e {
namespace {

constexpr DWORD kStartTimeoutMs = 30000;
constexpr DWORD kMessageTimeoutMs = 120000;
constexpr const char* kSuccess = "Auto Command Succeeded !!";

struct Running {
  PROCESS_INFORMATION process = {};
  HWND dialog = nullptr;
};

Running Start(const std::string& folder) {
  Running running;
  const std::string program = JoinPath(folder, "ZB4450_download.exe");
  std::string commandLine = "\"" + program + "\"";
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  if (!CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      folder.c_str(), &startup, &running.process)) {
    return running;
  }
  const DWORD processId = running.process.dwProcessId;
  running.dialog = WaitForWindow(
      [processId] {
        const auto found = TopLevelWindows(processId, [](HWND w) { return Text(w) == kDialogTitle; });
        return found.empty() ? nullptr : found.front();
      },
      kStartTimeoutMs);
  return running;
}

void Close(Running& running) {
  if (running.dialog != nullptr) PostMessageA(running.dialog, WM_CLOSE, 0, 0);
  if (WaitForSingleObject(running.process.hProcess, 10000) != WAIT_OBJECT_0) {
    TerminateProcess(running.process.hProcess, 1);
  }
  CloseHandle(running.process.hProcess);
  CloseHandle(running.process.hThread);
}

bool UpdateEnabled(HWND dialog) {
  return IsWindowEnabled(GetDlgItem(dialog, IDC_UPDATE)) != FALSE;
}

}  // namespace

int RunDemo(const std::string& folder, const std::string& screenshot) {
  Running running = Start(WindowsPath(folder));
  if (running.dialog == nullptr) {
    std::cout << "The program showed no dialog." << std::endl;
    return 1;
  }
  std::cout << "Clicking \"Update\"." << std::endl;
  PostMessageA(GetDlgItem(running.dialog, IDC_UPDATE), BM_CLICK, 0, 0);
  bool succeeded = false;
  // Every message box of the run, until the run has released its guard and shows nothing more.
  while (const auto box = DismissMessageBox(running.process.dwProcessId, kMessageTimeoutMs)) {
    std::cout << "Message box \"" << box->caption << "\": " << box->text << std::endl;
    succeeded = succeeded || box->text == kSuccess;
    if (WaitUntil([&] { return UpdateEnabled(running.dialog); }, kMessageTimeoutMs) &&
        !MessageBoxShown(running.process.dwProcessId)) {
      break;
    }
  }
  SaveBitmap(CaptureScreen(OuterRect(running.dialog)), WindowsPath(screenshot));
  Close(running);
  return succeeded ? 0 : 1;
}

int MeasureStartup(const std::string& folder, int runs) {
  std::vector<double> times;
  for (int run = 0; run < runs; ++run) {
    LARGE_INTEGER frequency, start, shown;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    Running running = Start(WindowsPath(folder));
    QueryPerformanceCounter(&shown);
    if (running.dialog == nullptr) return 1;
    times.push_back(1000.0 * double(shown.QuadPart - start.QuadPart) / double(frequency.QuadPart));
    std::cout << "run " << run + 1 << ": " << times.back() << " ms" << std::endl;
    Close(running);
  }
  std::sort(times.begin(), times.end());
  std::cout << "median: " << times[times.size() / 2] << " ms" << std::endl;
  return 0;
}

}  // namespace hnx::e2e
