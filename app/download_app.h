// The application object: runs the main dialog and ends when it ends.
#pragma once

#include <windows.h>

#include <array>

#include "app/modal_dialog.h"

class CZB4450_downloadApp final : public hnx::win::CommandTarget {
 public:
  // Start-up: runs the main dialog modally. False, so that the process ends when the dialog has.
  bool InitInstance();
  // Commands that the main dialog does not handle itself.
  bool OnCommand(int id) override;

  hnx::win::ModalDialog* m_pMainWnd = nullptr;

 private:
  using CommandHandler = void (CZB4450_downloadApp::*)();
  struct CommandEntry {
    int id;
    CommandHandler handler;
  };
  static const std::array<CommandEntry, 1> kCommandMap;

  void OnHelp();
};

// The one application object.
extern CZB4450_downloadApp theApp;
