#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "link/isp.h"
#include "ops/operations.h"
#include "support/ops_expect.h"
#include "support/ops_rig.h"

namespace hnx::test {
namespace {

namespace fs = std::filesystem;
using Call = sim::TraceRecord::Call;

const std::vector<ShownMessage> kSucceeded = {Info("Read Command Succeeded !!"),
                                              Info("Download Completed !")};

// A rig whose device holds a pattern and whose user saves to dump.dmp.
struct ReadRig : OpsRig {
  explicit ReadRig(const std::string& chip = "ZB29K702") : OpsRig(chip), dumpPath(temp->Path("dump.dmp")) {
    device.flash() = PatternImage(device.flash().size());
    ui.QueueFileChoice({true, dumpPath});
  }
  std::string dumpPath;
};

void ExpectReleased(const OpsRig& rig) {
  EXPECT_FALSE(rig.library.loaded());
  EXPECT_FALSE(rig.device.pipeOpen());
  EXPECT_EQ(sim::InProcessLibrary::CallsWhileUnloaded(), 0);
  EXPECT_EQ(rig.ui.enableChanges, GuardHistory());
}

TEST(Read, DumpsTheWholeFlashInBlockOrder) {
  ReadRig rig("ZB4420");
  ReadToDumpFile(rig.context);

  EXPECT_EQ(rig.ui.messages, kSucceeded);
  EXPECT_EQ(SentFrames(rig.device.trace()), BlockFrames(OpReadBlock, 0x4000, 32));
  EXPECT_EQ(FileBytes(rig.dumpPath), rig.device.flash());
  EXPECT_EQ(rig.device.trace().back().call, Call::ClosePipe);
  EXPECT_EQ(std::vector<std::string>(rig.ui.events.begin(), rig.ui.events.begin() + 2),
            (std::vector<std::string>{"show", "enable 1005 0"}));
  ExpectReleased(rig);
}

TEST(Read, AsksForTheDumpFileWithTheDumpFilter) {
  ReadRig rig;
  ReadToDumpFile(rig.context);
  ASSERT_EQ(rig.ui.fileDialogs.size(), 1u);
  const FileDialogCall& call = rig.ui.fileDialogs.front();
  EXPECT_TRUE(call.save);
  EXPECT_EQ(call.options.filter, "Dump Files (*.dmp)|*.dmp|All Files (*.*)|*.*||");
  EXPECT_EQ(call.options.defaultExtension, "*.dmp");
  EXPECT_EQ(call.options.initialName, "");
  EXPECT_EQ(call.options.flags, 6u);
  // The buttons are disabled before the dialog opens, the chip taken after the pipe is open.
  const auto save = std::find(rig.ui.events.begin(), rig.ui.events.end(), "save");
  EXPECT_EQ(save - rig.ui.events.begin(), 9);
  EXPECT_EQ(*(save + 1), "take");
}

TEST(Read, WritesARefusedBlockOnceItIsAccepted) {
  ReadRig rig;
  rig.device.faults().readRefusals = {{64, 2}};
  ReadToDumpFile(rig.context);
  EXPECT_EQ(rig.ui.messages, kSucceeded);
  const auto frames = SentFrames(rig.device.trace());
  EXPECT_EQ(std::count(frames.begin(), frames.end(), SentFrame{OpReadBlock, 64}), 3);
  EXPECT_EQ(FileBytes(rig.dumpPath), rig.device.flash());
}

TEST(Read, AFailedBlockKeepsTheBlocksBeforeItAndAFollowingReadIsWholeAgain) {
  ReadRig rig;
  rig.device.faults().failTransfer = 16 * 3 + 2;  // the data of the block at 1,024
  ReadToDumpFile(rig.context);
  EXPECT_EQ(rig.ui.messages, std::vector{Error("Read Failure !!")});
  const std::vector<std::uint8_t> kept(rig.device.flash().begin(), rig.device.flash().begin() + 1024);
  EXPECT_EQ(FileBytes(rig.dumpPath), kept);
  ExpectReleased(rig);

  rig.device.faults().failTransfer = 0;
  rig.ui.messages.clear();
  rig.ui.QueueFileChoice({true, rig.dumpPath});
  ReadToDumpFile(rig.context);
  EXPECT_EQ(rig.ui.messages, kSucceeded);
  EXPECT_EQ(FileBytes(rig.dumpPath), rig.device.flash());
}

TEST(Read, ACancelledSaveDialogBindsNothing) {
  OpsRig rig;
  ReadToDumpFile(rig.context);
  EXPECT_EQ(rig.ui.messages, std::vector{Plain("Open file error !!")});
  EXPECT_EQ(rig.library.loads(), 0);
  EXPECT_EQ(rig.ui.enableChanges, GuardHistory());
}

TEST(Read, AnAcceptedButEmptyPathIsAnOpenError) {
  OpsRig rig;
  rig.ui.QueueFileChoice({true, ""});
  ReadToDumpFile(rig.context);
  EXPECT_EQ(rig.ui.messages, std::vector{Plain("Open file error !!")});
}

TEST(Read, FailuresBeforeTheLoopLeaveAnEmptyDumpAndReleaseEverything) {
  struct Case {
    const char* name;
    const char* chip;
    bool device;
    ShownMessage message;
    std::size_t closes;
  };
  const std::vector<Case> cases = {
      {"no device", "ZB29K702", false, Plain("Can't find the device!"), 0},
      {"empty chip", "", true, Warning("Please select the ic type!"), 1},
      {"unknown chip", "ZB29K70", true, Error("IC Type Error!!"), 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ReadRig rig(c.chip);
    if (!c.device) rig.device.faults().openFailures = -1;
    ReadToDumpFile(rig.context);
    EXPECT_EQ(rig.ui.messages, std::vector{c.message});
    EXPECT_EQ(fs::file_size(rig.dumpPath), 0u);
    EXPECT_EQ(TransferCount(rig.device.trace()), 0u);
    EXPECT_EQ(CallCount(rig.device.trace(), Call::ClosePipe), c.closes);
    ExpectReleased(rig);
  }
}

TEST(Read, ADumpThatCannotBeWrittenStopsTheReadAndIsNeverReportedAsDone) {
#if defined(__linux__)
  OpsRig rig;
  rig.ui.QueueFileChoice({true, "/dev/full"});
  ReadToDumpFile(rig.context);
  EXPECT_EQ(rig.ui.messages, std::vector{Error("Dump file write Failed !!")});
  EXPECT_EQ(SentFrames(rig.device.trace()), (std::vector<SentFrame>{{OpReadBlock, 0}}));
  EXPECT_EQ(rig.device.trace().back().call, Call::ClosePipe);
  ExpectReleased(rig);
#else
  GTEST_SKIP() << "needs /dev/full";
#endif
}

}  // namespace
}  // namespace hnx::test
