// hnx-update-gui: the dialog's window on Linux, reaching the device through libusb.
#include <QApplication>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>
#include <unistd.h>

#include "gui/update_window.h"
#include "link/usb_transport_libusb.h"
#include "res/embedded_image.h"

namespace {

class ThreadSleeper final : public hnx::Sleeper {
 public:
  void Sleep(std::uint32_t milliseconds) override {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
  }
};

// A folder of this process's own in the temporary folder.
hnx::StagingPaths StagingForThisProcess() {
  std::error_code error;
  std::filesystem::path temp = std::filesystem::temp_directory_path(error);
  if (error) temp = "/tmp";
  const std::string folder = (temp / ("hnx-update-gui-" + std::to_string(getpid()))).string();
  return {folder, folder + "/b167h.bin"};
}

// HNX_TRACE names a file that gets a line per transfer, as hnx-update --log writes it.
std::unique_ptr<hnx::TransferLogFile> TransferLogNamedByEnvironment() {
  const char* path = std::getenv("HNX_TRACE");
  if (path == nullptr || *path == '\0') return nullptr;
  return std::make_unique<hnx::TransferLogFile>(path);
}

}  // namespace

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QGuiApplication::setDesktopFileName("hnx-update-gui");
  ThreadSleeper sleeper;
  const std::unique_ptr<hnx::TransferLogFile> log = TransferLogNamedByEnvironment();
  hnx::gui::UpdateWindow window(
      {hnx::MakeLibusbBus(), &sleeper, StagingForThisProcess(), hnx::EmbeddedImage(), log.get()});
  window.show();
  return application.exec();
}
