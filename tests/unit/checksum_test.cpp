#include "ops/operation_scope.h"

#include <gtest/gtest.h>

#include <vector>

namespace hnx {
namespace {

struct ChecksumCase {
  std::vector<std::uint8_t> image;
  const char* text;
};

TEST(ChecksumText, IsTheWrappingSixteenBitSumInFourUpperCaseDigitsAndH) {
  const std::vector<ChecksumCase> cases = {
      {{}, "0000H"},
      {std::vector<std::uint8_t>(0x10000, 0xFF), "0000H"},  // 65,536 x 255 wraps to 0
      {std::vector<std::uint8_t>(0x4000, 0xFF), "C000H"},
      {std::vector<std::uint8_t>(0x8000, 0xFF), "8000H"},
      {{0x0A, 0x01}, "000BH"},                          // leading zeros, upper case
      {std::vector<std::uint8_t>(257, 0xFF), "FFFFH"},  // the largest sum
      {std::vector<std::uint8_t>(258, 0xFF), "00FEH"},  // one past it wraps
      {{0xAB, 0xCD, 0xEF}, "0267H"},
  };
  for (const auto& c : cases) EXPECT_EQ(ChecksumText(c.image), c.text) << c.image.size() << " bytes";
}

}  // namespace
}  // namespace hnx
