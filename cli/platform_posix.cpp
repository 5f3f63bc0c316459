#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "cli/platform.h"
#include "link/usb_transport_libusb.h"

namespace hnx::cli {
namespace {

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

// Ends the process as `signal` ends it when nothing catches it. Called on the thread that takes the
// signals, where they are blocked: the signal stays pending until it is unblocked.
[[noreturn]] void EndBySignal(int signal) {
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  sigaction(signal, &action, nullptr);
  pthread_kill(pthread_self(), signal);
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, signal);
  pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
  _exit(128 + signal);  // not reached: the signal ends the process as it is unblocked
}

// The first stop signal sets the flag; any later one, of any of them, ends the process at once.
[[noreturn]] void TakeStopSignals(sigset_t signals, std::atomic<bool>* stop) {
  for (;;) {
    int signal = 0;
    if (sigwait(&signals, &signal) != 0) continue;
    if (stop->exchange(true)) EndBySignal(signal);
  }
}

}  // namespace

StagingPaths StagingForThisRun(const std::string& device) {
  return StagingInTemporaryFolder(device.empty() ? "hnx-update" : "hnx-update-" + device);
}

// No handler: the signals are blocked in every thread (threads started later inherit the mask) and
// taken by a thread of their own, which may do what it likes with them. A signal that the program
// was started with ignored (nohup, a background job) stays ignored.
StopFlag StopOnInterrupt() {
  static std::atomic<bool> stop = false;
  sigset_t signals;
  sigemptyset(&signals);
  for (const int signal : kStopSignals) {
    struct sigaction current {};
    if (sigaction(signal, nullptr, &current) == 0 && current.sa_handler != SIG_IGN) sigaddset(&signals, signal);
  }
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  std::thread(TakeStopSignals, signals, &stop).detach();
  return &stop;
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

// A write to a pipe whose reader has gone fails, as a write to a full disk does, instead of ending
// the process in the middle of whatever it was doing to a device.
void PrepareProcess() {
  signal(SIGPIPE, SIG_IGN);
}

void RunEnded() {}

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
  return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
}

}  // namespace hnx::cli
