#include <benchmark/benchmark.h>

#include <filesystem>

#include "ops/production_record.h"
#include "support/rig.h"

namespace hnx::test {
namespace {

RecordHeader Header(const std::string& path, const std::vector<std::uint8_t>& image) {
  return {path,
          "station-7",
          "Ann Lee",
          "hnx-update 1.0.6",
          "update",
          "ZB29K702",
          IdentifyImage("embedded", image)};
}

DeviceFacts Facts() {
  return {"1-4.2", 0x1234, 0x7029, 1, 17, "12 Mbit/s", "SN-0042"};
}

// What a record adds to a device's run: the line built, appended with one write and flushed to the
// disk. The file is in the working folder (the build folder, on a disk), not in memory, where a
// flush would cost nothing.
void BM_RecordAppendedAndFlushed(benchmark::State& state) {
  const std::string path = "bench-records.jsonl";
  std::filesystem::remove(path);
  const RecordHeader header = Header(path, PatternImage(0x10000));
  DeviceRunRecord record(header, "1-4.2");
  record.DeviceOpened(Facts());
  for (auto _ : state) {
    if (!record.Write("Auto Command Succeeded !!", 0, 0x20000).empty()) {
      state.SkipWithError("the record was not written");
      break;
    }
  }
  std::filesystem::remove(path);
}
BENCHMARK(BM_RecordAppendedAndFlushed)->Unit(benchmark::kMicrosecond);

// The line alone, without the file.
void BM_RecordLine(benchmark::State& state) {
  const RecordHeader header = Header("", PatternImage(0x10000));
  DeviceRunRecord record(header, "1-4.2");
  record.DeviceOpened(Facts());
  for (auto _ : state)
    benchmark::DoNotOptimize(RecordLine(record.Finish("Auto Command Succeeded !!", 0, 0x20000)));
}
BENCHMARK(BM_RecordLine)->Unit(benchmark::kMicrosecond);

// Once per run, not per device: the SHA-256 of a 64 KiB image.
void BM_Sha256Of64KiB(benchmark::State& state) {
  const std::vector<std::uint8_t> image = PatternImage(0x10000);
  for (auto _ : state) benchmark::DoNotOptimize(Sha256(image));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 0x10000);
}
BENCHMARK(BM_Sha256Of64KiB)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace hnx::test
