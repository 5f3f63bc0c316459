// Driving the program from another process as a user would: starting it, reading its windows and
// answering its message boxes. The demo and the end-to-end tests both drive it through this.
#pragma once

#include <windows.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace hnx::drive {

inline constexpr const char* kDialogTitle = "HNX470 Update Tool V1.0.6";

// "/tmp/x/y.exe" becomes "Z:\tmp\x\y.exe" (Wine maps the Unix root to drive Z); Windows paths stay.
std::string WindowsPath(const std::string& path);

// WM_GETTEXT: it reads edit controls of other processes too, which GetWindowText cannot.
std::string Text(HWND window);
std::string ClassName(HWND window);
// Polls `done` until it holds or `timeoutMs` passes.
bool WaitUntil(const std::function<bool()>& done, DWORD timeoutMs);
// The first visible top-level window of the process that passes `accept`; nullptr after `timeoutMs`.
HWND WaitForWindow(DWORD processId, const std::function<bool(HWND)>& accept, DWORD timeoutMs);

// What another process can read of a message box. Its icon's handle means nothing outside the
// program, so only whether it shows one is read; which one follows from the MB_ICON value the program
// passes.
struct MessageBoxSeen {
  std::string text;
  std::string caption;
  bool icon = false;
  HWND owner = nullptr;
  bool operator==(const MessageBoxSeen& other) const {
    return text == other.text && caption == other.caption && icon == other.icon;
  }
};
std::ostream& operator<<(std::ostream& out, const MessageBoxSeen& box);

// A message box of the process, left open; nothing after `timeoutMs`.
std::optional<MessageBoxSeen> WaitForMessageBox(DWORD processId, DWORD timeoutMs, HWND* box = nullptr);
// Waits for a message box, reads it and presses its OK button.
std::optional<MessageBoxSeen> DismissMessageBox(DWORD processId, DWORD timeoutMs);
bool MessageBoxShown(DWORD processId);

// One run of the program, ended when this is destroyed if it still runs.
class Program {
 public:
  // Starts `program` in `workingFolder` and waits for its dialog; dialog() is nullptr when none came.
  Program(const std::filesystem::path& program, const std::filesystem::path& workingFolder);
  ~Program();
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  HWND dialog() const { return dialog_; }
  HWND Control(int id) const { return GetDlgItem(dialog_, id); }
  DWORD processId() const { return process_.dwProcessId; }
  // Clicks a button as the user would (it must be visible and enabled).
  void Click(int id) const;
  // Sends the button's command directly, which reaches hidden buttons too.
  void Command(int id) const;
  bool WaitForExit(DWORD timeoutMs) const;
  bool Running() const;

 private:
  PROCESS_INFORMATION process_ = {};
  HWND dialog_ = nullptr;
};

}  // namespace hnx::drive
