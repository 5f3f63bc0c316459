#include <windows.h>

#include "ops/image_file.h"

namespace hnx {
namespace {

HANDLE AsHandle(std::intptr_t handle) {
  return reinterpret_cast<HANDLE>(handle);
}

std::intptr_t FromHandle(HANDLE handle) {
  return reinterpret_cast<std::intptr_t>(handle);
}

}  // namespace

ImageFile ImageFile::OpenForReading(const std::string& path) {
  return ImageFile(FromHandle(
      CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)));
}

ImageFile ImageFile::CreateForWriting(const std::string& path) {
  return ImageFile(FromHandle(
      CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr)));
}

bool ImageFile::ReadExactly(std::span<std::uint8_t> buffer) {
  if (!isOpen()) return false;
  DWORD got = 0;
  const DWORD length = static_cast<DWORD>(buffer.size());
  return ReadFile(AsHandle(handle_), buffer.data(), length, &got, nullptr) && got == length;
}

bool ImageFile::WriteAll(std::span<const std::uint8_t> data) {
  if (!isOpen()) return false;
  DWORD put = 0;
  const DWORD length = static_cast<DWORD>(data.size());
  return WriteFile(AsHandle(handle_), data.data(), length, &put, nullptr) && put == length;
}

void ImageFile::Close() {
  if (isOpen()) CloseHandle(AsHandle(handle_));
  handle_ = kNoFile;
}

}  // namespace hnx
