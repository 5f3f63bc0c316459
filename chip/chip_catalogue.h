// Chip type names to flash image size and transfer block length.
#pragma once

#include <cstdint>
#include <string>

namespace hnx {

struct ChipProfile {
  std::uint32_t imageSize = 0;
  std::uint32_t blockLength = 0;
};

enum class ChipLookupStatus { Found, Empty, Unrecognised };

struct ChipLookup {
  ChipLookupStatus status = ChipLookupStatus::Unrecognised;
  ChipProfile profile;
};

// Exact, case-sensitive match against the catalogue, first match in table order.
ChipLookup LookUpChip(const std::string& chipType);

// The largest image size of the catalogue: the size of every read-back buffer.
inline constexpr std::uint32_t kLargestImageSize = 0x10000;

}  // namespace hnx
