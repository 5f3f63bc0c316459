// Reading another process's windows: texts, geometry, state, and waiting for windows to appear.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace hnx::e2e {

struct Rect {
  int x = 0, y = 0, width = 0, height = 0;
  bool operator==(const Rect&) const = default;
};

// WM_GETTEXT: it reads edit controls of other processes too, which GetWindowText cannot.
std::string Text(HWND window);
std::string ClassName(HWND window);
// An entry of a combo box's list, as ASCII text.
std::string ListEntry(HWND comboBox, int index);
// The window's place in its parent's client area.
Rect ClientPlace(HWND window);
Rect OuterRect(HWND window);
std::vector<HWND> Children(HWND parent);
// The window with the keyboard focus in the thread that owns `window`.
HWND FocusOf(HWND window);

// Top-level windows of a process that pass `accept`, visible ones only.
std::vector<HWND> TopLevelWindows(DWORD processId, const std::function<bool(HWND)>& accept);
// Polls `find` until it gives a window or `timeoutMs` passes; nullptr then.
HWND WaitForWindow(const std::function<HWND()>& find, DWORD timeoutMs);
// Polls `done` until it holds or `timeoutMs` passes.
bool WaitUntil(const std::function<bool()>& done, DWORD timeoutMs);

}  // namespace hnx::e2e
