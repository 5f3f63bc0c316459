// The one-click update through the "Update" button.
#include <windows.h>

#include <commctrl.h>

#include <cstdio>
#include <sstream>
#include <vector>

#include "paths.h"
#include "program_test.h"
#include "res/resource.h"
#include "windows_probe.h"

namespace hnx::e2e {
namespace {

class Update : public ProgramTest {};

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

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
  program().Click(IDC_UPDATE);

  HWND box = nullptr;
  const auto seen = WaitForMessageBox(program().processId(), 30000, &box);
  ASSERT_TRUE(seen.has_value());
  EXPECT_EQ(*seen, WithIcon("Auto Command Succeeded !!"));
  // The run holds its guard until the user has read the outcome; "Read Protect" is never guarded.
  EXPECT_TRUE(OperationButtonsEnabled(false));
  EXPECT_TRUE(IsWindowEnabled(Control(IDC_READ_PROTECT)));
  EXPECT_EQ(SendMessageA(Control(IDC_PROGRESS), PBM_GETPOS, 0, 0), 2048);
  DismissMessageBox(program().processId(), 5000);
  ExpectNoFurtherMessage();

  EXPECT_EQ(SendMessageA(Control(IDC_PROGRESS), PBM_GETPOS, 0, 0), 2048);
  EXPECT_EQ(Text(Control(IDC_CHECKSUM)), ChecksumText(FirmwareImage()));
  EXPECT_EQ(Text(Control(IDC_IMAGE_PATH)), "C://Program BinFile//b167h.bin");
  EXPECT_FALSE(DirectoryExists(kStagingFolder));
  EXPECT_TRUE(program().Flash() == FirmwareImage()) << "the device does not hold the embedded image";
  EXPECT_EQ(Lines(program().Trace()), CleanUpdateTrace());
}

TEST_F(Update, GivesUpAfterThirtyOneAttemptsWhenNoDeviceAnswers) {
  ::hnx::e2e::Layout layout = ProgramSession::SimulatorLayout();
  layout.environment["HNX_SIM_FAULTS"] = "open-fail=always";
  Launch(layout);
  program().Click(IDC_UPDATE);

  HWND box = nullptr;
  const auto seen = WaitForMessageBox(program().processId(), 60000, &box);
  ASSERT_TRUE(seen.has_value());
  EXPECT_EQ(*seen, (MessageBoxSeen{"Time Out !! Please check device and try again.", "", true}));
  EXPECT_TRUE(OperationButtonsEnabled(false));
  DismissMessageBox(program().processId(), 5000);
  ExpectNoFurtherMessage();

  EXPECT_EQ(Lines(program().Trace()), std::vector<std::string>(31, "open 0"));
  EXPECT_FALSE(DirectoryExists(kStagingFolder));
  EXPECT_EQ(SendMessageA(Control(IDC_PROGRESS), PBM_GETPOS, 0, 0), 0);
}

}  // namespace
}  // namespace hnx::e2e
