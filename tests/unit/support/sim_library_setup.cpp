#include "support/sim_library_setup.h"

#include <array>
#include <atomic>
#include <chrono>

#include "link/transfer_library.h"
#include "sim/library_device.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <cstdlib>
#endif

namespace hnx::test {
namespace {

constexpr std::array<const char*, 6> kVariables = {sim::kStateFileVariable,   sim::kTraceFileVariable,
                                                   sim::kFaultPlanVariable,   sim::kFlashSizeVariable,
                                                   sim::kBlockLengthVariable, sim::kDelayVariable};

void SetVariable(const char* name, const char* value) {
#if defined(_WIN32)
  SetEnvironmentVariableA(name, value);
#else
  if (value == nullptr)
    unsetenv(name);
  else
    setenv(name, value, 1);
#endif
}

}  // namespace

SimScratchFolder::SimScratchFolder() {
  static std::atomic<int> made{0};
  const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  path_ = std::filesystem::temp_directory_path() /
          ("hnx-sim-" + std::to_string(stamp) + "-" + std::to_string(made++));
  std::filesystem::create_directories(path_);
}

SimScratchFolder::~SimScratchFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

SimLibraryEnvironment::SimLibraryEnvironment(const std::map<std::string, std::string>& values) {
  for (const char* name : kVariables) {
    const auto value = values.find(name);
    SetVariable(name, value == values.end() ? nullptr : value->second.c_str());
  }
}

SimLibraryEnvironment::~SimLibraryEnvironment() {
  for (const char* name : kVariables) SetVariable(name, nullptr);
}

#if defined(_WIN32)
// All outputs of the build share one folder, the one the test program runs from.
std::string SimLibraryPath() {
  return TransferLibraryPathBeside(ProgramPath());
}

std::string SimLibraryLackingPath(const std::string& lack) {
  const std::string library = SimLibraryPath();
  const std::string folder = library.substr(0, library.size() - std::string(kTransferLibraryName).size());
  return folder + "missing\\ZB_USB_" + lack + ".DLL";
}
#else
std::string SimLibraryPath() {
  return HNX_SIM_LIBRARY_PATH;
}

std::string SimLibraryLackingPath(const std::string& lack) {
  return std::string(HNX_TEST_LIBRARY_DIR) + "/missing/ZB_USB_" + lack + ".so";
}
#endif

}  // namespace hnx::test
