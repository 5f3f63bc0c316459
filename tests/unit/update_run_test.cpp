#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <numeric>

#include "link/isp.h"
#include "ops/operations.h"
#include "res/resource.h"
#include "support/ops_expect.h"
#include "support/ops_rig.h"

namespace hnx::test {
namespace {

namespace fs = std::filesystem;
using Call = sim::TraceRecord::Call;

const ShownMessage kSucceeded = Info("Auto Command Succeeded !!");
const ShownMessage kTimeOut{"Time Out !! Please check device and try again.", "", MessageIcon::Error};

std::vector<SentFrame> CleanRunFrames(std::uint32_t imageSize, std::uint32_t blockLength, bool protect) {
  std::vector<SentFrame> tail = {{OpFinish, 0}};
  if (protect) tail.push_back({OpReadProtect, 0});
  tail.push_back({OpExitIsp, 0});
  return Concat({{{OpMassErase, 0}},
                 BlockFrames(OpProgramBlock, imageSize, blockLength),
                 BlockFrames(OpReadBlock, imageSize, blockLength),
                 tail});
}

// What every run that got past staging leaves: the staging gone, the library unloaded, the buttons
// enabled again after the guard, and the controls refreshed last.
void ExpectReleased(const OpsRig& rig) {
  EXPECT_FALSE(fs::exists(rig.context.staging.folder));
  EXPECT_FALSE(rig.library.loaded());
  EXPECT_EQ(sim::InProcessLibrary::CallsWhileUnloaded(), 0);
  EXPECT_EQ(rig.ui.enableChanges, GuardHistory());
  EXPECT_EQ(rig.ui.events.back(), "show");
}

TEST(UpdateRun, ProgramsVerifiesAndReleasesTheDeviceIn6148Transfers) {
  OpsRig rig;
  RunUpdate(rig.context);

  EXPECT_EQ(rig.ui.messages, std::vector{kSucceeded});
  EXPECT_EQ(SentFrames(rig.device.trace()), CleanRunFrames(0x10000, 64, false));
  EXPECT_EQ(TransferCount(rig.device.trace()), 6148u);
  EXPECT_EQ(CallCount(rig.device.trace(), Call::OpenPipe), 1u);
  EXPECT_EQ(CallsAfterLastTransfer(rig.device.trace()), std::vector{Call::ClosePipe});
  EXPECT_EQ(rig.device.flash(), rig.image.bytes);
  EXPECT_TRUE(rig.device.exitedIsp());
  EXPECT_FALSE(rig.device.readProtected());
  EXPECT_TRUE(rig.sleeper.waits.empty());
  ExpectReleased(rig);
}

TEST(UpdateRun, MovesTheProgressBarOnePerProgramStepAndOnceAfterTheReadBack) {
  OpsRig rig;
  RunUpdate(rig.context);
  std::vector<int> expected(1025);
  std::iota(expected.begin(), expected.end(), 0);
  expected.push_back(2048);
  EXPECT_EQ(rig.ui.progressPositions, expected);
  EXPECT_EQ(rig.state.m_nProgressStep, 2048u);
}

TEST(UpdateRun, SmallerChipsEndAtHalfTheBar) {
  for (const char* chip : {"ZB4420", "ZB4437", "ZB3308"}) {
    SCOPED_TRACE(chip);
    OpsRig rig(chip);
    RunUpdate(rig.context);
    EXPECT_EQ(rig.ui.messages, std::vector{kSucceeded});
    EXPECT_EQ(rig.ui.progressPositions.back(), 1024);
    EXPECT_EQ(rig.ui.progressPositions.size(), 514u);  // 0, the 512 program steps, the read-back
  }
}

TEST(UpdateRun, ShowsTheChecksumOfTheStagedImage) {
  OpsRig rig;
  rig.image.bytes.assign(0x10000, 0x00);
  rig.image.bytes[7] = 0x5A;
  rig.image.bytes[70] = 0xF0;
  RunUpdate(rig.context);
  EXPECT_EQ(rig.ui.messages, std::vector{kSucceeded});
  EXPECT_EQ(rig.ui.ControlText(IDC_CHECKSUM), "014AH");
  EXPECT_EQ(rig.ui.ControlText(IDC_IMAGE_PATH), rig.context.staging.file);
}

TEST(UpdateRun, ReleasesInOrderPipeStagingLibraryButtonsControls) {
  OpsRig rig;
  bool checked = false;
  rig.watchedLibrary.onUnload = [&] {
    checked = true;
    EXPECT_FALSE(rig.device.pipeOpen());
    EXPECT_FALSE(fs::exists(rig.context.staging.folder));
    EXPECT_FALSE(rig.ui.IsEnabled(IDC_UPDATE));
  };
  RunUpdate(rig.context);
  EXPECT_TRUE(checked);
  const std::vector<std::string> tail(rig.ui.events.end() - 10, rig.ui.events.end());
  EXPECT_EQ(tail.front(), "message Auto Command Succeeded !!");
  EXPECT_EQ(tail[1], "enable 1005 1");
  EXPECT_EQ(tail[8], "enable 1015 1");
  EXPECT_EQ(tail.back(), "show");
}

struct MarkerCase {
  const char* chip;
  std::uint8_t marker;
  bool protect;
};

TEST(UpdateRun, TheProtectMarkerOfThirtyTwoByteBlocksAsksForReadProtection) {
  const std::vector<MarkerCase> cases = {
      {"ZB4420", 0x00, true}, {"ZB4420", 0x37, false}, {"ZB4437", 0x00, true}, {"ZB29K702", 0x00, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.chip) + " marker " + std::to_string(c.marker));
    OpsRig rig(c.chip);
    const std::uint32_t size = rig.device.flash().size();
    rig.image.bytes[size - 5] = c.marker;
    RunUpdate(rig.context);

    EXPECT_EQ(rig.ui.messages, std::vector{kSucceeded});
    EXPECT_EQ(SentFrames(rig.device.trace()), CleanRunFrames(size, rig.device.blockLength(), c.protect));
    EXPECT_EQ(rig.device.readProtected(), c.protect);
    // With 32-byte blocks the device is given 0xFF at the marker, with 64-byte blocks the image.
    std::vector<std::uint8_t> expected(rig.image.bytes.begin(), rig.image.bytes.begin() + size);
    if (rig.device.blockLength() == 32) std::fill(expected.end() - 5, expected.end(), 0xFF);
    EXPECT_EQ(rig.device.flash(), expected);
  }
}

TEST(UpdateRun, WithoutADeviceTriesThirtyOneTimesOneSecondApartThenTimesOut) {
  OpsRig rig;
  rig.device.faults().openFailures = -1;
  RunUpdate(rig.context);

  EXPECT_EQ(rig.ui.messages, std::vector{kTimeOut});
  EXPECT_EQ(CallCount(rig.device.trace(), Call::OpenPipe), 31u);
  EXPECT_EQ(rig.device.trace().size(), 31u);  // no transfer, no close
  EXPECT_EQ(rig.sleeper.waits, std::vector<std::uint32_t>(31, 1000));
  ExpectReleased(rig);
}

TEST(UpdateRun, ADeviceThatAnswersTheThirtyFirstOpenIsProgrammed) {
  OpsRig rig;
  rig.device.faults().openFailures = 30;
  RunUpdate(rig.context);
  EXPECT_EQ(rig.ui.messages, std::vector{kSucceeded});
  EXPECT_EQ(rig.sleeper.waits, std::vector<std::uint32_t>(30, 1000));
  EXPECT_EQ(rig.device.flash(), rig.image.bytes);
}

TEST(UpdateRun, RefusedReadsAreAskedAgainAndCountedOnTheStepCounter) {
  OpsRig rig;
  rig.device.faults().readRefusals = {{5 * 64, 2}};
  RunUpdate(rig.context);
  EXPECT_EQ(rig.ui.messages, std::vector{kSucceeded});
  const auto frames = SentFrames(rig.device.trace());
  EXPECT_EQ(std::count(frames.begin(), frames.end(), SentFrame{OpReadBlock, 5 * 64}), 3);
  EXPECT_EQ(rig.state.m_nProgressStep, 2050u);
  EXPECT_EQ(rig.ui.progressPositions.back(), 2050);
}

TEST(UpdateRun, ABlockRefusedAThousandTimesIsAReadFailure) {
  OpsRig rig;
  rig.device.faults().readRefusals = {{0x40, 1000}};
  RunUpdate(rig.context);
  EXPECT_EQ(rig.ui.messages, std::vector{Error("Read Failure !!")});
  const auto frames = SentFrames(rig.device.trace());
  EXPECT_EQ(std::count(frames.begin(), frames.end(), SentFrame{OpReadBlock, 0x40}), 1000);
  EXPECT_EQ(frames.back(), (SentFrame{OpReadBlock, 0x40}));
  ExpectReleased(rig);
}

TEST(UpdateRun, AFlashThatDiffersFromTheImageFailsTheVerifyBeforeAnyFinish) {
  OpsRig rig;
  rig.device.faults().stuckCells = {{0xFFFF, 0x00}};
  RunUpdate(rig.context);
  EXPECT_EQ(rig.ui.messages, std::vector{Error("Verify Failure !!")});
  EXPECT_EQ(SentFrames(rig.device.trace()).back(), (SentFrame{OpReadBlock, 0xFFC0}));
  ExpectReleased(rig);
}

TEST(UpdateRun, AFailedStagingStopsBeforeTheGuardAndLeavesTheStagingFile) {
  OpsRig rig("");
  RunUpdate(rig.context);
  EXPECT_EQ(rig.ui.messages, std::vector{Warning("Please select the ic type!")});
  EXPECT_TRUE(rig.ui.enableChanges.empty());
  EXPECT_EQ(rig.library.loads(), 0);
  EXPECT_TRUE(fs::exists(rig.context.staging.file));
  EXPECT_TRUE(rig.ui.progressPositions.empty());
}

TEST(UpdateRun, AStagingFileThatGoesAwayOrShrinksAfterStagingIsReported) {
  struct Case {
    const char* name;
    std::function<void(const std::string&)> spoil;
    ShownMessage message;
  };
  const std::vector<Case> cases = {
      {"removed", [](const std::string& file) { fs::remove(file); }, Plain("Open file error !!")},
      {"shortened", [](const std::string& file) { fs::resize_file(file, 100); },
       Error("Program file read Failed !!")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    OpsRig rig;
    rig.watchedLibrary.onLoad = [&] { c.spoil(rig.context.staging.file); };
    RunUpdate(rig.context);
    EXPECT_EQ(rig.ui.messages, std::vector{c.message});
    EXPECT_EQ(SentFrames(rig.device.trace()), (std::vector<SentFrame>{{OpMassErase, 0}}));
    EXPECT_EQ(rig.device.trace().back().call, Call::ClosePipe);
    ExpectReleased(rig);
  }
}

struct BindingCase {
  const char* name;
  bool refuseLoad;
  const char* withheld;
  std::vector<ShownMessage> messages;
  std::size_t sleeps;
};

TEST(UpdateRun, ABrokenLibraryIsNeverCalledWhereItLacksAnEntryPoint) {
  const std::vector<BindingCase> cases = {
      {"not loaded", true, "", {kTimeOut}, 0},
      {"no open", false, "USB_Open_PIPE", {AppMessage("Can't load function USB_Open_PIPE!"), kTimeOut}, 0},
      {"no close",
       false,
       "USB_Close_PIPE",
       {AppMessage("Can't load function USB_Close_PIPE!"), kSucceeded},
       0},
      {"no write",
       false,
       "USB_BulkWrite",
       {AppMessage("Can't load function USB_BulkWrite!"), Error("Write Failure !!")},
       0},
      {"no read",
       false,
       "USB_BulkRead",
       {AppMessage("Can't load function USB_BulkRead!"), Error("Read Failure !!")},
       0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    OpsRig rig;
    rig.library.RefuseLoad(c.refuseLoad);
    if (*c.withheld != '\0') rig.library.Withhold(c.withheld);
    RunUpdate(rig.context);
    EXPECT_EQ(rig.ui.messages, c.messages);
    EXPECT_EQ(rig.sleeper.waits.size(), c.sleeps);
    ExpectReleased(rig);
  }
}

// A dialog whose chip type control changes while the staging refreshes the controls.
class FickleDialog final : public RecordingDialog {
 public:
  using RecordingDialog::RecordingDialog;
  void MembersToControls() override {
    RecordingDialog::MembersToControls();
    SetControlText(IDC_CHIP_TYPE, "ZB0000");
  }
};

TEST(UpdateRun, AChipTypeChangedAfterStagingStopsTheRunBeforeTheGuard) {
  OpsRig rig;
  FickleDialog ui(rig.state);
  ui.SetControlText(IDC_CHIP_TYPE, "ZB29K702");
  OperationContext context = rig.context;
  OperationContext fickle{rig.state,         ui,
                          context.libraries, context.transferLibraryPath,
                          context.hubs,      context.image,
                          context.sleeper,   context.staging};
  RunUpdate(fickle);
  EXPECT_EQ(ui.messages, std::vector{Error("IC Type Error!!")});
  EXPECT_TRUE(ui.enableChanges.empty());
  EXPECT_EQ(rig.library.loads(), 0);
  EXPECT_FALSE(fs::exists(rig.context.staging.folder));
}

TEST(UpdateRun, RunsThePresenceScanOnceAndGoesOnWhateverItCounts) {
  OpsRig rig;
  rig.hubs.AddController(0).AddDevice();
  RunUpdate(rig.context);
  EXPECT_EQ(std::count(rig.hubs.openAttempts().begin(), rig.hubs.openAttempts().end(), "\\\\.\\HCD0"), 1);
  EXPECT_EQ(rig.ui.messages, std::vector{kSucceeded});
}

}  // namespace
}  // namespace hnx::test
