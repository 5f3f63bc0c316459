// What a front end that binds a Transport passes for the seams it has no use for: the embedded image
// held in memory, and a loader that loads nothing.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "link/transfer_library.h"
#include "ops/operations.h"

namespace hnx {

// The embedded image, held by the program.
class SpanImage final : public ImageResource {
 public:
  explicit SpanImage(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
  bool Find() override { return true; }
  bool Load() override { return true; }
  const std::uint8_t* Lock() override { return bytes_.data(); }
  std::uint32_t Size() override { return static_cast<std::uint32_t>(bytes_.size()); }

 private:
  std::span<const std::uint8_t> bytes_;
};

// Nothing is loaded: the operations bind the front end's transport.
class NoLibraries final : public DynamicLibrary {
 public:
  Handle Load(const std::string&) override { return nullptr; }
  void* Resolve(Handle, const char*) override { return nullptr; }
  void Unload(Handle) override {}
};

}  // namespace hnx
