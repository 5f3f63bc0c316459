// The firmware image embedded in the program (resource type "bin", id 133).
#pragma once

#include <cstdint>

namespace hnx {

class ImageResource {
 public:
  virtual ~ImageResource() = default;

  // The three steps of reaching the bytes; each reports its own failure, and a step after a
  // failed one is still tried (it fails too on Windows).
  virtual bool Find() = 0;
  virtual bool Load() = 0;
  // The bytes, or nullptr when they cannot be locked.
  virtual const std::uint8_t* Lock() = 0;
  // The resource's size in bytes; 0 when it was not found.
  virtual std::uint32_t Size() = 0;
};

}  // namespace hnx
