// The embedded image in the program's own resources: type "bin", identifier 133.
#pragma once

#include "ops/image_resource.h"

namespace hnx {

class Win32ImageResource final : public ImageResource {
 public:
  bool Find() override;
  bool Load() override;
  const std::uint8_t* Lock() override;
  std::uint32_t Size() override;

 private:
  void* info_ = nullptr;  // HRSRC
  void* data_ = nullptr;  // HGLOBAL
};

}  // namespace hnx
