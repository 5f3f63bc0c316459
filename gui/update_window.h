// The dialog's window on Linux: its caption and icon, the progress bar and "Update" where the shipped
// layout puts them. "Update" runs the one-click update on a worker thread against a device on the
// system's USB buses; the outcome appears in the dialog's message boxes.
#pragma once

#include <QWidget>
#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "gui/qt_dialog_ui.h"
#include "link/usb_bus.h"
#include "ops/operations.h"

class QProgressBar;
class QPushButton;

namespace hnx::gui {

// What the window runs the update against.
struct WindowEngine {
  std::unique_ptr<UsbBus> usb;  // the system's USB devices (libusb); nullptr when it could not start
  Sleeper* sleeper = nullptr;   // the wait between attempts to open the device
  StagingPaths staging;
  std::span<const std::uint8_t> image;  // the embedded image
  TransferLog* transferLog = nullptr;   // told of every transfer when set
  std::string recordPath;               // a production record per run appended to it; "": none
};

// The texts of the window's own: what the dialog never had to say.
inline constexpr const char* kNoUsbText = "Can't reach the USB devices: libusb did not start.";
inline constexpr const char* kStopQuestion = "The update is running. Stop it and close the window?";
inline constexpr const char* kChooseDeviceText = "Several devices are attached. Choose the one to update:";

// Several identified devices: the one the user picks from a list, nothing when cancelled.
std::optional<std::size_t> ChooseDevice(QWidget* parent, const std::vector<UsbDeviceEntry>& devices);

class UpdateWindow final : public QWidget {
  Q_OBJECT

 public:
  explicit UpdateWindow(WindowEngine engine, QWidget* parent = nullptr);
  // During a run: stops it without showing its outcome, and waits for it to end.
  ~UpdateWindow() override;

 signals:
  // A run has ended: its worker is gone and "Update" is back.
  void updateFinished();

 protected:
  // During a run: asks whether to stop; once the run has stopped the window closes. After the run's
  // outcome was answered it asks nothing, and closes once the run has let go. Otherwise it removes
  // the staging, as the dialog's close request does.
  void closeEvent(QCloseEvent* event) override;

 private:
  void StartUpdate();
  void Work();  // on the worker thread: the run, and its record before its outcome shows
  void Run(TransferLog& log);
  void EndUpdate();
  bool AskToStop();

  WindowEngine engine_;
  DialogState state_;
  QtDialogUi ui_;
  QProgressBar* progress_;
  QPushButton* update_;
  std::thread worker_;
  std::atomic<bool> stop_{false};
  bool closeWhenStopped_ = false;
  // GUI thread: ui_.messagesAnswered() when the run started. Once the run's outcome box has been
  // answered, all it does is let go of the device and the staging: nothing is left to stop.
  int answeredBeforeRun_ = 0;
};

}  // namespace hnx::gui
