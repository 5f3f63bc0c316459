// How the dialog ends, and what happens to the staging files then.
#include <windows.h>

#include "program_test.h"
#include "res/resource.h"

namespace hnx::e2e {
namespace {

constexpr DWORD kExitTimeoutMs = 10000;

struct CloseCase {
  const char* name;
  void (*close)(const drive::Program&);
  bool ends;
  bool removesStaging;
};

class Closing : public ProgramTest {
 protected:
  void Run(const CloseCase& c) {
    Launch();
    LeaveStagingInPlace();
    c.close(program());
    if (c.ends) {
      ASSERT_TRUE(program().WaitForExit(kExitTimeoutMs)) << "the program did not end";
    } else {
      drive::WaitUntil([] { return !std::filesystem::exists(kStagingFolder); }, kExitTimeoutMs);
    }
    if (c.removesStaging) {
      EXPECT_FALSE(std::filesystem::exists(kStagingFolder));
    } else {
      EXPECT_TRUE(std::filesystem::exists(kStagingFile));
    }
    EXPECT_EQ(program().Running(), !c.ends);
    EXPECT_EQ(IsWindowVisible(program().dialog()) != FALSE, !c.ends);
  }
};

TEST_F(Closing, RemovesTheStagingFilesUnlessEscapeEndsTheProgram) {
  const CloseCase cases[] = {
      {"close request", [](const drive::Program& p) { PostMessageA(p.dialog(), WM_SYSCOMMAND, SC_CLOSE, 0); },
       true, true},
      {"Escape", [](const drive::Program& p) { PostMessageA(p.Control(IDC_UPDATE), WM_KEYDOWN, VK_ESCAPE, 0); },
       true, false},
      {"close command, which keeps the dialog", [](const drive::Program& p) { p.Command(kCloseCommand); }, false,
       true},
  };
  for (const CloseCase& c : cases) {
    SCOPED_TRACE(c.name);
    Run(c);
  }
}

}  // namespace
}  // namespace hnx::e2e
