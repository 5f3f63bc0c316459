#include "support/rig.h"

#include <algorithm>
#include <fstream>
#include <ostream>
#include <random>
#include <regex>
#include <utility>

#include "link/isp.h"
#include "ops/operation_scope.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <cstdlib>
#endif

namespace hnx::test {
namespace {

bool IsTransfer(const TraceRecord& record) {
  return record.call == Call::BulkWrite || record.call == Call::BulkRead;
}

sim::SimDevice DeviceFor(const std::string& chipType) {
  const ChipLookup chip = LookUpChip(chipType);
  if (chip.status != ChipLookupStatus::Found) return sim::SimDevice();
  return sim::SimDevice(chip.profile.imageSize, chip.profile.blockLength);
}

std::filesystem::path TemporaryBase() {
  std::error_code ignored;
  if (std::filesystem::is_directory("/dev/shm", ignored)) return "/dev/shm";
  return std::filesystem::temp_directory_path();
}

}  // namespace

std::vector<EnableChange> GuardHistory() {
  std::vector<EnableChange> history;
  for (bool enable : {false, true})
    for (int id : kOperationButtons) history.push_back({id, enable});
  return history;
}

void RecordingDialog::Record(const std::string& event) {
  events.push_back(event);
  if (onEvent) onEvent(event);
}

void RecordingDialog::Record(const ShownMessage& message) {
  messages.push_back(message);
  Record("message " + message.text);
}

void RecordingDialog::EnableControl(int controlId, bool enable) {
  enableChanges.push_back({controlId, enable});
  Record("enable " + std::to_string(controlId) + (enable ? " 1" : " 0"));
}

void RecordingDialog::ControlsToMembers() {
  state_.m_strImagePath = ControlText(IDC_IMAGE_PATH);
  state_.m_strChipType = ControlText(IDC_CHIP_TYPE);
  state_.m_strChecksum = ControlText(IDC_CHECKSUM);
  Record("take");
}

void RecordingDialog::MembersToControls() {
  MembersToTexts(state_, texts_);
  Record("show");
}

FileChoice RecordingDialog::Choose(const std::string& event, const FileDialogOptions& options) {
  fileDialogs.push_back(options);
  Record(event);
  return std::exchange(nextFileChoice, {});
}

TempFolder::TempFolder() {
  std::random_device entropy;
  do {
    root_ = TemporaryBase() / ("hnx-test-" + std::to_string(entropy()));
  } while (!std::filesystem::create_directory(root_));
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(root_, ignored);
}

OpsRig::OpsRig(const std::string& chipType, std::shared_ptr<const TempFolder> folder)
    : device(DeviceFor(chipType)),
      temp(std::move(folder)),
      context{state,
              ui,
              library,
              "ZB_USB.DLL",
              hubs,
              image,
              sleeper,
              StagingPaths{temp->Path("Program BinFile"), temp->Path("Program BinFile") + "//b167h.bin"}} {
  state.m_strChipType = chipType;
  ui.SetControlText(IDC_CHIP_TYPE, chipType);
  image.bytes = PatternImage(0x10000);
}

void OpsRig::SelectImagePath(const std::string& path) {
  state.m_strImagePath = path;
  ui.SetControlText(IDC_IMAGE_PATH, path);
}

std::string OpsRig::MakeFile(const std::string& name, std::span<const std::uint8_t> bytes) const {
  const std::string path = temp->Path(name);
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return path;
}

std::vector<std::uint8_t> FileBytes(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

std::vector<std::uint8_t> PatternImage(std::size_t size) {
  const auto make = [](std::size_t length) {
    std::vector<std::uint8_t> bytes(length);
    for (std::size_t i = 0; i < length; ++i)
      bytes[i] = static_cast<std::uint8_t>((i * 7 + i / 64 * 13) % 251 + 1);
    return bytes;
  };
  // Made once up to the largest flash: every rig of a sweep starts from it.
  static const std::vector<std::uint8_t> pattern = make(0x10000);
  if (size > pattern.size()) return make(size);
  return std::vector(pattern.begin(), pattern.begin() + static_cast<std::ptrdiff_t>(size));
}

void PrintTo(const SentFrame& frame, std::ostream* out) {
  *out << "frame 0x" << std::hex << int{frame.opcode} << " @0x" << frame.address << std::dec;
}

std::vector<SentFrame> SentFrames(const Trace& trace) {
  std::vector<SentFrame> frames;
  for (const auto& record : trace) {
    if (record.call != Call::BulkWrite || record.bytes.size() != kFrameLength) continue;
    const auto& b = record.bytes;
    frames.push_back(
        {b[0], std::uint32_t{b[3]} << 24 | std::uint32_t{b[4]} << 16 | std::uint32_t{b[5]} << 8 | b[6]});
  }
  return frames;
}

std::size_t TransferCount(const Trace& trace) {
  return static_cast<std::size_t>(std::count_if(trace.begin(), trace.end(), IsTransfer));
}

std::vector<Call> Calls(const Trace& trace) {
  std::vector<Call> calls;
  for (const auto& record : trace) calls.push_back(record.call);
  return calls;
}

std::vector<Call> CallsAfterLastTransfer(const Trace& trace) {
  const auto last = std::find_if(trace.rbegin(), trace.rend(), IsTransfer);
  return Calls(Trace(last.base(), trace.end()));
}

std::vector<std::string> TraceLines(const sim::SimDevice& device) {
  std::vector<std::string> lines;
  for (const TraceRecord& record : device.trace()) lines.push_back(FormatTraceRecord(record));
  return lines;
}

std::vector<std::string> FileLines(const std::string& path) {
  std::vector<std::string> lines;
  std::ifstream file(path, std::ios::binary);
  for (std::string line; std::getline(file, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

void SetVariable(const char* name, const std::string& value) {
#if defined(_WIN32)
  SetEnvironmentVariableA(name, value.c_str());
#else
  setenv(name, value.c_str(), 1);
#endif
}

// All outputs of the build share one folder; the libraries lacking an entry point sit in missing/.
std::string SimLibraryLackingPath(const std::string& lack) {
#if defined(_WIN32)
  const std::string library = TransferLibraryPathBeside(ProgramPath());
  return library.substr(0, library.size() - std::string(kTransferLibraryName).size()) + "missing\\ZB_USB_" +
         lack + ".DLL";
#else
  return std::string(HNX_TEST_LIBRARY_DIR) + "/missing/ZB_USB_" + lack + ".so";
#endif
}

std::vector<std::string> WithFiguresMasked(std::vector<std::string> lines) {
  static const std::regex figures(R"( in \d+\.\d s \(\d+\.\d KiB/s\))");
  for (std::string& line : lines) line = std::regex_replace(line, figures, " in T s (R KiB/s)");
  return lines;
}

}  // namespace hnx::test
