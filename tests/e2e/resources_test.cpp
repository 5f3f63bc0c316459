// The resources compiled into the program: template 102 and its data, icon, logo, manifest, version
// and the embedded image.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <cstring>

#include "paths.h"
#include "program_session.h"
#include "res/resource.h"
#include "resource_reader.h"

namespace hnx::e2e {
namespace {

constexpr std::uint16_t kButton = 0x80, kEdit = 0x81, kStatic = 0x82, kComboBox = 0x85;
constexpr DWORD kChild = WS_CHILD, kShown = WS_CHILD | WS_VISIBLE;
constexpr DWORD kHiddenButton = kChild | WS_TABSTOP | BS_PUSHBUTTON;
constexpr DWORD kHiddenLabel = kChild | WS_GROUP | SS_LEFT;

TemplateItem Item(std::uint16_t atom, DWORD style, int id, std::u16string caption, int x, int y, int w,
                  int h) {
  TemplateItem item;
  item.classAtom = atom;
  item.style = style;
  item.id = id;
  item.caption = std::move(caption);
  item.x = static_cast<std::int16_t>(x);
  item.y = static_cast<std::int16_t>(y);
  item.width = static_cast<std::int16_t>(w);
  item.height = static_cast<std::int16_t>(h);
  return item;
}

std::vector<TemplateItem> ExpectedItems() {
  TemplateItem logo = Item(kStatic, kChild | SS_BITMAP, IDC_LOGO, u"", 541, 475, 67, 22);
  logo.captionAtom = IDB_LOGO;
  TemplateItem progress = Item(0, kShown | WS_BORDER | PBS_SMOOTH, IDC_PROGRESS, u"", 13, 24, 168, 16);
  progress.className = u"MSCTLS_PROGRESS32";
  return {
      Item(kComboBox, kChild | CBS_DROPDOWN | CBS_SORT | WS_VSCROLL | WS_TABSTOP, IDC_CHIP_TYPE, u"", 572,
           358, 128, 72),
      Item(kButton, kHiddenButton, IDC_OPEN_FILE, u"Open File", 541, 415, 50, 14),
      Item(kButton, kShown | WS_TABSTOP | BS_PUSHBUTTON, IDC_UPDATE, u"Update", 190, 24, 33, 16),
      Item(kButton, kHiddenButton, IDC_RECONNECT, u"Re-connect", 653, 415, 50, 14),
      Item(kButton, kHiddenButton, IDC_MASS_ERASE, u"Mass Erase", 709, 415, 50, 14),
      Item(kButton, kHiddenButton, IDC_WRITE, u"Write", 541, 435, 50, 14),
      Item(kButton, kHiddenButton, IDC_VERIFY, u"Verify", 597, 435, 50, 14),
      Item(kButton, kHiddenButton, IDC_READ, u"Read", 653, 435, 50, 14),
      Item(kButton, kChild | BS_PUSHBUTTON, IDC_READ_PROTECT, u"Read Protect", 709, 456, 50, 14),
      Item(kButton, kHiddenButton, IDC_EXIT_ISP, u"Exit ISP", 709, 435, 50, 14),
      logo,
      Item(kStatic, kHiddenLabel, -1, u"Keep the device plugged in while it updates.", 620, 477, 118, 8),
      Item(kStatic, kHiddenLabel, -1, u"HNX470 ISP service", 620, 487, 64, 8),
      Item(kStatic, kHiddenLabel, -1, u"CheckSum :", 532, 400, 39, 8),
      Item(kStatic, kHiddenLabel, IDC_CHECKSUM, u"0000H", 574, 401, 37, 8),
      Item(kStatic, kHiddenLabel, -1, u"Select IC: ", 532, 360, 33, 8),
      Item(kStatic, kHiddenLabel, -1, u"Binary File:", 532, 375, 38, 8),
      Item(kEdit, kChild | ES_MULTILINE | ES_AUTOVSCROLL | ES_READONLY, IDC_IMAGE_PATH, u"", 572, 374, 192,
           24),
      progress,
  };
}

std::string Hex(const std::string& bytes) {
  std::string text;
  char digits[4];
  for (unsigned char byte : bytes) {
    std::snprintf(digits, sizeof(digits), "%02X ", byte);
    text += digits;
  }
  return text;
}

class CompiledResources : public ::testing::Test {
 protected:
  ProgramResources resources{Outputs().program};
};

TEST_F(CompiledResources, DialogTemplateHasTheStyleTitleAndFont) {
  ASSERT_TRUE(resources.loaded());
  DialogTemplateEx dialog;
  ASSERT_TRUE(
      ParseDialogTemplateEx(resources.Bytes(RT_DIALOG, MAKEINTRESOURCEA(IDD_DOWNLOAD_DIALOG)), dialog));
  EXPECT_EQ(dialog.style,
            DWORD(WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT));
  EXPECT_EQ(dialog.exStyle, DWORD(WS_EX_APPWINDOW));
  EXPECT_EQ(dialog.title, u"HNX470 Update Tool V1.0.6");
  EXPECT_EQ((std::vector<int>{dialog.x, dialog.y, dialog.width, dialog.height}),
            (std::vector<int>{0, 0, 833, 598}));
  EXPECT_EQ(dialog.menu, u"");
  EXPECT_EQ(dialog.className, u"");
  EXPECT_EQ(dialog.pointSize, 9);
  EXPECT_EQ(dialog.weight, 0);
  EXPECT_EQ(dialog.italic, 0);
  EXPECT_EQ(dialog.charset, 0);
  // The font's name arrives as UTF-16 text, not as the bytes of the script's encoding.
  EXPECT_EQ(dialog.typeface, u"\u65B0\u7D30\u660E\u9AD4");
}

TEST_F(CompiledResources, DialogTemplateHoldsTheNineteenControlsInOrder) {
  DialogTemplateEx dialog;
  ASSERT_TRUE(
      ParseDialogTemplateEx(resources.Bytes(RT_DIALOG, MAKEINTRESOURCEA(IDD_DOWNLOAD_DIALOG)), dialog));
  const std::vector<TemplateItem> expected = ExpectedItems();
  ASSERT_EQ(dialog.items.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(dialog.items[i], expected[i]) << "control " << i + 1 << " (id " << expected[i].id << ")";
  }
}

TEST_F(CompiledResources, DialogDataAddsTheChipTypeAndTheLayoutRecordIsEmpty) {
  const std::string init = resources.Bytes(MAKEINTRESOURCEA(240), MAKEINTRESOURCEA(IDD_DOWNLOAD_DIALOG));
  EXPECT_EQ(Hex(init), "F1 03 03 04 09 00 00 00 5A 42 32 39 4B 37 30 32 00 00 00 ");
  const std::string layout = resources.Bytes("AFX_DIALOG_LAYOUT", MAKEINTRESOURCEA(IDD_DOWNLOAD_DIALOG));
  EXPECT_EQ(Hex(layout), "00 00 ");
}

TEST_F(CompiledResources, IconIsOne32By32SixteenColourImage) {
  const std::string group = resources.Bytes(RT_GROUP_ICON, MAKEINTRESOURCEA(IDI_APP_ICON));
  ASSERT_EQ(group.size(), 6u + 14u);
  // Reserved 0, type 1 (icon), one image: 32 x 32, 16 colours, 1 plane, 4 bits.
  EXPECT_EQ(Hex(group.substr(0, 12)), "00 00 01 00 01 00 20 20 10 00 01 00 ");
  EXPECT_EQ(Hex(group.substr(12, 2)), "04 00 ");
  std::uint16_t imageId = 0;
  std::memcpy(&imageId, group.data() + 18, sizeof(imageId));
  const std::string image = resources.Bytes(RT_ICON, MAKEINTRESOURCEA(imageId));
  BITMAPINFOHEADER header = {};
  ASSERT_GE(image.size(), sizeof(header));
  std::memcpy(&header, image.data(), sizeof(header));
  EXPECT_EQ((std::vector<long>{header.biWidth, header.biHeight, header.biBitCount}),
            (std::vector<long>{32, 64, 4}));
  EXPECT_EQ(image, ReadFileBytes(JoinPath(Outputs().sourceRoot, "res\\app_icon.ico")).substr(22));
}

TEST_F(CompiledResources, LogoIsA101By33SixteenColourBitmap) {
  const std::string logo = resources.Bytes(RT_BITMAP, MAKEINTRESOURCEA(IDB_LOGO));
  BITMAPINFOHEADER header = {};
  ASSERT_GE(logo.size(), sizeof(header));
  std::memcpy(&header, logo.data(), sizeof(header));
  EXPECT_EQ((std::vector<long>{header.biWidth, header.biHeight, header.biBitCount}),
            (std::vector<long>{101, 33, 4}));
}

TEST_F(CompiledResources, ManifestAsksForTheInvokersLevelAndDpiAwarenessOnly) {
  const std::string manifest = resources.Bytes(RT_MANIFEST, MAKEINTRESOURCEA(1));
  EXPECT_EQ(manifest, ReadFileBytes(JoinPath(Outputs().sourceRoot, "res\\app.manifest")));
  EXPECT_NE(manifest.find("<requestedExecutionLevel level=\"asInvoker\" uiAccess=\"false\"/>"),
            std::string::npos);
  EXPECT_NE(manifest.find(">true</dpiAware>"), std::string::npos);
  EXPECT_EQ(manifest.find("dependency"), std::string::npos);
}

TEST_F(CompiledResources, VersionIs1000InChineseTaiwanWithUnicode) {
  const std::string& program = Outputs().program;
  std::string info(GetFileVersionInfoSizeA(program.c_str(), nullptr), '\0');
  ASSERT_FALSE(info.empty());
  ASSERT_TRUE(GetFileVersionInfoA(program.c_str(), 0, static_cast<DWORD>(info.size()), info.data()));
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ((std::vector<DWORD>{fixed->dwFileVersionMS, fixed->dwFileVersionLS, fixed->dwProductVersionMS,
                                fixed->dwProductVersionLS}),
            (std::vector<DWORD>{0x10000, 0, 0x10000, 0}));
  WORD* translation = nullptr;
  ASSERT_TRUE(VerQueryValueA(info.data(), "\\VarFileInfo\\Translation",
                             reinterpret_cast<void**>(&translation), &length));
  ASSERT_EQ(length, 4u);
  EXPECT_EQ(translation[0], 0x0404);
  EXPECT_EQ(translation[1], 1200);
  char* product = nullptr;
  ASSERT_TRUE(VerQueryValueA(info.data(), "\\StringFileInfo\\040404b0\\ProductName",
                             reinterpret_cast<void**>(&product), &length));
  EXPECT_STREQ(product, "HNX470 Update Tool");
}

TEST_F(CompiledResources, EmbeddedImageIsTheFirmwareFile) {
  const std::string image = resources.Bytes("bin", MAKEINTRESOURCEA(IDR_FIRMWARE_IMAGE));
  EXPECT_EQ(image.size(), 65536u);
  EXPECT_TRUE(image == ReadFileBytes(Outputs().firmwareImage)) << "the embedded image differs from the file";
}

}  // namespace
}  // namespace hnx::e2e
