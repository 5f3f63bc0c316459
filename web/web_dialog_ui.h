// The page's side of the user-interface contract: each call reaches the page's host object
// (Module.hnxHost, web/README.md), which draws it; a message box is a modal dialog that the run
// waits on until it is dismissed.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>

#include "ops/dialog_ui.h"
#include "ops/messages.h"

namespace hnx::web {

class WebDialogUi final : public DialogUi {
 public:
  explicit WebDialogUi(DialogState& state) : state_(state) {}

  // Shown in place of a message when it returns one: the words of why the device was not reached,
  // in place of the operation's "not found".
  using Replacement = std::function<std::optional<std::string>(const std::string& text)>;

  void ShowMessage(const std::string& text, const std::string& caption, MessageIcon icon) override;
  void ShowAppMessage(const std::string& text) override;
  void EnableControl(int, bool) override {}  // the page holds its controls disabled for the whole run
  // The chip type, image path and checksum controls are hidden, as in the shipped dialog: their texts
  // are kept here.
  void SetControlText(int controlId, const std::string& text) override { texts_[controlId] = text; }
  void ControlsToMembers() override;
  void MembersToControls() override;
  void SetProgressRange(std::uint16_t lower, std::uint16_t upper) override;
  void SetProgressPos(int position) override;
  void MoveControl(int, int, int, int, int) override {}
  void ResizeWindow(int, int) override {}
  FileChoice ChooseOpenFile(const FileDialogOptions&) override { return {}; }
  FileChoice ChooseSaveFile(const FileDialogOptions&) override { return {}; }
  void ShowTransferProgress(TransferPhase phase, std::uint32_t done, std::uint32_t total) override;
  void ShowFirstDifference(std::uint32_t address, std::uint8_t expected, std::uint8_t found) override;

  void SetReplacement(Replacement replacement) { replacement_ = std::move(replacement); }
  // While held, messages are kept rather than shown: the steps of a run before its last.
  void HoldMessages(bool hold) { holding_ = hold; }
  // The last message shown or held.
  const std::string& lastText() const { return lastText_; }
  // Shows the held message now.
  void ShowHeld();
  // The bar follows the transfers of step `step` of `steps` (a run of several operations) in place
  // of the update's own steps.
  void FollowTransfers(std::uint32_t step, std::uint32_t steps);

 private:
  DialogState& state_;
  std::map<int, std::string> texts_;
  Replacement replacement_;
  bool holding_ = false;
  std::string lastText_;
  std::string lastCaption_;
  MessageIcon lastIcon_ = MessageIcon::None;
  std::uint32_t step_ = 0;
  std::uint32_t steps_ = 0;  // 0: the bar follows SetProgressPos
  std::uint16_t upper_ = 0;
};

// A message box shown at once, with a detail line under the text (an image file's fault; "" for none).
void ShowMessageBox(const std::string& text, MessageIcon icon, const std::string& detail);

}  // namespace hnx::web
