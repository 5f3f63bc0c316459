#include "windows_probe.h"

namespace hnx::e2e {
namespace {

constexpr DWORD kPollMs = 20;

}  // namespace

std::string Text(HWND window) {
  const LRESULT length = SendMessageA(window, WM_GETTEXTLENGTH, 0, 0);
  std::string text(static_cast<std::size_t>(length) + 1, '\0');
  const LRESULT copied = SendMessageA(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
  text.resize(static_cast<std::size_t>(copied));
  return text;
}

std::string ListEntry(HWND comboBox, int index) {
  // The list answers another process in UTF-16 whichever form is asked for, so ask for that.
  std::wstring wide(static_cast<std::size_t>(SendMessageW(comboBox, CB_GETLBTEXTLEN, index, 0)) + 1, L'\0');
  wide.resize(static_cast<std::size_t>(
      SendMessageW(comboBox, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(wide.data()))));
  return std::string(wide.begin(), wide.end());
}

std::string ClassName(HWND window) {
  char name[256] = {};
  GetClassNameA(window, name, sizeof(name));
  return name;
}

Rect ClientPlace(HWND window) {
  RECT rect;
  GetWindowRect(window, &rect);
  POINT corner = {rect.left, rect.top};
  ScreenToClient(GetParent(window), &corner);
  return {corner.x, corner.y, rect.right - rect.left, rect.bottom - rect.top};
}

Rect OuterRect(HWND window) {
  RECT rect;
  GetWindowRect(window, &rect);
  return {rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top};
}

std::vector<HWND> Children(HWND parent) {
  std::vector<HWND> children;
  for (HWND child = GetWindow(parent, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
    children.push_back(child);
  }
  return children;
}

HWND FocusOf(HWND window) {
  GUITHREADINFO info = {};
  info.cbSize = sizeof(info);
  if (!GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info)) return nullptr;
  return info.hwndFocus;
}

std::vector<HWND> TopLevelWindows(DWORD processId, const std::function<bool(HWND)>& accept) {
  struct Search {
    DWORD processId;
    const std::function<bool(HWND)>* accept;
    std::vector<HWND> found;
  } search{processId, &accept, {}};
  EnumWindows(
      [](HWND window, LPARAM context) -> BOOL {
        auto& s = *reinterpret_cast<Search*>(context);
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (owner == s.processId && IsWindowVisible(window) && (*s.accept)(window)) s.found.push_back(window);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

HWND WaitForWindow(const std::function<HWND()>& find, DWORD timeoutMs) {
  HWND found = nullptr;
  WaitUntil([&] { return (found = find()) != nullptr; }, timeoutMs);
  return found;
}

bool WaitUntil(const std::function<bool()>& done, DWORD timeoutMs) {
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  for (;;) {
    if (done()) return true;
    if (GetTickCount64() >= deadline) return false;
    Sleep(kPollMs);
  }
}

}  // namespace hnx::e2e
