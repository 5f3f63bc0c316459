#include <gtest/gtest.h>

#include "ops/operations.h"
#include "res/resource.h"
#include "support/ops_expect.h"
#include "support/ops_rig.h"

namespace hnx::test {
namespace {

// A rig whose controls show an earlier image and checksum.
struct OpenFileRig : OpsRig {
  explicit OpenFileRig(const std::string& chip = "ZB29K702") : OpsRig(chip) {
    SelectImagePath("earlier.bin");
    state.m_strChecksum = "1234H";
    ui.SetControlText(IDC_CHECKSUM, "1234H");
  }
};

TEST(OpenFile, TakesTheChosenPathAndShowsTheChecksumOfItsImage) {
  OpenFileRig rig("ZB3308");
  std::vector<std::uint8_t> image(0x10000, 0x01);
  std::fill_n(image.begin(), 0x8000, 0xFF);
  const std::string path = rig.MakeFile("chosen.bin", image);
  rig.ui.QueueFileChoice({true, path});
  OpenImageFile(rig.context);

  EXPECT_TRUE(rig.ui.messages.empty());
  EXPECT_EQ(rig.ui.ControlText(IDC_IMAGE_PATH), path);
  EXPECT_EQ(rig.ui.ControlText(IDC_CHECKSUM), "8000H");
  EXPECT_EQ(rig.ui.events, (std::vector<std::string>{"take", "open", "show"}));
  ASSERT_EQ(rig.ui.fileDialogs.size(), 1u);
  const FileDialogCall& call = rig.ui.fileDialogs.front();
  EXPECT_FALSE(call.save);
  EXPECT_EQ(call.options.filter, "Binary Files (*.bin)|*.bin|All Files (*.*)|*.*");
  EXPECT_EQ(call.options.defaultExtension, "");
  EXPECT_EQ(call.options.initialName, "");
  EXPECT_EQ(call.options.flags, 6u);
  EXPECT_EQ(rig.library.loads(), 0);
}

TEST(OpenFile, ACancelledDialogEmptiesThePathAndReportsAnOpenError) {
  OpenFileRig rig;
  OpenImageFile(rig.context);
  EXPECT_EQ(rig.ui.messages, std::vector{Plain("Open file error !!")});
  EXPECT_EQ(rig.state.m_strImagePath, "");
  EXPECT_EQ(rig.ui.ControlText(IDC_IMAGE_PATH), "");
  EXPECT_EQ(rig.ui.ControlText(IDC_CHECKSUM), "1234H");
}

TEST(OpenFile, AShortFileKeepsTheEarlierChecksumButShowsTheNewPath) {
  OpenFileRig rig;
  const std::string path = rig.MakeFile("short.bin", PatternImage(100));
  rig.ui.QueueFileChoice({true, path});
  OpenImageFile(rig.context);
  EXPECT_EQ(rig.ui.messages, std::vector{Error("Program file read Failed !!")});
  EXPECT_EQ(rig.ui.ControlText(IDC_IMAGE_PATH), path);
  EXPECT_EQ(rig.ui.ControlText(IDC_CHECKSUM), "1234H");
}

TEST(OpenFile, AnEmptyOrUnknownChipTypeKeepsThePathButRefreshesNoControl) {
  for (const auto& [chip, message] :
       {std::pair{"", Warning("Please select the ic type!")}, std::pair{"ZB44", Error("IC Type Error!!")}}) {
    OpenFileRig rig(chip);
    const std::string path = rig.MakeFile("chosen.bin", PatternImage(0x10000));
    rig.ui.QueueFileChoice({true, path});
    OpenImageFile(rig.context);
    EXPECT_EQ(rig.ui.messages, std::vector{message});
    EXPECT_EQ(rig.state.m_strImagePath, path);
    EXPECT_EQ(rig.ui.ControlText(IDC_IMAGE_PATH), "earlier.bin");
    EXPECT_EQ(rig.ui.membersToControlsCalls, 0);
  }
}

}  // namespace
}  // namespace hnx::test
