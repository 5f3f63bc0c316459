// hnx-update-gui: the dialog's window on Linux, reaching the device through libusb.
#include <QApplication>
#include <cstdlib>

#include "gui/update_window.h"
#include "link/usb_transport_libusb.h"
#include "res/embedded_image.h"

namespace {

// HNX_TRACE names a file that gets a line per transfer, as hnx-update --log writes it.
std::unique_ptr<hnx::TransferLogFile> TransferLogNamedByEnvironment() {
  const char* path = std::getenv("HNX_TRACE");
  if (path == nullptr || *path == '\0') return nullptr;
  return std::make_unique<hnx::TransferLogFile>(path);
}

// HNX_RECORD names a file that gets a production record per run, as hnx-update --record writes it.
std::string RecordFileNamedByEnvironment() {
  const char* path = std::getenv("HNX_RECORD");
  return path != nullptr ? path : "";
}

}  // namespace

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QGuiApplication::setDesktopFileName("hnx-update-gui");
  hnx::ThreadSleeper sleeper;
  const std::unique_ptr<hnx::TransferLogFile> log = TransferLogNamedByEnvironment();
  hnx::gui::UpdateWindow window({hnx::MakeLibusbBus(), &sleeper,
                                 hnx::StagingInTemporaryFolder("hnx-update-gui"),
                                 hnx::EmbeddedImage(), log.get(), RecordFileNamedByEnvironment()});
  window.show();
  return application.exec();
}
