#include "ops/operations.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "ops/operations.h"
#include "res/resource.h"
#include "support/ops_expect.h"
#include "support/ops_rig.h"

#if defined(_WIN32)
#include "ops/operations.h"
#endif

namespace hnx::test {
namespace {

namespace fs = std::filesystem;

const std::string kNotFound = "\xC3\xBB\xD3\xD0\xD5\xD2\xB5\xBD\xD7\xCA\xD4\xB4\x20";
const std::string kNotLoaded = "\xBC\xD3\xD4\xD8\xD7\xCA\xD4\xB4\xCA\xA7\xB0\xDC\x20";
const std::string kNotLocked = "\xB2\xBB\xC4\xDC\xBC\xD3\xD4\xD8\xC4\xDA\xB4\xE6\x20";

TEST(Staging, WritesTheEmbeddedImageMakesItTheImagePathAndShowsItsChecksum) {
  OpsRig rig;
  rig.image.bytes.assign(0x10000, 0xFF);
  ASSERT_TRUE(StageImage(rig.context));

  EXPECT_EQ(FileBytes(rig.context.staging.file), rig.image.bytes);
  EXPECT_EQ(rig.state.m_strImagePath, rig.context.staging.file);
  EXPECT_EQ(rig.ui.ControlText(IDC_IMAGE_PATH), rig.context.staging.file);
  EXPECT_EQ(rig.ui.ControlText(IDC_CHECKSUM), "0000H");
  EXPECT_EQ(rig.state.m_nImageSize, 0x10000u);
  EXPECT_EQ(rig.state.m_nBlockLength, 64u);
  EXPECT_EQ(rig.ui.events, (std::vector<std::string>{"take", "take", "show"}));
  EXPECT_TRUE(rig.ui.messages.empty());
}

TEST(Staging, ChecksOnlyTheImageSizeOfTheChosenChip) {
  OpsRig rig("ZB3308");
  rig.image.bytes.assign(0x10000, 0x01);
  std::fill_n(rig.image.bytes.begin(), 0x8000, 0xFF);
  ASSERT_TRUE(StageImage(rig.context));
  EXPECT_EQ(rig.state.m_strChecksum, "8000H");
  EXPECT_EQ(fs::file_size(rig.context.staging.file), 0x10000u);
}

TEST(Staging, ReplacesAnOlderLongerStagingFileInAnExistingFolder) {
  OpsRig rig;
  fs::create_directory(rig.context.staging.folder);
  rig.MakeFile("Program BinFile/b167h.bin", std::vector<std::uint8_t>(70000, 0x11));
  ASSERT_TRUE(StageImage(rig.context));
  EXPECT_EQ(FileBytes(rig.context.staging.file), rig.image.bytes);
}

struct ResourceCase {
  const char* name;
  bool missing, unloadable, unlockable;
  std::vector<std::string> appMessages;
};

TEST(Staging, ReportsEachResourceStepThatFailsAndEndsWithAnEmptyStagingFile) {
  const std::vector<ResourceCase> cases = {
      {"not found", true, false, false, {kNotFound, kNotLoaded, kNotLocked}},
      {"not loaded", false, true, false, {kNotLoaded, kNotLocked}},
      {"not locked", false, false, true, {kNotLocked}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    OpsRig rig;
    rig.image.missing = c.missing;
    rig.image.unloadable = c.unloadable;
    rig.image.unlockable = c.unlockable;
    EXPECT_FALSE(StageImage(rig.context));

    std::vector<ShownMessage> expected;
    for (const auto& text : c.appMessages) expected.push_back(AppMessage(text));
    expected.push_back(Error("Program file read Failed !!"));
    EXPECT_EQ(rig.ui.messages, expected);
    EXPECT_EQ(fs::file_size(rig.context.staging.file), 0u);
    EXPECT_EQ(rig.state.m_strImagePath, rig.context.staging.file);
  }
}

TEST(Staging, AnImageShorterThanTheChipIsRejectedAfterItWasWritten) {
  OpsRig rig;
  rig.image.bytes.resize(0xFFFF);
  EXPECT_FALSE(StageImage(rig.context));
  EXPECT_EQ(rig.ui.messages, std::vector{Error("Program file read Failed !!")});
  EXPECT_EQ(fs::file_size(rig.context.staging.file), 0xFFFFu);
}

TEST(Staging, AnEmptyOrUnknownChipTypeIsReportedAfterTheImageWasStaged) {
  for (const auto& [chip, message] : {std::pair{"", Warning("Please select the ic type!")},
                                      std::pair{"ZB29K702 ", Error("IC Type Error!!")}}) {
    OpsRig rig(chip);
    EXPECT_FALSE(StageImage(rig.context));
    EXPECT_EQ(rig.ui.messages, std::vector{message});
    EXPECT_EQ(FileBytes(rig.context.staging.file), rig.image.bytes);
    EXPECT_EQ(rig.state.m_strImagePath, rig.context.staging.file);
    EXPECT_EQ(rig.ui.ControlText(IDC_IMAGE_PATH), "");  // the controls are not refreshed
  }
}

TEST(Staging, AStagingFileThatCannotBeCreatedShowsAsAnOpenError) {
  OpsRig rig;
  rig.MakeFile("Program BinFile", std::vector<std::uint8_t>{1});  // a file where the folder belongs
  EXPECT_FALSE(StageImage(rig.context));
  EXPECT_EQ(rig.ui.messages, std::vector{Plain("Open file error !!")});
}

TEST(RemoveStaging, DeletesTheFileAndTheFolderButNothingElse) {
  OpsRig rig;
  const StagingPaths& staging = rig.context.staging;
  ASSERT_TRUE(StageImage(rig.context));
  RemoveStaging(rig.context);
  EXPECT_FALSE(fs::exists(staging.folder));

  RemoveStaging(rig.context);  // nothing there: nothing happens
  EXPECT_FALSE(fs::exists(staging.folder));

  fs::create_directory(staging.folder);  // a folder without the file still goes
  RemoveStaging(rig.context);
  EXPECT_FALSE(fs::exists(staging.folder));

  ASSERT_TRUE(StageImage(rig.context));
  const std::string keep = rig.MakeFile("Program BinFile/notes.txt", std::vector<std::uint8_t>{'k'});
  RemoveStaging(rig.context);
  EXPECT_FALSE(fs::exists(staging.file));
  EXPECT_EQ(FileBytes(keep), std::vector<std::uint8_t>{'k'});
}

#if defined(_WIN32)
TEST(Win32ImageResource, AProgramWithoutTheImageFailsEveryStep) {
  Win32ImageResource image;  // the test program carries no "bin" resource 133
  EXPECT_FALSE(image.Find());
  EXPECT_FALSE(image.Load());
  EXPECT_EQ(image.Lock(), nullptr);
  EXPECT_EQ(image.Size(), 0u);
}
#endif

}  // namespace
}  // namespace hnx::test
