// A DialogUi that records what an operation shows and changes, for assertions.
#pragma once

#include <deque>
#include <map>
#include <string>
#include <vector>

#include "ops/dialog_ui.h"
#include "ops/dialog_ui.h"

namespace hnx::test {

struct ShownMessage {
  std::string text;
  std::string caption;
  MessageIcon icon = MessageIcon::None;
  bool appLevel = false;  // ShowAppMessage
  bool operator==(const ShownMessage&) const = default;
};

struct EnableChange {
  int controlId = 0;
  bool enabled = false;
  bool operator==(const EnableChange&) const = default;
};

struct FileDialogCall {
  bool save = false;
  FileDialogOptions options;
};

// Controls hold texts and enabling; data exchange copies between them and the bound DialogState.
class RecordingDialog : public DialogUi {
 public:
  explicit RecordingDialog(DialogState& state) : state_(state) {}

  void ShowMessage(const std::string& text, const std::string& caption, MessageIcon icon) override;
  void ShowAppMessage(const std::string& text) override;
  void EnableControl(int controlId, bool enable) override;
  void SetControlText(int controlId, const std::string& text) override;
  void ControlsToMembers() override;
  void MembersToControls() override;
  void SetProgressRange(std::uint16_t lower, std::uint16_t upper) override;
  void SetProgressPos(int position) override;
  void MoveControl(int controlId, int x, int y, int width, int height) override;
  void ResizeWindow(int width, int height) override;
  FileChoice ChooseOpenFile(const FileDialogOptions& options) override;
  FileChoice ChooseSaveFile(const FileDialogOptions& options) override;

  // Answers for the next file dialogs, in order; with none queued the user cancels.
  void QueueFileChoice(FileChoice choice) { fileChoices_.push_back(std::move(choice)); }

  // Every control starts enabled.
  bool IsEnabled(int controlId) const;
  std::string ControlText(int controlId) const;

  std::vector<ShownMessage> messages;
  std::vector<EnableChange> enableChanges;
  std::vector<int> progressPositions;  // every SetProgressPos
  std::vector<FileDialogCall> fileDialogs;
  int controlsToMembersCalls = 0;
  int membersToControlsCalls = 0;

 private:
  FileChoice NextFileChoice(bool save, const FileDialogOptions& options);

  DialogState& state_;
  std::map<int, std::string> texts_;
  std::map<int, bool> enabled_;
  std::deque<FileChoice> fileChoices_;
};

}  // namespace hnx::test
