#include "support/ops_rig.h"

#include <fstream>
#include <random>

#include "chip/chip_catalogue.h"
#include "res/resource.h"

namespace hnx::test {
namespace {

sim::SimDevice DeviceFor(const std::string& chipType) {
  const ChipLookup chip = LookUpChip(chipType);
  if (chip.status != ChipLookupStatus::Found) return sim::SimDevice();
  return sim::SimDevice(chip.profile.imageSize, chip.profile.blockLength);
}

}  // namespace

bool MemoryImage::Find() {
  return found_ = !missing;
}
bool MemoryImage::Load() {
  return loaded_ = found_ && !unloadable;
}
const std::uint8_t* MemoryImage::Lock() {
  return loaded_ && !unlockable ? bytes.data() : nullptr;
}
std::uint32_t MemoryImage::Size() {
  return found_ ? static_cast<std::uint32_t>(bytes.size()) : 0;
}

DynamicLibrary::Handle WatchedLibrary::Load(const std::string& path) {
  if (onLoad) onLoad();
  return inner_.Load(path);
}

void WatchedLibrary::Unload(Handle library) {
  if (onUnload) onUnload();
  inner_.Unload(library);
}

void SequenceDialog::ShowMessage(const std::string& text, const std::string& caption, MessageIcon icon) {
  events.push_back("message " + text);
  RecordingDialog::ShowMessage(text, caption, icon);
}

void SequenceDialog::ShowAppMessage(const std::string& text) {
  events.push_back("message " + text);
  RecordingDialog::ShowAppMessage(text);
}

void SequenceDialog::EnableControl(int controlId, bool enable) {
  events.push_back("enable " + std::to_string(controlId) + (enable ? " 1" : " 0"));
  RecordingDialog::EnableControl(controlId, enable);
}

void SequenceDialog::ControlsToMembers() {
  events.push_back("take");
  RecordingDialog::ControlsToMembers();
}

void SequenceDialog::MembersToControls() {
  events.push_back("show");
  RecordingDialog::MembersToControls();
}

FileChoice SequenceDialog::ChooseOpenFile(const FileDialogOptions& options) {
  events.push_back("open");
  return RecordingDialog::ChooseOpenFile(options);
}

FileChoice SequenceDialog::ChooseSaveFile(const FileDialogOptions& options) {
  events.push_back("save");
  return RecordingDialog::ChooseSaveFile(options);
}

// Folders and files come and go by the thousand in a sweep: in memory where the system offers it.
std::filesystem::path TemporaryBase() {
  std::error_code ignored;
  if (std::filesystem::is_directory("/dev/shm", ignored)) return "/dev/shm";
  return std::filesystem::temp_directory_path();
}

TempFolder::TempFolder() {
  std::random_device entropy;
  do {
    root_ = TemporaryBase() / ("hnx-ops-" + std::to_string(entropy()));
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
              watchedLibrary,
              "ZB_USB.DLL",
              hubs,
              image,
              sleeper,
              StagingPaths{temp->Path("Program BinFile"), temp->Path("Program BinFile") + "//b167h.bin"}} {
  SelectChip(chipType);
  image.bytes = PatternImage(0x10000);
}

void OpsRig::SelectChip(const std::string& chipType) {
  state.m_strChipType = chipType;
  ui.SetControlText(IDC_CHIP_TYPE, chipType);
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
  std::vector<std::uint8_t> bytes(size);
  for (std::size_t i = 0; i < size; ++i)
    bytes[i] = static_cast<std::uint8_t>((i * 7 + i / 64 * 13) % 251 + 1);
  return bytes;
}

}  // namespace hnx::test
