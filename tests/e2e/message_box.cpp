#include "message_box.h"

#include "windows_probe.h"

namespace hnx::e2e {
namespace {

// The controls of the system's message box.
constexpr int kTextId = 0xFFFF;
constexpr int kIconId = 0x440;

bool IsMessageBox(HWND window) {
  return ClassName(window) == "#32770" && GetDlgItem(window, kTextId) != nullptr &&
         GetDlgItem(window, IDOK) != nullptr;
}

HWND FindMessageBox(DWORD processId) {
  const auto boxes = TopLevelWindows(processId, IsMessageBox);
  return boxes.empty() ? nullptr : boxes.front();
}

bool ShowsIcon(HWND box) {
  const HWND icon = GetDlgItem(box, kIconId);
  return icon != nullptr && IsWindowVisible(icon) && SendMessageA(icon, STM_GETICON, 0, 0) != 0;
}

}  // namespace

std::ostream& operator<<(std::ostream& out, const MessageBoxSeen& box) {
  return out << "{\"" << box.text << "\", \"" << box.caption << "\", " << (box.icon ? "icon" : "no icon")
             << "}";
}

std::optional<MessageBoxSeen> WaitForMessageBox(DWORD processId, DWORD timeoutMs, HWND* found) {
  const HWND box = WaitForWindow([processId] { return FindMessageBox(processId); }, timeoutMs);
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
  return FindMessageBox(processId) != nullptr;
}

}  // namespace hnx::e2e
