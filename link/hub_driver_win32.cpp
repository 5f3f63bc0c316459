#include "link/hub_driver_win32.h"

#include <windows.h>

namespace hnx {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 text is handed to the wide API as it is");

HubDriver::Handle Win32HubDriver::Open(const std::string& name) {
  const HANDLE device =
      CreateFileA(name.c_str(), GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  return device == INVALID_HANDLE_VALUE ? nullptr : device;
}

bool Win32HubDriver::IoControl(Handle device, std::uint32_t code, const void* input,
                               std::uint32_t inputLength, void* output, std::uint32_t outputLength,
                               std::uint32_t& returned) {
  DWORD bytes = 0;
  const BOOL succeeded = DeviceIoControl(static_cast<HANDLE>(device), code, const_cast<void*>(input),
                                         inputLength, output, outputLength, &bytes, nullptr);
  returned = bytes;
  return succeeded != FALSE;
}

void Win32HubDriver::Close(Handle device) {
  CloseHandle(static_cast<HANDLE>(device));
}

int Win32HubDriver::ConvertWideToNarrow(const char16_t* text, char* output, int outputSize) {
  return WideCharToMultiByte(CP_ACP, 0, reinterpret_cast<LPCWCH>(text), -1, output, outputSize, nullptr,
                             nullptr);
}

}  // namespace hnx
