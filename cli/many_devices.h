// The command on several devices at once: every identified device (--all), or each device as it is
// plugged in (--station). Each device runs on a thread of its own with its own connection, staging,
// log and lines; a device that fails does not stop the others.
#pragma once

#include "cli/device_run.h"

namespace hnx::cli {

// The devices of one survey, at most --jobs at once. The exit code is the first failing device's in
// port-path order, 130 when the run was interrupted, 0 when all succeeded.
int RunOnEveryDevice(const CommandLine& line, ConsoleUi& ui, const Prepared& prepared, UsbBus& usb,
                     ConsoleOutput& output, StopFlag stop);

// Waits for devices and runs the command on each as it arrives, once per attachment, until --count
// devices have run or `stop` is set. The exit code is the first failing device's in the order they
// arrived, 130 when a running device was interrupted.
int RunStation(const CommandLine& line, ConsoleUi& ui, const Prepared& prepared, UsbBus& usb, ConsoleOutput& output,
               StopFlag stop);

}  // namespace hnx::cli
