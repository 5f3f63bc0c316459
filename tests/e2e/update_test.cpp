// The one-click update through the "Update" button, from a folder named outside the code page: the
// library is found and loaded by its UTF-16 path beside the program.
#include <windows.h>

#include <commctrl.h>

#include "program_test.h"
#include "res/resource.h"

namespace hnx::e2e {
namespace {

class Update : public ProgramTest {
 protected:
  LRESULT ProgressPos() { return SendMessageA(Control(IDC_PROGRESS), PBM_GETPOS, 0, 0); }
};

TEST_F(Update, WritesTheEmbeddedImageAndReportsSuccess) {
  Layout layout;
  layout.programFolder = L"\u56FA\u4EF6\u66F4\u65B0";  // 固件更新
  Launch(layout);
  const MessageBoxSeen success = WithIcon("Auto Command Succeeded !!");
  program().Click(IDC_UPDATE);
  // The run holds its guard until the user has read the outcome; "Read Protect" is never guarded.
  EXPECT_EQ(drive::WaitForMessageBox(program().processId(), 30000), success);
  EXPECT_TRUE(OperationButtonsEnabled(false));
  EXPECT_TRUE(IsWindowEnabled(Control(IDC_READ_PROTECT)));
  EXPECT_EQ(ProgressPos(), 2048);
  ExpectMessages({success});

  EXPECT_EQ(ProgressPos(), 2048);
  EXPECT_EQ(drive::Text(Control(IDC_IMAGE_PATH)), "C://Program BinFile//b167h.bin");
  EXPECT_FALSE(std::filesystem::exists(kStagingFolder));
  EXPECT_TRUE(Flash() == FirmwareImage()) << "the device does not hold the embedded image";
  // The program's own log of its transfers, as hnx-update --log writes it.
  EXPECT_EQ(ReadFileBytes(InFolder("transfers.log")), Trace());
}

}  // namespace
}  // namespace hnx::e2e
