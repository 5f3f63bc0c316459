#include "support/recording_dialog.h"

#include "res/resource.h"

namespace hnx::test {

void RecordingDialog::ShowMessage(const std::string& text, const std::string& caption, MessageIcon icon) {
  messages.push_back({text, caption, icon, false});
}

void RecordingDialog::ShowAppMessage(const std::string& text) { messages.push_back({text, "", MessageIcon::None, true}); }

void RecordingDialog::EnableControl(int controlId, bool enable) {
  enabled_[controlId] = enable;
  enableChanges.push_back({controlId, enable});
}

void RecordingDialog::SetControlText(int controlId, const std::string& text) { texts_[controlId] = text; }

void RecordingDialog::ControlsToMembers() {
  ++controlsToMembersCalls;
  state_.m_strImagePath = ControlText(IDC_IMAGE_PATH);
  state_.m_strChipType = ControlText(IDC_CHIP_TYPE);
  state_.m_strChecksum = ControlText(IDC_CHECKSUM);
}

void RecordingDialog::MembersToControls() {
  ++membersToControlsCalls;
  texts_[IDC_IMAGE_PATH] = state_.m_strImagePath;
  texts_[IDC_CHIP_TYPE] = state_.m_strChipType;
  texts_[IDC_CHECKSUM] = state_.m_strChecksum;
}

void RecordingDialog::SetProgressRange(std::uint16_t, std::uint16_t) {}

void RecordingDialog::SetProgressPos(int position) { progressPositions.push_back(position); }

void RecordingDialog::MoveControl(int, int, int, int, int) {}

void RecordingDialog::ResizeWindow(int, int) {}

FileChoice RecordingDialog::ChooseOpenFile(const FileDialogOptions& options) { return NextFileChoice(false, options); }

FileChoice RecordingDialog::ChooseSaveFile(const FileDialogOptions& options) { return NextFileChoice(true, options); }

FileChoice RecordingDialog::NextFileChoice(bool save, const FileDialogOptions& options) {
  fileDialogs.push_back({save, options});
  if (fileChoices_.empty()) return {};
  FileChoice choice = fileChoices_.front();
  fileChoices_.pop_front();
  return choice;
}

bool RecordingDialog::IsEnabled(int controlId) const {
  const auto found = enabled_.find(controlId);
  return found == enabled_.end() || found->second;
}

std::string RecordingDialog::ControlText(int controlId) const {
  const auto found = texts_.find(controlId);
  return found == texts_.end() ? "" : found->second;
}

}  // namespace hnx::test
