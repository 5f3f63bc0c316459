// The one-click update: stage the embedded image, connect, erase, program, read back, compare,
// finish, protect, exit.
#include <algorithm>
#include <chrono>
#include <thread>

#include "ops/operation_scope.h"

namespace hnx {
namespace {

// The resource failures, in the Chinese ANSI code page (936).
constexpr const char* kResourceNotFound =
    "\xC3\xBB\xD3\xD0\xD5\xD2\xB5\xBD\xD7\xCA\xD4\xB4 ";  // 没有找到资源
constexpr const char* kResourceNotLoaded =
    "\xBC\xD3\xD4\xD8\xD7\xCA\xD4\xB4\xCA\xA7\xB0\xDC ";  // 加载资源失败
constexpr const char* kResourceNotLocked =
    "\xB2\xBB\xC4\xDC\xBC\xD3\xD4\xD8\xC4\xDA\xB4\xE6 ";  // 不能加载内存

constexpr std::uint32_t kOpenWaitSeconds = 30;
// The image's last 5 bytes carry the read-protect marker (0 at the first of them asks for read
// protection); the device is given 0xFF there. Only a block that starts 32 bytes before the end
// carries them, so only 32-byte blocks do.
constexpr std::uint32_t kMarkerBlockFromEnd = 32;
constexpr std::uint32_t kMarkerLength = 5;

bool MadePerRun(const StagingPaths& staging) {
  return !staging.newFolderPrefix.empty();
}

// The staging's folder, and its file created for writing. A folder that cannot be made leaves no file
// name, so the image check after it fails to open the file.
ImageFile CreateStagingFile(StagingPaths& staging) {
  if (MadePerRun(staging)) {
    staging.folder = MakeNewPrivateFolder(staging.newFolderPrefix);
    staging.file = staging.folder.empty() ? "" : staging.folder + "/b167h.bin";
    return staging.folder.empty() ? ImageFile() : ImageFile::CreateNew(staging.file);
  }
  if (!FolderExists(staging.folder)) MakeFolder(staging.folder);
  return ImageFile::CreateForWriting(staging.file);
}

// Each failed step is reported and the next is still tried; whatever could not be written leaves
// the staging file short, which the image check after it rejects.
void WriteEmbeddedImage(ImageResource& image, DialogUi& ui, StagingPaths& staging) {
  if (!image.Find()) ui.ShowAppMessage(kResourceNotFound);
  if (!image.Load()) ui.ShowAppMessage(kResourceNotLoaded);
  const std::uint8_t* bytes = image.Lock();
  if (bytes == nullptr) ui.ShowAppMessage(kResourceNotLocked);
  ImageFile file = CreateStagingFile(staging);
  if (bytes != nullptr) static_cast<void>(file.WriteAll({bytes, image.Size()}));
}

bool IsTheEmbeddedImage(ImageResource& embedded, std::span<const std::uint8_t> image) {
  const std::uint8_t* bytes = embedded.Lock();
  return bytes != nullptr && embedded.Size() >= image.size() && std::equal(image.begin(), image.end(), bytes);
}

}  // namespace

bool StageImage(OperationContext& context) {
  DialogUi& ui = context.ui;
  ui.ControlsToMembers();
  ui.ControlsToMembers();
  WriteEmbeddedImage(context.image, ui, context.staging);
  context.state.m_strImagePath = context.staging.file;

  const std::optional<ChipProfile> chip = SelectChip(context);
  if (!chip) return false;
  ImageFile file = ImageFile::OpenForReading(context.state.m_strImagePath);
  if (!file.isOpen()) {
    Show(ui, kOpenFileError);
    return false;
  }
  Buffer image(chip->imageSize);
  const bool whole = file.ReadExactly(image);
  file.Close();
  if (!whole) {
    Show(ui, kFileReadFailed);
    return false;
  }
  context.state.m_strChecksum = ChecksumText(image);
  ui.MembersToControls();
  return true;
}

namespace {

class UpdateRun {
 public:
  UpdateRun(OperationContext& context, const ChipProfile& chip)
      : context_(context), chip_(chip), held_(context, {.removeStaging = true, .refreshControls = true}) {
    held_.image.assign(chip.imageSize, 0);
    held_.readBack.assign(kLargestImageSize, 0);
  }

  Message Run();

 private:
  std::optional<Message> Erase();
  std::optional<Message> LoadImage();
  std::optional<Message> Program();
  std::optional<Message> ReadBack();
  Message CompareAndFinish();
  void ApplyProtectMarker();

