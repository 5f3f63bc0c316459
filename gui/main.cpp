// hnx-update-gui: the dialog's window on Linux, reaching the device through libusb.
#include <QApplication>

#include "gui/environment.h"
#include "gui/update_window.h"
#include "link/usb_transport_libusb.h"
#include "res/embedded_image.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QGuiApplication::setDesktopFileName("hnx-update-gui");
  hnx::ThreadSleeper sleeper;
  const std::unique_ptr<hnx::TransferLogFile> log = hnx::gui::TransferLogNamedByEnvironment();
  hnx::gui::UpdateWindow window({hnx::MakeLibusbBus(), &sleeper,
                                 hnx::StagingInTemporaryFolder("hnx-update-gui"),
                                 hnx::EmbeddedImage(), log.get(), hnx::gui::RecordFileNamedByEnvironment()});
  window.show();
  return application.exec();
}
