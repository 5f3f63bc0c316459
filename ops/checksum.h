// The image checksum shown beside the image path: four upper-case hexadecimal digits and "H".
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace hnx {

// The 16-bit wrapping sum of the bytes, from 0, as "%.4x" upper-cased with "H" appended.
std::string ChecksumText(std::span<const std::uint8_t> image);

}  // namespace hnx
