#include <sys/resource.h>

#include <benchmark/benchmark.h>

#include "sim/scripted_usb.h"
#include "support/rig.h"

namespace hnx::test {
namespace {

using sim::ProgramRun;
using sim::ScriptedDevice;
using sim::ScriptedDeviceSetup;
using sim::ScriptedUsb;

// This process's own processor time: umockdev's thread serving every device, and the wire clock.
double OwnCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const auto seconds = [](const timeval& time) {
    return static_cast<double>(time.tv_sec) + time.tv_usec / 1e6;
  };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// `hnx-update` with `args` against devices emulated on umockdev, once per iteration. Besides the wall
// time, the program's own processor time, the bulk transfers it made, and the processor time per
// transfer of the program and of this process (which serves the emulated devices).
void RunUpdates(benchmark::State& state, const std::vector<ScriptedDeviceSetup>& setups,
                const std::vector<std::string>& args) {
  TempFolder temp;
  ScriptedUsb usb;
  std::vector<ScriptedDevice*> devices;
  for (const ScriptedDeviceSetup& setup : setups) devices.push_back(&usb.Add(setup));
  double programCpu = 0, ownCpu = 0;
  for (auto _ : state) {
    const double ownBefore = OwnCpuSeconds();
    const ProgramRun run = usb.Run(HNX_CLI_PROGRAM, args, temp.Path(""));
    ownCpu += OwnCpuSeconds() - ownBefore;
    if (run.code != 0) {
      state.SkipWithError("the update failed");
      break;
    }
    programCpu += run.cpuSeconds;
  }
  std::uint64_t transfers = 0;
  for (const ScriptedDevice* device : devices) transfers += device->counts().bulkTransfers;
  state.counters["program_cpu_s"] = benchmark::Counter(programCpu, benchmark::Counter::kAvgIterations);
  state.counters["program_cpu_us_per_transfer"] =
      benchmark::Counter(transfers > 0 ? programCpu * 1e6 / transfers : 0);
  state.counters["testbed_cpu_us_per_transfer"] =
      benchmark::Counter(transfers > 0 ? ownCpu * 1e6 / transfers : 0);
  state.counters["transfers"] =
      benchmark::Counter(static_cast<double>(transfers), benchmark::Counter::kAvgIterations);
}

// A whole `hnx-update update`: enumeration, identification, claim, erase, 1,024 program and 1,024 read
// exchanges, finish, exit, release.
void BM_UsbUpdateOf64KiB(benchmark::State& state) {
  RunUpdates(state, {{.location = "1-4.2"}}, {"update"});
}
BENCHMARK(BM_UsbUpdateOf64KiB)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

// `hnx-update --all update` of the 16 KiB chip (ZB4420: 32-byte blocks) on as many devices as the
// argument, every transfer a millisecond on the wire: with the devices served at once, the wall time
// stays near that of one.
void BM_UsbUpdateAllOf16KiB(benchmark::State& state) {
  std::vector<ScriptedDeviceSetup> setups;
  for (int i = 1; i <= state.range(0); ++i)
    setups.push_back({.location = "1-" + std::to_string(i),
                      .flashSize = 0x4000,
                      .blockLength = 32,
                      .wireMicroseconds = 1000});
  RunUpdates(state, setups, {"--chip", "ZB4420", "--all", "update"});
}
BENCHMARK(BM_UsbUpdateAllOf16KiB)
    ->ArgName("devices")
    ->RangeMultiplier(2)
    ->Range(1, 8)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1);

}  // namespace
}  // namespace hnx::test
