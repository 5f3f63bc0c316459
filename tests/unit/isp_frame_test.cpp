#include "link/isp.h"

#include <gtest/gtest.h>

namespace hnx {
namespace {

using FrameBytes = std::array<std::uint8_t, kFrameLength>;

struct FrameCase {
  IspOpcode opcode;
  std::uint32_t address;
  FrameBytes bytes;
};

const FrameCase kFrameCases[] = {
    {OpMassErase, 0, {0x25, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0}},
    {OpProgramBlock, 0x40, {0x28, 0, 0, 0, 0, 0, 0x40, 0, 0x40, 0}},
    {OpReadBlock, 0xFFC0, {0x2A, 0, 0, 0, 0, 0xFF, 0xC0, 0, 0x40, 0}},  // the last 64-byte block of 64 KiB
    {OpProgramBlock, 0x12345678, {0x28, 0, 0, 0x12, 0x34, 0x56, 0x78, 0, 0x40, 0}},
    {OpFinish, 0, {0x2F, 0, 0, 0, 0, 0, 0, 0, 0x40, 0}},
    {OpReadProtect, 0, {0x2C, 0, 0, 0, 0, 0, 0, 0, 0x40, 0}},
    {OpExitIsp, 0, {0x20, 0, 0, 0, 0, 0, 0, 0, 0x40, 0}},
};

// Each frame encoded into a fresh frame, and in turn into one frame that held the one before.
TEST(IspFrameTest, EncodesOpcodeBigEndianAddressAndTrailerFreshOrReused) {
  IspFrame reused;
  reused.Encode(OpReadBlock, 0xFFFFFFFF);
  for (const FrameCase& c : kFrameCases) {
    SCOPED_TRACE(testing::Message() << std::hex << int{c.opcode} << "@" << c.address);
    IspFrame fresh;
    fresh.Encode(c.opcode, c.address);
    EXPECT_EQ(fresh.bytes, c.bytes);
    reused.Encode(c.opcode, c.address);
    EXPECT_EQ(reused.bytes, c.bytes);
  }
}

}  // namespace
}  // namespace hnx
