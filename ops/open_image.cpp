// Open File: choose the image file of Write and Verify and show its checksum.
#include "ops/buffer.h"
#include "ops/checksum.h"
#include "ops/chip_selection.h"
#include "ops/image_file.h"
#include "ops/messages.h"
#include "ops/operations.h"

namespace hnx {
namespace {

const FileDialogOptions kImageFileDialog{
    .filter = "Binary Files (*.bin)|*.bin|All Files (*.*)|*.*",
    .defaultExtension = "",
    .initialName = "",
    .flags = 6,  // OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT
};

// A file that cannot be read whole leaves the previous checksum in place.
void TakeChecksumOfImageFile(OperationContext& context, const ChipProfile& chip) {
  ImageFile file = ImageFile::OpenForReading(context.state.m_strImagePath);
  if (!file.isOpen()) {
    Show(context.ui, kOpenFileError);
    return;
  }
  Buffer image(chip.imageSize);
  if (file.ReadExactly(image))
    context.state.m_strChecksum = ChecksumText(image);
  else
    Show(context.ui, kFileReadFailed);
  file.Close();
  Free(image);
}

}  // namespace

void OpenImageFile(OperationContext& context) {
  context.ui.ControlsToMembers();
  // A cancelled dialog answers an empty path, and that empties the image path too.
  context.state.m_strImagePath = context.ui.ChooseOpenFile(kImageFileDialog).path;
  const std::optional<ChipProfile> chip = SelectChip(context);
  if (!chip) return;
  TakeChecksumOfImageFile(context, *chip);
  context.ui.MembersToControls();
}

}  // namespace hnx
