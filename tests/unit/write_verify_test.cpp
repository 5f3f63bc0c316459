#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "link/isp.h"
#include "ops/operations.h"
#include "res/resource.h"
#include "support/ops_expect.h"
#include "support/ops_rig.h"

namespace hnx::test {
namespace {

using Call = sim::TraceRecord::Call;

void ExpectReleased(const OpsRig& rig) {
  EXPECT_FALSE(rig.library.loaded());
  EXPECT_FALSE(rig.device.pipeOpen());
  EXPECT_EQ(sim::InProcessLibrary::CallsWhileUnloaded(), 0);
  EXPECT_EQ(rig.ui.enableChanges, GuardHistory());
}

TEST(Write, ProgramsTheFileAsItIsAndShowsItsChecksum) {
  OpsRig rig;
  const auto image = PatternImage(0x10000);
  rig.SelectImagePath(rig.MakeFile("image.bin", image));
  WriteImageFile(rig.context);

  EXPECT_EQ(rig.ui.messages, std::vector{Info("Write Command Succeeded !")});
  EXPECT_EQ(SentFrames(rig.device.trace()), BlockFrames(OpProgramBlock, 0x10000, 64));
  EXPECT_EQ(rig.device.flash(), image);
  EXPECT_EQ(rig.device.trace().back().call, Call::ClosePipe);
  EXPECT_EQ(rig.ui.events.front(), "take");
  ExpectReleased(rig);
}

TEST(Write, UsesTheFirstImageSizeBytesOfALongerFile) {
  OpsRig rig;
  std::vector<std::uint8_t> file(70000, 0x05);
  std::fill_n(file.begin(), 0x10000, 0x01);
  file[0xFFFF] = 0x10;  // the first 64 KiB sum to 0x1000F
  rig.SelectImagePath(rig.MakeFile("long.bin", file));
  WriteImageFile(rig.context);

  EXPECT_EQ(rig.ui.messages, std::vector{Info("Write Command Succeeded !")});
  EXPECT_EQ(rig.ui.ControlText(IDC_CHECKSUM), "000FH");
  EXPECT_EQ(SentFrames(rig.device.trace()).size(), 1024u);
  EXPECT_TRUE(std::equal(rig.device.flash().begin(), rig.device.flash().end(), file.begin()));
}

TEST(Write, IgnoresTheProtectMarker) {
  OpsRig rig("ZB4420");
  auto image = PatternImage(0x4000);
  image[0x4000 - 5] = 0x00;
  rig.SelectImagePath(rig.MakeFile("marked.bin", image));
  WriteImageFile(rig.context);
  EXPECT_EQ(rig.device.flash(), image);
  EXPECT_FALSE(rig.device.readProtected());
}

TEST(Write, AFileShorterThanTheChipIsRejectedWithThePipeOpen) {
  OpsRig rig;
  rig.SelectImagePath(rig.MakeFile("short.bin", PatternImage(0xFFFF)));
  WriteImageFile(rig.context);
  EXPECT_EQ(rig.ui.messages, std::vector{Error("Program file read Failed !!")});
  const std::vector<Call> calls = {Call::OpenPipe, Call::ClosePipe};
  EXPECT_EQ(CallsAfterLastTransfer(rig.device.trace()), calls);
  ExpectReleased(rig);
}

TEST(Write, AFileThatCannotBeOpenedLeavesTheLibraryAlone) {
  for (bool folder : {false, true}) {
    OpsRig rig;
    const std::string path = rig.temp->Path("image.bin");
    if (folder) std::filesystem::create_directory(path);
    rig.SelectImagePath(path);
    WriteImageFile(rig.context);
    EXPECT_EQ(rig.ui.messages, std::vector{Plain("Open file error !!")});
    EXPECT_EQ(rig.library.loads(), 0);
    ExpectReleased(rig);
  }
}

TEST(Verify, ReadsTheFlashBackComparesItAndFinishes) {
  OpsRig rig;
  const auto image = PatternImage(0x10000);
  rig.device.flash() = image;
  rig.SelectImagePath(rig.MakeFile("image.bin", image));
  rig.state.m_strChecksum = "ABCDH";
  VerifyImageFile(rig.context);

  EXPECT_EQ(rig.ui.messages, std::vector{Info("Verify Command Succeeded !!")});
  EXPECT_EQ(SentFrames(rig.device.trace()), Concat({BlockFrames(OpReadBlock, 0x10000, 64), {{OpFinish, 0}}}));
  EXPECT_EQ(rig.device.trace().back().call, Call::ClosePipe);
  EXPECT_EQ(rig.state.m_strChecksum, "ABCDH");
  ExpectReleased(rig);
}

TEST(Verify, TheMembersOverwriteWhatWasTypedIntoTheControls) {
  OpsRig rig;
  const auto image = PatternImage(0x10000);
  rig.device.flash() = image;
  rig.SelectImagePath(rig.MakeFile("image.bin", image));
  rig.ui.SetControlText(IDC_CHIP_TYPE, "typed");
  rig.ui.SetControlText(IDC_IMAGE_PATH, "typed.bin");
  VerifyImageFile(rig.context);
  EXPECT_EQ(rig.ui.messages, std::vector{Info("Verify Command Succeeded !!")});
  EXPECT_EQ(std::vector<std::string>(rig.ui.events.begin(), rig.ui.events.begin() + 2),
            (std::vector<std::string>{"show", "take"}));
}

TEST(Verify, WithoutADeviceTheFileIsNeverOpened) {
  OpsRig rig;
  rig.device.faults().openFailures = -1;
  rig.SelectImagePath(rig.temp->Path("does-not-exist.bin"));
  VerifyImageFile(rig.context);
  EXPECT_EQ(rig.ui.messages, std::vector{Plain("Can't find the device!")});
  ExpectReleased(rig);
}

TEST(Verify, ReadsEveryBlockBeforeItFindsADifferenceInTheLastByte) {
  OpsRig rig;
  auto image = PatternImage(0x10000);
  rig.device.flash() = image;
  image.back() ^= 0x01;
  rig.SelectImagePath(rig.MakeFile("image.bin", image));
  VerifyImageFile(rig.context);
  EXPECT_EQ(rig.ui.messages, std::vector{Error("Verify Failure !!")});
  EXPECT_EQ(SentFrames(rig.device.trace()), BlockFrames(OpReadBlock, 0x10000, 64));
  ExpectReleased(rig);
}

TEST(Verify, AFileThatCannotBeReadWholeIsReportedWithThePipeOpen) {
  struct Case {
    std::vector<std::uint8_t> file;
    bool create;
    ShownMessage message;
  };
  for (const auto& c : {Case{{}, false, Plain("Open file error !!")},
                        Case{PatternImage(0xFFFF), true, Error("Program file read Failed !!")}}) {
    OpsRig rig;
    const std::string path = rig.temp->Path("image.bin");
    if (c.create) rig.MakeFile("image.bin", c.file);
    rig.SelectImagePath(path);
    VerifyImageFile(rig.context);
    EXPECT_EQ(rig.ui.messages, std::vector{c.message});
    EXPECT_EQ(rig.device.trace().size(), 2u);  // open, close
    EXPECT_EQ(rig.device.trace().back().call, Call::ClosePipe);
    ExpectReleased(rig);
  }
}

struct InputCase {
  const char* chip;
  bool path;
  ShownMessage message;
};

TEST(WriteAndVerify, CheckTheChipTypeThenThePathThenTheCatalogueBeforeTheGuard) {
  const std::vector<InputCase> cases = {
      {"", false, Warning("Please select the ic type!")},
      {"", true, Warning("Please select the ic type!")},
      {"ZB9999", false, Warning("Please open the program file!")},
      {"ZB29K702", false, Warning("Please open the program file!")},
      {"ZB9999", true, Error("IC Type Error!!")},
      {" ZB4420", true, Error("IC Type Error!!")},
  };
  for (auto* operation : {&WriteImageFile, &VerifyImageFile}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(operation == &WriteImageFile ? "Write " : "Verify ") + c.chip);
      OpsRig rig(c.chip);
      if (c.path) rig.SelectImagePath(rig.MakeFile("image.bin", PatternImage(0x10000)));
      operation(rig.context);
      EXPECT_EQ(rig.ui.messages, std::vector{c.message});
      EXPECT_TRUE(rig.ui.enableChanges.empty());
      EXPECT_EQ(rig.library.loads(), 0);
    }
  }
}

}  // namespace
}  // namespace hnx::test
