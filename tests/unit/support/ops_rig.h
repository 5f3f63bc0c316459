// Everything an operation runs against in the unit tests: the recording dialog, the simulated device
// behind the in-process library, a fake USB topology, an embedded image in memory, a sleeper that
// only records, and a temporary folder for the staging, image and dump files (shared by the rigs of
// a sweep, since making and removing a folder costs more than a whole operation).
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "ops/operations.h"
#include "sim/in_process_library.h"
#include "sim/sim_device.h"
#include "support/fake_topology.h"
#include "support/recording_dialog.h"

namespace hnx::test {

// Find, load and lock fail as the Win32 calls do: after a failed step the later ones fail too.
class MemoryImage final : public ImageResource {
 public:
  bool Find() override;
  bool Load() override;
  const std::uint8_t* Lock() override;
  std::uint32_t Size() override;

  std::vector<std::uint8_t> bytes;
  bool missing = false;
  bool unloadable = false;
  bool unlockable = false;

 private:
  bool found_ = false;
  bool loaded_ = false;
};

class RecordingSleeper final : public Sleeper {
 public:
  void Sleep(std::uint32_t milliseconds) override { waits.push_back(milliseconds); }
  std::vector<std::uint32_t> waits;
};

// Passes everything to the in-process library; `onLoad` sees the moment just before the library is
// loaded and `onUnload` the moment just before it is unloaded.
class WatchedLibrary final : public DynamicLibrary {
 public:
  explicit WatchedLibrary(DynamicLibrary& inner) : inner_(inner) {}
  Handle Load(const std::string& path) override;
  void* Resolve(Handle library, const char* name) override { return inner_.Resolve(library, name); }
  void Unload(Handle library) override;
  std::function<void()> onLoad;
  std::function<void()> onUnload;

 private:
  DynamicLibrary& inner_;
};

// Also keeps one line per call, in order, for the order of data exchange, enabling and messages.
class SequenceDialog final : public RecordingDialog {
 public:
  using RecordingDialog::RecordingDialog;
  void ShowMessage(const std::string& text, const std::string& caption, MessageIcon icon) override;
  void ShowAppMessage(const std::string& text) override;
  void EnableControl(int controlId, bool enable) override;
  void ControlsToMembers() override;
  void MembersToControls() override;
  FileChoice ChooseOpenFile(const FileDialogOptions& options) override;
  FileChoice ChooseSaveFile(const FileDialogOptions& options) override;
  std::vector<std::string> events;  // "message <text>", "enable <id> <0|1>", "take", "show", "open", "save"
};

class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  std::string Path(const std::string& name) const { return (root_ / name).string(); }

 private:
  std::filesystem::path root_;
};

struct OpsRig {
  // The device has the geometry of `chipType` (64 KiB in 64-byte blocks for an unknown one), whose
  // name the member and the control hold.
  explicit OpsRig(const std::string& chipType = "ZB29K702",
                  std::shared_ptr<const TempFolder> folder = std::make_shared<const TempFolder>());

  void SelectChip(const std::string& chipType);
  void SelectImagePath(const std::string& path);
  // Writes `bytes` to a file of the temporary folder and returns its path.
  std::string MakeFile(const std::string& name, std::span<const std::uint8_t> bytes) const;

  DialogState state;
  SequenceDialog ui{state};
  sim::SimDevice device;
  sim::InProcessLibrary library{device};
  WatchedLibrary watchedLibrary{library};
  FakeTopology hubs;
  MemoryImage image;
  RecordingSleeper sleeper;
  std::shared_ptr<const TempFolder> temp;
  OperationContext context;
};

std::vector<std::uint8_t> FileBytes(const std::string& path);
// Bytes that differ from block to block and are never 0x00 (no read protection asked) nor 0xFF (every
// byte shows when programmed).
std::vector<std::uint8_t> PatternImage(std::size_t size);

}  // namespace hnx::test
