// How the dialog ends, and what happens to the staging files then.
#include <windows.h>

#include "paths.h"
#include "program_test.h"
#include "res/resource.h"
#include "windows_probe.h"

namespace hnx::e2e {
namespace {

constexpr DWORD kExitTimeoutMs = 10000;

class Closing : public ProgramTest {};

TEST_F(Closing, CloseRequestRemovesTheStagingFilesAndEndsTheProgram) {
  Launch();
  LeaveStagingInPlace();
  PostMessageA(program().dialog(), WM_SYSCOMMAND, SC_CLOSE, 0);
  ASSERT_TRUE(program().WaitForExit(kExitTimeoutMs));
  EXPECT_FALSE(DirectoryExists(kStagingFolder));
}

TEST_F(Closing, EscapeEndsTheProgramAndLeavesTheStagingFiles) {
  Launch();
  LeaveStagingInPlace();
  PostMessageA(Control(IDC_UPDATE), WM_KEYDOWN, VK_ESCAPE, 0);
  ASSERT_TRUE(program().WaitForExit(kExitTimeoutMs));
  EXPECT_TRUE(FileExists(kStagingFile));
}

TEST_F(Closing, CloseCommandRemovesTheStagingFilesAndKeepsTheDialog) {
  Launch();
  LeaveStagingInPlace();
  program().Command(kCloseCommand);
  ASSERT_TRUE(WaitUntil([] { return !DirectoryExists(kStagingFolder); }, kExitTimeoutMs));
  EXPECT_TRUE(program().Running());
  EXPECT_TRUE(IsWindowVisible(program().dialog()));
}

}  // namespace
}  // namespace hnx::e2e
