#include "ops/staging.h"

#include <vector>

#include "ops/checksum.h"
#include "ops/chip_selection.h"
#include "ops/file_system.h"
#include "ops/image_file.h"
#include "ops/messages.h"
#include "ops/operations.h"

namespace hnx {
namespace {

// The resource failures, in the Chinese ANSI code page (936).
constexpr const char* kResourceNotFound =
    "\xC3\xBB\xD3\xD0\xD5\xD2\xB5\xBD\xD7\xCA\xD4\xB4 ";  // 没有找到资源
constexpr const char* kResourceNotLoaded =
    "\xBC\xD3\xD4\xD8\xD7\xCA\xD4\xB4\xCA\xA7\xB0\xDC ";  // 加载资源失败
constexpr const char* kResourceNotLocked =
    "\xB2\xBB\xC4\xDC\xBC\xD3\xD4\xD8\xC4\xDA\xB4\xE6 ";  // 不能加载内存

// Each failed step is reported and the next is still tried; whatever could not be written leaves
// the staging file short, which the image check after it rejects.
void WriteEmbeddedImage(ImageResource& image, DialogUi& ui, const std::string& stagingFile) {
  if (!image.Find()) ui.ShowAppMessage(kResourceNotFound);
  if (!image.Load()) ui.ShowAppMessage(kResourceNotLoaded);
  const std::uint8_t* bytes = image.Lock();
  if (bytes == nullptr) ui.ShowAppMessage(kResourceNotLocked);
  ImageFile file = ImageFile::CreateForWriting(stagingFile);
  if (bytes != nullptr) static_cast<void>(file.WriteAll({bytes, image.Size()}));
}

}  // namespace

bool StageImage(OperationContext& context) {
  DialogUi& ui = context.ui;
  ui.ControlsToMembers();
  ui.ControlsToMembers();
  if (!FolderExists(context.staging.folder)) MakeFolder(context.staging.folder);
  WriteEmbeddedImage(context.image, ui, context.staging.file);
  context.state.m_strImagePath = context.staging.file;

  const std::optional<ChipProfile> chip = SelectChip(context);
  if (!chip) return false;
  ImageFile file = ImageFile::OpenForReading(context.state.m_strImagePath);
  if (!file.isOpen()) {
    Show(ui, kOpenFileError);
    return false;
  }
  std::vector<std::uint8_t> image(chip->imageSize);
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

void RemoveStaging(const StagingPaths& staging) {
  // The folder, not the file, decides whether the file is deleted; a file already gone is no error.
  if (PathExists(staging.folder)) DeleteFileAt(staging.file);
  // Only an empty folder goes: anything else someone put there is kept.
  if (FolderExists(staging.folder)) RemoveEmptyFolder(staging.folder);
}

}  // namespace hnx
