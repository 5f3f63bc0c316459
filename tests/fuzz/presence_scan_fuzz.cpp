// A whole presence scan over a topology read from the input. Under ASan and UBSan the walk must not
// read outside any reply; it must also close every handle it opened and count no more devices than
// answer at all.
#include <cstdlib>

#include "fuzzed_topology.h"
#include "link/presence_scan.h"

// Undefined behaviour ends the run like a crash, so the fuzzer keeps the input.
extern "C" const char* __ubsan_default_options() {
  return "halt_on_error=1:print_stacktrace=1";
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  hnx::test::FakeTopology topology;
  const std::size_t answering = hnx::fuzz::BuildTopology({data, size}, topology);
  topology.StopRecording();
  std::uint32_t count = 0;
  hnx::CountAttachedDevices(topology, count);
  if (count > answering || topology.openHandles() != 0 || topology.misuses() != 0) std::abort();
  return 0;
}
