// One run of the command on one device, the piece that the runs on several devices repeat.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "cli/command_runner.h"
#include "link/usb_bus.h"

namespace hnx::cli {

// What every run of the command shares: the image file's content, read and decoded once, and the
// transfer log of a run on one device.
struct Prepared {
  std::optional<std::vector<std::uint8_t>> image;
  std::unique_ptr<TransferLogFile> log;
};

// The command on the device at `location` with its own lines, headed by the device, and its own
// log beside the one named (field.log: field.1-4.2.log). The exit code.
int RunOnListedDevice(const CommandLine& line, const Prepared& prepared, UsbBus& usb, const UsbLocation& location,
                      ConsoleOutput& output, StopFlag stop);

// "1 device", "2 devices".
std::string CountText(std::size_t count);

}  // namespace hnx::cli
