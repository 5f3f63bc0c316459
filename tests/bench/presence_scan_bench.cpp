#include <benchmark/benchmark.h>

#include "link/presence_scan.h"
#include "support/fake_topology.h"

namespace hnx::test {
namespace {

constexpr int kControllers = 10;
constexpr int kPortsPerHub = 7;

// Fills the seven ports of `hub`: hubs while tiers remain below it, then devices, every other one
// matching.
void Populate(FakeHub& hub, int tiersBelow, std::size_t& devices) {
  for (int port = 0; port < kPortsPerHub; ++port) {
    if (tiersBelow > 0) {
      Populate(hub.AddHub(), tiersBelow - 1, devices);
    } else {
      hub.AddDevice(devices++ % 2 == 0 ? MatchingDescriptor() : StringDescriptor(u"ZB29K701"));
    }
  }
}

// Ten controllers, each with three tiers of seven-port hubs (the root hub and two tiers of external
// hubs) and a device on every port of the last tier: 3,430 devices.
void BM_PresenceScanOfALargeTopology(benchmark::State& state) {
  FakeTopology topology;
  std::size_t devices = 0;
  for (int index = 0; index < kControllers; ++index) Populate(topology.AddController(index), 2, devices);
  topology.StopRecording();
  std::uint32_t count = 0;
  for (auto _ : state) {
    CountAttachedDevices(topology, count);
    benchmark::DoNotOptimize(count);
  }
  if (count != devices / 2) state.SkipWithError("the scan missed devices");
  state.counters["devices"] = static_cast<double>(devices);
  state.counters["matching"] = count;
}
BENCHMARK(BM_PresenceScanOfALargeTopology)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace hnx::test
