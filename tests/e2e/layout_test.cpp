// The window as it opens: the shipped layout of the template's two layouts.
#include <windows.h>

#include <commctrl.h>

#include "program_test.h"
#include "res/resource.h"
#include "windows_probe.h"

namespace hnx::e2e {
namespace {

class ShippedLayout : public ProgramTest {};

TEST_F(ShippedLayout, OpensAsTheSmallWindowWithAnEmptyProgressBarAndUpdateOnly) {
  Launch();
  const HWND dialog = program().dialog();
  EXPECT_EQ(OuterRect(dialog).width, 530);
  EXPECT_EQ(OuterRect(dialog).height, 180);
  EXPECT_EQ(Text(dialog), "HNX470 Update Tool V1.0.6");
  EXPECT_EQ(GetWindowLongA(dialog, GWL_EXSTYLE) & WS_EX_APPWINDOW, WS_EX_APPWINDOW);

  EXPECT_EQ(ClientPlace(Control(IDC_PROGRESS)), (Rect{30, 50, 350, 30}));
  EXPECT_EQ(ClientPlace(Control(IDC_UPDATE)), (Rect{400, 50, 80, 30}));
  EXPECT_EQ(Text(Control(IDC_UPDATE)), "Update");
  EXPECT_EQ(FocusOf(dialog), Control(IDC_UPDATE));

  std::vector<HWND> visible;
  for (HWND child : Children(dialog)) {
    if (IsWindowVisible(child)) visible.push_back(child);
    EXPECT_TRUE(IsWindowEnabled(child)) << "control " << GetDlgCtrlID(child) << " disabled";
  }
  EXPECT_EQ(visible, (std::vector<HWND>{Control(IDC_UPDATE), Control(IDC_PROGRESS)}));
  EXPECT_EQ(Children(dialog).size(), 19u);

  const HWND progress = Control(IDC_PROGRESS);
  EXPECT_EQ(SendMessageA(progress, PBM_GETRANGE, TRUE, 0), 0);
  EXPECT_EQ(SendMessageA(progress, PBM_GETRANGE, FALSE, 0), 2048);
  EXPECT_EQ(SendMessageA(progress, PBM_GETPOS, 0, 0), 0);

  // The chip type comes from the dialog data; the checksum and the image path start empty.
  const HWND combo = Control(IDC_CHIP_TYPE);
  EXPECT_EQ(Text(combo), "ZB29K702");
  EXPECT_EQ(Text(Control(IDC_CHECKSUM)), "");
  EXPECT_EQ(Text(Control(IDC_IMAGE_PATH)), "");
  ASSERT_EQ(SendMessageA(combo, CB_GETCOUNT, 0, 0), 1);
  EXPECT_EQ(ListEntry(combo, 0), "ZB29K702");
}

}  // namespace
}  // namespace hnx::e2e
