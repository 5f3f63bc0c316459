// How the dialog ends, and what happens to the staging files then.
#include <windows.h>

#include "program_test.h"
#include "res/resource.h"

namespace hnx::e2e {
namespace {

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
