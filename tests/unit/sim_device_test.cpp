#include "sim/sim_device.h"

#include <gtest/gtest.h>

#include "link/isp_frame.h"
#include "support/sim_trace_lines.h"

namespace hnx::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Frame(IspOpcode opcode, std::uint32_t address) {
  IspFrame frame;
  frame.Encode(opcode, address);
  return {frame.bytes.begin(), frame.bytes.end()};
}

// One call of an entry point, as the library would be called.
struct Step {
  enum Kind { Open, Close, Write, Read } kind;
  Bytes bytes;             // Write
  std::uint32_t length{};  // Read
};

Step Opened() {
  return {Step::Open, {}};
}
Step Closed() {
  return {Step::Close, {}};
}
Step Sent(Bytes bytes) {
  return {Step::Write, std::move(bytes)};
}
Step Asked(std::uint32_t length) {
  return {Step::Read, {}, length};
}

void Perform(SimDevice& device, const Step& step, Bytes& answer) {
  std::uint32_t count = 0;
  switch (step.kind) {
    case Step::Open:
      device.OpenPipe();
      break;
    case Step::Close:
      device.ClosePipe();
      break;
    case Step::Write:
      device.BulkWrite(step.bytes.data(), static_cast<std::uint32_t>(step.bytes.size()), &count);
      break;
    case Step::Read:
      answer.assign(step.length, 0xEE);
      device.BulkRead(answer.data(), step.length, &count);
      break;
  }
}

class SimDeviceTest : public testing::Test {
 protected:
  void SetUp() override {
    device.OpenPipe();
    device.ClearTrace();
  }
  // The answer of the last read.
  const Bytes& Run(const std::vector<Step>& steps) {
    for (const Step& step : steps) Perform(device, step, answer);
    return answer;
  }
  void Program(std::uint32_t address, std::uint8_t value) {
    Run({Sent(Frame(OpProgramBlock, address)), Sent(Bytes(64, value)), Asked(1)});
  }
  const Bytes& ReadBack(std::uint32_t address) {
    const Bytes block = Run({Sent(Frame(OpReadBlock, address)), Asked(64)});
    Run({Asked(1)});
    answer = block;
    return answer;
  }

  SimDevice device;
  Bytes answer;
};

TEST_F(SimDeviceTest, ProgrammingOnlyClearsBitsUntilAMassErase) {
  Program(0x40, 0xF0);
  Program(0x40, 0x3C);
  EXPECT_EQ(ReadBack(0x40), Bytes(64, 0x30));
  EXPECT_EQ(ReadBack(0), Bytes(64, 0xFF));
  Run({Sent(Frame(OpMassErase, 0)), Asked(1)});
  EXPECT_EQ(device.flash(), Bytes(0x10000, 0xFF));
}

TEST_F(SimDeviceTest, ProtectedFlashReadsAsZerosUntilAMassErase) {
  Program(0, 0x5A);
  Run({Sent(Frame(OpReadProtect, 0))});
  EXPECT_TRUE(device.readProtected());
  EXPECT_EQ(ReadBack(0), Bytes(64, 0x00));
  EXPECT_EQ(device.trace().back().bytes, Bytes{0x00});
  EXPECT_EQ(device.flash()[0], 0x5A);
  Run({Sent(Frame(OpMassErase, 0)), Asked(1)});
  EXPECT_FALSE(device.readProtected());
}

TEST_F(SimDeviceTest, StuckCellReadsItsValueWhateverWasProgrammed) {
  device.faults().stuckCells[0x41] = 0xFE;
  Program(0x40, 0x00);
  Bytes expected(64, 0x00);
  expected[1] = 0xFE;
  EXPECT_EQ(ReadBack(0x40), expected);
  EXPECT_EQ(device.flash()[0x41], 0x00);
}

TEST_F(SimDeviceTest, RefusedReadAnswersTheComplementThenTheBlock) {
  Program(0, 0x0F);
  device.faults().readRefusals[0] = 1;
  EXPECT_EQ(ReadBack(0), Bytes(64, 0xF0));
  EXPECT_EQ(device.trace().back().bytes, Bytes{0x01});
  EXPECT_EQ(ReadBack(0), Bytes(64, 0x0F));
  EXPECT_EQ(device.trace().back().bytes, Bytes{0x00});
}

TEST_F(SimDeviceTest, ExitIspEndsTheSessionUntilThePipeIsOpenedAgain) {
  Run({Sent(Frame(OpExitIsp, 0))});
  EXPECT_TRUE(device.exitedIsp());
  Run({Sent(Frame(OpFinish, 0)), Opened()});
  EXPECT_FALSE(device.exitedIsp());
  Run({Sent(Frame(OpFinish, 0))});
  EXPECT_EQ(test::TraceLines(device),
            (std::vector<std::string>{"write 10 10 1 20 00 00 00 00 00 00 00 40 00",
                                      "write 10 0 0 2F 00 00 00 00 00 00 00 40 00", "open 1",
                                      "write 10 10 1 2F 00 00 00 00 00 00 00 40 00"}));
}

