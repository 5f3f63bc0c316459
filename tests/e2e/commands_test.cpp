// Single commands (Read Protect, Exit ISP, Re-connect) and a write without a device, each through the
// library that the program finds, or fails to find, beside itself: what the user is told and what
// reached the device.
#include <windows.h>

#include "program_test.h"
#include "res/resource.h"

namespace hnx::e2e {
namespace {

struct CommandCase {
  const char* name;
  Layout layout;
  int command;
  std::vector<MessageBoxSeen> messages;
  std::optional<std::string> trace;  // nothing: the library was never loaded
};

class Commands : public ProgramTest {};

TEST_F(Commands, ReportTheirOutcomeAndSendTheirFrames) {
  const std::string protect = "write 10 10 1 2C 00 00 00 00 00 00 00 40 00\n";
  const std::string simulator = Outputs().simulator;
  const Layout noDevice = {simulator, "", "open-fail=always"};
  // clang-format off
  const CommandCase cases[] = {
      {"read protect closes the pipe", {}, IDC_READ_PROTECT, {WithIcon("Read Protect Command Succeeded !")},
       "open 1\n" + protect + "close\n"},
      {"exit ISP leaves the pipe open", {}, IDC_EXIT_ISP, {WithIcon("EXIT ISP Successfull !!")},
       "open 1\nwrite 10 10 1 20 00 00 00 00 00 00 00 40 00\n"},
      {"re-connect finds no USB host controllers", {}, IDC_RECONNECT, {WithIcon("Device not found !!")}, std::nullopt},
      {"write without a device", noDevice, IDC_WRITE, {Plain("Can't find the device!")}, "open 0\n"},
      {"a library in the working folder only is never loaded", {"", simulator, ""}, IDC_READ_PROTECT,
       {Plain("Can't find the device!")}, std::nullopt},
      {"a missing entry point is reported under the application's title", {Outputs().missingLibrary, "", ""},
       IDC_READ_PROTECT, {{"Can't load function USB_BulkRead!", "ZB4450_download", true},
       WithIcon("Read Protect Command Succeeded !")}, "open 1\n" + protect + "close\n"},
  };
  // clang-format on
  for (const CommandCase& c : cases) {
    SCOPED_TRACE(c.name);
    Launch(c.layout);
    // Write reads this image first; the other commands leave the path alone.
    SendMessageA(Control(IDC_IMAGE_PATH), WM_SETTEXT, 0,
                 reinterpret_cast<LPARAM>(Outputs().firmwareImage.c_str()));
    program().Command(c.command);
    ExpectMessages(c.messages);
    EXPECT_EQ(Trace(), c.trace);
    EXPECT_FALSE(std::filesystem::exists(kStagingFolder));
  }
}

}  // namespace
}  // namespace hnx::e2e
