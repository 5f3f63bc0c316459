#include "program_test.h"

#include <cstdint>
#include <cstdio>

#include "paths.h"
#include "res/resource.h"
#include "windows_probe.h"

namespace hnx::e2e {
namespace {

constexpr int kOperationButtons[] = {IDC_RECONNECT, IDC_UPDATE, IDC_OPEN_FILE, IDC_MASS_ERASE,
                                     IDC_WRITE,     IDC_VERIFY, IDC_READ,      IDC_EXIT_ISP};
// How long a message that should not come is given to appear.
constexpr DWORD kQuietMs = 500;

}  // namespace

void ProgramTest::TearDown() {
  session_.reset();
  RemoveTree(kStagingFolder);
}

void ProgramTest::Launch(const Layout& layout) {
  session_.reset();
  RemoveTree(kStagingFolder);
  session_ = std::make_unique<ProgramSession>(::testing::UnitTest::GetInstance()->current_test_info()->name());
  ASSERT_TRUE(session_->Start(layout)) << "no dialog appeared";
}

MessageBoxSeen ProgramTest::NextMessage(DWORD timeoutMs) {
  const auto seen = DismissMessageBox(session_->processId(), timeoutMs);
  EXPECT_TRUE(seen.has_value()) << "no message box appeared";
  return seen.value_or(MessageBoxSeen{"(none)", "", false});
}

void ProgramTest::ExpectMessages(const std::vector<MessageBoxSeen>& expected, DWORD timeoutMs) {
  for (const MessageBoxSeen& box : expected) {
    const MessageBoxSeen seen = NextMessage(timeoutMs);
    ASSERT_EQ(seen, box);
    EXPECT_EQ(seen.owner, session_->dialog()) << "a message box owned by another window";
  }
}

void ProgramTest::ExpectNoFurtherMessage() {
  ASSERT_TRUE(WaitUntil(
      [this] { return OperationButtonsEnabled(true) && IsWindowEnabled(session_->dialog()); }, 20000));
  const auto extra = WaitForMessageBox(session_->processId(), kQuietMs);
  EXPECT_FALSE(extra.has_value()) << "unexpected message " << *extra;
  if (extra) DismissMessageBox(session_->processId(), kQuietMs);
}

bool ProgramTest::OperationButtonsEnabled(bool enabled) {
  for (int id : kOperationButtons) {
    if ((IsWindowEnabled(Control(id)) != FALSE) != enabled) return false;
  }
  return true;
}

void ProgramTest::LeaveStagingInPlace() {
  SendMessageA(Control(IDC_CHIP_TYPE), WM_SETTEXT, 0, reinterpret_cast<LPARAM>("ZB9999"));
  session_->Click(IDC_UPDATE);
  ExpectMessages({WithIcon("IC Type Error!!")});
  ASSERT_TRUE(DirectoryExists(kStagingFolder));
  ASSERT_EQ(ReadFileBytes(kStagingFile), FirmwareImage());
}

MessageBoxSeen WithIcon(const std::string& text) {
  return {text, kCaption, true};
}
MessageBoxSeen Plain(const std::string& text) {
  return {text, kCaption, false};
}

std::string FirmwareImage() {
  return ReadFileBytes(Outputs().firmwareImage);
}

std::string ChecksumText(const std::string& bytes) {
  std::uint16_t sum = 0;
  for (unsigned char byte : bytes) sum = static_cast<std::uint16_t>(sum + byte);
  char text[8];
  std::snprintf(text, sizeof(text), "%.4X", sum);
  return std::string(text) + "H";
}

}  // namespace hnx::e2e