const std::string kErase = "write 10 10 1 25 00 00 00 00 00 00 00 FF 00";
const std::string kProgramFirst = "write 10 10 1 28 00 00 00 00 00 00 00 40 00";
const std::string kReadFirst = "write 10 10 1 2A 00 00 00 00 00 00 00 40 00";

struct SessionCase {
  const char* name;
  const char* faults;
  std::vector<Step> steps;
  std::vector<std::string> trace;
};

void PrintTo(const SessionCase& c, std::ostream* os) {
  *os << c.name;
}

class SimSessionTest : public SimDeviceTest, public testing::WithParamInterface<SessionCase> {};

TEST_P(SimSessionTest, AnswersEachCallAsTheDeviceWould) {
  device.faults() = *FaultPlan::Parse(GetParam().faults);
  Run(GetParam().steps);
  EXPECT_EQ(test::TraceLines(device), GetParam().trace);
}

// Out-of-turn transfers fail and abandon the exchange; the next frame is taken.
INSTANTIATE_TEST_SUITE_P(
    OutOfTurn, SimSessionTest,
    testing::Values(
        SessionCase{"ReadWhenAFrameIsDue",
                    "",
                    {Asked(1), Sent(Frame(OpMassErase, 0)), Asked(1)},
                    {"read 1 0 0", kErase, "read 1 1 1 00"}},
        SessionCase{"StatusWhenTheBlockIsDue",
                    "",
                    {Sent(Frame(OpProgramBlock, 0)), Asked(1), Asked(1)},
                    {kProgramFirst, "read 1 0 0", "read 1 0 0"}},
        SessionCase{
            "FrameWhenTheBlockIsDue",
            "",
            {Sent(Frame(OpProgramBlock, 0)), Sent(Frame(OpMassErase, 0)), Sent(Frame(OpMassErase, 0))},
            {kProgramFirst, "write 10 0 0 25 00 00 00 00 00 00 00 FF 00", kErase}},
        SessionCase{"BlockOfTheWrongLength",
                    "",
                    {Sent(Frame(OpProgramBlock, 0)), Sent(Bytes(32)), Asked(1)},
                    {kProgramFirst, "write 32 0 0", "read 1 0 0"}},
        SessionCase{"WriteWhenTheBlockIsToBeRead",
                    "",
                    {Sent(Frame(OpReadBlock, 0)), Sent(Bytes(64)), Asked(64)},
                    {kReadFirst, "write 64 0 0", "read 64 0 0"}},
        SessionCase{"StatusWhenTheBlockIsToBeRead",
                    "",
                    {Sent(Frame(OpReadBlock, 0)), Asked(1)},
                    {kReadFirst, "read 1 0 0"}},
        SessionCase{
            "FrameWhenTheStatusIsDue",
            "",
            {Sent(Frame(OpMassErase, 0)), Sent(Frame(OpFinish, 0)), Sent(Frame(OpMassErase, 0)), Asked(1)},
            {kErase, "write 10 0 0 2F 00 00 00 00 00 00 00 40 00", kErase, "read 1 1 1 00"}},
        SessionCase{"StatusOfTwoBytes",
                    "",
                    {Sent(Frame(OpMassErase, 0)), Asked(2), Asked(1)},
                    {kErase, "read 2 0 0", "read 1 0 0"}},
        SessionCase{"AnythingWhileClosed",
                    "",
                    {Closed(), Sent(Frame(OpMassErase, 0)), Asked(1), Opened()},
                    {"close", "write 10 0 0 25 00 00 00 00 00 00 00 FF 00", "read 1 0 0", "open 1"}}),
    [](const testing::TestParamInfo<SessionCase>& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Faults, SimSessionTest,
    testing::Values(SessionCase{"OpenFailsTwice",
                                "open-fail=2",
                                {Opened(), Opened(), Opened(), Opened()},
                                {"open 0", "open 0", "open 1", "open 1"}},
                    SessionCase{"OpenAlwaysFails",
                                "open-fail=always",
                                {Opened(), Opened(), Opened()},
                                {"open 0", "open 0", "open 0"}},
                    SessionCase{"TransfersCountAgainFromAnOpen",
                                "fail-transfer=2",
                                {Sent(Frame(OpMassErase, 0)), Asked(1), Opened(), Sent(Frame(OpMassErase, 0)),
                                 Asked(1)},
                                {kErase, "read 1 0 0", "open 1", kErase, "read 1 0 0"}},
                    SessionCase{"ShortTransferAbandonsTheExchange",
                                "short-transfer=1",
                                {Sent(Frame(OpMassErase, 0)), Asked(1)},
                                {"write 10 9 1 25 00 00 00 00 00 00 00 FF 00", "read 1 0 0"}}),
    [](const testing::TestParamInfo<SessionCase>& info) { return std::string(info.param.name); });

TEST_F(SimDeviceTest, RefusedProgramBlockLeavesTheFlashAlone) {
  device.faults().programStatus[0x40] = 1;
  Program(0x40, 0x00);
  EXPECT_EQ(device.flash(), Bytes(0x10000, 0xFF));
}

struct BadFrame {
  const char* name;
  Bytes bytes;
};

void PrintTo(const BadFrame& c, std::ostream* os) {
  *os << c.name;
}

class SimBadFrameTest : public SimDeviceTest, public testing::WithParamInterface<BadFrame> {};

TEST_P(SimBadFrameTest, FailsAndIsNotCarriedOut) {
  Program(0, 0x00);
  std::uint32_t count = 99;
  const Bytes& frame = GetParam().bytes;
  EXPECT_EQ(device.BulkWrite(frame.data(), static_cast<std::uint32_t>(frame.size()), &count), 0);
  EXPECT_EQ(count, 0u);
  Run({Asked(1), Sent(Frame(OpFinish, 0))});
  EXPECT_FALSE(device.trace()[device.trace().size() - 2].ok);  // no status is due
  EXPECT_TRUE(device.trace().back().ok);
  EXPECT_EQ(device.flash()[0], 0x00);
  EXPECT_FALSE(device.readProtected());
  EXPECT_FALSE(device.exitedIsp());
}

INSTANTIATE_TEST_SUITE_P(
    Frames, SimBadFrameTest,
    testing::Values(BadFrame{"NineBytes", {0x25, 0, 0, 0, 0, 0, 0, 0, 0xFF}},
                    BadFrame{"ElevenBytes", {0x25, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0, 0}},
                    BadFrame{"Byte1", {0x25, 1, 0, 0, 0, 0, 0, 0, 0xFF, 0}},
                    BadFrame{"Byte2", {0x25, 0, 1, 0, 0, 0, 0, 0, 0xFF, 0}},
                    BadFrame{"Byte7", {0x2C, 0, 0, 0, 0, 0, 0, 1, 0x40, 0}},
                    BadFrame{"Byte9", {0x2C, 0, 0, 0, 0, 0, 0, 0, 0x40, 1}},
                    BadFrame{"EraseWithCommandTrailer", {0x25, 0, 0, 0, 0, 0, 0, 0, 0x40, 0}},
                    BadFrame{"ProtectWithEraseTrailer", {0x2C, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0}},
                    BadFrame{"UnknownOpcode", {0x26, 0, 0, 0, 0, 0, 0, 0, 0x40, 0}},
                    BadFrame{"MisalignedBlock", {0x28, 0, 0, 0, 0, 0, 0x41, 0, 0x40, 0}},
                    BadFrame{"BlockBeyondTheFlash", {0x2A, 0, 0, 0, 1, 0, 0, 0, 0x40, 0}},
                    BadFrame{"EraseWithAnAddress", {0x25, 0, 0, 0, 0, 0, 0x40, 0, 0xFF, 0}},
                    BadFrame{"ExitWithAnAddress", {0x20, 0, 0, 0, 0, 0, 0x40, 0, 0x40, 0}}),
    [](const testing::TestParamInfo<BadFrame>& info) { return std::string(info.param.name); });

TEST(SimDeviceStateTest, SavedFlashAndProtectionComeBackInAnotherDevice) {
  SimDevice saved(0x4000, 32);
  for (std::size_t i = 0; i < saved.flash().size(); ++i) saved.flash()[i] = static_cast<std::uint8_t>(i * 13);
  saved.OpenPipe();
  const Bytes protect = Frame(OpReadProtect, 0);
  std::uint32_t count = 0;
  saved.BulkWrite(protect.data(), kFrameLength, &count);
  const Bytes state = saved.SaveState();

  SimDevice restored(0x4000, 32);
  ASSERT_TRUE(restored.LoadState(state));
  EXPECT_EQ(restored.flash(), saved.flash());
  EXPECT_TRUE(restored.readProtected());

  Bytes truncated = state;
  truncated.pop_back();
  Bytes otherMagic = state;
  otherMagic[0] = 'X';
  SimDevice other(0x4000, 64);
  SimDevice blank(0x4000, 32);
  EXPECT_FALSE(other.LoadState(state));
  EXPECT_FALSE(blank.LoadState(truncated));
  EXPECT_FALSE(blank.LoadState(otherMagic));
  EXPECT_FALSE(blank.LoadState({}));
  EXPECT_EQ(blank.flash(), Bytes(0x4000, 0xFF));
  EXPECT_FALSE(blank.readProtected());
}

}  // namespace
}  // namespace hnx::sim
