// The hidden engineering controls: Open File, Write, Verify, Read to a dump file and Mass Erase.
#include <windows.h>

#include <commctrl.h>

#include "file_dialog.h"
#include "paths.h"
#include "program_test.h"
#include "res/resource.h"
#include "windows_probe.h"

namespace hnx::e2e {
namespace {

constexpr DWORD kDialogTimeoutMs = 20000;

class Engineering : public ProgramTest {
 protected:
  // An image unlike the embedded one: byte i is (i * 7 + 3) mod 256, 64 KiB.
  std::string MakeImageFile() {
    std::string image(0x10000, '\0');
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<char>(i * 7 + 3);
    WriteFileBytes(JoinPath(program().folder(), "image.bin"), image);
    return image;
  }

  FileDialogSeen OpenFileDialog(int button) {
    program().Command(button);
    const FileDialogSeen dialog = WaitForFileDialog(program().processId(), kDialogTimeoutMs);
    EXPECT_NE(dialog.window, nullptr) << "no file dialog appeared";
    EXPECT_EQ(dialog.owner, program().dialog());
    EXPECT_FALSE(IsWindowEnabled(program().dialog())) << "the main dialog stays usable under the file dialog";
    return dialog;
  }
};

TEST_F(Engineering, OpenWriteVerifyReadAndEraseRoundTrip) {
  Launch();
  const std::string image = MakeImageFile();
  const std::string imagePath = JoinPath(program().folder(), "image.bin");

  const FileDialogSeen open = OpenFileDialog(IDC_OPEN_FILE);
  ASSERT_NE(open.window, nullptr);
  EXPECT_EQ(open.fileTypes, (std::vector<std::string>{"Binary Files (*.bin)", "All Files (*.*)"}));
  AcceptFileDialog(open, imagePath);
  ASSERT_TRUE(WaitUntil([&] { return Text(Control(IDC_IMAGE_PATH)) == imagePath; }, kDialogTimeoutMs));
  EXPECT_EQ(Text(Control(IDC_CHECKSUM)), ChecksumText(image));
  ExpectNoFurtherMessage();

  program().Command(IDC_WRITE);
  ExpectMessages({WithIcon("Write Command Succeeded !")});
  ExpectNoFurtherMessage();
  EXPECT_TRUE(program().Flash() == image) << "the device does not hold the written image";

  program().Command(IDC_VERIFY);
  ExpectMessages({WithIcon("Verify Command Succeeded !!")});
  ExpectNoFurtherMessage();

  // A name typed without an extension gets the dump files' one.
  const FileDialogSeen save = OpenFileDialog(IDC_READ);
  ASSERT_NE(save.window, nullptr);
  EXPECT_EQ(save.fileTypes, (std::vector<std::string>{"Dump Files (*.dmp)", "All Files (*.*)"}));
  AcceptFileDialog(save, JoinPath(program().folder(), "flash"));
  ExpectMessages({WithIcon("Read Command Succeeded !!"), WithIcon("Download Completed !")});
  ExpectNoFurtherMessage();
  EXPECT_TRUE(ReadFileBytes(JoinPath(program().folder(), "flash.dmp")) == image)
      << "the dump differs from the image";
  EXPECT_FALSE(FileExists(JoinPath(program().folder(), "flash")));

  program().Command(IDC_MASS_ERASE);
  ExpectMessages({WithIcon("Mass Erase Command Succeeded !")});
  ExpectNoFurtherMessage();
  EXPECT_TRUE(program().Flash() == std::string(0x10000, '\xFF')) << "the flash is not blank";
  EXPECT_EQ(SendMessageA(Control(IDC_PROGRESS), PBM_GETPOS, 0, 0), 0);
}

TEST_F(Engineering, CancelledFileDialogsReportThatNoFileCouldBeOpened) {
  Launch();
  SendMessageA(Control(IDC_IMAGE_PATH), WM_SETTEXT, 0, reinterpret_cast<LPARAM>("C:\\previous.bin"));

  CancelFileDialog(OpenFileDialog(IDC_OPEN_FILE));
  ExpectMessages({Plain("Open file error !!")});
  ExpectNoFurtherMessage();
  EXPECT_EQ(Text(Control(IDC_IMAGE_PATH)), "");

  CancelFileDialog(OpenFileDialog(IDC_READ));
  ExpectMessages({Plain("Open file error !!")});
  ExpectNoFurtherMessage();
  EXPECT_EQ(program().Trace(), "") << "the library was bound for a cancelled read";
}

}  // namespace
}  // namespace hnx::e2e
