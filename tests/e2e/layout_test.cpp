// The window as it opens: the shipped layout of the template's two layouts; and what the build
// compiles into the program that no window shows.
#include <windows.h>

#include <commctrl.h>

#include "program_test.h"
#include "res/resource.h"

namespace hnx::e2e {
namespace {

using drive::Text;

// The window's place in its parent's client area: x, y, width, height.
std::vector<long> ClientPlace(HWND window) {
  RECT rect;
  GetWindowRect(window, &rect);
  POINT corner = {rect.left, rect.top};
  ScreenToClient(GetParent(window), &corner);
  return {corner.x, corner.y, rect.right - rect.left, rect.bottom - rect.top};
}

class ShippedLayout : public ProgramTest {};

TEST_F(ShippedLayout, OpensAsTheSmallWindowWithAnEmptyProgressBarAndUpdateOnly) {
  Launch();
  const HWND dialog = program().dialog();
  RECT outer;
  GetWindowRect(dialog, &outer);
  EXPECT_EQ(outer.right - outer.left, 530);
  EXPECT_EQ(outer.bottom - outer.top, 180);
  EXPECT_EQ(Text(dialog), "HNX470 Update Tool V1.0.6");
  EXPECT_EQ(GetWindowLongA(dialog, GWL_EXSTYLE) & WS_EX_APPWINDOW, WS_EX_APPWINDOW);

  EXPECT_EQ(ClientPlace(Control(IDC_PROGRESS)), (std::vector<long>{30, 50, 350, 30}));
  EXPECT_EQ(ClientPlace(Control(IDC_UPDATE)), (std::vector<long>{400, 50, 80, 30}));
  EXPECT_EQ(Text(Control(IDC_UPDATE)), "Update");
  GUITHREADINFO focus = {};
  focus.cbSize = sizeof(focus);
  ASSERT_TRUE(GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &focus));
  EXPECT_EQ(focus.hwndFocus, Control(IDC_UPDATE));

  std::vector<HWND> visible;
  int children = 0;
  for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
    ++children;
    if (IsWindowVisible(child)) visible.push_back(child);
    EXPECT_TRUE(IsWindowEnabled(child)) << "control " << GetDlgCtrlID(child) << " disabled";
  }
  EXPECT_EQ(visible, (std::vector<HWND>{Control(IDC_UPDATE), Control(IDC_PROGRESS)}));
  EXPECT_EQ(children, 19);

  const HWND progress = Control(IDC_PROGRESS);
  EXPECT_EQ(SendMessageA(progress, PBM_GETRANGE, TRUE, 0), 0);
  EXPECT_EQ(SendMessageA(progress, PBM_GETRANGE, FALSE, 0), 2048);
  EXPECT_EQ(SendMessageA(progress, PBM_GETPOS, 0, 0), 0);

  // The chip type comes from the dialog data; the checksum and the image path start empty.
  EXPECT_EQ(Text(Control(IDC_CHIP_TYPE)), "ZB29K702");
  EXPECT_EQ(ListEntries(Control(IDC_CHIP_TYPE)), std::vector<std::string>{"ZB29K702"});
  EXPECT_EQ(Text(Control(IDC_CHECKSUM)), "");
  EXPECT_EQ(Text(Control(IDC_IMAGE_PATH)), "");
}

// What no other process can read from the window: the dialog font's name, which the resource compiler
// stores as UTF-16 only when it reads the script as UTF-8, the window's icon and the manifest.
TEST(CompiledResources, HoldTheFontNameAsUtf16TheIconAndTheManifestFile) {
  const HMODULE program = LoadLibraryExA(Outputs().program.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(program, nullptr);
  const auto bytes = [program](LPCSTR type, int id) {
    const HRSRC found = FindResourceA(program, MAKEINTRESOURCEA(id), type);
    const HGLOBAL loaded = found == nullptr ? nullptr : LoadResource(program, found);
    if (loaded == nullptr) return std::string();
    return std::string(static_cast<const char*>(LockResource(loaded)), SizeofResource(program, found));
  };
  const std::string dialog = bytes(RT_DIALOG, IDD_DOWNLOAD_DIALOG);
  const std::u16string font = u"\u65B0\u7D30\u660E\u9AD4";  // 新細明體
  const std::string fontBytes(reinterpret_cast<const char*>(font.c_str()), (font.size() + 1) * 2);
  EXPECT_NE(dialog.find(fontBytes), std::string::npos) << "the dialog template lacks the font name in UTF-16";
  EXPECT_NE(bytes(RT_GROUP_ICON, IDI_APP_ICON), "") << "the program has no icon";
  EXPECT_EQ(bytes(RT_MANIFEST, 1), ReadFileBytes(Outputs().sourceRoot + "\\res\\app.manifest"));
  FreeLibrary(program);
}

}  // namespace
}  // namespace hnx::e2e
