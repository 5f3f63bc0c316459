// The firmware image that the Linux front ends carry inside them: the same file as the Windows
// dialog's resource, compiled in as bytes.
#pragma once

#include <cstdint>
#include <span>

namespace hnx {

std::span<const std::uint8_t> EmbeddedImage();

}  // namespace hnx