  OperationContext& context_;
  const ChipProfile chip_;
  OperationScope held_;
  TransferLibrary& link_ = held_.BindLibrary();
  IspFrame frame_;
  bool readProtect_ = false;
};

Message UpdateRun::Run() {
  std::uint32_t deviceCount = 0;
  CountAttachedDevices(context_.hubs, deviceCount);  // the run goes on whatever it counts
  if (!OpenPipeWaiting(context_, link_, kOpenWaitSeconds)) return NotOpened(context_, kTimeOut);
  if (auto failure = Erase()) return *failure;
  if (auto failure = LoadImage()) return *failure;
  if (auto failure = Program()) return *failure;
  if (auto failure = ReadBack()) return *failure;
  if (StopRequested(context_.stop)) return kInterrupted;
  return CompareAndFinish();
}

std::optional<Message> UpdateRun::Erase() {
  const Exchange erased = MassErase(link_, frame_);
  if (erased != Exchange::Ok) return ExchangeFailure(erased);
  context_.ui.ShowTransferProgress(TransferPhase::Erase, 1, 1);
  return std::nullopt;
}

std::optional<Message> UpdateRun::LoadImage() {
  held_.file = ImageFile::OpenForReading(context_.state.m_strImagePath);
  if (!held_.file.isOpen()) return kOpenFileError;
  if (!held_.file.ReadExactly(held_.image)) return kFileReadFailed;
  // The staging folder is open to every program on the machine: what is programmed and then
  // compared must be the image this program carries, not whatever the file holds by now.
  if (!IsTheEmbeddedImage(context_.image, held_.image)) return kFileReadFailed;
  context_.state.m_strChecksum = ChecksumText(held_.image);
  context_.ui.MembersToControls();
  return std::nullopt;
}

std::optional<Message> UpdateRun::Program() {
  const auto advance = [this](std::uint32_t address) {
    context_.ui.SetProgressPos(static_cast<int>(++context_.state.m_nProgressStep));
    context_.ui.ShowTransferProgress(TransferPhase::Program, address, chip_.imageSize);
    if (address == chip_.imageSize - kMarkerBlockFromEnd) ApplyProtectMarker();
  };
  const Exchange programmed =
      ProgramFlash(link_, frame_, chip_.blockLength, held_.image, advance, context_.stop);
  if (programmed != Exchange::Ok) return ProgramFailure(programmed);
  context_.ui.ShowTransferProgress(TransferPhase::Program, chip_.imageSize, chip_.imageSize);
  return std::nullopt;
}

void UpdateRun::ApplyProtectMarker() {
  const auto marker = held_.image.end() - kMarkerLength;
  if (*marker == 0x00) readProtect_ = true;
  std::fill(marker, held_.image.end(), 0xFF);
}

std::optional<Message> UpdateRun::ReadBack() {
  held_.block.assign(chip_.blockLength, 0);
  const auto step = [this](std::uint32_t address) {
    ++context_.state.m_nProgressStep;
    context_.ui.ShowTransferProgress(TransferPhase::Read, address, chip_.imageSize);
  };
  const Exchange read = ReadBackFlash(link_, frame_, held_.block,
                                      std::span(held_.readBack).first(chip_.imageSize), step, context_.stop);
  if (read != Exchange::Ok) return ExchangeFailure(read);
  context_.ui.ShowTransferProgress(TransferPhase::Read, chip_.imageSize, chip_.imageSize);
  context_.ui.SetProgressPos(static_cast<int>(context_.state.m_nProgressStep));
  return std::nullopt;
}

Message UpdateRun::CompareAndFinish() {
  if (ShowFirstDifference(context_.ui, held_.image, held_.readBack)) return kVerifyFailure;
  if (SendCommand(link_, frame_, OpFinish) != Exchange::Ok) return kFlashWriteFailure;
  if (readProtect_ && SendCommand(link_, frame_, OpReadProtect) != Exchange::Ok) return kReadProtectFailure;
  if (SendCommand(link_, frame_, OpExitIsp) != Exchange::Ok) return kFlashWriteFailure;
  return kUpdateSucceeded;
}

}  // namespace

void RunUpdate(OperationContext& context) {
  if (!StageImage(context)) {
    // A folder made for this run alone has no one else to remove it.
    if (MadePerRun(context.staging)) RemoveStaging(context);
    return;
  }
  context.ui.SetProgressPos(0);
  context.state.m_nProgressStep = 0;
  context.ui.ControlsToMembers();
  const ChipLookup chip = LookUpChip(context.state.m_strChipType);
  if (chip.status != ChipLookupStatus::Found) {
    // Staging checked this chip type a moment ago; should the control have changed since, stop
    // rather than run with no image size.
    Show(context.ui, ChipLookupFailure(chip));
    RemoveStaging(context);
    return;
  }
  context.state.m_nImageSize = chip.profile.imageSize;
  context.state.m_nBlockLength = chip.profile.blockLength;

  UpdateRun run(context, chip.profile);
  Show(context.ui, run.Run());
}

void RemoveStaging(OperationContext& context) {
  const StagingPaths& staging = context.staging;
  // The folder, not the file, decides whether the file is deleted; a file already gone is no error.
  if (PathExists(staging.folder)) DeleteFileAt(staging.file);
  // Only an empty folder goes: anything else someone put there is kept.
  if (FolderExists(staging.folder)) RemoveEmptyFolder(staging.folder);
  // Once gone, a name made for this run is another's to take: it is never touched again.
  if (MadePerRun(staging)) context.staging.folder = context.staging.file = "";
}

void ThreadSleeper::Sleep(std::uint32_t milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

}  // namespace hnx
