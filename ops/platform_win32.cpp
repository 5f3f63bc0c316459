// The operations' calls into Windows: files and folders, the embedded image, the wait. File names meet
// the system as UTF-16, converted from the front end's encoding (link/file_names.h).
#include <windows.h>

#include "link/file_names.h"
#include "ops/files.h"
#include "ops/operations.h"
#include "res/resource.h"

namespace hnx {

bool PathExists(const std::string& path) {
  return GetFileAttributesW(WideFileName(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool FolderExists(const std::string& path) {
  const DWORD attributes = GetFileAttributesW(WideFileName(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool MakeFolder(const std::string& path) {
  return CreateDirectoryW(WideFileName(path).c_str(), nullptr) != 0;
}

bool DeleteFileAt(const std::string& path) {
  return DeleteFileW(WideFileName(path).c_str()) != 0;
}

bool RemoveEmptyFolder(const std::string& path) {
  return RemoveDirectoryW(WideFileName(path).c_str()) != 0;
}

std::string MakeNewPrivateFolder(const std::string&) {
  return "";
}

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
      CreateFileW(WideFileName(path).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)));
}

ImageFile ImageFile::CreateForWriting(const std::string& path) {
  return ImageFile(FromHandle(
      CreateFileW(WideFileName(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr)));
}

ImageFile ImageFile::CreateNew(const std::string& path) {
  return ImageFile(FromHandle(
      CreateFileW(WideFileName(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr)));
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

// Each step takes what the one before it left, even nothing, so after a failure the next step
// fails too, and reports it.
bool Win32ImageResource::Find() {
  info_ = FindResourceA(nullptr, MAKEINTRESOURCEA(IDR_FIRMWARE_IMAGE), "bin");
  return info_ != nullptr;
}

bool Win32ImageResource::Load() {
  data_ = LoadResource(nullptr, static_cast<HRSRC>(info_));
  return data_ != nullptr;
}

const std::uint8_t* Win32ImageResource::Lock() {
  return static_cast<const std::uint8_t*>(LockResource(static_cast<HGLOBAL>(data_)));
}

std::uint32_t Win32ImageResource::Size() {
  return SizeofResource(nullptr, static_cast<HRSRC>(info_));
}

void Win32Sleeper::Sleep(std::uint32_t milliseconds) {
  ::Sleep(milliseconds);
}

}  // namespace hnx
