#include "cli/console_ui.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "ops/messages.h"

namespace hnx::cli {
namespace {

int CodeOf(const std::string& outcome, bool writesFile) {
  if (writesFile && outcome == kOpenFileError.text) return kTransferFailed;
  return ExitCodeOfOutcome(outcome);
}

const char* PhaseName(TransferPhase phase) {
  switch (phase) {
    case TransferPhase::Erase:
      return "erase";
    case TransferPhase::Program:
      return "program";
    case TransferPhase::Read:
      return "read";
  }
  return "";
}

}  // namespace

ConsoleUi::ConsoleUi(std::string filePath, ProgressStyle progress, bool quiet, ConsoleOutput& output,
                     std::string device)
    : filePath_(std::move(filePath)), progress_(progress), quiet_(quiet), output_(output), device_(std::move(device)) {
  if (progress_ == ProgressStyle::Auto) progress_ = output_.errIsTerminal() ? ProgressStyle::Bar : ProgressStyle::None;
  if (quiet_) progress_ = ProgressStyle::None;
}

void ConsoleUi::ShowMessage(const std::string& text, const std::string&, MessageIcon icon) {
  lines_.push_back({text, icon != MessageIcon::Information, true});
}

void ConsoleUi::ShowAppMessage(const std::string& text) {
  if (text.rfind(kMissingEntryPointLead, 0) == 0) entryPointMissing_ = true;
  lines_.push_back({text, true, false});
}

void ConsoleUi::AddDetail(const std::string& text, bool failure) {
  lines_.push_back({text, failure, false});
}

std::string ConsoleUi::JsonLine(const Json& members) const {
  Json object;
  if (!device_.empty()) object["device"] = device_;
  object.update(members);
  // The resource failures' texts are in a Chinese code page, not UTF-8: their bytes are replaced.
  return object.dump(-1, ' ', false, Json::error_handler_t::replace);
}

void ConsoleUi::EmitJson(const Json& members) {
  if (progress_ == ProgressStyle::Json) output_.Draw(JsonLine(members) + "\n");
}

void ConsoleUi::ShowTransferProgress(TransferPhase phase, std::uint32_t done, std::uint32_t total) {
  if (phase == TransferPhase::Program) programmed_ = std::max(programmed_, done);
  if (phase == TransferPhase::Read) read_ = std::max(read_, done);
  if (phase != TransferPhase::Erase) imageSize_ = total;
  if (progress_ == ProgressStyle::Json) {
    EmitJson({{"phase", PhaseName(phase)}, {"done", done}, {"total", total}});
  } else if (progress_ == ProgressStyle::Bar && total != 0) {
    if (device_.empty()) DrawBar(phase, done, total);
    else DrawLiveLine(phase, done, total);
  }
}

void ConsoleUi::DrawBar(TransferPhase phase, std::uint32_t done, std::uint32_t total) {
  if (barOpen_ && barPhase_ != phase) EndBar();
  constexpr std::uint32_t kWidth = 40;
  const auto filled = static_cast<std::uint32_t>(std::uint64_t{done} * kWidth / total);
  char text[128];
  std::snprintf(text, sizeof text, "\r%-8s [%s%s] %3u%%", PhaseName(phase), std::string(filled, '#').c_str(),
                std::string(kWidth - filled, '.').c_str(), static_cast<unsigned>(std::uint64_t{done} * 100 / total));
  output_.Draw(text);
  barOpen_ = true;
  barPhase_ = phase;
  if (done == total) EndBar();
}

void ConsoleUi::EndBar() {
  if (!barOpen_) return;
  output_.Draw("\n");
  barOpen_ = false;
}

// "1-4.2: program  45%  31.2 KiB/s  1.2 s left", redrawn when the percentage changes.
void ConsoleUi::DrawLiveLine(TransferPhase phase, std::uint32_t done, std::uint32_t total) {
  const auto percent = static_cast<int>(std::uint64_t{done} * 100 / total);
  if (percent == livePercent_ && phase == barPhase_) return;
  livePercent_ = percent;
  barPhase_ = phase;
  const double seconds = Seconds();
  const double rate = seconds > 0 ? (programmed_ + read_) / seconds : 0;
  char text[160];
  if (rate > 0)
    std::snprintf(text, sizeof text, "%s: %-8s %3d%%  %.1f KiB/s  %.1f s left", device_.c_str(), PhaseName(phase),
                  percent, rate / 1024, (total - done) / rate);
  else
    std::snprintf(text, sizeof text, "%s: %-8s %3d%%", device_.c_str(), PhaseName(phase), percent);
  output_.SetLiveLine(device_, text);
}

void ConsoleUi::ShowFirstDifference(std::uint32_t address, std::uint8_t expected, std::uint8_t found) {
  char text[96];
  std::snprintf(text, sizeof text, "first difference at 0x%08X: expected 0x%02X, read 0x%02X", address, expected,
                found);
  lines_.push_back({text, true, false});
}

int ConsoleUi::Finish(bool writesFile) {
  // The last box is the outcome; it moves from among the other lines to the end.
  const auto last = std::find_if(lines_.rbegin(), lines_.rend(), [](const Line& line) { return line.box; });
  if (last == lines_.rend()) return Finish("no outcome", kSoftware);
  const std::string outcome = last->text;
  lines_.erase(std::next(last).base());
  const int code = entryPointMissing_ ? kNoDevice : CodeOf(outcome, writesFile);
  return Finish(code == kNoDevice && !noDeviceOutcome_.empty() ? noDeviceOutcome_ : outcome, code);
}

double ConsoleUi::Seconds() const {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
}

std::string ConsoleUi::WorkLine(bool succeeded) const {
  const std::uint64_t moved = std::uint64_t{programmed_} + read_;
  if (moved == 0 || (succeeded && workText_.empty())) return "";
  const double seconds = Seconds();
  char text[160];
  const std::string what = succeeded ? std::to_string(imageSize_) + " bytes " + workText_
                                     : std::to_string(moved) + " bytes moved";
  std::snprintf(text, sizeof text, "%s in %.1f s (%.1f KiB/s)", what.c_str(), seconds,
                seconds > 0 ? static_cast<double>(moved) / seconds / 1024 : 0.0);
  return text;
}

std::string ConsoleUi::Headed(const std::string& text) const {
  return device_.empty() ? text : device_ + ": " + text;
}

int ConsoleUi::Finish(const std::string& finalText, int code) {
  // The device's outcome keeps its stream; the exit code may say more (a record not written).
  const bool failed = code != kSuccess;
  if (beforeOutcome_) code = beforeOutcome_(finalText, code);
  EndBar();
  if (!device_.empty() && progress_ == ProgressStyle::Bar) output_.SetLiveLine(device_, "");
  std::vector<std::pair<bool, std::string>> printed;
  for (const Line& line : lines_)
    if (line.failure || !quiet_) printed.emplace_back(line.failure, Headed(line.text));
  if (const std::string work = WorkLine(!failed); !work.empty() && !quiet_) printed.emplace_back(failed, Headed(work));
  if (progress_ == ProgressStyle::Json) printed.emplace_back(true, JsonLine({{"result", finalText}, {"code", code}}));
  printed.emplace_back(failed, Headed(finalText));
  output_.PrintLines(printed);
  return code;
}

}  // namespace hnx::cli
