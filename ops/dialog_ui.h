// The dialog as the operations see it: its shared data members and the user-interface operations
// through which every operation reaches the window system. A virtual seam: the Windows dialog
// implements it, and tests record what an operation shows and changes.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>

#include "res/resource.h"

namespace hnx {

inline constexpr const char* kDialogCaption = "HNX470 Update Tool";

// The values are the system's MB_ICON* flags.
enum class MessageIcon : unsigned { None = 0, Error = 16, Exclamation = 48, Information = 64 };

// What a front end may show the progress of; the dialog's own progress bar counts update steps.
enum class TransferPhase { Erase, Program, Read };

// The data members of the main dialog that the operations share. The window-system members (the
// icon handle and the progress-bar object) stay in the Win32 dialog class.
struct DialogState {
  std::string m_strImagePath;
  std::string m_strChipType;
  std::string m_strChecksum;
  std::uint32_t m_nBlockLength = 0;
  std::uint32_t m_nImageSize = 0;
  std::uint8_t m_nReadResult = 0;
  std::uint32_t m_nProgressStep = 0;
};

// What a file dialog is opened with: the filter in the framework's "text|pattern|...|" form, the
// default extension ("" for none), the initial file name and the OFN_ flags.
struct FileDialogOptions {
  std::string filter;
  std::string defaultExtension;
  std::string initialName;
  std::uint32_t flags = 0;
};

// The path is empty when the user cancelled.
struct FileChoice {
  bool accepted = false;
  std::string path;
};

class DialogUi {
 public:
  virtual ~DialogUi() = default;

  // A modal box owned by the dialog with a single OK button.
  virtual void ShowMessage(const std::string& text, const std::string& caption, MessageIcon icon) = 0;
  // A modal application-level box: the application's title and the default icon.
  virtual void ShowAppMessage(const std::string& text) = 0;
  virtual void EnableControl(int controlId, bool enable) = 0;
  virtual void SetControlText(int controlId, const std::string& text) = 0;
  // Data exchange of m_strImagePath, m_strChipType and m_strChecksum with their controls.
  virtual void ControlsToMembers() = 0;
  virtual void MembersToControls() = 0;
  virtual void SetProgressRange(std::uint16_t lower, std::uint16_t upper) = 0;
  virtual void SetProgressPos(int position) = 0;
  // Pixels in the dialog's client area; the control is repainted.
  virtual void MoveControl(int controlId, int x, int y, int width, int height) = 0;
  // The window's outer size in pixels; its position is kept.
  virtual void ResizeWindow(int width, int height) = 0;
  virtual FileChoice ChooseOpenFile(const FileDialogOptions& options) = 0;
  virtual FileChoice ChooseSaveFile(const FileDialogOptions& options) = 0;

  // For front ends other than the dialog, which shows neither. `done` of `total` bytes (the erase:
  // 1 of 1) have been moved in `phase`.
  virtual void ShowTransferProgress(TransferPhase /*phase*/, std::uint32_t /*done*/, std::uint32_t /*total*/) {}
  // The first byte at which the flash differs from what it should hold.
  virtual void ShowFirstDifference(std::uint32_t /*address*/, std::uint8_t /*expected*/, std::uint8_t /*found*/) {}
};

// The buttons that the guard disables while an operation runs. "Read Protect" is deliberately left
// out.
inline constexpr std::array<int, 8> kOperationButtons = {
    IDC_RECONNECT, IDC_UPDATE, IDC_OPEN_FILE, IDC_MASS_ERASE, IDC_WRITE, IDC_VERIFY, IDC_READ, IDC_EXIT_ISP};

// The data exchange of a front end that keeps its controls' texts by control id.
inline void TextsToMembers(std::map<int, std::string>& texts, DialogState& state) {
  state.m_strImagePath = texts[IDC_IMAGE_PATH];
  state.m_strChipType = texts[IDC_CHIP_TYPE];
  state.m_strChecksum = texts[IDC_CHECKSUM];
}
inline void MembersToTexts(const DialogState& state, std::map<int, std::string>& texts) {
  texts[IDC_IMAGE_PATH] = state.m_strImagePath;
  texts[IDC_CHIP_TYPE] = state.m_strChipType;
  texts[IDC_CHECKSUM] = state.m_strChecksum;
}

}  // namespace hnx
