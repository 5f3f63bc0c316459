// The one-click update through the "Update" button.
#include <windows.h>

#include <commctrl.h>

#include <cstdio>
#include <sstream>

#include "program_test.h"
#include "res/resource.h"

namespace hnx::e2e {
namespace {

class Update : public ProgramTest {
 protected:
  LRESULT ProgressPos() { return SendMessageA(Control(IDC_PROGRESS), PBM_GETPOS, 0, 0); }
  // The outcome of a click on "Update", read while the run still holds its guard.
  std::optional<MessageBoxSeen> ClickUpdate(DWORD timeoutMs) {
    program().Click(IDC_UPDATE);
    const auto seen = drive::WaitForMessageBox(program().processId(), timeoutMs);
    EXPECT_TRUE(OperationButtonsEnabled(false));
    return seen;
  }
  std::vector<std::string> TraceLines() {
    std::vector<std::string> lines;
    std::istringstream in(Trace().value_or(""));
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
};

std::string Frame(const char* opcode, unsigned address, const char* trailer) {
  char text[64];
  std::snprintf(text, sizeof(text), "write 10 10 1 %s 00 00 %02X %02X %02X %02X 00 %s 00", opcode,
                address >> 24, (address >> 16) & 0xFF, (address >> 8) & 0xFF, address & 0xFF, trailer);
  return text;
}

// A clean run with 64-byte blocks: erase, 1,024 programmed blocks, 1,024 read blocks, finish, exit.
std::vector<std::string> CleanUpdateTrace() {
  std::vector<std::string> trace = {"open 1", Frame("25", 0, "FF"), "read 1 1 1 00"};
  for (unsigned address = 0; address < 0x10000; address += 64) {
    trace.insert(trace.end(), {Frame("28", address, "40"), "write 64 64 1", "read 1 1 1 00"});
  }
  for (unsigned address = 0; address < 0x10000; address += 64) {
    trace.insert(trace.end(), {Frame("2A", address, "40"), "read 64 64 1", "read 1 1 1 00"});
  }
  trace.insert(trace.end(), {Frame("2F", 0, "40"), Frame("20", 0, "40"), "close"});
  return trace;
}

TEST_F(Update, WritesTheEmbeddedImageAndReportsSuccess) {
  Launch();
  const MessageBoxSeen success = WithIcon("Auto Command Succeeded !!");
  EXPECT_EQ(ClickUpdate(30000), success);
  // The run holds its guard until the user has read the outcome; "Read Protect" is never guarded.
  EXPECT_TRUE(IsWindowEnabled(Control(IDC_READ_PROTECT)));
  EXPECT_EQ(ProgressPos(), 2048);
  ExpectMessages({success});
  ExpectNoFurtherMessage();

  EXPECT_EQ(ProgressPos(), 2048);
  EXPECT_EQ(drive::Text(Control(IDC_CHECKSUM)), ChecksumText(FirmwareImage()));
  EXPECT_EQ(drive::Text(Control(IDC_IMAGE_PATH)), "C://Program BinFile//b167h.bin");
  EXPECT_FALSE(std::filesystem::exists(kStagingFolder));
  EXPECT_TRUE(Flash() == FirmwareImage()) << "the device does not hold the embedded image";
  EXPECT_EQ(TraceLines(), CleanUpdateTrace());
  // The program's own log of its transfers, as hnx-update --log writes it.
  EXPECT_EQ(ReadFileBytes(InFolder("transfers.log")), Trace());
}

// The library is found and loaded by its UTF-16 path beside the program.
TEST_F(Update, WritesTheEmbeddedImageFromAFolderNamedOutsideTheCodePage) {
  Layout layout;
  layout.programFolder = L"\u56FA\u4EF6\u66F4\u65B0";  // 固件更新
  Launch(layout);
  const MessageBoxSeen success = WithIcon("Auto Command Succeeded !!");
  EXPECT_EQ(ClickUpdate(30000), success);
  ExpectMessages({success});
  EXPECT_TRUE(Flash() == FirmwareImage()) << "the device does not hold the embedded image";
}

TEST_F(Update, GivesUpAfterThirtyOneAttemptsWhenNoDeviceAnswers) {
  Launch({Outputs().simulator, "", "open-fail=always"});
  const MessageBoxSeen timeOut{"Time Out !! Please check device and try again.", "", true};
  EXPECT_EQ(ClickUpdate(60000), timeOut);
  ExpectMessages({timeOut});
  ExpectNoFurtherMessage();

  EXPECT_EQ(TraceLines(), std::vector<std::string>(31, "open 0"));
  EXPECT_FALSE(std::filesystem::exists(kStagingFolder));
  EXPECT_EQ(ProgressPos(), 0);
}

}  // namespace
}  // namespace hnx::e2e
