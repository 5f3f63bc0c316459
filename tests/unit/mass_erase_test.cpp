#include <gtest/gtest.h>

#include <algorithm>

#include "link/isp.h"
#include "ops/operations.h"
#include "support/ops_expect.h"
#include "support/ops_rig.h"

namespace hnx::test {
namespace {

using Call = sim::TraceRecord::Call;

const ShownMessage kSucceeded = Info("Mass Erase Command Succeeded !");

void ExpectReleased(const OpsRig& rig) {
  EXPECT_FALSE(rig.library.loaded());
  EXPECT_FALSE(rig.device.pipeOpen());
  EXPECT_EQ(sim::InProcessLibrary::CallsWhileUnloaded(), 0);
  EXPECT_EQ(rig.ui.enableChanges, GuardHistory());
}

TEST(MassErase, ErasesThenReadsEveryBlockBackAndFindsItBlank) {
  OpsRig rig;
  std::fill(rig.device.flash().begin(), rig.device.flash().end(), 0x12);
  MassEraseWithBlankCheck(rig.context);

  EXPECT_EQ(rig.ui.messages, std::vector{kSucceeded});
  EXPECT_EQ(SentFrames(rig.device.trace()),
            Concat({{{OpMassErase, 0}}, BlockFrames(OpReadBlock, 0x10000, 64)}));
  EXPECT_EQ(rig.device.trace().back().call, Call::ClosePipe);
  EXPECT_EQ(rig.device.flash(), std::vector<std::uint8_t>(0x10000, 0xFF));
  EXPECT_EQ(rig.ui.events.front(), "take");
  EXPECT_EQ(rig.ui.events[1], "show");
  EXPECT_TRUE(rig.ui.progressPositions.empty());
  ExpectReleased(rig);
}

TEST(MassErase, StopsAtTheFirstBlockThatIsNotBlank) {
  OpsRig rig;
  rig.device.faults().stuckCells = {{0x1234, 0xFE}};
  MassEraseWithBlankCheck(rig.context);
  EXPECT_EQ(rig.ui.messages, std::vector{Error("Mass Erase Failure !!")});
  EXPECT_EQ(SentFrames(rig.device.trace()).back(), (SentFrame{OpReadBlock, 0x1200}));
  ExpectReleased(rig);
}

TEST(MassErase, UsesTheGeometryOfTheChosenChip) {
  OpsRig rig("ZB4437");
  MassEraseWithBlankCheck(rig.context);
  EXPECT_EQ(rig.ui.messages, std::vector{kSucceeded});
  EXPECT_EQ(SentFrames(rig.device.trace()),
            Concat({{{OpMassErase, 0}}, BlockFrames(OpReadBlock, 0x4000, 32)}));
  EXPECT_EQ(rig.state.m_nImageSize, 0x4000u);
  EXPECT_EQ(rig.state.m_nBlockLength, 32u);
}

TEST(MassErase, AnEmptyOrUnknownChipTypeStopsBeforeAnythingIsTouched) {
  for (const auto& [chip, message] : {std::pair{"", Warning("Please select the ic type!")},
                                      std::pair{"zb29k702", Error("IC Type Error!!")}}) {
    OpsRig rig(chip);
    MassEraseWithBlankCheck(rig.context);
    EXPECT_EQ(rig.ui.messages, std::vector{message});
    EXPECT_EQ(rig.ui.events, (std::vector<std::string>{"take", "message " + message.text}));
    EXPECT_EQ(rig.library.loads(), 0);
  }
}

TEST(MassErase, WithoutADeviceOrLibraryReportsNoDeviceAndNeverClosesThePipe) {
  for (bool refuseLoad : {false, true}) {
    OpsRig rig;
    rig.device.faults().openFailures = refuseLoad ? 0 : -1;
    rig.library.RefuseLoad(refuseLoad);
    MassEraseWithBlankCheck(rig.context);
    EXPECT_EQ(rig.ui.messages, std::vector{Plain("Can't find the device!")});
    EXPECT_EQ(CallCount(rig.device.trace(), Call::ClosePipe), 0u);
    EXPECT_EQ(CallCount(rig.device.trace(), Call::OpenPipe), refuseLoad ? 0u : 1u);
    ExpectReleased(rig);
  }
}

}  // namespace
}  // namespace hnx::test
