// hnx-update: the dialog's commands from a command line, for scripts and production lines.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "cli/command_runner.h"
#include "cli/platform.h"
#include "cli/run_record.h"
#include "ops/production_record.h"

namespace {

constexpr const char* kExitCodes =
    "Exit codes:\n"
    "  0   success\n"
    "  1   the device answered but its content differs (verify mismatch, blank check failed)\n"
    "  64  bad command line\n"
    "  65  bad image data: wrong size (too short for the chip, or a file over 64 MiB), malformed HEX or\n"
    "      S-record, data outside the chip, unknown chip type, or a SHA-256 other than --expect-sha256\n"
    "  66  image file missing or unreadable\n"
    "  69  no device: the library cannot be loaded or lacks an entry point, or opening timed out\n"
    "  71  (--station) the system would not start a device's run; the others go on\n"
    "  74  a transfer with the device failed, the output file or a record could not be written, or the run\n"
    "      succeeded but its lines could not all be written (standard output or error closed, e.g. a pipe's reader gone)\n"
    "  130 interrupted (SIGINT, SIGTERM or SIGHUP; Windows: Ctrl-C, Ctrl-Break or the console closed): stopped at\n"
    "      a block boundary, the device released and still in ISP mode; a second interrupt ends the process at once\n"
    "Image files are raw binary, Intel HEX or Motorola S-record, told apart by their content.";

}  // namespace

int main(int argc, char** argv) {
  using hnx::cli::Command;
  hnx::cli::PrepareProcess();
  const std::vector<std::string> arguments = hnx::cli::CommandLineArguments(argc, argv);
  hnx::cli::CommandLine line;

  CLI::App app{"Writes firmware into the flash of a microcontroller in ISP mode.", "hnx-update"};
  app.set_version_flag("--version", hnx::cli::VersionText,
                       "the version, and the embedded image's size and SHA-256");
  app.footer(kExitCodes);
  app.require_subcommand(1, 1);
  app.allow_windows_style_options(false);  // "/path" is a file, not an option
  app.add_option("--chip", line.chip, "chip type")->capture_default_str();
  app.add_option("--library", line.library, "the transfer library to load");
  app.add_option("--wait", line.waitSeconds, "seconds to keep trying to open the device (update: 30, others: 0)");
  const std::map<std::string, hnx::cli::ProgressStyle> styles = {{"auto", hnx::cli::ProgressStyle::Auto},
                                                                  {"bar", hnx::cli::ProgressStyle::Bar},
                                                                  {"json", hnx::cli::ProgressStyle::Json},
                                                                  {"none", hnx::cli::ProgressStyle::None}};
  std::string progress = "auto";
  app.add_option("--progress", progress, "auto, bar, json (one object per line on standard error) or none")
      ->check(CLI::IsMember(styles))
      ->capture_default_str();
  app.add_option("--log", line.logPath, "append a line per transfer with the device to this file");
  app.add_flag("-q,--quiet", line.quiet, "only the outcome and what went wrong");
  app.add_option("--record", line.recordPath,
                 "append a production record per device run to this file: one JSON object per line, flushed "
                 "to the disk before the device's outcome is printed")
      ->type_name("FILE");
  app.add_option("--operator", line.operatorName,
                 "the operator named in the records (default: the login name)")
      ->type_name("NAME");
  app.add_option("--expect-sha256", line.expectSha256,
                 "refuse, before any transfer, an image (update, write, verify) whose SHA-256 is not HEX")
      ->type_name("HEX")
      ->check([](const std::string& text) {
        return hnx::IsSha256Text(text) ? std::string() : "a SHA-256 is 64 hexadecimal digits: " + text;
      });
  CLI::Option* device =
      app.add_option("--device", line.device, "the USB device at BUS-PORT[.PORT...], as lsusb -t shows it (Linux)");
  CLI::Option* all =
      app.add_flag("--all", line.all, "run the command on every identified USB device at once (Linux)")->excludes(device);
  CLI::Option* station =
      app.add_flag("--station", line.station,
                   "wait for devices and run the command on each as it is plugged in, until interrupted (Linux)")
          ->excludes(device)
          ->excludes(all);
  app.add_option("--jobs", line.jobs, "with --all or --station: how many devices run at once (default: all)")
      ->check(CLI::PositiveNumber);
  app.add_option("--count", line.count, "with --station: end after this many devices")
      ->check(CLI::PositiveNumber)
      ->needs(station);

  struct Entry {
    Command command;
    const char* help;
    const char* file;  // the file argument, if any
  };
  const Entry entries[] = {
      {Command::Update, "the one-click sequence: erase, program, read back, verify, finish, exit", nullptr},
      {Command::Write, "program FILE", "FILE"},
      {Command::Verify, "compare the flash with FILE, then finish", "FILE"},
      {Command::Read, "read the whole flash into FILE", "FILE"},
      {Command::Erase, "mass erase, then check that the flash is blank", nullptr},
      {Command::Protect, "read-protect the flash", nullptr},
      {Command::ExitIsp, "leave ISP mode", nullptr},
      {Command::List, "count the attached devices", nullptr},
  };
  for (const Entry& entry : entries) {
    CLI::App* sub = app.add_subcommand(CommandName(entry.command), entry.help)->fallthrough();
    sub->callback([&line, command = entry.command] { line.command = command; });
    if (entry.file != nullptr) sub->add_option(entry.file, line.file, "image or dump file")->required();
  }
  app.get_subcommand("update")->add_option("--image", line.file, "image file in place of the embedded image");

  try {
    app.parse(std::vector<std::string>(arguments.rbegin(), arguments.rend()));  // CLI11 takes them last first
  } catch (const CLI::ParseError& error) {
    const int code = app.exit(error);
    return code == 0 ? 0 : hnx::cli::kUsage;
  }
  line.progress = styles.at(progress);
  // A station runs what a line of devices is plugged in for: to flash or check them, to clear them,
  // or to send them back to their own firmware.
  if (line.station && line.command != Command::Update && line.command != Command::Verify &&
      line.command != Command::Erase && line.command != Command::ExitIsp) {
    std::fprintf(stderr, "--station runs update, verify, erase or exit-isp.\n");
    return hnx::cli::kUsage;
  }
  if (!line.expectSha256.empty() && line.command != Command::Update && line.command != Command::Write &&
      line.command != Command::Verify) {
    std::fprintf(stderr, "--expect-sha256 checks the image of update, write or verify.\n");
    return hnx::cli::kUsage;
  }
  const hnx::StopFlag stop = hnx::cli::StopOnInterrupt();  // before any thread starts
  const int code = hnx::cli::RunCommand(line, stdout, stderr, stop);
  hnx::cli::RunEnded();
  return code;
}
