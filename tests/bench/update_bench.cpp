#include <benchmark/benchmark.h>

#include <filesystem>
#include <random>

#include "ops/operations.h"
#include "sim/in_process_library.h"
#include "sim/sim_device.h"
#include "support/fake_topology.h"

namespace hnx::test {
namespace {

// Keeps only what the benchmark checks: the last message.
class QuietDialog final : public DialogUi {
 public:
  void ShowMessage(const std::string& text, const std::string&, MessageIcon) override { lastMessage = text; }
  void ShowAppMessage(const std::string& text) override { lastMessage = text; }
  void EnableControl(int, bool) override {}
  void SetControlText(int, const std::string&) override {}
  void ControlsToMembers() override {}
  void MembersToControls() override {}
  void SetProgressRange(std::uint16_t, std::uint16_t) override {}
  void SetProgressPos(int) override {}
  void MoveControl(int, int, int, int, int) override {}
  void ResizeWindow(int, int) override {}
  FileChoice ChooseOpenFile(const FileDialogOptions&) override { return {}; }
  FileChoice ChooseSaveFile(const FileDialogOptions&) override { return {}; }
  std::string lastMessage;
};

class ImageInMemory final : public ImageResource {
 public:
  explicit ImageInMemory(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {}
  bool Find() override { return true; }
  bool Load() override { return true; }
  const std::uint8_t* Lock() override { return bytes_.data(); }
  std::uint32_t Size() override { return static_cast<std::uint32_t>(bytes_.size()); }

 private:
  std::vector<std::uint8_t> bytes_;
};

class NoWait final : public Sleeper {
 public:
  void Sleep(std::uint32_t) override {}
};

std::filesystem::path ScratchFolder() {
  std::error_code ignored;
  const auto base = std::filesystem::is_directory("/dev/shm", ignored)
                        ? "/dev/shm"
                        : std::filesystem::temp_directory_path();
  return base / ("hnx-update-bench-" + std::to_string(std::random_device()()));
}

// A whole update of a 64 KiB chip against the in-process simulator without transfer delay: staging,
// presence scan, erase, 1,024 program and 1,024 read exchanges, compare, finish, exit, release.
void BM_UpdateOf64KiB(benchmark::State& state) {
  std::vector<std::uint8_t> image(0x10000);
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 31 % 251 + 1);
  sim::SimDevice device(0x10000, 64);
  sim::InProcessLibrary library(device);
  FakeTopology hubs;
  ImageInMemory embedded(image);
  NoWait sleeper;
  DialogState members;
  members.m_strChipType = "ZB29K702";
  QuietDialog ui;
  const std::filesystem::path folder = ScratchFolder();
  std::filesystem::create_directory(folder);
  const std::string staging = (folder / "Program BinFile").string();
  OperationContext context{members, ui,       library, "ZB_USB.DLL",
                           hubs,    embedded, sleeper, {staging, staging + "//b167h.bin"}};

  for (auto _ : state) {
    device.ClearTrace();
    RunUpdate(context);
    if (ui.lastMessage != "Auto Command Succeeded !!") {
      state.SkipWithError(("the update failed: " + ui.lastMessage).c_str());
      break;
    }
  }
  std::size_t transfers = 0;
  for (const auto& record : device.trace())
    transfers +=
        record.call == sim::TraceRecord::Call::BulkWrite || record.call == sim::TraceRecord::Call::BulkRead;
  state.counters["transfers"] = static_cast<double>(transfers);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 0x10000);
  std::filesystem::remove_all(folder);
}
BENCHMARK(BM_UpdateOf64KiB)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace hnx::test
