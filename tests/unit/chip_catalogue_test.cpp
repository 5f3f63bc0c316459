#include "chip/chip_catalogue.h"

#include <gtest/gtest.h>

namespace hnx {
namespace {

TEST(ChipCatalogue, GivesTheRowOfAnExactNameOrTheFailure) {
  const std::tuple<std::string, ChipLookupStatus, std::uint32_t, std::uint32_t> cases[] = {
      {"ZB4420", ChipLookupStatus::Found, 0x4000, 32},    {"ZB4437", ChipLookupStatus::Found, 0x4000, 32},
      {"ZB3308", ChipLookupStatus::Found, 0x8000, 64},    {"ZB2861K", ChipLookupStatus::Found, 0x10000, 64},
      {"ZB29K702", ChipLookupStatus::Found, 0x10000, 64}, {"", ChipLookupStatus::Empty, 0, 0},
      {"zb29k702", ChipLookupStatus::Unrecognised, 0, 0}, {"ZB29K702 ", ChipLookupStatus::Unrecognised, 0, 0},
      {" ZB4420", ChipLookupStatus::Unrecognised, 0, 0},  {"ZB2861", ChipLookupStatus::Unrecognised, 0, 0},
  };
  for (const auto& [name, status, imageSize, blockLength] : cases) {
    const ChipLookup lookup = LookUpChip(name);
    EXPECT_EQ(lookup.status, status) << '"' << name << '"';
    EXPECT_EQ(lookup.profile.imageSize, imageSize) << '"' << name << '"';
    EXPECT_EQ(lookup.profile.blockLength, blockLength) << '"' << name << '"';
  }
}

}  // namespace
}  // namespace hnx
