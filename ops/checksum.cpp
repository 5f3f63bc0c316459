#include "ops/checksum.h"

#include <cctype>
#include <cstdio>

namespace hnx {

std::string ChecksumText(std::span<const std::uint8_t> image) {
  std::uint16_t sum = 0;
  for (std::uint8_t byte : image) sum = static_cast<std::uint16_t>(sum + byte);
  char digits[8] = {};
  std::snprintf(digits, sizeof digits, "%.4x", static_cast<unsigned>(sum));
  std::string text(digits);
  for (char& digit : text) digit = static_cast<char>(std::toupper(static_cast<unsigned char>(digit)));
  return text + "H";
}

}  // namespace hnx
