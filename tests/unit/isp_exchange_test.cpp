#include "link/isp.h"

#include <gtest/gtest.h>

#include <functional>
#include <numeric>
#include <vector>

#include "sim/in_process_library.h"
#include "support/rig.h"

namespace hnx {
namespace {

// The device with an open pipe and an empty trace, bound through the real binding code.
class IspExchangeTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(link.OpenPipe());
    device.ClearTrace();
    std::iota(block.begin(), block.end(), std::uint8_t{0x80});
  }

  void Plan(const char* faults) { device.faults() = *sim::FaultPlan::Parse(faults); }

  sim::SimDevice device;
  sim::InProcessLibrary library{device};
  TransferLibrary link{library, "ZB_USB.DLL"};
  IspFrame frame;
  std::vector<std::uint8_t> block = std::vector<std::uint8_t>(64);
};

using Run = std::function<Exchange(TransferLibrary&, IspFrame&, std::vector<std::uint8_t>&)>;

const Run kFinish = [](auto& link, auto& frame, auto&) { return SendCommand(link, frame, OpFinish); };
const Run kErase = [](auto& link, auto& frame, auto&) { return MassErase(link, frame); };
const Run kProgramLast = [](auto& link, auto& frame, auto& block) {
  return ProgramBlock(link, frame, 0xFFC0, block);
};
const Run kReadSecond = [](auto& link, auto& frame, auto& block) {
  return ReadBlock(link, frame, 0x40, block);
};

const std::string kFinishFrame = "write 10 10 1 2F 00 00 00 00 00 00 00 40 00";
const std::string kEraseFrame = "write 10 10 1 25 00 00 00 00 00 00 00 FF 00";
const std::string kProgramFrame = "write 10 10 1 28 00 00 00 00 FF C0 00 40 00";
const std::string kReadFrame = "write 10 10 1 2A 00 00 00 00 00 40 00 40 00";

struct ExchangeCase {
  const char* name;
  const char* faults;
  Run run;
  Exchange result;
  std::vector<std::string> trace;
};

void PrintTo(const ExchangeCase& c, std::ostream* os) {
  *os << c.name;
}

class ExchangePatternTest : public IspExchangeTest, public testing::WithParamInterface<ExchangeCase> {};

TEST_P(ExchangePatternTest, PutsExactlyThisOnTheWire) {
  Plan(GetParam().faults);
  EXPECT_EQ(GetParam().run(link, frame, block), GetParam().result);
  EXPECT_EQ(test::TraceLines(device), GetParam().trace);
}

