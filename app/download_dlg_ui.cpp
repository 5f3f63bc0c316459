// The Win32 side of the user-interface operations.
#include <windows.h>

#include <commdlg.h>

#include <vector>

#include "app/application_title.h"
#include "app/download_dlg.h"
#include "app/file_dialog_text.h"
#include "res/resource.h"

namespace {

// The buffers that receive the chosen path: the system's usual path length for the open dialog, room
// for a long path for the save dialog.
constexpr DWORD kOpenNameLength = MAX_PATH;
constexpr DWORD kSaveNameLength = 2562;

}  // namespace

void CZB4450_downloadDlg::ShowMessage(const std::string& text, const std::string& caption,
                                      hnx::MessageIcon icon) {
  MessageBoxA(m_hWnd, text.c_str(), caption.c_str(), MB_OK | static_cast<UINT>(icon));
}

void CZB4450_downloadDlg::ShowAppMessage(const std::string& text) {
  MessageBoxA(m_hWnd, text.c_str(), hnx::win::ApplicationTitle().c_str(), MB_OK | MB_ICONEXCLAMATION);
}

void CZB4450_downloadDlg::EnableControl(int controlId, bool enable) {
  EnableWindow(Item(controlId), enable);
}

void CZB4450_downloadDlg::SetControlText(int controlId, const std::string& text) {
  SetWindowTextA(Item(controlId), text.c_str());
}

void CZB4450_downloadDlg::SetProgressRange(std::uint16_t lower, std::uint16_t upper) {
  m_progress.SetRange(lower, upper);
}

void CZB4450_downloadDlg::SetProgressPos(int position) {
  m_progress.SetPos(position);
}

void CZB4450_downloadDlg::MoveControl(int controlId, int x, int y, int width, int height) {
  MoveWindow(Item(controlId), x, y, width, height, TRUE);
}

void CZB4450_downloadDlg::ResizeWindow(int width, int height) {
  SetWindowPos(m_hWnd, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

hnx::FileChoice CZB4450_downloadDlg::ChooseOpenFile(const hnx::FileDialogOptions& options) {
  return ChooseFile(options, false);
}

hnx::FileChoice CZB4450_downloadDlg::ChooseSaveFile(const hnx::FileDialogOptions& options) {
  return ChooseFile(options, true);
}

hnx::FileChoice CZB4450_downloadDlg::ChooseFile(const hnx::FileDialogOptions& options, bool save) {
  const std::string filter = hnx::FilterWithNulls(options.filter);
  const std::string extension = hnx::DefaultExtension(options.defaultExtension);
  std::vector<char> name(save ? kSaveNameLength : kOpenNameLength, '\0');
  options.initialName.copy(name.data(), name.size() - 1);

  OPENFILENAMEA dialog = {};
  dialog.lStructSize = sizeof(dialog);
  dialog.hwndOwner = m_hWnd;
  dialog.lpstrFilter = filter.c_str();
  dialog.lpstrFile = name.data();
  dialog.nMaxFile = static_cast<DWORD>(name.size());
  dialog.lpstrDefExt = extension.empty() ? nullptr : extension.c_str();
  dialog.Flags = options.flags | OFN_EXPLORER;
  const bool accepted = save ? GetSaveFileNameA(&dialog) != FALSE : GetOpenFileNameA(&dialog) != FALSE;
  return {accepted, accepted ? std::string(name.data()) : std::string()};
}
