// The least of a dialog framework: a modal dialog run from a template, its dialog procedure, the
// initial data of the template, data exchange, the default accept and cancel commands, and the
// object for a progress bar.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>

namespace hnx::win {

// Where a command that the dialog does not handle goes next (the application object).
class CommandTarget {
 public:
  virtual ~CommandTarget() = default;
  virtual bool OnCommand(int id) = 0;
};

// A dialog's object for its progress bar: attached to the control by the first data exchange.
class ProgressControl {
 public:
  bool attached() const { return window_ != nullptr; }
  void Attach(HWND window) { window_ = window; }
  void SetRange(std::uint16_t lower, std::uint16_t upper) const;
  void SetPos(int position) const;

 private:
  HWND window_ = nullptr;
};

class ModalDialog {
 public:
  ModalDialog(int templateId, HWND parent) : templateId_(templateId), parent_(parent) {}
  virtual ~ModalDialog() = default;
  ModalDialog(const ModalDialog&) = delete;
  ModalDialog& operator=(const ModalDialog&) = delete;

  // Runs the dialog until it ends; the value given to EndDialog, or -1 when it could not be created.
  INT_PTR DoModal();

  HWND m_hWnd = nullptr;

 protected:
  // The template's initial data, then members to controls. Returns true to let the window system
  // give the focus to the first tab stop.
  virtual bool OnInitDialog();
  // Copies the bound members to the controls (`save` false) or back (`save` true).
  virtual void DoDataExchange(bool save) = 0;
  // The event table: a result when the dialog handled the message itself, nothing for the default.
  virtual std::optional<INT_PTR> OnMessage(UINT message, WPARAM wParam, LPARAM lParam) = 0;
  virtual void OnOK();
  virtual void OnCancel();

  void UpdateData(bool save) { DoDataExchange(save); }
  HWND Item(int id) const { return GetDlgItem(m_hWnd, id); }
  HINSTANCE Instance() const { return GetModuleHandleA(nullptr); }

 private:
  static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR Dispatch(UINT message, WPARAM wParam, LPARAM lParam);
  void ExecuteDialogInitData();

  int templateId_;
  HWND parent_;
};

}  // namespace hnx::win
