// The operations' user interface on a Qt window. The operations run on a worker thread; every call
// of theirs reaches the widgets on the GUI thread: enabling, texts and the progress bar are posted,
// message boxes are posted and waited for, so the operation goes on only once the box is answered.
// Posted calls keep their order. Called on the GUI thread, every call acts at once.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>

#include "ops/dialog_ui.h"

class QWidget;

namespace hnx::gui {

class QtDialogUi final : public DialogUi {
 public:
  // `window` owns the boxes and is where posted calls run. The data exchange binds the members of
  // `state` to the texts of the dialog's controls.
  QtDialogUi(QWidget& window, DialogState& state);

  // The widget of a control of the dialog's. Controls without one (the shipped layout hides them)
  // keep their texts and enabling all the same.
  void AddControl(int controlId, QWidget* widget);
  // GUI thread: keeps a control disabled, whatever the operation guard asks, until released.
  void HoldDisabled(int controlId, bool hold);

  // Runs `call` on the GUI thread and waits for it to end. False when the window went away first.
  bool OnGuiThreadAndWait(std::function<void()> call);
  // Runs `call` on the GUI thread after what was posted before it; at once on the GUI thread.
  void OnGuiThread(std::function<void()> call);
  // The window is going away: nothing waits for the GUI thread any more, and boxes are not shown.
  void Detach();
  // Called with a box's text on the operation's thread before the box is shown (e.g. to write the
  // run's record first); empty: none. Set and cleared by the thread that runs the operation.
  void BeforeEachBox(std::function<void(const std::string& text)> hook) { beforeBox_ = std::move(hook); }
  // Flash bytes moved, both ways, since the last reset; the operation's thread.
  std::uint64_t BytesMoved() const { return std::uint64_t{programmed_} + read_; }
  void ResetBytesMoved() { programmed_ = read_ = 0; }

  // Changes a message box's text, caption or icon before it shows.
  using MessageEdit = std::function<void(std::string& text, std::string& caption, MessageIcon& icon)>;
  // On the thread that shows the boxes (the worker, before and after a run): every ShowMessage box
  // passes through `edit` from now on; none when empty.
  void EditMessages(MessageEdit edit) { edit_ = std::move(edit); }
  // GUI thread: how many ShowMessage boxes have been answered, counted as each is.
  int messagesAnswered() const { return messagesAnswered_; }

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
  // The window offers none of the engineering operations that open files: cancelled.
  FileChoice ChooseOpenFile(const FileDialogOptions&) override { return {}; }
  FileChoice ChooseSaveFile(const FileDialogOptions&) override { return {}; }
  void ShowTransferProgress(TransferPhase phase, std::uint32_t done, std::uint32_t total) override;

 private:
  struct Control {
    QWidget* widget = nullptr;
    bool enabledByGuard = true;
    bool held = false;
  };
  void ApplyEnabling(Control& control);

  QWidget& window_;
  DialogState& state_;
  // GUI thread only.
  std::map<int, Control> controls_;
  int messagesAnswered_ = 0;
  // The thread that shows the boxes only.
  MessageEdit edit_;
  // The texts of the bound controls. Touched by one thread at a time: the GUI thread before a run,
  // the worker during it.
  std::map<int, std::string> texts_;

  std::mutex mutex_;
  std::condition_variable answered_;
  bool detached_ = false;

  // The operation's thread only.
  std::function<void(const std::string&)> beforeBox_;
  std::uint32_t programmed_ = 0;
  std::uint32_t read_ = 0;
};

}  // namespace hnx::gui
