#include "chip/chip_catalogue.h"

#include <gtest/gtest.h>

#include <cctype>
#include <ostream>

namespace hnx {
namespace {

struct LookupCase {
  std::string chipType;
  ChipLookupStatus status;
  std::uint32_t imageSize;
  std::uint32_t blockLength;
};

void PrintTo(const LookupCase& c, std::ostream* out) {
  *out << '"' << c.chipType << '"';
}

class ChipLookupTest : public testing::TestWithParam<LookupCase> {};

TEST_P(ChipLookupTest, GivesTheCatalogueRowOrTheFailure) {
  const LookupCase& c = GetParam();
  const ChipLookup lookup = LookUpChip(c.chipType);
  EXPECT_EQ(lookup.status, c.status);
  EXPECT_EQ(lookup.profile.imageSize, c.imageSize);
  EXPECT_EQ(lookup.profile.blockLength, c.blockLength);
}

INSTANTIATE_TEST_SUITE_P(Catalogue, ChipLookupTest,
                         testing::Values(LookupCase{"ZB4420", ChipLookupStatus::Found, 0x4000, 32},
                                         LookupCase{"ZB4437", ChipLookupStatus::Found, 0x4000, 32},
                                         LookupCase{"ZB3308", ChipLookupStatus::Found, 0x8000, 64},
                                         LookupCase{"ZB2861K", ChipLookupStatus::Found, 0x10000, 64},
                                         LookupCase{"ZB29K702", ChipLookupStatus::Found, 0x10000, 64},
                                         LookupCase{"", ChipLookupStatus::Empty, 0, 0},
                                         LookupCase{"zb29k702", ChipLookupStatus::Unrecognised, 0, 0},
                                         LookupCase{"ZB29K702 ", ChipLookupStatus::Unrecognised, 0, 0},
                                         LookupCase{" ZB4420", ChipLookupStatus::Unrecognised, 0, 0},
                                         LookupCase{"ZB2861", ChipLookupStatus::Unrecognised, 0, 0}),
                         [](const testing::TestParamInfo<LookupCase>& info) {
                           std::string name = "case" + std::to_string(info.index) + "_";
                           for (char c : info.param.chipType) name += std::isalnum(c) ? c : '_';
                           return name;
                         });

}  // namespace
}  // namespace hnx
