#include "app/modal_dialog.h"

#include <commctrl.h>

#include <span>
#include <string>

#include "app/dialog_support.h"

namespace hnx::win {

INT_PTR ModalDialog::DoModal() {
  return DialogBoxParamA(Instance(), MAKEINTRESOURCEA(templateId_), parent_, DialogProc,
                         reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK ModalDialog::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    auto* dialog = reinterpret_cast<ModalDialog*>(lParam);
    SetWindowLongPtrA(window, DWLP_USER, lParam);
    dialog->m_hWnd = window;
    return dialog->OnInitDialog() ? TRUE : FALSE;
  }
  auto* dialog = reinterpret_cast<ModalDialog*>(GetWindowLongPtrA(window, DWLP_USER));
  return dialog == nullptr ? FALSE : dialog->Dispatch(message, wParam, lParam);
}

INT_PTR ModalDialog::Dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
  if (const auto result = OnMessage(message, wParam, lParam)) {
    // Only a few messages take the procedure's value as their result; the rest read DWLP_MSGRESULT.
    if (message != WM_QUERYDRAGICON) SetWindowLongPtrA(m_hWnd, DWLP_MSGRESULT, *result);
    return message == WM_QUERYDRAGICON ? *result : TRUE;
  }
  if (message == WM_COMMAND && HIWORD(wParam) == BN_CLICKED) {
    if (LOWORD(wParam) == IDOK) {
      OnOK();
      return TRUE;
    }
    if (LOWORD(wParam) == IDCANCEL) {
      OnCancel();
      return TRUE;
    }
  }
  return FALSE;
}

bool ModalDialog::OnInitDialog() {
  ExecuteDialogInitData();
  UpdateData(false);
  return true;
}

void ModalDialog::OnOK() {
  UpdateData(true);
  EndDialog(m_hWnd, IDOK);
}

void ModalDialog::OnCancel() {
  EndDialog(m_hWnd, IDCANCEL);
}

void ModalDialog::ExecuteDialogInitData() {
  const HINSTANCE instance = Instance();
  HRSRC found =
      FindResourceA(instance, MAKEINTRESOURCEA(templateId_), MAKEINTRESOURCEA(hnx::kDialogInitResourceType));
  if (found == nullptr) return;
  HGLOBAL loaded = LoadResource(instance, found);
  const auto* bytes = static_cast<const std::uint8_t*>(loaded == nullptr ? nullptr : LockResource(loaded));
  if (bytes == nullptr) return;
  for (const hnx::DialogInitRecord& record :
       hnx::ParseDialogInitData(std::span(bytes, SizeofResource(instance, found)))) {
    if (record.message != hnx::kDialogInitAddString16 || record.data.empty()) continue;
    const std::string entry(reinterpret_cast<const char*>(record.data.data()), record.data.size());
    SendDlgItemMessageA(m_hWnd, record.controlId, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entry.c_str()));
  }
}

void ProgressControl::SetRange(std::uint16_t lower, std::uint16_t upper) const {
  SendMessageA(window_, PBM_SETRANGE, 0, MAKELPARAM(lower, upper));
}

void ProgressControl::SetPos(int position) const {
  SendMessageA(window_, PBM_SETPOS, position, 0);
}

}  // namespace hnx::win
