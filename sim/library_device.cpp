#include "sim/library_device.h"

#include <fstream>
#include <iterator>

#include "sim/environment.h"
#include "sim/number_text.h"

namespace hnx::sim {
namespace {

constexpr std::uint64_t kLargestFlash = 16u << 20;
constexpr std::uint64_t kLongestBlock = 4096;

std::uint32_t NumberSetting(const char* variable, std::uint32_t fallback, std::uint64_t limit,
                            std::vector<std::string>& errors) {
  const auto text = EnvironmentValue(variable);
  if (!text) return fallback;
  const auto value = ParseNumber(*text, limit);
  if (!value || *value == 0) {
    errors.push_back(std::string("bad ") + variable);
    return fallback;
  }
  return static_cast<std::uint32_t>(*value);
}

std::vector<std::uint8_t> ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

}  // namespace

LibrarySettings LibrarySettings::FromEnvironment() {
  LibrarySettings settings;
  auto& errors = settings.errors;
  settings.flashSize = NumberSetting(kFlashSizeVariable, settings.flashSize, kLargestFlash, errors);
  settings.blockLength = NumberSetting(kBlockLengthVariable, settings.blockLength, kLongestBlock, errors);
  if (settings.flashSize % settings.blockLength != 0) {
    errors.push_back(std::string("bad ") + kFlashSizeVariable + " for " + kBlockLengthVariable);
    settings.flashSize = LibrarySettings().flashSize;
    settings.blockLength = LibrarySettings().blockLength;
  }
  if (const auto plan = EnvironmentValue(kFaultPlanVariable)) {
    if (auto parsed = FaultPlan::Parse(*plan))
      settings.faults = std::move(*parsed);
    else
      errors.push_back(std::string("bad ") + kFaultPlanVariable);
  }
  if (settings.faults.delayMicroseconds == 0)
    settings.faults.delayMicroseconds = NumberSetting(kDelayVariable, 0, UINT32_MAX, errors);
  settings.statePath = EnvironmentValue(kStateFileVariable).value_or("");
  settings.tracePath = EnvironmentValue(kTraceFileVariable).value_or("");
  return settings;
}

LibraryDevice::LibraryDevice(const LibrarySettings& settings)
    : device_(settings.flashSize, settings.blockLength), statePath_(settings.statePath) {
  device_.faults() = settings.faults;
  if (!settings.errors.empty()) device_.faults().openFailures = -1;
  if (!settings.tracePath.empty()) {
    trace_ = std::fopen(settings.tracePath.c_str(), "ab");
    device_.SetTraceSink([this](const TraceRecord& record) { TraceLine(FormatTraceRecord(record)); });
  }
  for (const std::string& error : settings.errors) TraceLine("error " + error);
  // A missing state file, or one of another geometry, leaves the flash erased; the next save
  // replaces it.
  if (!statePath_.empty()) device_.LoadState(ReadFile(statePath_));
  savedChanges_ = device_.changes();
}

LibraryDevice::~LibraryDevice() {
  SaveIfChanged();
  if (trace_ != nullptr) std::fclose(trace_);
}

void LibraryDevice::ClosePipe() {
  device_.ClosePipe();
  SaveIfChanged();
}

std::uint8_t LibraryDevice::BulkWrite(const std::uint8_t* data, std::uint32_t length, std::uint32_t* count) {
  const std::uint8_t result = device_.BulkWrite(data, length, count);
  // After exit ISP the program unloads the library without closing the pipe.
  if (device_.exitedIsp()) SaveIfChanged();
  return result;
}

void LibraryDevice::TraceLine(const std::string& line) {
  if (trace_ == nullptr) return;
  std::fputs(line.c_str(), trace_);
  std::fputc('\n', trace_);
  std::fflush(trace_);
}

void LibraryDevice::SaveIfChanged() {
  if (statePath_.empty() || device_.changes() == savedChanges_) return;
  const std::vector<std::uint8_t> state = device_.SaveState();
  std::ofstream file(statePath_, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(state.data()), static_cast<std::streamsize>(state.size()));
  if (file) savedChanges_ = device_.changes();
}

}  // namespace hnx::sim
