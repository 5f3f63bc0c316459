// Write: program the chosen image file as it is, without erase, read-back or finish.
#include <optional>

#include "app/operation_guard.h"
#include "ops/buffer.h"
#include "ops/checksum.h"
#include "ops/chip_selection.h"
#include "ops/flash_transfer.h"
#include "ops/image_file.h"
#include "ops/messages.h"
#include "ops/operations.h"

namespace hnx {
namespace {

struct WriteResources {
  Buffer image;
  ImageFile file;
  std::optional<TransferLibrary> link;
};

// The file is opened before the library is bound, and read only once the pipe is open.
Message ProgramImageFile(OperationContext& context, const ChipProfile& chip, WriteResources& held) {
  held.image.assign(chip.imageSize, 0);
  held.file = ImageFile::OpenForReading(context.state.m_strImagePath);
  if (!held.file.isOpen()) return kOpenFileError;
  TransferLibrary& link = held.link.emplace(context.libraries, context.transferLibraryPath, context.ui);
  if (!link.OpenPipe()) return kDeviceNotFound;
  if (!held.file.ReadExactly(held.image)) return kFileReadFailed;
  context.state.m_strChecksum = ChecksumText(held.image);
  context.ui.MembersToControls();

  IspFrame frame;
  const Exchange programmed = ProgramFlash(link, frame, chip.blockLength, held.image);
  return programmed == Exchange::Ok ? kWriteSucceeded : ProgramFailure(programmed);
}

}  // namespace

void WriteImageFile(OperationContext& context) {
  context.ui.ControlsToMembers();
  const std::optional<ChipProfile> chip = SelectChipAndImagePath(context);
  if (!chip) return;
  DisableOperationButtons(context.ui);

  WriteResources held;
  Show(context.ui, ProgramImageFile(context, *chip, held));

  Free(held.image);
  held.file.Close();
  if (held.link) {
    held.link->ClosePipe();
    held.link->Unload();
  }
  EnableOperationButtons(context.ui);
}

}  // namespace hnx
