// The link layer's calls into Windows, other than the hub driver. Paths meet the system as UTF-16: the
// library's path travels as UTF-8, so a program folder named outside the system's code page still
// works; file names travel in the encoding the front end set (link/file_names.h).
#include <io.h>
#include <windows.h>

#include <vector>

#include "link/file_names.h"
#include "link/transfer_library.h"

#ifndef LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR
#define LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR 0x00000100
#endif
#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif

namespace hnx {
namespace {

UINT fileNameCodePage = CP_ACP;

std::wstring Widen(const std::string& text, UINT codePage) {
  const int length = MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
  return wide;
}

std::wstring Utf16(const std::string& text) {
  return Widen(text, CP_UTF8);
}

std::string Utf8(const std::wstring& text) {
  const int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                         nullptr, nullptr);
  std::string narrow(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), narrow.data(), length, nullptr,
                      nullptr);
  return narrow;
}

}  // namespace

void SetFileNameEncoding(FileNameEncoding encoding) {
  fileNameCodePage = encoding == FileNameEncoding::Utf8 ? CP_UTF8 : CP_ACP;
}

std::wstring WideFileName(const std::string& name) {
  return Widen(name, fileNameCodePage);
}

std::FILE* OpenForReading(const std::string& name) {
  return _wfopen(WideFileName(name).c_str(), L"rb");
}

std::FILE* OpenForAppending(const std::string& name) {
  return _wfopen(WideFileName(name).c_str(), L"ab");
}

std::optional<std::uint64_t> RegularFileSize(std::FILE* file) {
  const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
  BY_HANDLE_FILE_INFORMATION information{};
  if (GetFileType(handle) != FILE_TYPE_DISK || !GetFileInformationByHandle(handle, &information) ||
      (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
    return std::nullopt;
  return (std::uint64_t{information.nFileSizeHigh} << 32) | information.nFileSizeLow;
}

// The library's own dependencies are looked for beside it and in the system folder, never in the
// current directory. A system without the search flags refuses them as an invalid parameter; the
// full path alone is loaded there.
DynamicLibrary::Handle PlatformDynamicLibrary::Load(const std::string& path) {
  const std::wstring wide = Utf16(path);
  HMODULE library =
      LoadLibraryExW(wide.c_str(), nullptr, LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (library == nullptr && GetLastError() == ERROR_INVALID_PARAMETER) library = LoadLibraryW(wide.c_str());
  return library;
}

void* PlatformDynamicLibrary::Resolve(Handle library, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void PlatformDynamicLibrary::Unload(Handle library) {
  FreeLibrary(static_cast<HMODULE>(library));
}

// UTF-8. The buffer grows until the whole path fits, so a long path is never cut short.
std::string ProgramPath() {
  std::vector<wchar_t> name(MAX_PATH);
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, name.data(), static_cast<DWORD>(name.size()));
    if (length == 0) return "";
    if (length < name.size()) return Utf8(std::wstring(name.data(), length));
    name.resize(name.size() * 2);
  }
}

void RestrictLibrarySearchToSystemFolder() {
  using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
  const auto restrict = reinterpret_cast<SetDefaultDllDirectoriesFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "SetDefaultDllDirectories")));
  if (restrict != nullptr) restrict(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

}  // namespace hnx
