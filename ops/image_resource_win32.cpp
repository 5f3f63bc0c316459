#include "ops/image_resource_win32.h"

#include <windows.h>

#include "res/resource.h"

namespace hnx {

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

}  // namespace hnx
