// The fixture of the end-to-end tests: the program laid out in a folder of its own with a transfer
// library, started under the simulated device's settings, and the steps that the tests share.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "drive/drive.h"

namespace hnx::e2e {

using drive::MessageBoxSeen;

// What ctest hands the driver.
struct BuildOutputs {
  std::string program;         // ZB4450_download.exe
  std::string simulator;       // ZB_USB.DLL
  std::string missingLibrary;  // a ZB_USB library that lacks USB_BulkRead
  std::string firmwareImage;   // the image embedded in the program
  std::string sourceRoot;      // the checkout, for the resource files
};
// Set once, from the driver's arguments.
inline BuildOutputs& Outputs() {
  static BuildOutputs outputs;
  return outputs;
}

inline constexpr const char* kCaption = "HNX470 Update Tool";
inline constexpr const char* kStagingFolder = "C:\\Program BinFile";
inline constexpr const char* kStagingFile = "C:\\Program BinFile\\b167h.bin";
inline constexpr int kCloseCommand = 8;

// The library beside the program and the one in the working folder ("" for none), and the name of the
// program's folder.
struct Layout {
  std::string besideProgram = Outputs().simulator;
  std::string inWorkingFolder;
  std::wstring programFolder = L"program";
};

class ProgramTest : public ::testing::Test {
 protected:
  void TearDown() override { EndRun(); }

  // Ends the previous run, if any, and starts the program laid out in a new folder with no staging
  // folder left; the calling function stops when no dialog appears.
  void Launch(const Layout& layout = {});
  drive::Program& program() { return *program_; }
  HWND Control(int id) { return program_->Control(id); }
  std::string InFolder(const std::string& name) const { return (folder_ / name).string(); }
  // The simulated device's flash as its state file holds it; empty when there is no state.
  std::string Flash() const;
  // The simulated device's trace; nothing when the library was never loaded.
  std::optional<std::string> Trace() const;

  // Dismisses message boxes while they match `expected`, in order, each owned by the dialog; then
  // none follows once the operation buttons are enabled again.
  void ExpectMessages(const std::vector<MessageBoxSeen>& expected);
  // Whether the eight operation buttons are all enabled (true) or all disabled (false).
  bool OperationButtonsEnabled(bool enabled);
  // Sets the hidden chip-type text and clicks "Update": the staging writes the staging file and then
  // stops at the chip type, leaving the file and its folder in place.
  void LeaveStagingInPlace();

 private:
  void EndRun();

  std::filesystem::path folder_;
  std::unique_ptr<drive::Program> program_;
};

MessageBoxSeen WithIcon(const std::string& text);
MessageBoxSeen Plain(const std::string& text);

std::string ReadFileBytes(const std::string& path);
std::string FirmwareImage();
// The entries of a combo box's list, as ASCII text.
std::vector<std::string> ListEntries(HWND comboBox);

}  // namespace hnx::e2e
