// The ZB_USB simulator library as the program meets it: loaded through the real binding code,
// set up from the environment, its flash carried from load to load by the state file.
#include <gtest/gtest.h>

#include <vector>

#include "link/isp_exchange.h"
#include "link/transfer_library.h"
#include "support/recording_dialog.h"
#include "support/sim_library_setup.h"
#include "support/sim_trace_lines.h"

namespace hnx {
namespace {

constexpr std::uint32_t kFlashSize = 0x10000;
constexpr std::uint32_t kBlock = 64;

class SimLibraryTest : public testing::Test {
 protected:
  std::vector<std::string> Trace() const { return test::TraceFileLines(folder.File("trace.txt")); }
  std::map<std::string, std::string> Files() const {
    return {{"HNX_SIM_STATE", folder.File("state.bin")}, {"HNX_SIM_TRACE", folder.File("trace.txt")}};
  }

  test::SimScratchFolder folder;
  DialogState state;
  test::RecordingDialog ui{state};
  PlatformDynamicLibrary loader;
  IspFrame frame;
};

TEST_F(SimLibraryTest, KeepsAWholeImageFromOneLoadToTheNext) {
  test::SimLibraryEnvironment environment(Files());
  std::vector<std::uint8_t> image(kFlashSize);
  for (std::uint32_t i = 0; i < kFlashSize; ++i) image[i] = static_cast<std::uint8_t>(i * 7 + (i >> 8));
  {
    TransferLibrary link(loader, test::SimLibraryPath(), ui);
    ASSERT_TRUE(link.OpenPipe());
    ASSERT_EQ(MassErase(link, frame), Exchange::Ok);
    for (std::uint32_t address = 0; address < kFlashSize; address += kBlock)
      ASSERT_EQ(ProgramBlock(link, frame, address, std::span(image).subspan(address, kBlock)), Exchange::Ok);
  }
  std::vector<std::uint8_t> readBack(kFlashSize);
  {
    TransferLibrary link(loader, test::SimLibraryPath(), ui);
    ASSERT_TRUE(link.OpenPipe());
    for (std::uint32_t address = 0; address < kFlashSize; address += kBlock)
      ASSERT_EQ(ReadBlock(link, frame, address, std::span(readBack).subspan(address, kBlock)), Exchange::Ok);
    ASSERT_EQ(SendCommand(link, frame, OpFinish), Exchange::Ok);
    ASSERT_EQ(SendCommand(link, frame, OpExitIsp), Exchange::Ok);
    link.UnloadKeepingPipeOpen();
  }
  EXPECT_EQ(readBack, image);

  std::vector<std::string> expected = {"open 1", test::FrameTraceLine(OpMassErase, 0), "read 1 1 1 00"};
  for (std::uint32_t address = 0; address < kFlashSize; address += kBlock)
    expected.insert(expected.end(),
                    {test::FrameTraceLine(OpProgramBlock, address), "write 64 64 1", "read 1 1 1 00"});
  expected.insert(expected.end(), {"close", "open 1"});
  for (std::uint32_t address = 0; address < kFlashSize; address += kBlock)
    expected.insert(expected.end(),
                    {test::FrameTraceLine(OpReadBlock, address), "read 64 64 1", "read 1 1 1 00"});
  expected.insert(expected.end(), {test::FrameTraceLine(OpFinish, 0), test::FrameTraceLine(OpExitIsp, 0)});
  EXPECT_EQ(Trace(), expected);
}

TEST_F(SimLibraryTest, ProtectionOutlivesAnExitIspUnloadUntilAMassErase) {
  test::SimLibraryEnvironment environment(Files());
  std::vector<std::uint8_t> block(kBlock, 0x5A);
  const auto readFirstBlock = [&] {
    TransferLibrary link(loader, test::SimLibraryPath(), ui);
    link.OpenPipe();
    EXPECT_EQ(ReadBlock(link, frame, 0, block), Exchange::Ok);
    return block;
  };
  {
    TransferLibrary link(loader, test::SimLibraryPath(), ui);
    link.OpenPipe();
    ProgramBlock(link, frame, 0, block);
    SendCommand(link, frame, OpReadProtect);
    // As Exit ISP leaves it: unloaded without a close.
    SendCommand(link, frame, OpExitIsp);
    link.UnloadKeepingPipeOpen();
  }
  EXPECT_EQ(readFirstBlock(), std::vector<std::uint8_t>(kBlock, 0x00));
  {
    TransferLibrary link(loader, test::SimLibraryPath(), ui);
    link.OpenPipe();
    MassErase(link, frame);
  }
  EXPECT_EQ(readFirstBlock(), std::vector<std::uint8_t>(kBlock, 0xFF));
}

TEST_F(SimLibraryTest, TakesGeometryAndFaultPlanFromTheEnvironment) {
  auto settings = Files();
  settings.insert(
      {{"HNX_SIM_FLASH_SIZE", "0x4000"}, {"HNX_SIM_BLOCK_LENGTH", "32"}, {"HNX_SIM_FAULTS", "open-fail=2"}});
  test::SimLibraryEnvironment environment(settings);
  std::vector<std::uint8_t> block(32);
  TransferLibrary link(loader, test::SimLibraryPath(), ui);
  EXPECT_FALSE(link.OpenPipe());
  EXPECT_FALSE(link.OpenPipe());
  ASSERT_TRUE(link.OpenPipe());
  EXPECT_EQ(ReadBlock(link, frame, 0x3FE0, block), Exchange::Ok);
  EXPECT_EQ(ReadBlock(link, frame, 0x4000, block), Exchange::WriteFailure);
  link.Unload();
  EXPECT_EQ(Trace(),
            (std::vector<std::string>{"open 0", "open 0", "open 1", test::FrameTraceLine(OpReadBlock, 0x3FE0),
                                      "read 32 32 1", "read 1 1 1 00",
                                      "write 10 0 0 2A 00 00 00 00 40 00 00 40 00", "close"}));
}

struct BadSetting {
  const char* variable;
  const char* value;
};

void PrintTo(const BadSetting& c, std::ostream* os) {
  *os << c.variable << "=" << c.value;
}

class SimLibraryBadSettingTest : public SimLibraryTest, public testing::WithParamInterface<BadSetting> {};

TEST_P(SimLibraryBadSettingTest, NeverPassesForAWorkingDevice) {
  auto settings = Files();
  settings[GetParam().variable] = GetParam().value;
  test::SimLibraryEnvironment environment(settings);
  {
    TransferLibrary link(loader, test::SimLibraryPath(), ui);
    EXPECT_FALSE(link.OpenPipe());
  }
  EXPECT_EQ(Trace(), (std::vector<std::string>{std::string("error bad ") + GetParam().variable, "open 0"}));
}

INSTANTIATE_TEST_SUITE_P(Settings, SimLibraryBadSettingTest,
                         testing::Values(BadSetting{"HNX_SIM_FAULTS", "fail-transfer=two"},
                                         BadSetting{"HNX_SIM_FLASH_SIZE", "64K"},
                                         BadSetting{"HNX_SIM_BLOCK_LENGTH", "0"},
                                         BadSetting{"HNX_SIM_DELAY_US", "-1"}));

}  // namespace
}  // namespace hnx
