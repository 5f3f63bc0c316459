#include "ops/image_file.h"

#include <utility>

namespace hnx {

ImageFile::ImageFile(ImageFile&& other) noexcept : handle_(std::exchange(other.handle_, kNoFile)) {}

ImageFile& ImageFile::operator=(ImageFile&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = std::exchange(other.handle_, kNoFile);
  }
  return *this;
}

}  // namespace hnx
