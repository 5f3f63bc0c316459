// The dialog's commands and how it ends. The one-click update through the "Update" button, from a
// folder named outside the code page: the library is found and loaded by its UTF-16 path beside the
// program. Single commands (Read Protect, Exit ISP, Re-connect), each through the library that the
// program finds, or fails to find, beside itself: what the user is told and what reached the device.
// The ways the dialog ends, and what happens to the staging files then.
#include <windows.h>

#include <commctrl.h>

#include "program_test.h"
#include "res/resource.h"

namespace hnx::e2e {
namespace {

class Update : public ProgramTest {};

TEST_F(Update, WritesTheEmbeddedImageAndReportsSuccess) {
  Layout layout;
  layout.programFolder = L"\u56FA\u4EF6\u66F4\u65B0";  // 固件更新
  Launch(layout);
  const MessageBoxSeen success = WithIcon("Auto Command Succeeded !!");
  const auto progress = [this] { return SendMessageA(Control(IDC_PROGRESS), PBM_GETPOS, 0, 0); };
  program().Click(IDC_UPDATE);
  // The run holds its guard until the user has read the outcome; "Read Protect" is never guarded.
  EXPECT_EQ(drive::WaitForMessageBox(program().processId(), 30000), success);
  EXPECT_TRUE(OperationButtonsEnabled(false));
  EXPECT_TRUE(IsWindowEnabled(Control(IDC_READ_PROTECT)));
  EXPECT_EQ(progress(), 2048);
  ExpectMessages({success});

  EXPECT_EQ(progress(), 2048);
  EXPECT_EQ(drive::Text(Control(IDC_IMAGE_PATH)), "C://Program BinFile//b167h.bin");
  EXPECT_FALSE(std::filesystem::exists(kStagingFolder));
  EXPECT_TRUE(Flash() == FirmwareImage()) << "the device does not hold the embedded image";
  // The program's own log of its transfers, as hnx-update --log writes it.
  EXPECT_EQ(ReadFileBytes(InFolder("transfers.log")), Trace());
}

struct CommandCase {
  const char* name;
  Layout layout;
  int command;
  std::vector<MessageBoxSeen> messages;
  std::optional<std::string> trace;  // nothing: the library was never loaded
};

class Commands : public ProgramTest {};

TEST_F(Commands, ReportTheirOutcomeAndSendTheirFrames) {
  // clang-format off
  const CommandCase cases[] = {
      {"exit ISP leaves the pipe open", {}, IDC_EXIT_ISP, {WithIcon("EXIT ISP Successfull !!")},
       "open 1\nwrite 10 10 1 20 00 00 00 00 00 00 00 40 00\n"},
      {"re-connect finds no USB host controllers", {}, IDC_RECONNECT, {WithIcon("Device not found !!")}, std::nullopt},
      {"a library in the working folder only is never loaded", {"", Outputs().simulator}, IDC_READ_PROTECT,
       {Plain("Can't find the device!")}, std::nullopt},
      {"a missing entry point is reported under the application's title", {Outputs().missingLibrary, ""},
       IDC_READ_PROTECT, {{"Can't load function USB_BulkRead!", "ZB4450_download", true},
       WithIcon("Read Protect Command Succeeded !")},
       "open 1\nwrite 10 10 1 2C 00 00 00 00 00 00 00 40 00\nclose\n"},
  };
  // clang-format on
  for (const CommandCase& c : cases) {
    SCOPED_TRACE(c.name);
    Launch(c.layout);
    program().Command(c.command);
    ExpectMessages(c.messages);
    EXPECT_EQ(Trace(), c.trace);
    EXPECT_FALSE(std::filesystem::exists(kStagingFolder));
  }
}

constexpr DWORD kExitTimeoutMs = 10000;

// A message posted to the dialog, or to one of its controls, after a failed update left the staging
// files in place.
struct CloseCase {
  const char* name;
  int control;  // 0: the dialog itself
  UINT message;
  WPARAM wParam;
  bool ends;
  bool removesStaging;
};

class Closing : public ProgramTest {};

TEST_F(Closing, RemovesTheStagingFilesUnlessEscapeEndsTheProgram) {
  const CloseCase cases[] = {
      {"close request", 0, WM_SYSCOMMAND, SC_CLOSE, true, true},
      {"Escape", IDC_UPDATE, WM_KEYDOWN, VK_ESCAPE, true, false},
      {"close command, which keeps the dialog", 0, WM_COMMAND, MAKEWPARAM(kCloseCommand, BN_CLICKED), false,
       true},
  };
  for (const CloseCase& c : cases) {
    SCOPED_TRACE(c.name);
    Launch();
    LeaveStagingInPlace();
    PostMessageA(c.control == 0 ? program().dialog() : Control(c.control), c.message, c.wParam, 0);
    drive::WaitUntil([&] { return c.ends ? !program().Running() : !std::filesystem::exists(kStagingFolder); },
                     kExitTimeoutMs);
    EXPECT_EQ(program().Running(), !c.ends);
    EXPECT_EQ(IsWindowVisible(program().dialog()) != FALSE, !c.ends);
    EXPECT_EQ(std::filesystem::exists(kStagingFolder), !c.removesStaging);
    EXPECT_EQ(std::filesystem::exists(kStagingFile), !c.removesStaging);
  }
}

}  // namespace
}  // namespace hnx::e2e
