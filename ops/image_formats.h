// Image files as the flash content they describe: raw binary, Intel HEX or Motorola S-record, told
// apart by their content.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <variant>
#include <vector>

namespace hnx {

enum class ImageFormat { Binary, IntelHex, SRecord };

// What was wrong with an image file: the 1-based line of a text format where the fault lies (0 when
// the fault is the file as a whole, e.g. a raw binary too short), and the words for it.
struct ImageError {
  std::uint32_t line = 0;
  std::string text;
};

struct DecodedImage {
  ImageFormat format;
  std::vector<std::uint8_t> bytes;  // exactly flashSize
};

// No chip's image is this large, even as text (a HEX or S-record line spells a byte in a few
// characters): a larger file is refused before it is read.
inline constexpr std::uint64_t kLargestImageFileSize = std::uint64_t{64} << 20;

// The content of the flash of `flashSize` bytes that an image file describes. A text file whose first
// byte is ':' is Intel HEX, one that starts with 'S' and a digit is an S-record file; every other file
// is raw binary. In the text formats the flash bytes no record gives are 0xFF.
std::variant<DecodedImage, ImageError> DecodeImage(std::span<const std::uint8_t> content,
                                                   std::uint32_t flashSize);

// "binary", "Intel HEX", "S-record"
const char* ImageFormatName(ImageFormat format);

}  // namespace hnx
