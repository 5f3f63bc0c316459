#include "drive/drive.h"

#include <algorithm>

namespace hnx::drive {
namespace {

constexpr DWORD kPollMs = 20;
constexpr DWORD kStartTimeoutMs = 30000;
// The controls of the system's message box.
constexpr int kTextId = 0xFFFF;
constexpr int kIconId = 0x440;

bool IsMessageBox(HWND window) {
  return ClassName(window) == "#32770" && GetDlgItem(window, kTextId) != nullptr &&
         GetDlgItem(window, IDOK) != nullptr;
}

bool ShowsIcon(HWND box) {
  const HWND icon = GetDlgItem(box, kIconId);
  return icon != nullptr && IsWindowVisible(icon) && SendMessageA(icon, STM_GETICON, 0, 0) != 0;
}

}  // namespace

std::string WindowsPath(const std::string& path) {
  std::string converted = path;
  std::replace(converted.begin(), converted.end(), '/', '\\');
  return !path.empty() && path[0] == '/' ? "Z:" + converted : converted;
}

std::string Text(HWND window) {
  const LRESULT length = SendMessageA(window, WM_GETTEXTLENGTH, 0, 0);
  std::string text(static_cast<std::size_t>(length) + 1, '\0');
  text.resize(static_cast<std::size_t>(
      SendMessageA(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()))));
  return text;
}

std::string ClassName(HWND window) {
  char name[256] = {};
  GetClassNameA(window, name, sizeof(name));
  return name;
}

bool WaitUntil(const std::function<bool()>& done, DWORD timeoutMs) {
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  for (;;) {
    if (done()) return true;
    if (GetTickCount64() >= deadline) return false;
    Sleep(kPollMs);
  }
}

namespace {

struct WindowSearch {
  DWORD processId;
  const std::function<bool(HWND)>& accept;
  HWND found = nullptr;
};

// The system calls it with its own convention (stdcall on 32-bit Windows), which a lambda lacks.
BOOL CALLBACK VisitWindow(HWND window, LPARAM context) {
  auto& search = *reinterpret_cast<WindowSearch*>(context);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner == search.processId && IsWindowVisible(window) && search.accept(window)) search.found = window;
  return search.found == nullptr;
}

}  // namespace

HWND WaitForWindow(DWORD processId, const std::function<bool(HWND)>& accept, DWORD timeoutMs) {
  WindowSearch search{processId, accept};
  WaitUntil(
      [&] {
        EnumWindows(VisitWindow, reinterpret_cast<LPARAM>(&search));
        return search.found != nullptr;
      },
      timeoutMs);
  return search.found;
}

std::ostream& operator<<(std::ostream& out, const MessageBoxSeen& box) {
  return out << "{\"" << box.text << "\", \"" << box.caption << "\", " << (box.icon ? "icon" : "no icon")
             << "}";
}

std::optional<MessageBoxSeen> WaitForMessageBox(DWORD processId, DWORD timeoutMs, HWND* found) {
  const HWND box = WaitForWindow(processId, IsMessageBox, timeoutMs);
  if (box == nullptr) return std::nullopt;
  if (found != nullptr) *found = box;
  return MessageBoxSeen{Text(GetDlgItem(box, kTextId)), Text(box), ShowsIcon(box), GetWindow(box, GW_OWNER)};
}

std::optional<MessageBoxSeen> DismissMessageBox(DWORD processId, DWORD timeoutMs) {
  HWND box = nullptr;
  auto seen = WaitForMessageBox(processId, timeoutMs, &box);
  if (!seen) return seen;
  PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(box, IDOK)));
  WaitUntil([box] { return !IsWindow(box) || !IsWindowVisible(box); }, 5000);
  return seen;
}

bool MessageBoxShown(DWORD processId) {
  return WaitForWindow(processId, IsMessageBox, 0) != nullptr;
}

// Wide paths, so that a program folder named outside the system's code page can be started.
Program::Program(const std::filesystem::path& program, const std::filesystem::path& workingFolder) {
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  std::wstring commandLine = L"\"" + program.wstring() + L"\"";
  if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      workingFolder.c_str(), &startup, &process_)) {
    process_ = {};
    return;
  }
  dialog_ = WaitForWindow(
      processId(), [](HWND w) { return Text(w) == kDialogTitle; }, kStartTimeoutMs);
}

Program::~Program() {
  if (Running()) {
    TerminateProcess(process_.hProcess, 1);
    WaitForSingleObject(process_.hProcess, 5000);
  }
  if (process_.hProcess != nullptr) CloseHandle(process_.hProcess);
  if (process_.hThread != nullptr) CloseHandle(process_.hThread);
}

void Program::Click(int id) const {
  PostMessageA(Control(id), BM_CLICK, 0, 0);
}

void Program::Command(int id) const {
  PostMessageA(dialog_, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(Control(id)));
}

bool Program::WaitForExit(DWORD timeoutMs) const {
  return process_.hProcess != nullptr && WaitForSingleObject(process_.hProcess, timeoutMs) == WAIT_OBJECT_0;
}

bool Program::Running() const {
  return process_.hProcess != nullptr && WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT;
}

}  // namespace hnx::drive
