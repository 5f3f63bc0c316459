// The operations' user interface on a console: no windows, the file named on the command line in
// place of the file dialogs, and every box the dialog would show kept as a line of the outcome.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "ops/dialog_ui.h"

namespace hnx::cli {

enum class ProgressStyle { Auto, Bar, Json, None };

// What the program exits with.
enum ExitCode : int {
  kSuccess = 0,
  kContentDiffers = 1,
  kUsage = 64,
  kBadImageData = 65,
  kNoImageFile = 66,
  kNoDevice = 69,
  kSoftware = 70,
  kTransferFailed = 74,
};

class ConsoleUi final : public DialogUi {
 public:
  // `filePath` answers both file dialogs. Progress is drawn on `err`; a bar only where it is a
  // terminal (`errIsTerminal`) unless asked for. With a `device` (one of several runs), every line
  // begins with "<device>: " and every JSON object with its "device" member.
  ConsoleUi(std::string filePath, ProgressStyle progress, bool quiet, std::FILE* out, std::FILE* err,
            bool errIsTerminal, std::string device = "");

  void ShowMessage(const std::string& text, const std::string& caption, MessageIcon icon) override;
  void ShowAppMessage(const std::string& text) override;
  void EnableControl(int, bool) override {}
  void SetControlText(int, const std::string&) override {}
  void ControlsToMembers() override {}
  void MembersToControls() override {}
  void SetProgressRange(std::uint16_t, std::uint16_t) override {}
  void SetProgressPos(int) override {}
  void MoveControl(int, int, int, int, int) override {}
  void ResizeWindow(int, int) override {}
  FileChoice ChooseOpenFile(const FileDialogOptions&) override { return {true, filePath_}; }
  FileChoice ChooseSaveFile(const FileDialogOptions&) override { return {true, filePath_}; }
  void ShowTransferProgress(TransferPhase phase, std::uint32_t done, std::uint32_t total) override;
  void ShowFirstDifference(std::uint32_t address, std::uint8_t expected, std::uint8_t found) override;

  // A line of the outcome that no dialog box shows: what was wrong with an image file, a device
  // count.
  void AddDetail(const std::string& text, bool failure);
  // With JSON progress, one object of the given members ("\"bus\":1,...") on `err` at once.
  void EmitJson(const std::string& members);
  // When the outcome is one of no device, `text` is shown in its place.
  void ReplaceNoDeviceOutcome(std::string text) { noDeviceOutcome_ = std::move(text); }
  // Ends the run with a final line of the front end's own, e.g. a file that cannot be read before
  // any operation ran.
  int Finish(const std::string& finalText, int code);
  // Ends the run with the last box the operation showed as its final line, and the exit code of
  // that outcome. `writesFile`: the command's file is its output (Read), so failing to open it is a
  // failed write, not a missing image.
  int Finish(bool writesFile);

 private:
  struct Line {
    std::string text;
    bool failure;  // standard error, and shown even when quiet
    bool box;      // a box of the dialog's
  };

  void EndBar();
  void PrintLine(std::FILE* stream, const std::string& text) const;

  std::string filePath_;
  ProgressStyle progress_;
  bool quiet_;
  std::FILE* out_;
  std::FILE* err_;
  std::string device_;
  std::string noDeviceOutcome_;
  std::vector<Line> lines_;
  bool entryPointMissing_ = false;
  bool barOpen_ = false;
  TransferPhase barPhase_ = TransferPhase::Erase;
};

}  // namespace hnx::cli
