#include "link/isp_frame.h"

#include <gtest/gtest.h>

namespace hnx {
namespace {

using FrameBytes = std::array<std::uint8_t, kFrameLength>;

struct FrameCase {
  IspOpcode opcode;
  std::uint32_t address;
  FrameBytes bytes;
};

void PrintTo(const FrameCase& c, std::ostream* os) {
  *os << std::hex << int{c.opcode} << "@" << c.address;
}

const FrameCase kFrameCases[] = {
    {OpMassErase, 0, {0x25, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0}},
    {OpProgramBlock, 0x40, {0x28, 0, 0, 0, 0, 0, 0x40, 0, 0x40, 0}},
    {OpReadBlock, 0xFFC0, {0x2A, 0, 0, 0, 0, 0xFF, 0xC0, 0, 0x40, 0}},  // the last 64-byte block of 64 KiB
    {OpProgramBlock, 0x12345678, {0x28, 0, 0, 0x12, 0x34, 0x56, 0x78, 0, 0x40, 0}},
    {OpFinish, 0, {0x2F, 0, 0, 0, 0, 0, 0, 0, 0x40, 0}},
    {OpReadProtect, 0, {0x2C, 0, 0, 0, 0, 0, 0, 0, 0x40, 0}},
    {OpExitIsp, 0, {0x20, 0, 0, 0, 0, 0, 0, 0, 0x40, 0}},
};

class IspFrameTest : public testing::TestWithParam<FrameCase> {};

TEST_P(IspFrameTest, EncodesOpcodeBigEndianAddressAndTrailer) {
  IspFrame frame;
  frame.Encode(GetParam().opcode, GetParam().address);
  EXPECT_EQ(frame.bytes, GetParam().bytes);
}

INSTANTIATE_TEST_SUITE_P(EveryOpcode, IspFrameTest, testing::ValuesIn(kFrameCases));

TEST(IspFrameReuseTest, OneFrameEncodedInTurnGivesEachFrameAsIfFresh) {
  IspFrame frame;
  frame.Encode(OpReadBlock, 0xFFFFFFFF);
  for (const FrameCase& c : kFrameCases) {
    frame.Encode(c.opcode, c.address);
    EXPECT_EQ(frame.bytes, c.bytes) << "opcode " << int{c.opcode};
  }
}

}  // namespace
}  // namespace hnx
