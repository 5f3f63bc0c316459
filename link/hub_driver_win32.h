// The hub driver of the Windows USB stack: CreateFileA, DeviceIoControl, CloseHandle and
// WideCharToMultiByte.
#pragma once

#include "link/hub_driver.h"

namespace hnx {

class Win32HubDriver final : public HubDriver {
 public:
  Handle Open(const std::string& name) override;
  bool IoControl(Handle device, std::uint32_t code, const void* input, std::uint32_t inputLength,
                 void* output, std::uint32_t outputLength, std::uint32_t& returned) override;
  void Close(Handle device) override;
  int ConvertWideToNarrow(const char16_t* text, char* output, int outputSize) override;
};

}  // namespace hnx
