#include "file_dialog.h"

#include "windows_probe.h"

namespace hnx::e2e {
namespace {

// The file-name field: a ComboBoxEx32 in the Explorer-style dialogs, an edit in the others.
constexpr int kExplorerNameId = 0x47C;
constexpr int kPlainNameId = 0x480;
constexpr int kFileTypesId = 0x470;

HWND NameField(HWND dialog) {
  HWND field = GetDlgItem(dialog, kExplorerNameId);
  if (field == nullptr) return GetDlgItem(dialog, kPlainNameId);
  // The text lives in the edit inside the combo box inside the ComboBoxEx32.
  for (HWND inner = field; inner != nullptr; inner = GetWindow(inner, GW_CHILD)) field = inner;
  return field;
}

bool IsFileDialog(HWND window) {
  return ClassName(window) == "#32770" &&
         (GetDlgItem(window, kExplorerNameId) != nullptr || GetDlgItem(window, kPlainNameId) != nullptr);
}

std::vector<std::string> FileTypes(HWND dialog) {
  std::vector<std::string> types;
  const HWND list = GetDlgItem(dialog, kFileTypesId);
  const LRESULT count = list == nullptr ? 0 : SendMessageA(list, CB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < count; ++i) types.push_back(ListEntry(list, static_cast<int>(i)));
  return types;
}

}  // namespace

FileDialogSeen WaitForFileDialog(DWORD processId, DWORD timeoutMs) {
  const HWND window = WaitForWindow(
      [processId] {
        const auto found = TopLevelWindows(processId, IsFileDialog);
        return found.empty() ? nullptr : found.front();
      },
      timeoutMs);
  if (window == nullptr) return {};
  return {window, GetWindow(window, GW_OWNER), FileTypes(window)};
}

void AcceptFileDialog(const FileDialogSeen& dialog, const std::string& path) {
  SendMessageA(NameField(dialog.window), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()));
  PostMessageA(dialog.window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
}

void CancelFileDialog(const FileDialogSeen& dialog) {
  PostMessageA(dialog.window, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
}

}  // namespace hnx::e2e
