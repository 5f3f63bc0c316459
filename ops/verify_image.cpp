// Verify: read the flash back, compare it with the chosen image file and send the finish command.
#include <algorithm>
#include <optional>

#include "app/operation_guard.h"
#include "ops/buffer.h"
#include "ops/chip_selection.h"
#include "ops/flash_transfer.h"
#include "ops/image_file.h"
#include "ops/messages.h"
#include "ops/operations.h"

namespace hnx {
namespace {

struct VerifyResources {
  Buffer image;
  Buffer readBack = Buffer(kLargestImageSize);
  Buffer block;
  ImageFile file;
  std::optional<TransferLibrary> link;
};

// The pipe is opened before the file, so without a device the file is never touched.
Message VerifyAgainstImageFile(OperationContext& context, const ChipProfile& chip, VerifyResources& held) {
  held.image.assign(chip.imageSize, 0);
  TransferLibrary& link = held.link.emplace(context.libraries, context.transferLibraryPath, context.ui);
  if (!link.OpenPipe()) return kDeviceNotFound;
  held.file = ImageFile::OpenForReading(context.state.m_strImagePath);
  if (!held.file.isOpen()) return kOpenFileError;
  if (!held.file.ReadExactly(held.image)) return kFileReadFailed;

  held.block.assign(chip.blockLength, 0);
  IspFrame frame;
  const Exchange read = ReadBackFlash(link, frame, chip, held.block, held.readBack);
  if (read != Exchange::Ok) return ExchangeFailure(read);
  if (!std::equal(held.image.begin(), held.image.end(), held.readBack.begin())) return kVerifyFailure;
  return SendCommand(link, frame, OpFinish) == Exchange::Ok ? kVerifySucceeded : kFlashWriteFailure;
}

}  // namespace

void VerifyImageFile(OperationContext& context) {
  // Members first: what was typed into the controls since they were last taken is overwritten.
  context.ui.MembersToControls();
  context.ui.ControlsToMembers();
  const std::optional<ChipProfile> chip = SelectChipAndImagePath(context);
  if (!chip) return;
  DisableOperationButtons(context.ui);

  VerifyResources held;
  Show(context.ui, VerifyAgainstImageFile(context, *chip, held));

  Free(held.image);
  Free(held.readBack);
  Free(held.block);
  held.file.Close();
  if (held.link) {
    held.link->ClosePipe();
    held.link->Unload();
  }
  EnableOperationButtons(context.ui);
}

}  // namespace hnx
