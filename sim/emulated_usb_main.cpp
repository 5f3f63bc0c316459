// Runs a program against an emulated USB bus of simulated devices in ISP mode: the demo of the Linux
// programs without hardware.
//
//   hnx_emulated_usb [LOCATION...] -- PROGRAM [ARG...]
//
// One device at each LOCATION (BUS-PORT[.PORT...], default 1-1), each with the fault plan of
// HNX_SIM_FAULTS and the serial number string "SIM-<LOCATION>". The program's output is printed when
// it ends; the exit code is the program's.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "sim/scripted_usb.h"

int main(int argc, char** argv) {
  std::vector<std::string> locations, command;
  bool inCommand = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (!inCommand && arg == "--") inCommand = true;
    else (inCommand ? command : locations).push_back(arg);
  }
  if (command.empty()) {
    std::fprintf(stderr, "usage: %s [LOCATION...] -- PROGRAM [ARG...]\n", argv[0]);
    return 64;
  }
  if (locations.empty()) locations.push_back("1-1");
  const char* faults = std::getenv("HNX_SIM_FAULTS");

  char folder[] = "/tmp/hnx-emulated-usb-XXXXXX";
  if (mkdtemp(folder) == nullptr) return 70;
  hnx::sim::ScriptedUsb usb;
  for (const std::string& location : locations) {
    hnx::sim::ScriptedDeviceSetup setup;
    setup.location = location;
    setup.serial = "SIM-" + location;
    if (faults != nullptr) setup.faults = faults;
    usb.Add(setup);
  }
  const hnx::sim::ProgramRun run =
      usb.Run(command.front(), std::vector<std::string>(command.begin() + 1, command.end()), folder);
  for (const std::string& line : run.out) std::printf("%s\n", line.c_str());
  for (const std::string& line : run.err) std::fprintf(stderr, "%s\n", line.c_str());
  std::filesystem::remove_all(folder);
  return run.code;
}
