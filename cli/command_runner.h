// One run of the command-line tool: a command of the dialog's, its options, and the exit code.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "cli/console_ui.h"

namespace hnx::cli {

enum class Command { Update, Write, Verify, Read, Erase, Protect, ExitIsp, List };

struct CommandLine {
  Command command = Command::Update;
  std::string file;  // write, verify and read: their file; update: --image, "" for the embedded image
  std::string chip = "ZB29K702";
  std::string library;  // "": the platform's own
  std::string device;   // the USB device's BUS-PORT[.PORT...]; "": the only one
  bool all = false;     // every identified USB device in turn
  std::optional<std::uint32_t> waitSeconds;
  ProgressStyle progress = ProgressStyle::Auto;
  std::string logPath;
  bool quiet = false;
};

// Runs the command to its end and returns the exit code; the outcome is on `out` or `err`.
int RunCommand(const CommandLine& line, std::FILE* out, std::FILE* err);

}  // namespace hnx::cli
