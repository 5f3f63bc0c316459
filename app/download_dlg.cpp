#include "app/download_dlg.h"

#include "link/transfer_library_path.h"
#include "ops/operations.h"
#include "ops/staging.h"
#include "res/resource.h"

namespace {

// The close command: no control has this id; it removes the staging files and leaves the dialog open.
constexpr int kCloseCommand = 8;

constexpr std::uint16_t kProgressSteps = 2048;
constexpr const char* kDefaultChipType = "ZB29K702";

}  // namespace

const std::array<CZB4450_downloadDlg::MessageEntry, 3> CZB4450_downloadDlg::kMessageMap = {{
    {WM_PAINT, &CZB4450_downloadDlg::OnPaint},
    {WM_QUERYDRAGICON, &CZB4450_downloadDlg::OnQueryDragIcon},
    {WM_CLOSE, &CZB4450_downloadDlg::OnClose},
}};

const std::array<CZB4450_downloadDlg::CommandEntry, 10> CZB4450_downloadDlg::kCommandMap = {{
    {IDC_MASS_ERASE, &CZB4450_downloadDlg::OnMassErase},
    {IDC_WRITE, &CZB4450_downloadDlg::OnWrite},
    {IDC_READ, &CZB4450_downloadDlg::OnRead},
    {IDC_VERIFY, &CZB4450_downloadDlg::OnVerify},
    {IDC_RECONNECT, &CZB4450_downloadDlg::OnReconnect},
    {IDC_OPEN_FILE, &CZB4450_downloadDlg::OnOpenFile},
    {IDC_UPDATE, &CZB4450_downloadDlg::OnUpdate},
    {IDC_READ_PROTECT, &CZB4450_downloadDlg::OnReadProtect},
    {IDC_EXIT_ISP, &CZB4450_downloadDlg::OnExitIsp},
    {kCloseCommand, &CZB4450_downloadDlg::OnCloseCommand},
}};

CZB4450_downloadDlg::CZB4450_downloadDlg(hnx::win::CommandTarget& commandRoute)
    : ModalDialog(IDD_DOWNLOAD_DIALOG, nullptr),
      commandRoute_(commandRoute),
      m_hAppIcon(LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDI_APP_ICON))),
      context_{*this, *this,  libraries_, hnx::TransferLibraryPath(),
               hubs_, image_, sleeper_,   hnx::ProgramStagingPaths()} {}

std::optional<INT_PTR> CZB4450_downloadDlg::OnMessage(UINT message, WPARAM wParam, LPARAM) {
  if (message == WM_COMMAND) {
    if (HIWORD(wParam) != BN_CLICKED) return std::nullopt;
    const int id = LOWORD(wParam);
    for (const CommandEntry& entry : kCommandMap) {
      if (entry.id != id) continue;
      (this->*entry.handler)();
      return 0;
    }
    return commandRoute_.OnCommand(id) ? std::optional<INT_PTR>(0) : std::nullopt;
  }
  for (const MessageEntry& entry : kMessageMap) {
    if (entry.message == message) return (this->*entry.handler)();
  }
  return std::nullopt;
}

bool CZB4450_downloadDlg::OnInitDialog() {
  ModalDialog::OnInitDialog();
  SendMessageA(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hAppIcon));
  SendMessageA(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hAppIcon));
  SetControlText(IDC_CHIP_TYPE, kDefaultChipType);
  ControlsToMembers();
  SetProgressRange(0, kProgressSteps);
  SetProgressPos(0);
  m_strChecksum = "";
  MoveControl(IDC_PROGRESS, 30, 50, 350, 30);
  MoveControl(IDC_UPDATE, 400, 50, 80, 30);
  ResizeWindow(530, 180);
  MembersToControls();
  return true;
}

void CZB4450_downloadDlg::DoDataExchange(bool save) {
  const auto exchange = [this, save](int id, std::string& member) {
    if (save) {
      const HWND control = Item(id);
      std::string text(GetWindowTextLengthA(control) + 1, '\0');
      text.resize(GetWindowTextA(control, text.data(), static_cast<int>(text.size())));
      member = text;
    } else {
      SetControlText(id, member);
    }
  };
  exchange(IDC_IMAGE_PATH, m_strImagePath);
  exchange(IDC_CHIP_TYPE, m_strChipType);
  exchange(IDC_CHECKSUM, m_strChecksum);
  if (!m_progress.attached()) m_progress.Attach(Item(IDC_PROGRESS));
}

std::optional<INT_PTR> CZB4450_downloadDlg::OnPaint() {
  if (!IsIconic(m_hWnd)) return std::nullopt;
  PaintMinimised();
  return 0;
}

void CZB4450_downloadDlg::PaintMinimised() {
  PAINTSTRUCT paint;
  const HDC dc = BeginPaint(m_hWnd, &paint);
  SendMessageA(m_hWnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
  const int iconWidth = GetSystemMetrics(SM_CXICON);
  const int iconHeight = GetSystemMetrics(SM_CYICON);
  RECT client;
  GetClientRect(m_hWnd, &client);
  const int x = (client.right - client.left - iconWidth + 1) / 2;
  const int y = (client.bottom - client.top - iconHeight + 1) / 2;
  DrawIcon(dc, x, y, m_hAppIcon);
  EndPaint(m_hWnd, &paint);
}

std::optional<INT_PTR> CZB4450_downloadDlg::OnQueryDragIcon() {
  return reinterpret_cast<INT_PTR>(m_hAppIcon);
}

std::optional<INT_PTR> CZB4450_downloadDlg::OnClose() {
  hnx::RemoveStaging(context_.staging);
  return std::nullopt;
}

void CZB4450_downloadDlg::OnMassErase() {
  hnx::MassEraseWithBlankCheck(context_);
}
void CZB4450_downloadDlg::OnWrite() {
  hnx::WriteImageFile(context_);
}
void CZB4450_downloadDlg::OnRead() {
  hnx::ReadToDumpFile(context_);
}
void CZB4450_downloadDlg::OnVerify() {
  hnx::VerifyImageFile(context_);
}
void CZB4450_downloadDlg::OnReconnect() {
  hnx::Reconnect(context_);
}
void CZB4450_downloadDlg::OnOpenFile() {
  hnx::OpenImageFile(context_);
}
void CZB4450_downloadDlg::OnUpdate() {
  hnx::RunUpdate(context_);
}
void CZB4450_downloadDlg::OnReadProtect() {
  hnx::ReadProtect(context_);
}
void CZB4450_downloadDlg::OnExitIsp() {
  hnx::ExitIsp(context_);
}
void CZB4450_downloadDlg::OnCloseCommand() {
  hnx::RemoveStaging(context_.staging);
}
