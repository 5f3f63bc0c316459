// One run of the command-line tool: a command of the dialog's, its options, and the exit code.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "cli/console_ui.h"
#include "link/isp.h"

namespace hnx::cli {

enum class Command { Update, Write, Verify, Read, Erase, Protect, ExitIsp, List };

struct CommandLine {
  Command command = Command::Update;
  std::string file;  // write, verify and read: their file; update: --image, "" for the embedded image
  std::string chip = "ZB29K702";
  std::string library;  // "": the platform's own
  std::string device;   // the USB device's BUS-PORT[.PORT...]; "": the only one
  bool all = false;     // every identified USB device, at once
  bool station = false;  // every identified USB device as it is plugged in
  std::uint32_t jobs = 0;   // how many devices run at once; 0: all
  std::uint32_t count = 0;  // the station ends after this many devices; 0: when interrupted
  std::optional<std::uint32_t> waitSeconds;
  ProgressStyle progress = ProgressStyle::Auto;
  std::string logPath;
  bool quiet = false;
  std::string recordPath;    // --record: a production record per device run appended to it; "": none
  std::string operatorName;  // in the records; "": the login name
  std::string expectSha256;  // the image's SHA-256 that the run insists on; "": any
};

// Runs the command to its end, or until `stop` is set, and returns the exit code; the outcome is on
// `out` or `err`.
int RunCommand(const CommandLine& line, std::FILE* out, std::FILE* err, StopFlag stop = nullptr);

}  // namespace hnx::cli
