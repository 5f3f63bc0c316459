#include <signal.h>
#include <unistd.h>

#include <atomic>

#include "cli/platform.h"
#include "link/usb_transport_libusb.h"

namespace hnx::cli {
namespace {

// A signal handler can reach nothing but a static object.
std::atomic<bool> interrupted = false;

extern "C" void OnInterrupt(int) {
  interrupted = true;
}

}  // namespace

StagingPaths StagingForThisRun(const std::string& device) {
  return StagingInTemporaryFolder(device.empty() ? "hnx-update" : "hnx-update-" + device);
}

StopFlag StopOnInterrupt() {
  static_assert(std::atomic<bool>::is_always_lock_free);
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESETHAND;  // the second signal takes the default action
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  return &interrupted;
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
