#include "program_test.h"

#include <fstream>
#include <iostream>
#include <iterator>

#include "res/resource.h"

namespace hnx::e2e {
namespace {

namespace fs = std::filesystem;

constexpr int kOperationButtons[] = {IDC_RECONNECT, IDC_UPDATE, IDC_OPEN_FILE, IDC_MASS_ERASE,
                                     IDC_WRITE,     IDC_VERIFY, IDC_READ,      IDC_EXIT_ISP};
constexpr std::size_t kStateHeaderSize = 14;  // "HSIM", version, flash size, block length, protection
// How long a message that should not come is given to appear.
constexpr DWORD kQuietMs = 500;

}  // namespace

void ProgramTest::EndRun() {
  program_.reset();
  std::error_code ignored;
  if (!folder_.empty()) fs::remove_all(folder_, ignored);
  fs::remove_all(kStagingFolder, ignored);
}

void ProgramTest::Launch(const Layout& layout) {
  EndRun();
  static int runs = 0;
  const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
  folder_ = fs::temp_directory_path() /
            ("hnx-" + name + "-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++runs));
  const fs::path programFolder = folder_ / layout.programFolder;
  fs::create_directories(programFolder);
  fs::create_directories(folder_ / "work");
  fs::copy_file(Outputs().program, programFolder / "ZB4450_download.exe");
  if (!layout.besideProgram.empty()) fs::copy_file(layout.besideProgram, programFolder / "ZB_USB.DLL");
  if (!layout.inWorkingFolder.empty()) fs::copy_file(layout.inWorkingFolder, folder_ / "work" / "ZB_USB.DLL");
  SetEnvironmentVariableA("HNX_SIM_STATE", InFolder("device.state").c_str());
  SetEnvironmentVariableA("HNX_SIM_TRACE", InFolder("device.trace").c_str());
  SetEnvironmentVariableA("HNX_TRACE", InFolder("transfers.log").c_str());
  program_ = std::make_unique<drive::Program>(programFolder / "ZB4450_download.exe", folder_ / "work");
  ASSERT_NE(program_->dialog(), nullptr) << "no dialog appeared";
}

std::string ProgramTest::Flash() const {
  const std::string state = ReadFileBytes(InFolder("device.state"));
  return state.size() < kStateHeaderSize ? std::string() : state.substr(kStateHeaderSize);
}

std::optional<std::string> ProgramTest::Trace() const {
  if (!fs::exists(InFolder("device.trace"))) return std::nullopt;
  return ReadFileBytes(InFolder("device.trace"));
}

void ProgramTest::ExpectMessages(const std::vector<MessageBoxSeen>& expected) {
  for (const MessageBoxSeen& box : expected) {
    const auto seen = drive::DismissMessageBox(program_->processId(), 40000);
    ASSERT_TRUE(seen.has_value()) << "no message box appeared; expected " << box;
    ASSERT_EQ(*seen, box);
    EXPECT_EQ(seen->owner, program_->dialog()) << "a message box owned by another window";
  }
  ASSERT_TRUE(drive::WaitUntil(
      [this] { return OperationButtonsEnabled(true) && IsWindowEnabled(program_->dialog()); }, 20000));
  const auto extra = drive::WaitForMessageBox(program_->processId(), kQuietMs);
  EXPECT_FALSE(extra.has_value()) << "unexpected message " << *extra;
  if (extra) drive::DismissMessageBox(program_->processId(), kQuietMs);
}

bool ProgramTest::OperationButtonsEnabled(bool enabled) {
  for (int id : kOperationButtons) {
    if ((IsWindowEnabled(Control(id)) != FALSE) != enabled) return false;
  }
  return true;
}

void ProgramTest::LeaveStagingInPlace() {
  SendMessageA(Control(IDC_CHIP_TYPE), WM_SETTEXT, 0, reinterpret_cast<LPARAM>("ZB9999"));
  program_->Click(IDC_UPDATE);
  ExpectMessages({WithIcon("IC Type Error!!")});
  ASSERT_EQ(ReadFileBytes(kStagingFile), FirmwareImage());
}

MessageBoxSeen WithIcon(const std::string& text) {
  return {text, kCaption, true};
}
MessageBoxSeen Plain(const std::string& text) {
  return {text, kCaption, false};
}

std::string ReadFileBytes(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

std::string FirmwareImage() {
  return ReadFileBytes(Outputs().firmwareImage);
}

std::vector<std::string> ListEntries(HWND comboBox) {
  std::vector<std::string> entries;
  const LRESULT count = SendMessageW(comboBox, CB_GETCOUNT, 0, 0);
  for (int i = 0; i < count; ++i) {
    // The list answers another process in UTF-16 whichever form is asked for, so ask for that.
    std::wstring wide(static_cast<std::size_t>(SendMessageW(comboBox, CB_GETLBTEXTLEN, i, 0)) + 1, L'\0');
    wide.resize(static_cast<std::size_t>(
        SendMessageW(comboBox, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(wide.data()))));
    entries.emplace_back(wide.begin(), wide.end());
  }
  return entries;
}

}  // namespace hnx::e2e

// The end-to-end driver: runs the real program under Wine and drives it as a user would.
//   e2e_driver [gtest flags] PROGRAM SIMULATOR MISSING_READ_LIBRARY FIRMWARE_IMAGE SOURCE_ROOT
int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (argc != 6) {
    std::cerr << "usage: e2e_driver [gtest flags] PROGRAM SIMULATOR MISSING_READ_LIBRARY FIRMWARE_IMAGE "
                 "SOURCE_ROOT\n";
    return 2;
  }
  using hnx::drive::WindowsPath;
  hnx::e2e::Outputs() = {WindowsPath(argv[1]), WindowsPath(argv[2]), WindowsPath(argv[3]),
                         WindowsPath(argv[4]), WindowsPath(argv[5])};
  return RUN_ALL_TESTS();
}
