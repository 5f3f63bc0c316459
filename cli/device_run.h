// One run of the command on one device, the piece that the runs on several devices repeat.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "cli/command_runner.h"
#include "link/usb_bus.h"
#include "ops/production_record.h"

namespace hnx::cli {

// What every run of the command shares: the image file's content, read and decoded once, the
// transfer log of a run on one device, and what its records share.
struct Prepared {
  std::optional<std::vector<std::uint8_t>> image;
  std::unique_ptr<TransferLogFile> log;
  RecordHeader record;
  TransferLog* oneDeviceLog = nullptr;  // a run on one device: its record's tally, then `log`
};

// The command on the device at `location` with its own lines, headed by the device, and its own
// log beside the one named (field.log: field.1-4.2.log). The exit code.
int RunOnListedDevice(const CommandLine& line, const Prepared& prepared, UsbBus& usb, const UsbLocation& location,
                      ConsoleOutput& output, StopFlag stop);

// A device whose run did not start (a stop kept it from starting, or the system would not start its
// thread): its outcome line and its record.
int NotStartedOnListedDevice(const CommandLine& line, const Prepared& prepared, const UsbLocation& location,
                             ConsoleOutput& output, const std::string& outcome, int code);

// "1 device", "2 devices".
std::string CountText(std::size_t count);

}  // namespace hnx::cli
