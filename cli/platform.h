// What the command-line tool does differently on each system. Chosen at link time:
// platform_posix.cpp or platform_win32.cpp.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "link/usb_bus.h"
#include "ops/operations.h"

namespace hnx::cli {

// Windows: the dialog's staging folder and file. Elsewhere: a folder made new for the run in the
// temporary folder, named after the `device` when several run at once.
StagingPaths StagingForThisRun(const std::string& device = "");

// From now on an interrupt (SIGINT, SIGTERM or SIGHUP; Windows: Ctrl-C, Ctrl-Break, the console
// closed, the user logging off or the system shutting down) sets the flag and does nothing else; a
// second one, of any kind, ends the process as the system would. Windows: closing the console, logging
// off or shutting down ends the process as soon as the handler returns, so the handler holds it until
// RunEnded() (or as long as the system waits).
StopFlag StopOnInterrupt();

// The run has ended: its outcome is written and its staging removed.
void RunEnded();

#if defined(_WIN32)
// The console control handler that StopOnInterrupt installs, as the system calls it: TRUE when the
// event was handled.
int OnConsoleControl(unsigned long event);
#endif

// The transfer library used without --library: ZB_USB.DLL beside the program on Windows; none
// elsewhere ("").
std::string DefaultTransferLibraryPath();

// The system's own way to the device, used when no library is named: libusb on Linux; none on
// Windows, where the vendor library is the way (nullptr, as when libusb cannot start).
std::unique_ptr<UsbBus> MakeSystemUsb();

// The USB hubs as the presence scan walks them; elsewhere a driver that opens nothing.
std::unique_ptr<HubDriver> MakeHubDriver();

// How many of our devices are attached: the hub walk on Windows; elsewhere, whether the transfer
// library opens a pipe.
std::uint32_t CountDevices(OperationContext& context);

bool IsTerminal(std::FILE* stream);

// Once at start-up, before any library is loaded or file opened. Windows: file names are UTF-8 from
// here on, and so is the console's output. Elsewhere: a write to a closed pipe fails instead of
// ending the process (SIGPIPE ignored).
void PrepareProcess();

// The arguments after the program's name, in UTF-8. Windows: read as UTF-16 from the system, so that a
// name the ANSI code page cannot spell survives; elsewhere argv as given.
std::vector<std::string> CommandLineArguments(int argc, char** argv);

}  // namespace hnx::cli
