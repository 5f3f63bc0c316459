#include <benchmark/benchmark.h>

#include "sim/scripted_usb.h"
#include "support/rig.h"

namespace hnx::test {
namespace {

using sim::ProgramRun;
using sim::ScriptedDevice;
using sim::ScriptedDeviceSetup;
using sim::ScriptedUsb;

// A whole `hnx-update update` through libusb against a device emulated on umockdev: enumeration,
// identification, claim, erase, 1,024 program and 1,024 read exchanges, finish, exit, release.
// Besides the wall time, the program's own processor time and the bulk transfers it made.
void BM_UsbUpdateOf64KiB(benchmark::State& state) {
  TempFolder temp;
  ScriptedUsb usb;
  ScriptedDeviceSetup setup;
  setup.location = "1-4.2";
  ScriptedDevice& device = usb.Add(setup);
  double cpuSeconds = 0;
  for (auto _ : state) {
    const ProgramRun run = usb.Run(HNX_CLI_PROGRAM, {"update"}, temp.Path(""));
    if (run.code != 0) {
      state.SkipWithError("the update failed");
      break;
    }
    cpuSeconds += run.cpuSeconds;
  }
  state.counters["program_cpu_s"] = benchmark::Counter(cpuSeconds, benchmark::Counter::kAvgIterations);
  state.counters["transfers"] =
      benchmark::Counter(static_cast<double>(device.counts().bulkTransfers), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_UsbUpdateOf64KiB)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

}  // namespace
}  // namespace hnx::test
