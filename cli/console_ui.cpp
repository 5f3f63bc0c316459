#include "cli/console_ui.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "ops/messages.h"

namespace hnx::cli {
namespace {

struct OutcomeCode {
  const Message* outcome;
  int code;
};

// Every box an operation ends with, and the exit code it stands for.
// clang-format off
constexpr std::array<OutcomeCode, 24> kOutcomeCodes = {{
    {&kUpdateSucceeded, kSuccess},     {&kMassEraseSucceeded, kSuccess},   {&kWriteSucceeded, kSuccess},
    {&kVerifySucceeded, kSuccess},     {&kReadSucceeded, kSuccess},        {&kDownloadCompleted, kSuccess},
    {&kReadProtectSucceeded, kSuccess}, {&kExitIspSucceeded, kSuccess},    {&kDeviceFound, kSuccess},
    {&kVerifyFailure, kContentDiffers}, {&kMassEraseFailure, kContentDiffers},
    {&kNoImagePath, kUsage},
    {&kNoChipType, kBadImageData},     {&kUnknownChipType, kBadImageData},
    {&kOpenFileError, kNoImageFile},   {&kFileReadFailed, kNoImageFile},
    {&kTimeOut, kNoDevice},            {&kDeviceNotFound, kNoDevice},      {&kNoDeviceAttached, kNoDevice},
    {&kWriteFailure, kTransferFailed}, {&kReadFailure, kTransferFailed},   {&kFlashWriteFailure, kTransferFailed},
    {&kReadProtectFailure, kTransferFailed}, {&kDumpWriteFailed, kTransferFailed},
}};
// clang-format on

int CodeOf(const std::string& outcome, bool writesFile) {
  if (writesFile && outcome == kOpenFileError.text) return kTransferFailed;
  for (const OutcomeCode& entry : kOutcomeCodes)
    if (outcome == entry.outcome->text) return entry.code;
  return kSoftware;
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

// The texts are ASCII but for the resource failures, whose code-page bytes are escaped one by one.
std::string JsonString(const std::string& text) {
  std::string quoted = "\"";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      quoted += '\\';
      quoted += c;
    } else if (byte < 0x20 || byte >= 0x7F) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
      quoted += escaped;
    } else {
      quoted += c;
    }
  }
  return quoted + "\"";
}

}  // namespace

ConsoleUi::ConsoleUi(std::string filePath, ProgressStyle progress, bool quiet, std::FILE* out, std::FILE* err,
                     bool errIsTerminal, std::string device)
    : filePath_(std::move(filePath)), progress_(progress), quiet_(quiet), out_(out), err_(err),
      device_(std::move(device)) {
  if (progress_ == ProgressStyle::Auto) progress_ = errIsTerminal ? ProgressStyle::Bar : ProgressStyle::None;
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

void ConsoleUi::EmitJson(const std::string& members) {
  if (progress_ != ProgressStyle::Json) return;
  const std::string device = device_.empty() ? "" : "\"device\":" + JsonString(device_) + ",";
  std::fprintf(err_, "{%s%s}\n", device.c_str(), members.c_str());
  std::fflush(err_);
}

void ConsoleUi::ShowTransferProgress(TransferPhase phase, std::uint32_t done, std::uint32_t total) {
  if (progress_ == ProgressStyle::Json) {
    EmitJson(std::string("\"phase\":\"") + PhaseName(phase) + "\",\"done\":" + std::to_string(done) +
             ",\"total\":" + std::to_string(total));
    return;
  }
  if (progress_ != ProgressStyle::Bar || total == 0) return;
  if (barOpen_ && barPhase_ != phase) EndBar();
  constexpr std::uint32_t kWidth = 40;
  const auto filled = static_cast<std::uint32_t>(std::uint64_t{done} * kWidth / total);
  std::fprintf(err_, "\r%-8s [%s%s] %3u%%", PhaseName(phase), std::string(filled, '#').c_str(),
               std::string(kWidth - filled, '.').c_str(), static_cast<unsigned>(std::uint64_t{done} * 100 / total));
  std::fflush(err_);
  barOpen_ = true;
  barPhase_ = phase;
  if (done == total) EndBar();
}

void ConsoleUi::EndBar() {
  if (!barOpen_) return;
  std::fputc('\n', err_);
  barOpen_ = false;
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

void ConsoleUi::PrintLine(std::FILE* stream, const std::string& text) const {
  if (device_.empty()) std::fprintf(stream, "%s\n", text.c_str());
  else std::fprintf(stream, "%s: %s\n", device_.c_str(), text.c_str());
}

int ConsoleUi::Finish(const std::string& finalText, int code) {
  EndBar();
  for (const Line& line : lines_) {
    if (line.failure) PrintLine(err_, line.text);
    else if (!quiet_) PrintLine(out_, line.text);
  }
  EmitJson("\"result\":" + JsonString(finalText) + ",\"code\":" + std::to_string(code));
  PrintLine(code == kSuccess ? out_ : err_, finalText);
  std::fflush(out_);
  std::fflush(err_);
  return code;
}

}  // namespace hnx::cli
