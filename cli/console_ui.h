// The operations' user interface on a console: no windows, the file named on the command line in
// place of the file dialogs, and every box the dialog would show kept as a line of the outcome.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/console_output.h"
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
  kOutputLost = 74,  // the run succeeded, but not every line of it could be written
  kStopped = 130,  // interrupted; as a shell reports a program ended by SIGINT
};

using Json = nlohmann::ordered_json;

class ConsoleUi final : public DialogUi {
 public:
  // `filePath` answers both file dialogs. Progress is drawn on standard error; a bar only where it
  // is a terminal unless asked for. With a `device` (one of several runs), every line begins with
  // "<device>: ", every JSON object has its "device" member first, and the bar is the device's live
  // line among the others.
  ConsoleUi(std::string filePath, ProgressStyle progress, bool quiet, ConsoleOutput& output,
            std::string device = "");

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
  // With JSON progress, one object of the given members on standard error at once.
  void EmitJson(const Json& members);
  // What the flash went through when the command succeeds, for the line before the outcome, e.g.
  // "programmed and verified"; none: no such line.
  void DescribeWork(std::string doneText) { workText_ = std::move(doneText); }
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
  void DrawBar(TransferPhase phase, std::uint32_t done, std::uint32_t total);
  void DrawLiveLine(TransferPhase phase, std::uint32_t done, std::uint32_t total);
  std::string Headed(const std::string& text) const;
  std::string JsonLine(const Json& members) const;
  // "65536 bytes programmed and verified in 4.1 s (31.2 KiB/s)"; "" when no block was moved.
  std::string WorkLine(bool succeeded) const;
  double Seconds() const;

  std::string filePath_;
  ProgressStyle progress_;
  bool quiet_;
  ConsoleOutput& output_;
  std::string device_;
  std::string workText_;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  std::uint32_t programmed_ = 0;  // bytes, as far as the program phase came
  std::uint32_t read_ = 0;        // bytes, as far as the read phase came
  std::uint32_t imageSize_ = 0;
  int livePercent_ = -1;
  std::string noDeviceOutcome_;
  std::vector<Line> lines_;
  bool entryPointMissing_ = false;
  bool barOpen_ = false;
  TransferPhase barPhase_ = TransferPhase::Erase;
};

}  // namespace hnx::cli
