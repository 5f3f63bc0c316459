#include <benchmark/benchmark.h>

#include "support/rig.h"

namespace hnx::test {
namespace {

// A whole update of a 64 KiB chip against the in-process simulator without transfer delay: staging,
// presence scan, erase, 1,024 program and 1,024 read exchanges, compare, finish, exit, release.
void BM_UpdateOf64KiB(benchmark::State& state) {
  OpsRig rig;
  for (auto _ : state) {
    rig.device.ClearTrace();
    rig.ui.messages.clear();
    rig.ui.events.clear();
    rig.ui.progressPositions.clear();
    RunUpdate(rig.context);
    if (rig.ui.messages != std::vector{Info("Auto Command Succeeded !!")}) {
      state.SkipWithError("the update failed");
      break;
    }
  }
  state.counters["transfers"] = static_cast<double>(TransferCount(rig.device.trace()));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 0x10000);
}
BENCHMARK(BM_UpdateOf64KiB)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace hnx::test
