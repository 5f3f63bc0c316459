// The main dialog, and the Win32 side of the user-interface operations.
#include "app/download_dlg.h"

#include <commdlg.h>

#include <cstdlib>
#include <memory>
#include <vector>

#include "app/dialog_support.h"
#include "res/resource.h"

namespace {

// HNX_TRACE names a file that gets a line per transfer, as hnx-update --log writes it.
std::unique_ptr<hnx::TransferLogFile> TransferLogNamedByEnvironment() {
  const char* path = std::getenv("HNX_TRACE");
  if (path == nullptr || *path == '\0') return nullptr;
  return std::make_unique<hnx::TransferLogFile>(path);
}

// The close command: no control has this id; it removes the staging files and leaves the dialog open.
constexpr int kCloseCommand = 8;

// The buffers that receive the chosen path: the system's usual path length for the open dialog, room
// for a long path for the save dialog.
constexpr DWORD kOpenNameLength = MAX_PATH;
constexpr DWORD kSaveNameLength = 2562;

static_assert(static_cast<UINT>(hnx::MessageIcon::None) == 0);
static_assert(static_cast<UINT>(hnx::MessageIcon::Error) == MB_ICONHAND);
static_assert(static_cast<UINT>(hnx::MessageIcon::Exclamation) == MB_ICONEXCLAMATION);
static_assert(static_cast<UINT>(hnx::MessageIcon::Information) == MB_ICONASTERISK);

}  // namespace

const std::array<CZB4450_downloadDlg::MessageEntry, 3> CZB4450_downloadDlg::kMessageMap = {{
    {WM_PAINT, &CZB4450_downloadDlg::OnPaint},
    {WM_QUERYDRAGICON, &CZB4450_downloadDlg::OnQueryDragIcon},
    {WM_CLOSE, &CZB4450_downloadDlg::OnClose},
}};

const std::array<CZB4450_downloadDlg::CommandEntry, 10> CZB4450_downloadDlg::kCommandMap = {{
    {IDC_MASS_ERASE, &hnx::MassEraseWithBlankCheck},
    {IDC_WRITE, &hnx::WriteImageFile},
    {IDC_READ, &hnx::ReadToDumpFile},
    {IDC_VERIFY, &hnx::VerifyImageFile},
    {IDC_RECONNECT, &hnx::Reconnect},
    {IDC_OPEN_FILE, &hnx::OpenImageFile},
    {IDC_UPDATE, &hnx::RunUpdate},
    {IDC_READ_PROTECT, &hnx::ReadProtect},
    {IDC_EXIT_ISP, &hnx::ExitIsp},
    {kCloseCommand, &hnx::RemoveStaging},
}};

CZB4450_downloadDlg::CZB4450_downloadDlg(hnx::win::CommandTarget& commandRoute)
    : ModalDialog(IDD_DOWNLOAD_DIALOG, nullptr),
      commandRoute_(commandRoute),
      m_hAppIcon(LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDI_APP_ICON))),
      transferLog_(TransferLogNamedByEnvironment()),
      context_{*this, *this,  libraries_, hnx::TransferLibraryPathBeside(hnx::ProgramPath()),
               hubs_, image_, sleeper_,   hnx::kProgramStaging} {
  context_.transferLog = transferLog_.get();
}

std::optional<INT_PTR> CZB4450_downloadDlg::OnMessage(UINT message, WPARAM wParam, LPARAM) {
  if (message == WM_COMMAND) {
    if (HIWORD(wParam) != BN_CLICKED) return std::nullopt;
    const int id = LOWORD(wParam);
    for (const CommandEntry& entry : kCommandMap) {
      if (entry.id != id) continue;
      entry.operation(context_);
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
  hnx::InitialiseDialog(*this, *this);
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
  hnx::RemoveStaging(context_);
  return std::nullopt;
}

void CZB4450_downloadDlg::ShowMessage(const std::string& text, const std::string& caption,
                                      hnx::MessageIcon icon) {
  MessageBoxA(m_hWnd, text.c_str(), caption.c_str(), MB_OK | static_cast<UINT>(icon));
}

void CZB4450_downloadDlg::ShowAppMessage(const std::string& text) {
  MessageBoxA(m_hWnd, text.c_str(), ApplicationTitle().c_str(),
              MB_OK | static_cast<UINT>(hnx::MessageIcon::Exclamation));
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

// The program's path is UTF-8; the message box takes the system's code page.
std::string CZB4450_downloadDlg::ApplicationTitle() {
  const std::string title = hnx::ModuleBaseName(hnx::ProgramPath());
  std::wstring wide(static_cast<std::size_t>(MultiByteToWideChar(CP_UTF8, 0, title.c_str(), -1, nullptr, 0)),
                    L'\0');
  MultiByteToWideChar(CP_UTF8, 0, title.c_str(), -1, wide.data(), static_cast<int>(wide.size()));
  std::string ansi(static_cast<std::size_t>(
                       WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr)),
                   '\0');
  WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, ansi.data(), static_cast<int>(ansi.size()), nullptr,
                      nullptr);
  return ansi.c_str();
}
