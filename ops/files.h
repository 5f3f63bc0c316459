// Files and folders of the operations, by narrow file names in the front end's encoding
// (link/file_names.h). Chosen at link time: platform_posix.cpp or platform_win32.cpp.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <utility>

namespace hnx {

bool PathExists(const std::string& path);
bool FolderExists(const std::string& path);
// Creates one folder; its parent must exist.
bool MakeFolder(const std::string& path);
bool DeleteFileAt(const std::string& path);
// Removes an empty folder only.
bool RemoveEmptyFolder(const std::string& path);
// Makes a folder that did not exist before, named `prefix` and six random characters, that only this
// user may enter (mode 0700); its name, or "" when none could be made. POSIX only: Windows stages in
// the dialog's own folder and makes none of these.
std::string MakeNewPrivateFolder(const std::string& prefix);

// A flash image on disk: a firmware image opened for reading, or a staging or dump file created for
// writing. Neither is shared with other openers while it is open; it is closed at the latest when
// the object goes.
class ImageFile {
 public:
  // Read access, no sharing, the file must exist. A folder is not a file.
  static ImageFile OpenForReading(const std::string& path);
  // Write access, no sharing, normal attributes; an existing file is truncated.
  static ImageFile CreateForWriting(const std::string& path);
  // Write access for this user alone; nothing may have the name yet, not even a link, so nothing
  // that was there is followed, truncated or written.
  static ImageFile CreateNew(const std::string& path);

  ImageFile() = default;
  ~ImageFile() { Close(); }
  ImageFile(ImageFile&& other) noexcept : handle_(std::exchange(other.handle_, kNoFile)) {}
  ImageFile& operator=(ImageFile&& other) noexcept {
    if (this != &other) {
      Close();
      handle_ = std::exchange(other.handle_, kNoFile);
    }
    return *this;
  }
  ImageFile(const ImageFile&) = delete;
  ImageFile& operator=(const ImageFile&) = delete;

  bool isOpen() const { return handle_ != kNoFile; }

  // True only when the whole of `buffer` was filled from the file.
  [[nodiscard]] bool ReadExactly(std::span<std::uint8_t> buffer);
  // True only when every byte of `data` was written.
  [[nodiscard]] bool WriteAll(std::span<const std::uint8_t> data);
  void Close();

 private:
  // A file descriptor, or a Win32 HANDLE; both use -1 for "none".
  static constexpr std::intptr_t kNoFile = -1;
  explicit ImageFile(std::intptr_t handle) : handle_(handle) {}

  std::intptr_t handle_ = kNoFile;
};

}  // namespace hnx
