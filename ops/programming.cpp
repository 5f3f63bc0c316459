// The engineering programming operations: Mass Erase (with its blank check), Write, Verify, and Open
// File, which chooses the image file that Write and Verify use.
#include <algorithm>

#include "ops/operation_scope.h"

namespace hnx {
namespace {

constexpr std::uint8_t kErasedByte = 0xFF;

const FileDialogOptions kImageFileDialog{
    .filter = "Binary Files (*.bin)|*.bin|All Files (*.*)|*.*",
    .defaultExtension = "",
    .initialName = "",
    .flags = 6,  // OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT
};

// The erase status says nothing about the erase; the blank check decides.
Message EraseAndCheckBlank(OperationContext& context, const ChipProfile& chip, OperationScope& held) {
  TransferLibrary& link = held.BindLibrary();
  if (!OpenPipeWaiting(context, link, 0)) return NotOpened(context, kDeviceNotFound);
  IspFrame frame;
  if (const Exchange erased = MassErase(link, frame); erased != Exchange::Ok) return ExchangeFailure(erased);
  context.ui.ShowTransferProgress(TransferPhase::Erase, 1, 1);
  held.block.assign(chip.blockLength, 0);
  for (std::uint32_t address = 0; address < chip.imageSize; address += chip.blockLength) {
    if (StopRequested(context.stop)) return kInterrupted;
    context.ui.ShowTransferProgress(TransferPhase::Read, address, chip.imageSize);
    const Exchange read = ReadBlock(link, frame, address, held.block);
    if (read != Exchange::Ok) return ExchangeFailure(read);
    const auto unerased = std::find_if(held.block.begin(), held.block.end(),
                                       [](std::uint8_t byte) { return byte != kErasedByte; });
    if (unerased != held.block.end()) {
      context.ui.ShowFirstDifference(address + static_cast<std::uint32_t>(unerased - held.block.begin()),
                                     kErasedByte, *unerased);
      return kMassEraseFailure;
    }
  }
  context.ui.ShowTransferProgress(TransferPhase::Read, chip.imageSize, chip.imageSize);
  return kMassEraseSucceeded;
}

// The image file is opened, unless a front end has read it already.
bool OpenImageSource(OperationContext& context, OperationScope& held) {
  if (context.imageFileContent) return true;
  held.file = ImageFile::OpenForReading(context.state.m_strImagePath);
  return held.file.isOpen();
}

// Fills the image from the opened file, or from the content read beforehand.
bool ReadImageSource(OperationContext& context, OperationScope& held) {
  if (!context.imageFileContent) return held.file.ReadExactly(held.image);
  const std::vector<std::uint8_t>& content = *context.imageFileContent;
  if (content.size() < held.image.size()) return false;
  std::copy_n(content.begin(), held.image.size(), held.image.begin());
  return true;
}

// The file is opened before the library is bound, and read only once the pipe is open.
Message ProgramImageFile(OperationContext& context, const ChipProfile& chip, OperationScope& held) {
  held.image.assign(chip.imageSize, 0);
  if (!OpenImageSource(context, held)) return kOpenFileError;
  TransferLibrary& link = held.BindLibrary();
  if (!OpenPipeWaiting(context, link, 0)) return NotOpened(context, kDeviceNotFound);
  if (!ReadImageSource(context, held)) return kFileReadFailed;
  context.state.m_strChecksum = ChecksumText(held.image);
  context.ui.MembersToControls();

  IspFrame frame;
  const auto advance = [&](std::uint32_t address) {
    context.ui.ShowTransferProgress(TransferPhase::Program, address, chip.imageSize);
  };
  const Exchange programmed = ProgramFlash(link, frame, chip.blockLength, held.image, advance, context.stop);
  if (programmed != Exchange::Ok) return ProgramFailure(programmed);
  context.ui.ShowTransferProgress(TransferPhase::Program, chip.imageSize, chip.imageSize);
  return kWriteSucceeded;
}

// The pipe is opened before the file, so without a device the file is never touched.
Message VerifyAgainstImageFile(OperationContext& context, const ChipProfile& chip, OperationScope& held) {
  held.image.assign(chip.imageSize, 0);
  held.readBack.assign(kLargestImageSize, 0);
  TransferLibrary& link = held.BindLibrary();
  if (!OpenPipeWaiting(context, link, 0)) return NotOpened(context, kDeviceNotFound);
  if (!OpenImageSource(context, held)) return kOpenFileError;
  if (!ReadImageSource(context, held)) return kFileReadFailed;

  held.block.assign(chip.blockLength, 0);
  IspFrame frame;
  const auto advance = [&](std::uint32_t address) {
    context.ui.ShowTransferProgress(TransferPhase::Read, address, chip.imageSize);
  };
  const Exchange read = ReadBackFlash(link, frame, held.block, std::span(held.readBack).first(chip.imageSize),
                                      advance, context.stop);
  if (read != Exchange::Ok) return ExchangeFailure(read);
  context.ui.ShowTransferProgress(TransferPhase::Read, chip.imageSize, chip.imageSize);
  if (ShowFirstDifference(context.ui, held.image, held.readBack)) return kVerifyFailure;
  if (StopRequested(context.stop)) return kInterrupted;
  return SendCommand(link, frame, OpFinish) == Exchange::Ok ? kVerifySucceeded : kFlashWriteFailure;
}

// A file that cannot be read whole leaves the previous checksum in place.
void TakeChecksumOfImageFile(OperationContext& context, const ChipProfile& chip) {
  OperationScope held(context, {.guard = false});
  held.file = ImageFile::OpenForReading(context.state.m_strImagePath);
  if (!held.file.isOpen()) return Show(context.ui, kOpenFileError);
  held.image.assign(chip.imageSize, 0);
  if (!held.file.ReadExactly(held.image)) return Show(context.ui, kFileReadFailed);
  context.state.m_strChecksum = ChecksumText(held.image);
}

}  // namespace

void MassEraseWithBlankCheck(OperationContext& context) {
  context.ui.ControlsToMembers();
  const std::optional<ChipProfile> chip = SelectChip(context);
  if (!chip) return;
  context.ui.MembersToControls();
  OperationScope held(context, {});
  Show(context.ui, EraseAndCheckBlank(context, *chip, held));
}

void WriteImageFile(OperationContext& context) {
  context.ui.ControlsToMembers();
  const std::optional<ChipProfile> chip = SelectChipAndImagePath(context);
  if (!chip) return;
  OperationScope held(context, {});
  Show(context.ui, ProgramImageFile(context, *chip, held));
}

void VerifyImageFile(OperationContext& context) {
  // Members first: what was typed into the controls since they were last taken is overwritten.
  context.ui.MembersToControls();
  context.ui.ControlsToMembers();
  const std::optional<ChipProfile> chip = SelectChipAndImagePath(context);
  if (!chip) return;
  OperationScope held(context, {});
  Show(context.ui, VerifyAgainstImageFile(context, *chip, held));
}

// A cancelled dialog answers an empty path, and that empties the image path too.
void OpenImageFile(OperationContext& context) {
  context.ui.ControlsToMembers();
  context.state.m_strImagePath = context.ui.ChooseOpenFile(kImageFileDialog).path;
  const std::optional<ChipProfile> chip = SelectChip(context);
  if (!chip) return;
  TakeChecksumOfImageFile(context, *chip);
  context.ui.MembersToControls();
}

}  // namespace hnx
