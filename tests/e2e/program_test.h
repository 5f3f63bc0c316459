// The fixture of the end-to-end tests: one run of the program, and the steps that the tests share.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "message_box.h"
#include "program_session.h"

namespace hnx::e2e {

inline constexpr const char* kCaption = "HNX470 Update Tool";
inline constexpr const char* kStagingFolder = "C:\\Program BinFile";
inline constexpr const char* kStagingFile = "C:\\Program BinFile\\b167h.bin";
inline constexpr int kCloseCommand = 8;

class ProgramTest : public ::testing::Test {
 protected:
  void TearDown() override;

  // Ends the previous run, if any, and starts the program in a folder of its own with no staging folder
  // left; the calling function stops when no dialog appears.
  void Launch(const Layout& layout = ProgramSession::SimulatorLayout());
  ProgramSession& program() { return *session_; }
  HWND Control(int id) { return session_->Control(id); }

  // Dismisses the next message box and gives what it showed.
  MessageBoxSeen NextMessage(DWORD timeoutMs = 20000);
  // Dismisses message boxes while they match `expected`, in order.
  void ExpectMessages(const std::vector<MessageBoxSeen>& expected, DWORD timeoutMs = 20000);
  // After an operation's last message: none follows once the operation buttons are enabled again.
  void ExpectNoFurtherMessage();
  // Whether the eight operation buttons are all enabled (true) or all disabled (false).
  bool OperationButtonsEnabled(bool enabled);

  // Sets the hidden chip-type text and clicks "Update": the staging writes the staging file and then
  // stops at the chip type, leaving the file and its folder in place.
  void LeaveStagingInPlace();

 private:
  std::unique_ptr<ProgramSession> session_;
};

MessageBoxSeen WithIcon(const std::string& text);
MessageBoxSeen Plain(const std::string& text);

std::string FirmwareImage();
// The checksum text of an image: the 16-bit sum of its bytes, four upper-case digits and "H".
std::string ChecksumText(const std::string& bytes);

}  // namespace hnx::e2e
