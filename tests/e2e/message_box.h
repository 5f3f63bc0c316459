// The message boxes of the program: waiting for one, reading it and dismissing it.
#pragma once

#include <windows.h>

#include <optional>
#include <ostream>
#include <string>

namespace hnx::e2e {

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

// A message box of the process, or nothing after `timeoutMs`; it stays open.
std::optional<MessageBoxSeen> WaitForMessageBox(DWORD processId, DWORD timeoutMs, HWND* box = nullptr);
// Waits for a message box, reads it and presses its OK button.
std::optional<MessageBoxSeen> DismissMessageBox(DWORD processId, DWORD timeoutMs);
// Whether the process shows a message box right now.
bool MessageBoxShown(DWORD processId);

}  // namespace hnx::e2e
