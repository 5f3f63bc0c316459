// Mass Erase: erase the whole flash, then prove it blank by reading every block back.
#include <algorithm>

#include "app/operation_guard.h"
#include "ops/buffer.h"
#include "ops/chip_selection.h"
#include "ops/messages.h"
#include "ops/operations.h"

namespace hnx {
namespace {

constexpr std::uint8_t kErasedByte = 0xFF;

// The erase status says nothing about the erase; the blank check decides.
Message EraseAndCheckBlank(TransferLibrary& link, const ChipProfile& chip, Buffer& block) {
  if (!link.OpenPipe()) return kDeviceNotFound;
  IspFrame frame;
  if (const Exchange erased = MassErase(link, frame); erased != Exchange::Ok) return ExchangeFailure(erased);
  block.assign(chip.blockLength, 0);
  for (std::uint32_t address = 0; address < chip.imageSize; address += chip.blockLength) {
    const Exchange read = ReadBlock(link, frame, address, block);
    if (read != Exchange::Ok) return ExchangeFailure(read);
    if (!std::all_of(block.begin(), block.end(), [](std::uint8_t byte) { return byte == kErasedByte; }))
      return kMassEraseFailure;
  }
  return kMassEraseSucceeded;
}

}  // namespace

void MassEraseWithBlankCheck(OperationContext& context) {
  context.ui.ControlsToMembers();
  const std::optional<ChipProfile> chip = SelectChip(context);
  if (!chip) return;
  context.ui.MembersToControls();
  DisableOperationButtons(context.ui);

  TransferLibrary link(context.libraries, context.transferLibraryPath, context.ui);
  Buffer block;
  Show(context.ui, EraseAndCheckBlank(link, *chip, block));

  link.ClosePipe();
  link.Unload();
  Free(block);
  EnableOperationButtons(context.ui);
}

}  // namespace hnx
