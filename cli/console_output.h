// The program's two streams, shared by the runs on several devices at once: whole lines at a time,
// and, where asked, one live progress line per running device and a tally below them, redrawn in
// place under what was printed.
#pragma once

#include <cstdio>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace hnx::cli {

class ConsoleOutput {
 public:
  ConsoleOutput(std::FILE* out, std::FILE* err, bool errIsTerminal) : out_(out), err_(err), errIsTerminal_(errIsTerminal) {}

  std::FILE* out() const { return out_; }
  std::FILE* err() const { return err_; }
  bool errIsTerminal() const { return errIsTerminal_; }

  // Lines of one run, kept together and printed above the live lines: each on standard error when
  // its flag says so, otherwise on standard output.
  void PrintLines(const std::vector<std::pair<bool, std::string>>& lines);
  // Text drawn on `err` as it is, e.g. a single device's progress bar.
  void Draw(const std::string& text);

  // The live line of `key` (a device) is created or changed; an empty text removes it.
  void SetLiveLine(const std::string& key, const std::string& text);
  // The last live line, e.g. a station's running tally; empty for none.
  void SetTally(const std::string& text);

  // Flushes both streams: whether every line so far reached them. A write that failed (a pipe whose
  // reader has gone, a closed terminal) is only noted, so that nothing a run does to a device
  // depends on its output.
  bool Flush();

 private:
  void EraseLive();
  void DrawLive();

  std::FILE* out_;
  std::FILE* err_;
  bool errIsTerminal_;
  std::mutex mutex_;
  std::vector<std::pair<std::string, std::string>> live_;
  std::string tally_;
  std::size_t drawnLines_ = 0;
};

}  // namespace hnx::cli
