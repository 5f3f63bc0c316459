// The engineering device commands: Read (the flash into a dump file), Read Protect, Exit ISP, and
// Re-connect (is a device attached?).
#include "ops/operation_scope.h"

namespace hnx {
namespace {

// m_nReadResult: how the read of the blocks ended.
constexpr std::uint8_t kReadComplete = 0;
constexpr std::uint8_t kFrameNotSent = 2;
constexpr std::uint8_t kBlockNotReceived = 3;
constexpr std::uint8_t kDumpNotWritten = 4;
constexpr std::uint8_t kReadStopped = 5;

const FileDialogOptions kDumpFileDialog{
    .filter = "Dump Files (*.dmp)|*.dmp|All Files (*.*)|*.*||",
    .defaultExtension = "*.dmp",  // the dialog layer turns the pattern into the extension it appends
    .initialName = "",
    .flags = 6,  // OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT
};

std::uint8_t ReadFlashIntoDump(OperationContext& context, TransferLibrary& link, const ChipProfile& chip,
                               OperationScope& held) {
  DialogUi& ui = context.ui;
  IspFrame frame;
  held.block.assign(chip.blockLength, 0);
  for (std::uint32_t address = 0; address < chip.imageSize; address += chip.blockLength) {
    if (StopRequested(context.stop)) return kReadStopped;
    ui.ShowTransferProgress(TransferPhase::Read, address, chip.imageSize);
    const Exchange read = ReadBlock(link, frame, address, held.block);
    if (read == Exchange::WriteFailure) return kFrameNotSent;
    if (read != Exchange::Ok) return kBlockNotReceived;
    // A dump that misses a block is no dump: stop at once, keeping what was written.
    if (!held.file.WriteAll(held.block)) return kDumpNotWritten;
  }
  ui.ShowTransferProgress(TransferPhase::Read, chip.imageSize, chip.imageSize);
  return kReadComplete;
}

Message ClosingMessage(std::uint8_t readResult) {
  switch (readResult) {
    case kReadComplete:
      return kDownloadCompleted;
    case kFrameNotSent:
      return kWriteFailure;
    case kDumpNotWritten:
      return kDumpWriteFailed;
    case kReadStopped:
      return kInterrupted;
    default:
      return kReadFailure;
  }
}

void DumpFlash(OperationContext& context, OperationScope& held) {
  const FileChoice choice = context.ui.ChooseSaveFile(kDumpFileDialog);
  held.file = ImageFile::CreateForWriting(choice.accepted ? choice.path : "");
  if (!held.file.isOpen()) return Show(context.ui, kOpenFileError);
  TransferLibrary& link = held.BindLibrary();
  if (!OpenPipeWaiting(context, link, 0)) return Show(context.ui, NotOpened(context, kDeviceNotFound));
  context.ui.ControlsToMembers();
  const std::optional<ChipProfile> chip = SelectChip(context);
  if (!chip) return;

  context.state.m_nReadResult = ReadFlashIntoDump(context, link, *chip, held);
  if (context.state.m_nReadResult == kReadComplete) Show(context.ui, kReadSucceeded);
  Show(context.ui, ClosingMessage(context.state.m_nReadResult));
}

}  // namespace

void ReadToDumpFile(OperationContext& context) {
  context.state.m_nReadResult = kReadComplete;
  context.ui.MembersToControls();
  OperationScope held(context, {});
  DumpFlash(context, held);
}

// One command frame, no reply, no guard, no chip lookup.
void ReadProtect(OperationContext& context) {
  OperationScope held(context, {.guard = false});
  TransferLibrary& link = held.BindLibrary();
  if (!OpenPipeWaiting(context, link, 0)) return Show(context.ui, NotOpened(context, kDeviceNotFound));
  IspFrame frame;
  const bool sent = SendCommand(link, frame, OpReadProtect) == Exchange::Ok;
  Show(context.ui, sent ? kReadProtectSucceeded : kReadProtectFailure);
}

// As Read Protect, but once the device is told to leave ISP mode, the pipe is not closed.
void ExitIsp(OperationContext& context) {
  OperationScope held(context, {.guard = false});
  TransferLibrary& link = held.BindLibrary();
  if (!OpenPipeWaiting(context, link, 0)) return Show(context.ui, NotOpened(context, kDeviceNotFound));
  held.KeepPipeOpen();
  IspFrame frame;
  if (SendCommand(link, frame, OpExitIsp) != Exchange::Ok) return Show(context.ui, kFlashWriteFailure);
  Show(context.ui, kExitIspSucceeded);
  context.ui.EnableControl(IDC_RECONNECT, true);
}

void Reconnect(OperationContext& context) {
  std::uint32_t deviceCount = 0;
  CountAttachedDevices(context.hubs, deviceCount);
  Show(context.ui, deviceCount > 0 ? kDeviceFound : kNoDeviceAttached);
}

}  // namespace hnx
