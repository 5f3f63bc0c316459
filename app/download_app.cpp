#include "app/download_app.h"

#include <commctrl.h>

#include "app/download_dlg.h"
#include "link/transfer_library.h"

namespace {

constexpr int kHelpCommand = 0xE146;

}  // namespace

CZB4450_downloadApp theApp;

const std::array<CZB4450_downloadApp::CommandEntry, 1> CZB4450_downloadApp::kCommandMap = {{
    {kHelpCommand, &CZB4450_downloadApp::OnHelp},
}};

bool CZB4450_downloadApp::InitInstance() {
  CZB4450_downloadDlg dialog(*this);
  m_pMainWnd = &dialog;
  dialog.DoModal();
  m_pMainWnd = nullptr;
  return false;
}

bool CZB4450_downloadApp::OnCommand(int id) {
  for (const CommandEntry& entry : kCommandMap) {
    if (entry.id != id) continue;
    (this->*entry.handler)();
    return true;
  }
  return false;
}

// The default help handling: the tool carries no help content, so there is nothing to show.
void CZB4450_downloadApp::OnHelp() {}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  hnx::RestrictLibrarySearchToSystemFolder();
  INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&controls);
  theApp.InitInstance();
  return 0;
}