INSTANTIATE_TEST_SUITE_P(
    Patterns, ExchangePatternTest,
    testing::Values(
        ExchangeCase{"Finish", "", kFinish, Exchange::Ok, {kFinishFrame}},
        ExchangeCase{"CommandFailed",
                     "fail-transfer=1",
                     kFinish,
                     Exchange::WriteFailure,
                     {"write 10 0 0 2F 00 00 00 00 00 00 00 40 00"}},
        ExchangeCase{"Erase", "", kErase, Exchange::Ok, {kEraseFrame, "read 1 1 1 00"}},
        ExchangeCase{
            "EraseStatusNotExamined", "erase-status=5", kErase, Exchange::Ok, {kEraseFrame, "read 1 1 1 05"}},
        ExchangeCase{"EraseFrameOfNineBytes",
                     "short-transfer=1",
                     kErase,
                     Exchange::WriteFailure,
                     {"write 10 9 1 25 00 00 00 00 00 00 00 FF 00"}},
        ExchangeCase{"EraseStatusFailed",
                     "fail-transfer=2",
                     kErase,
                     Exchange::ReadFailure,
                     {kEraseFrame, "read 1 0 0"}},
        ExchangeCase{
            "Program", "", kProgramLast, Exchange::Ok, {kProgramFrame, "write 64 64 1", "read 1 1 1 00"}},
        ExchangeCase{"ProgramRefused",
                     "program-status=0xFFC0:2",
                     kProgramLast,
                     Exchange::Refused,
                     {kProgramFrame, "write 64 64 1", "read 1 1 1 02"}},
        ExchangeCase{"ProgramFrameFailed",
                     "fail-transfer=1",
                     kProgramLast,
                     Exchange::WriteFailure,
                     {"write 10 0 0 28 00 00 00 00 FF C0 00 40 00"}},
        ExchangeCase{"ProgramBlockShort",
                     "short-transfer=2",
                     kProgramLast,
                     Exchange::WriteFailure,
                     {kProgramFrame, "write 64 63 1"}},
        ExchangeCase{"ProgramStatusShort",
                     "short-transfer=3",
                     kProgramLast,
                     Exchange::ReadFailure,
                     {kProgramFrame, "write 64 64 1", "read 1 0 1"}},
        ExchangeCase{"Read", "", kReadSecond, Exchange::Ok, {kReadFrame, "read 64 64 1", "read 1 1 1 00"}},
        ExchangeCase{"ReadFrameFailed",
                     "fail-transfer=1",
                     kReadSecond,
                     Exchange::WriteFailure,
                     {"write 10 0 0 2A 00 00 00 00 00 40 00 40 00"}},
        ExchangeCase{"ReadBlockShort",
                     "short-transfer=2",
                     kReadSecond,
                     Exchange::ReadFailure,
                     {kReadFrame, "read 64 63 1"}},
        ExchangeCase{"ReadStatusFailed",
                     "fail-transfer=3",
                     kReadSecond,
                     Exchange::ReadFailure,
                     {kReadFrame, "read 64 64 1", "read 1 0 0"}}),
    [](const testing::TestParamInfo<ExchangeCase>& info) { return std::string(info.param.name); });

TEST_F(IspExchangeTest, ProgramBlockTakesChangesMadeAfterTheFrameWasSent) {
  std::size_t traceBeforeData = 0;
  const auto beforeData = [&] {
    traceBeforeData = device.trace().size();
    block[0] = 0x12;
  };
  EXPECT_EQ(ProgramBlock(link, frame, 0, block, beforeData), Exchange::Ok);
  EXPECT_EQ(traceBeforeData, 1u);
  EXPECT_EQ(device.flash()[0], 0x12);
  EXPECT_EQ(device.flash()[1], 0x81);
}

TEST_F(IspExchangeTest, RefusedBlockIsAskedForAgainUntilAccepted) {
  std::iota(device.flash().begin() + 0x40, device.flash().begin() + 0x80, std::uint8_t{1});
  Plan("refuse-read=0x40:3");
  int requests = 0;
  EXPECT_EQ(ReadBlock(link, frame, 0x40, block, [&] { ++requests; }), Exchange::Ok);

  EXPECT_EQ(requests, 4);
  EXPECT_EQ(block, std::vector<std::uint8_t>(device.flash().begin() + 0x40, device.flash().begin() + 0x80));
  std::vector<std::string> expected;
  for (const char* status : {"01", "01", "01", "00"})
    expected.insert(expected.end(), {kReadFrame, "read 64 64 1", std::string("read 1 1 1 ") + status});
  EXPECT_EQ(test::TraceLines(device), expected);
}

struct RefusalCase {
  std::uint32_t refusals;
  Exchange result;
};

void PrintTo(const RefusalCase& c, std::ostream* os) {
  *os << c.refusals << " refusals";
}

class ReadRefusalLimitTest : public IspExchangeTest, public testing::WithParamInterface<RefusalCase> {};

TEST_P(ReadRefusalLimitTest, GivesUpAfterAThousandRefusalsInARow) {
  Plan(("refuse-read=0x40:" + std::to_string(GetParam().refusals)).c_str());
  int requests = 0;
  EXPECT_EQ(ReadBlock(link, frame, 0x40, block, [&] { ++requests; }), GetParam().result);
  EXPECT_EQ(requests, 1000);
  EXPECT_EQ(device.trace().size(), 3000u);
}

INSTANTIATE_TEST_SUITE_P(Bound, ReadRefusalLimitTest,
                         testing::Values(RefusalCase{999, Exchange::Ok},
                                         RefusalCase{1000, Exchange::ReadFailure}));

}  // namespace
}  // namespace hnx
