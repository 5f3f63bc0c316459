// Read: dump the whole flash, block by block, into a file the user chooses.
#include <optional>

#include "app/operation_guard.h"
#include "ops/buffer.h"
#include "ops/chip_selection.h"
#include "ops/image_file.h"
#include "ops/messages.h"
#include "ops/operations.h"

namespace hnx {
namespace {

// m_nReadResult: how the read of the blocks ended.
constexpr std::uint8_t kReadComplete = 0;
constexpr std::uint8_t kFrameNotSent = 2;
constexpr std::uint8_t kBlockNotReceived = 3;
constexpr std::uint8_t kDumpNotWritten = 4;

const FileDialogOptions kDumpFileDialog{
    .filter = "Dump Files (*.dmp)|*.dmp|All Files (*.*)|*.*||",
    .defaultExtension = "*.dmp",  // the dialog layer turns the pattern into the extension it appends
    .initialName = "",
    .flags = 6,  // OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT
};

struct ReadResources {
  ImageFile dump;
  std::optional<TransferLibrary> link;
  Buffer block;
};

std::uint8_t ReadFlashIntoDump(TransferLibrary& link, const ChipProfile& chip, Buffer& block,
                               ImageFile& dump) {
  IspFrame frame;
  for (std::uint32_t address = 0; address < chip.imageSize; address += chip.blockLength) {
    const Exchange read = ReadBlock(link, frame, address, block);
    if (read == Exchange::WriteFailure) return kFrameNotSent;
    if (read != Exchange::Ok) return kBlockNotReceived;
    // A dump that misses a block is no dump: stop at once, keeping what was written.
    if (!dump.WriteAll(block)) return kDumpNotWritten;
  }
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
    default:
      return kReadFailure;
  }
}

void DumpFlash(OperationContext& context, ReadResources& held) {
  const FileChoice choice = context.ui.ChooseSaveFile(kDumpFileDialog);
  held.dump = ImageFile::CreateForWriting(choice.accepted ? choice.path : "");
  if (!held.dump.isOpen()) return Show(context.ui, kOpenFileError);
  TransferLibrary& link = held.link.emplace(context.libraries, context.transferLibraryPath, context.ui);
  if (!link.OpenPipe()) return Show(context.ui, kDeviceNotFound);
  context.ui.ControlsToMembers();
  const std::optional<ChipProfile> chip = SelectChip(context);
  if (!chip) return;

  held.block.assign(chip->blockLength, 0);
  context.state.m_nReadResult = ReadFlashIntoDump(link, *chip, held.block, held.dump);
  if (context.state.m_nReadResult == kReadComplete) Show(context.ui, kReadSucceeded);
  Show(context.ui, ClosingMessage(context.state.m_nReadResult));
}

}  // namespace

void ReadToDumpFile(OperationContext& context) {
  context.state.m_nReadResult = kReadComplete;
  context.ui.MembersToControls();
  DisableOperationButtons(context.ui);

  ReadResources held;
  DumpFlash(context, held);

  held.dump.Close();
  if (held.link) {
    held.link->ClosePipe();
    held.link->Unload();
  }
  Free(held.block);
  EnableOperationButtons(context.ui);
}

}  // namespace hnx
