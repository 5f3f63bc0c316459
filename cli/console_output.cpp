#include "cli/console_output.h"

#include <algorithm>

namespace hnx::cli {

void ConsoleOutput::PrintLines(const std::vector<std::pair<bool, std::string>>& lines) {
  const std::lock_guard lock(mutex_);
  EraseLive();
  for (const auto& [failure, text] : lines) std::fprintf(failure ? err_ : out_, "%s\n", text.c_str());
  std::fflush(out_);
  DrawLive();
}

void ConsoleOutput::Draw(const std::string& text) {
  const std::lock_guard lock(mutex_);
  std::fputs(text.c_str(), err_);
  std::fflush(err_);
}

void ConsoleOutput::SetLiveLine(const std::string& key, const std::string& text) {
  const std::lock_guard lock(mutex_);
  const auto line = std::find_if(live_.begin(), live_.end(), [&](const auto& entry) { return entry.first == key; });
  EraseLive();
  if (text.empty()) {
    if (line != live_.end()) live_.erase(line);
  } else if (line != live_.end()) {
    line->second = text;
  } else {
    live_.emplace_back(key, text);
  }
  DrawLive();
}

void ConsoleOutput::SetTally(const std::string& text) {
  const std::lock_guard lock(mutex_);
  EraseLive();
  tally_ = text;
  DrawLive();
}

bool ConsoleOutput::Flush() {
  const std::lock_guard lock(mutex_);
  const bool flushed = std::fflush(out_) == 0 && std::fflush(err_) == 0;
  return flushed && std::ferror(out_) == 0 && std::ferror(err_) == 0;
}

// Up to the first live line, then clear to the end of the screen.
void ConsoleOutput::EraseLive() {
  if (drawnLines_ > 0) std::fprintf(err_, "\x1b[%zuA\x1b[J", drawnLines_);
  drawnLines_ = 0;
}

void ConsoleOutput::DrawLive() {
  for (const auto& [key, text] : live_) std::fprintf(err_, "%s\n", text.c_str());
  drawnLines_ = live_.size();
  if (!tally_.empty()) {
    std::fprintf(err_, "%s\n", tally_.c_str());
    ++drawnLines_;
  }
  std::fflush(err_);
}

}  // namespace hnx::cli
