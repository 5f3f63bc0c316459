#include <unistd.h>

#include <filesystem>

#include "cli/platform.h"
#include "link/usb_transport_libusb.h"

namespace hnx::cli {
namespace {

class NoHubDriver final : public HubDriver {
 public:
  Handle Open(const std::string&) override { return nullptr; }
  bool IoControl(Handle, std::uint32_t, const void*, std::uint32_t, void*, std::uint32_t,
                 std::uint32_t& returned) override {
    returned = 0;
    return false;
  }
  void Close(Handle) override {}
  int ConvertWideToNarrow(const char16_t*, char*, int) override { return 0; }
};

}  // namespace

StagingPaths StagingForThisRun() {
  std::error_code error;
  std::filesystem::path temp = std::filesystem::temp_directory_path(error);
  if (error) temp = "/tmp";
  const std::string folder = (temp / ("hnx-update-" + std::to_string(getpid()))).string();
  return {folder, folder + "/b167h.bin"};
}

std::string DefaultTransferLibraryPath() {
  return "";
}

std::unique_ptr<UsbBus> MakeSystemUsb() {
  return MakeLibusbBus();
}

std::unique_ptr<HubDriver> MakeHubDriver() {
  return std::make_unique<NoHubDriver>();
}

std::uint32_t CountDevices(OperationContext& context) {
  TransferLibrary link(context.libraries, context.transferLibraryPath, context.transferLog);
  return link.OpenPipe() ? 1 : 0;
}

bool IsTerminal(std::FILE* stream) {
  return isatty(fileno(stream)) != 0;
}

void PrepareProcess() {}

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
  return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
}

}  // namespace hnx::cli
