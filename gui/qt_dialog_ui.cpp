#include "gui/qt_dialog_ui.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QMessageBox>
#include <QMetaObject>
#include <QProgressBar>
#include <QThread>
#include <QWidget>
#include <algorithm>
#include <memory>

#include "res/resource.h"

namespace hnx::gui {
namespace {

// The dialog's sizes are Windows pixels of the whole window. Its frame there, a modal dialog frame
// at 96 dots per inch: 3 pixels each side and a caption 19 pixels high, so the 530 x 180 window has a
// client area of 524 x 155. Here the window manager draws the frame, and Qt sizes the client area.
constexpr int kFrameWidth = 3;
constexpr int kCaptionHeight = 19;

QMessageBox::Icon BoxIcon(MessageIcon icon) {
  switch (icon) {
    case MessageIcon::Error:
      return QMessageBox::Critical;
    case MessageIcon::Exclamation:
      return QMessageBox::Warning;
    case MessageIcon::Information:
      return QMessageBox::Information;
    case MessageIcon::None:
      break;
  }
  return QMessageBox::NoIcon;
}

QString Text(const std::string& text) {
  return QString::fromStdString(text);
}

}  // namespace

QtDialogUi::QtDialogUi(QWidget& window, DialogState& state) : window_(window), state_(state) {
  for (const int id : {IDC_IMAGE_PATH, IDC_CHIP_TYPE, IDC_CHECKSUM}) texts_[id] = "";
}

void QtDialogUi::AddControl(int controlId, QWidget* widget) {
  controls_[controlId].widget = widget;
}

void QtDialogUi::HoldDisabled(int controlId, bool hold) {
  Control& control = controls_[controlId];
  control.held = hold;
  ApplyEnabling(control);
}

void QtDialogUi::ApplyEnabling(Control& control) {
  if (control.widget != nullptr) control.widget->setEnabled(control.enabledByGuard && !control.held);
}

bool QtDialogUi::OnGuiThreadAndWait(std::function<void()> call) {
  if (QThread::currentThread() == window_.thread()) {
    call();
    return true;
  }
  // Shared with the posted call, which may outlive this wait when the window goes away.
  const auto done = std::make_shared<bool>(false);
  {
    const std::lock_guard lock(mutex_);
    if (detached_) return false;
  }
  QMetaObject::invokeMethod(
      &window_,
      [this, done, call = std::move(call)] {
        call();
        const std::lock_guard lock(mutex_);
        *done = true;
        answered_.notify_all();
      },
      Qt::QueuedConnection);
  std::unique_lock lock(mutex_);
  answered_.wait(lock, [&] { return *done || detached_; });
  return *done;
}

void QtDialogUi::OnGuiThread(std::function<void()> call) {
  if (QThread::currentThread() == window_.thread()) call();
  else QMetaObject::invokeMethod(&window_, std::move(call), Qt::QueuedConnection);
}

void QtDialogUi::Detach() {
  const std::lock_guard lock(mutex_);
  detached_ = true;
  answered_.notify_all();
}

void QtDialogUi::ShowMessage(const std::string& text, const std::string& caption, MessageIcon icon) {
  std::string shownText = text, shownCaption = caption;
  if (edit_) edit_(shownText, shownCaption, icon);
  if (beforeBox_) beforeBox_(shownText);
  OnGuiThreadAndWait([this, shownText, shownCaption, icon] {
    QMessageBox box(BoxIcon(icon), Text(shownCaption), Text(shownText), QMessageBox::Ok, &window_);
    box.exec();
    ++messagesAnswered_;
  });
}

// As the dialog's: the application's name for a title and the warning icon.
void QtDialogUi::ShowAppMessage(const std::string& text) {
  OnGuiThreadAndWait([this, text] {
    QMessageBox box(QMessageBox::Warning, QCoreApplication::applicationName(), Text(text), QMessageBox::Ok,
                    &window_);
    box.exec();
  });
}

void QtDialogUi::ShowTransferProgress(TransferPhase phase, std::uint32_t done, std::uint32_t) {
  if (phase == TransferPhase::Program) programmed_ = std::max(programmed_, done);
  if (phase == TransferPhase::Read) read_ = std::max(read_, done);
}

void QtDialogUi::EnableControl(int controlId, bool enable) {
  OnGuiThread([this, controlId, enable] {
    Control& control = controls_[controlId];
    control.enabledByGuard = enable;
    ApplyEnabling(control);
  });
}

void QtDialogUi::SetControlText(int controlId, const std::string& text) {
  if (texts_.contains(controlId)) {
    texts_[controlId] = text;
    return;
  }
  OnGuiThread([this, controlId, text] {
    if (auto* button = qobject_cast<QAbstractButton*>(controls_[controlId].widget)) button->setText(Text(text));
  });
}

void QtDialogUi::ControlsToMembers() {
  TextsToMembers(texts_, state_);
}

void QtDialogUi::MembersToControls() {
  MembersToTexts(state_, texts_);
}

void QtDialogUi::SetProgressRange(std::uint16_t lower, std::uint16_t upper) {
  OnGuiThread([this, lower, upper] {
    if (auto* bar = qobject_cast<QProgressBar*>(controls_[IDC_PROGRESS].widget)) bar->setRange(lower, upper);
  });
}

void QtDialogUi::SetProgressPos(int position) {
  OnGuiThread([this, position] {
    if (auto* bar = qobject_cast<QProgressBar*>(controls_[IDC_PROGRESS].widget)) bar->setValue(position);
  });
}

void QtDialogUi::MoveControl(int controlId, int x, int y, int width, int height) {
  OnGuiThread([this, controlId, x, y, width, height] {
    if (QWidget* widget = controls_[controlId].widget) widget->setGeometry(x, y, width, height);
  });
}

void QtDialogUi::ResizeWindow(int width, int height) {
  OnGuiThread([this, width, height] {
    window_.setFixedSize(width - 2 * kFrameWidth, height - kCaptionHeight - 2 * kFrameWidth);
  });
}

}  // namespace hnx::gui
