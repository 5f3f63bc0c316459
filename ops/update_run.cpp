// The one-click update: stage, connect, erase, program, read back, compare, finish, protect, exit.
#include <algorithm>
#include <optional>

#include "app/operation_guard.h"
#include "link/presence_scan.h"
#include "ops/buffer.h"
#include "ops/checksum.h"
#include "ops/flash_transfer.h"
#include "ops/image_file.h"
#include "ops/messages.h"
#include "ops/operations.h"
#include "ops/staging.h"

namespace hnx {
namespace {

constexpr std::uint32_t kOpenRetries = 30;
constexpr std::uint32_t kOpenRetryWaitMilliseconds = 1000;
// The image's last 5 bytes carry the read-protect marker (0 at the first of them asks for read
// protection); the device is given 0xFF there. Only a block that starts 32 bytes before the end
// carries them, so only 32-byte blocks do.
constexpr std::uint32_t kMarkerBlockFromEnd = 32;
constexpr std::uint32_t kMarkerLength = 5;

class UpdateRun {
 public:
  UpdateRun(OperationContext& context, const ChipProfile& chip)
      : context_(context),
        chip_(chip),
        image_(chip.imageSize),
        readBack_(kLargestImageSize),
        link_(context.libraries, context.transferLibraryPath, context.ui) {}

  Message Run();
  void Release();

 private:
  bool OpenPipe();
  std::optional<Message> Erase();
  std::optional<Message> LoadImage();
  std::optional<Message> Program();
  std::optional<Message> ReadBack();
  Message CompareAndFinish();
  void ApplyProtectMarker();

  OperationContext& context_;
  const ChipProfile chip_;
  Buffer image_;
  Buffer readBack_;
  Buffer block_;
  IspFrame frame_;
  bool readProtect_ = false;
  ImageFile file_;
  TransferLibrary link_;
};

Message UpdateRun::Run() {
  std::uint32_t deviceCount = 0;
  CountAttachedDevices(context_.hubs, deviceCount);  // the run goes on whatever it counts
  if (!OpenPipe()) return kTimeOut;
  if (auto failure = Erase()) return *failure;
  if (auto failure = LoadImage()) return *failure;
  if (auto failure = Program()) return *failure;
  if (auto failure = ReadBack()) return *failure;
  return CompareAndFinish();
}

bool UpdateRun::OpenPipe() {
  // Without USB_Open_PIPE no wait could change the outcome.
  if (!link_.canOpenPipe()) return false;
  for (std::uint32_t retries = 0; !link_.OpenPipe();) {
    context_.sleeper.Sleep(kOpenRetryWaitMilliseconds);
    if (++retries > kOpenRetries) return false;
  }
  return true;
}

std::optional<Message> UpdateRun::Erase() {
  const Exchange erased = MassErase(link_, frame_);
  if (erased != Exchange::Ok) return ExchangeFailure(erased);
  return std::nullopt;
}

std::optional<Message> UpdateRun::LoadImage() {
  file_ = ImageFile::OpenForReading(context_.state.m_strImagePath);
  if (!file_.isOpen()) return kOpenFileError;
  if (!file_.ReadExactly(image_)) return kFileReadFailed;
  context_.state.m_strChecksum = ChecksumText(image_);
  context_.ui.MembersToControls();
  return std::nullopt;
}

std::optional<Message> UpdateRun::Program() {
  const auto advance = [this](std::uint32_t address) {
    context_.ui.SetProgressPos(static_cast<int>(++context_.state.m_nProgressStep));
    if (address == chip_.imageSize - kMarkerBlockFromEnd) ApplyProtectMarker();
  };
  const Exchange programmed = ProgramFlash(link_, frame_, chip_.blockLength, image_, advance);
  if (programmed != Exchange::Ok) return ProgramFailure(programmed);
  return std::nullopt;
}

void UpdateRun::ApplyProtectMarker() {
  const auto marker = image_.end() - kMarkerLength;
  if (*marker == 0x00) readProtect_ = true;
  std::fill(marker, image_.end(), 0xFF);
}

std::optional<Message> UpdateRun::ReadBack() {
  block_.assign(chip_.blockLength, 0);
  const auto step = [this] { ++context_.state.m_nProgressStep; };
  const Exchange read = ReadBackFlash(link_, frame_, chip_, block_, readBack_, step);
  if (read != Exchange::Ok) return ExchangeFailure(read);
  context_.ui.SetProgressPos(static_cast<int>(context_.state.m_nProgressStep));
  return std::nullopt;
}

Message UpdateRun::CompareAndFinish() {
  if (!std::equal(image_.begin(), image_.end(), readBack_.begin())) return kVerifyFailure;
  if (SendCommand(link_, frame_, OpFinish) != Exchange::Ok) return kFlashWriteFailure;
  if (readProtect_ && SendCommand(link_, frame_, OpReadProtect) != Exchange::Ok) return kReadProtectFailure;
  if (SendCommand(link_, frame_, OpExitIsp) != Exchange::Ok) return kFlashWriteFailure;
  return kUpdateSucceeded;
}

void UpdateRun::Release() {
  Free(image_);
  Free(readBack_);
  Free(block_);
  file_.Close();
  link_.ClosePipe();
  RemoveStaging(context_.staging);
  link_.Unload();
  EnableOperationButtons(context_.ui);
  context_.ui.MembersToControls();
}

}  // namespace

void RunUpdate(OperationContext& context) {
  if (!StageImage(context)) return;
  context.ui.SetProgressPos(0);
  context.state.m_nProgressStep = 0;
  context.ui.ControlsToMembers();
  const ChipLookup chip = LookUpChip(context.state.m_strChipType);
  if (chip.status != ChipLookupStatus::Found) {
    // Staging checked this chip type a moment ago; should the control have changed since, stop
    // rather than run with no image size.
    ReportChipLookup(chip, context.ui);
    RemoveStaging(context.staging);
    return;
  }
  context.state.m_nImageSize = chip.profile.imageSize;
  context.state.m_nBlockLength = chip.profile.blockLength;
  DisableOperationButtons(context.ui);

  UpdateRun run(context, chip.profile);
  Show(context.ui, run.Run());
  run.Release();
}

}  // namespace hnx
