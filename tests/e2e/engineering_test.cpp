// The hidden engineering controls: Open File, Write, Verify, Read to a dump file and Mass Erase, and
// the system's file dialogs that they open.
#include <windows.h>

#include <commctrl.h>

#include <fstream>

#include "program_test.h"
#include "res/resource.h"

namespace hnx::e2e {
namespace {

using drive::Text;

constexpr DWORD kDialogTimeoutMs = 20000;
// The file-name field: a ComboBoxEx32 in the Explorer-style dialogs, an edit in the others.
constexpr int kExplorerNameId = 0x47C;
constexpr int kPlainNameId = 0x480;
constexpr int kFileTypesId = 0x470;

const std::vector<std::string> kImageTypes = {"Binary Files (*.bin)", "All Files (*.*)"};
const std::vector<std::string> kDumpTypes = {"Dump Files (*.dmp)", "All Files (*.*)"};

bool IsFileDialog(HWND window) {
  return drive::ClassName(window) == "#32770" &&
         (GetDlgItem(window, kExplorerNameId) != nullptr || GetDlgItem(window, kPlainNameId) != nullptr);
}

class Engineering : public ProgramTest {
 protected:
  // Sends a hidden button's command and waits for the file dialog it opens, modal to the main dialog
  // and listing `fileTypes`; nullptr when none appeared.
  HWND OpenFileDialog(int button, const std::vector<std::string>& fileTypes) {
    program().Command(button);
    const HWND dialog = drive::WaitForWindow(program().processId(), IsFileDialog, kDialogTimeoutMs);
    EXPECT_NE(dialog, nullptr) << "no file dialog appeared";
    EXPECT_EQ(GetWindow(dialog, GW_OWNER), program().dialog());
    EXPECT_FALSE(IsWindowEnabled(program().dialog())) << "the main dialog stays usable under the file dialog";
    EXPECT_EQ(ListEntries(GetDlgItem(dialog, kFileTypesId)), fileTypes);
    return dialog;
  }
  // Types `path` as the file name and confirms, as OK does.
  void AcceptFileDialog(HWND dialog, const std::string& path) {
    HWND field = GetDlgItem(dialog, kExplorerNameId);
    // The text lives in the edit inside the combo box inside the ComboBoxEx32.
    for (HWND inner = field; inner != nullptr; inner = GetWindow(inner, GW_CHILD)) field = inner;
    if (field == nullptr) field = GetDlgItem(dialog, kPlainNameId);
    SendMessageA(field, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()));
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  }
};

// Cancelled dialogs first, before any command has loaded the library; then a whole round trip.
TEST_F(Engineering, CancelledDialogsOpenNoFileThenOpenWriteVerifyReadAndEraseRoundTrip) {
  Launch();
  SendMessageA(Control(IDC_IMAGE_PATH), WM_SETTEXT, 0, reinterpret_cast<LPARAM>("C:\\previous.bin"));

  PostMessageA(OpenFileDialog(IDC_OPEN_FILE, kImageTypes), WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
  ExpectMessages({Plain("Open file error !!")});
  EXPECT_EQ(Text(Control(IDC_IMAGE_PATH)), "");

  PostMessageA(OpenFileDialog(IDC_READ, kDumpTypes), WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
  ExpectMessages({Plain("Open file error !!")});
  EXPECT_EQ(Trace(), std::nullopt) << "the library was loaded for a cancelled read";

  // An image unlike the embedded one: byte i is (i * 7 + 3) mod 256, 64 KiB, whose bytes sum to 0x7F8000.
  std::string image(0x10000, '\0');
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<char>(i * 7 + 3);
  const std::string imagePath = InFolder("image.bin");
  std::ofstream(imagePath, std::ios::binary) << image;

  const HWND open = OpenFileDialog(IDC_OPEN_FILE, kImageTypes);
  ASSERT_NE(open, nullptr);
  AcceptFileDialog(open, imagePath);
  ASSERT_TRUE(drive::WaitUntil([&] { return Text(Control(IDC_IMAGE_PATH)) == imagePath; }, kDialogTimeoutMs));
  EXPECT_EQ(Text(Control(IDC_CHECKSUM)), "8000H");
  ExpectMessages({});

  program().Command(IDC_WRITE);
  ExpectMessages({WithIcon("Write Command Succeeded !")});
  EXPECT_TRUE(Flash() == image) << "the device does not hold the written image";

  program().Command(IDC_VERIFY);
  ExpectMessages({WithIcon("Verify Command Succeeded !!")});

  // A name typed without an extension gets the dump files' one.
  const HWND save = OpenFileDialog(IDC_READ, kDumpTypes);
  ASSERT_NE(save, nullptr);
  AcceptFileDialog(save, InFolder("flash"));
  ExpectMessages({WithIcon("Read Command Succeeded !!"), WithIcon("Download Completed !")});
  EXPECT_TRUE(ReadFileBytes(InFolder("flash.dmp")) == image) << "the dump differs from the image";
  EXPECT_FALSE(std::filesystem::exists(InFolder("flash")));

  program().Command(IDC_MASS_ERASE);
  ExpectMessages({WithIcon("Mass Erase Command Succeeded !")});
  EXPECT_TRUE(Flash() == std::string(0x10000, '\xFF')) << "the flash is not blank";
  EXPECT_EQ(SendMessageA(Control(IDC_PROGRESS), PBM_GETPOS, 0, 0), 0);
}

}  // namespace
}  // namespace hnx::e2e
