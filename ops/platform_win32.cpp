// The operations' calls into Windows: files and folders, the embedded image, the wait, the production
// record's file and names. File names meet
// the system as UTF-16, converted from the front end's encoding (link/file_names.h).
#include <windows.h>

#include "link/file_names.h"
#include "ops/files.h"
#include "ops/operations.h"
#include "ops/production_record.h"
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

namespace {

std::string Utf8(const wchar_t* text, int length) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
  if (size > 0) WideCharToMultiByte(CP_UTF8, 0, text, length, narrow.data(), size, nullptr, nullptr);
  return narrow;
}

std::string ErrorText(DWORD error) {
  wchar_t* text = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
      error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string message = length > 0 ? Utf8(text, static_cast<int>(length)) : "error " + std::to_string(error);
  LocalFree(text);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == '.'))
    message.pop_back();
  return message;
}

}  // namespace

// FILE_APPEND_DATA without write access: every write lands at the end of the file. The writes of
// other handles, threads and processes wait for a lock of a byte far past any record, since not every
// system (Wine) makes an append of one handle whole against another's.
std::string AppendRecordLine(const std::string& path, const std::string& line) {
  const HANDLE file = CreateFileW(WideFileName(path).c_str(), GENERIC_READ | FILE_APPEND_DATA,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                  nullptr);
  if (file == INVALID_HANDLE_VALUE) return ErrorText(GetLastError());
  OVERLAPPED lockedByte{};
  lockedByte.Offset = 0xFFFFFFFF;
  lockedByte.OffsetHigh = 0x7FFFFFFF;
  const bool locked = LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &lockedByte) != 0;
  DWORD written = 0;
  std::string failure;
  if (!WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr))
    failure = ErrorText(GetLastError());
  else if (written != line.size())
    failure = "only part of the record was written";
  else if (!FlushFileBuffers(file) && GetLastError() != ERROR_INVALID_HANDLE &&
           GetLastError() != ERROR_INVALID_FUNCTION)
    failure = ErrorText(GetLastError());
  if (locked) UnlockFileEx(file, 0, 1, 0, &lockedByte);
  CloseHandle(file);
  return failure;
}

std::string HostName() {
  wchar_t name[256] = {};
  DWORD length = 256;
  if (!GetComputerNameExW(ComputerNameDnsHostname, name, &length)) return "";
  return Utf8(name, static_cast<int>(length));
}

std::string LoginName() {
  wchar_t name[257] = {};
  DWORD length = 257;
  if (!GetUserNameW(name, &length) || length == 0) return "";
  return Utf8(name, static_cast<int>(length - 1));  // the length counts the terminating zero
}

}  // namespace hnx
