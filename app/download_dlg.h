// The main dialog: the shipped layout of template 102, its event table, and the user-interface
// operations through which the button operations reach the window system.
#pragma once

#include <windows.h>

#include <array>
#include <memory>
#include <optional>
#include <string>

#include "app/modal_dialog.h"
#include "ops/dialog_ui.h"
#include "ops/operations.h"

class CZB4450_downloadDlg final : public hnx::win::ModalDialog,
                                  public hnx::DialogState,
                                  public hnx::DialogUi {
 public:
  explicit CZB4450_downloadDlg(hnx::win::CommandTarget& commandRoute);

  // hnx::DialogUi
  void ShowMessage(const std::string& text, const std::string& caption, hnx::MessageIcon icon) override;
  void ShowAppMessage(const std::string& text) override;
  void EnableControl(int controlId, bool enable) override;
  void SetControlText(int controlId, const std::string& text) override;
  void ControlsToMembers() override { UpdateData(true); }
  void MembersToControls() override { UpdateData(false); }
  void SetProgressRange(std::uint16_t lower, std::uint16_t upper) override;
  void SetProgressPos(int position) override;
  void MoveControl(int controlId, int x, int y, int width, int height) override;
  void ResizeWindow(int width, int height) override;
  hnx::FileChoice ChooseOpenFile(const hnx::FileDialogOptions& options) override;
  hnx::FileChoice ChooseSaveFile(const hnx::FileDialogOptions& options) override;

 protected:
  bool OnInitDialog() override;
  void DoDataExchange(bool save) override;
  std::optional<INT_PTR> OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  using MessageHandler = std::optional<INT_PTR> (CZB4450_downloadDlg::*)();
  using Operation = void (*)(hnx::OperationContext&);
  struct MessageEntry {
    UINT message;
    MessageHandler handler;
  };
  struct CommandEntry {
    int id;
    Operation operation;
  };
  static const std::array<MessageEntry, 3> kMessageMap;
  static const std::array<CommandEntry, 10> kCommandMap;

  std::optional<INT_PTR> OnPaint();
  std::optional<INT_PTR> OnQueryDragIcon();
  std::optional<INT_PTR> OnClose();

  void PaintMinimised();
  hnx::FileChoice ChooseFile(const hnx::FileDialogOptions& options, bool save);
  // The application's title: the program's file name without its folder and extension, as the
  // framework names an application that gives no name of its own.
  static std::string ApplicationTitle();

  hnx::win::CommandTarget& commandRoute_;
  HICON m_hAppIcon;
  hnx::win::ProgressControl m_progress;

  hnx::PlatformDynamicLibrary libraries_;
  hnx::Win32HubDriver hubs_;
  hnx::Win32ImageResource image_;
  hnx::Win32Sleeper sleeper_;
  std::unique_ptr<hnx::TransferLogFile> transferLog_;
  hnx::OperationContext context_;
};
