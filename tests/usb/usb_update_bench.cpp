#include <sys/resource.h>

#include <benchmark/benchmark.h>

#include <fstream>

#include "sim/scripted_usb.h"
#include "support/rig.h"

namespace hnx::test {
namespace {

using sim::ProgramRun;
using sim::ScriptedDevice;
using sim::ScriptedDeviceSetup;
using sim::ScriptedUsb;

constexpr std::uint32_t kWireMicroseconds = 1000;

// This process's own processor time: umockdev's thread serving every device, and the wire clock.
double OwnCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const auto seconds = [](const timeval& time) {
    return static_cast<double>(time.tv_sec) + time.tv_usec / 1e6;
  };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// The 16 KiB chip (ZB4420: 32-byte blocks), its transfers on the wire for a millisecond each.
ScriptedDeviceSetup SmallChip(const std::string& location) {
  ScriptedDeviceSetup setup;
  setup.location = location;
  setup.flashSize = 0x4000;
  setup.blockLength = 32;
  setup.wireMicroseconds = kWireMicroseconds;
  return setup;
}

std::string WriteImage(const TempFolder& temp, std::size_t size) {
  const std::vector<std::uint8_t> image = PatternImage(size);
  const std::string path = temp.Path("image.bin");
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(image.data()), image.size());
  return path;
}

std::uint64_t Transfers(const std::vector<ScriptedDevice*>& devices) {
  std::uint64_t transfers = 0;
  for (const ScriptedDevice* device : devices) transfers += device->counts().bulkTransfers;
  return transfers;
}

void ReportCpu(benchmark::State& state, double programCpu, double ownCpu, std::uint64_t transfers) {
  state.counters["program_cpu_s"] = benchmark::Counter(programCpu, benchmark::Counter::kAvgIterations);
  state.counters["program_cpu_us_per_transfer"] =
      benchmark::Counter(transfers > 0 ? programCpu * 1e6 / transfers : 0);
  state.counters["testbed_cpu_us_per_transfer"] =
      benchmark::Counter(transfers > 0 ? ownCpu * 1e6 / transfers : 0);
  state.counters["transfers"] =
      benchmark::Counter(static_cast<double>(transfers), benchmark::Counter::kAvgIterations);
}

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
  state.counters["transfers"] = benchmark::Counter(static_cast<double>(device.counts().bulkTransfers),
                                                   benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_UsbUpdateOf64KiB)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

// `hnx-update --all update` of the 16 KiB chip on as many devices as the argument, every transfer a
// millisecond on the wire: the wall time of the whole run, and processor time per transfer of the
// program and of this process (which serves the emulated devices).
void BM_UsbUpdateAllOf16KiB(benchmark::State& state) {
  TempFolder temp;
  ScriptedUsb usb;
  std::vector<ScriptedDevice*> devices;
  for (int i = 1; i <= state.range(0); ++i) devices.push_back(&usb.Add(SmallChip("1-" + std::to_string(i))));
  const std::string image = WriteImage(temp, 0x4000);
  double programCpu = 0, ownCpu = 0;
  for (auto _ : state) {
    const double ownBefore = OwnCpuSeconds();
    const ProgramRun run =
        usb.Run(HNX_CLI_PROGRAM, {"--chip", "ZB4420", "--all", "update", "--image", image}, temp.Path(""));
    ownCpu += OwnCpuSeconds() - ownBefore;
    if (run.code != 0) {
      state.SkipWithError("the update failed");
      break;
    }
    programCpu += run.cpuSeconds;
  }
  ReportCpu(state, programCpu, ownCpu, Transfers(devices));
}
BENCHMARK(BM_UsbUpdateAllOf16KiB)
    ->ArgName("devices")
    ->Arg(1)
    ->Arg(2)
    ->Arg(4)
    ->Arg(8)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1);

}  // namespace
}  // namespace hnx::test
