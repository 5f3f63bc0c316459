// hnx-update's production records (--record FILE): what every record of the run shares, taken from
// the command line, the image checked against --expect-sha256, and each device run's record written
// as its outcome is known, before its outcome line is printed.
#pragma once

#include <optional>
#include <string>

#include "cli/command_runner.h"
#include "cli/console_ui.h"
#include "ops/production_record.h"

namespace hnx::cli {

// "update", "exit-isp": the command as it is typed.
const char* CommandName(Command command);

// The record file, the host, the operator (--operator, else the login name), the tool and its
// version, the command and the chip; the image is added once it is read.
RecordHeader RecordHeaderOf(const CommandLine& line);

// When `ui` ends the run, `record` is written first. A record that cannot be written is a line of its
// own, naming the file, and makes a run that succeeded exit with 74; the outcome line is unchanged.
void RecordAtOutcome(ConsoleUi& ui, const DeviceRunRecord& record);

// An image whose SHA-256 is not the one --expect-sha256 gives is refused (65) before any transfer:
// the exit code, or nothing when it is the one (or none is expected).
std::optional<int> RefuseUnexpectedImage(const CommandLine& line, const ImageIdentity& image, ConsoleUi& ui);

// The first JSON object of a run with an image: {"image":{"source":…,"size":…,"sha256":…}}.
Json ImageObject(const ImageIdentity& image);

// --version: the version, then the embedded image's size and SHA-256.
std::string VersionText();

}  // namespace hnx::cli
