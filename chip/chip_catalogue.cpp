#include "chip/chip_catalogue.h"

#include <array>
#include <string_view>

namespace hnx {
namespace {

struct CatalogueEntry {
  std::string_view name;
  ChipProfile profile;
};

constexpr std::array<CatalogueEntry, 5> kCatalogue = {{
    {"ZB4420", {0x4000, 32}},
    {"ZB4437", {0x4000, 32}},
    {"ZB3308", {0x8000, 64}},
    {"ZB2861K", {0x10000, 64}},
    {"ZB29K702", {0x10000, 64}},
}};

static_assert([] {
  for (const auto& entry : kCatalogue)
    if (entry.profile.imageSize % entry.profile.blockLength != 0 ||
        entry.profile.imageSize > kLargestImageSize)
      return false;
  return true;
}());

}  // namespace

ChipLookup LookUpChip(const std::string& chipType) {
  for (const auto& entry : kCatalogue)
    if (chipType == entry.name) return {ChipLookupStatus::Found, entry.profile};
  if (chipType.empty()) return {ChipLookupStatus::Empty, {}};
  return {ChipLookupStatus::Unrecognised, {}};
}

}  // namespace hnx
