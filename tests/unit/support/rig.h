// What the tests run the engine against: a dialog that records what it is shown and asked, the
// simulated device behind the in-process library, a fake USB topology, an embedded image in memory, a
// sleeper that only records, one temporary folder, and the expectations read off the device's trace.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "ops/operations.h"
#include "sim/in_process_library.h"
#include "sim/sim_device.h"
#include "support/fake_topology.h"

namespace hnx::test {

struct ShownMessage {
  std::string text;
  std::string caption;
  MessageIcon icon = MessageIcon::None;
  bool appLevel = false;  // ShowAppMessage
  bool operator==(const ShownMessage&) const = default;
};

template <MessageIcon kIcon>
ShownMessage Shown(const std::string& text) {
  return {text, kDialogCaption, kIcon};
}
inline constexpr auto Info = Shown<MessageIcon::Information>;
inline constexpr auto Error = Shown<MessageIcon::Error>;
inline constexpr auto Warning = Shown<MessageIcon::Exclamation>;
inline constexpr auto Plain = Shown<MessageIcon::None>;
inline ShownMessage AppMessage(const std::string& text) {
  return {text, "", MessageIcon::None, true};
}

struct EnableChange {
  int controlId = 0;
  bool enabled = false;
  bool operator==(const EnableChange&) const = default;
};

// The eight operation buttons disabled, then enabled again, each in the guard's order.
std::vector<EnableChange> GuardHistory();

// Controls hold texts; data exchange copies between them and the bound DialogState. Every call that
// matters for order is also kept as one line of `events`: "message <text>", "enable <id> <0|1>",
// "take" (controls to members), "show" (members to controls), "open", "save".
class RecordingDialog : public DialogUi {
 public:
  explicit RecordingDialog(DialogState& state) : state_(state) {}

  void ShowMessage(const std::string& text, const std::string& caption, MessageIcon icon) override {
    Record({text, caption, icon});
  }
  void ShowAppMessage(const std::string& text) override { Record(AppMessage(text)); }
  void EnableControl(int controlId, bool enable) override;
  void SetControlText(int controlId, const std::string& text) override { texts_[controlId] = text; }
  void ControlsToMembers() override;
  void MembersToControls() override;
  void SetProgressRange(std::uint16_t, std::uint16_t) override {}
  void SetProgressPos(int position) override { progressPositions.push_back(position); }
  void MoveControl(int, int, int, int, int) override {}
  void ResizeWindow(int, int) override {}
  FileChoice ChooseOpenFile(const FileDialogOptions& options) override { return Choose("open", options); }
  FileChoice ChooseSaveFile(const FileDialogOptions& options) override { return Choose("save", options); }

  std::string ControlText(int controlId) const {
    return texts_.contains(controlId) ? texts_.at(controlId) : "";
  }

  std::vector<ShownMessage> messages;
  std::vector<EnableChange> enableChanges;
  std::vector<int> progressPositions;
  std::vector<FileDialogOptions> fileDialogs;
  std::vector<std::string> events;
  // The answer to the next file dialog; the ones after it are cancelled.
  FileChoice nextFileChoice;
  // Sees each event as it is recorded: to act or look at that moment.
  std::function<void(const std::string& event)> onEvent;

 private:
  void Record(const std::string& event);
  void Record(const ShownMessage& message);
  FileChoice Choose(const std::string& event, const FileDialogOptions& options);

  DialogState& state_;
  std::map<int, std::string> texts_;
};

// Find, load and lock fail as the Win32 calls do: after a failed step the later ones fail too.
class MemoryImage final : public ImageResource {
 public:
  bool Find() override { return found_ = !missing; }
  bool Load() override { return loaded_ = found_ && !unloadable; }
  const std::uint8_t* Lock() override { return loaded_ && !unlockable ? bytes.data() : nullptr; }
  std::uint32_t Size() override { return found_ ? static_cast<std::uint32_t>(bytes.size()) : 0; }

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

// A new, empty folder, removed with its contents at the end; in memory where the system offers it,
// since a sweep makes and removes files by the thousand.
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
  // name the member and the control hold. The rigs of a sweep share one folder.
  explicit OpsRig(const std::string& chipType = "ZB29K702",
                  std::shared_ptr<const TempFolder> folder = std::make_shared<const TempFolder>());

  void SelectImagePath(const std::string& path);
  // Writes `bytes` to a file of the temporary folder and returns its path.
  std::string MakeFile(const std::string& name, std::span<const std::uint8_t> bytes) const;

  DialogState state;
  RecordingDialog ui{state};
  sim::SimDevice device;
  sim::InProcessLibrary library{device};
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

struct SentFrame {
  std::uint8_t opcode = 0;
  std::uint32_t address = 0;
  bool operator==(const SentFrame&) const = default;
};
void PrintTo(const SentFrame& frame, std::ostream* out);

using Trace = std::vector<TraceRecord>;
using Call = TraceRecord::Call;

// Every 10-byte bulk write, sent whole or not.
std::vector<SentFrame> SentFrames(const Trace& trace);
std::size_t TransferCount(const Trace& trace);
std::vector<Call> Calls(const Trace& trace);
// The calls after the last bulk transfer (all calls when there was none).
std::vector<Call> CallsAfterLastTransfer(const Trace& trace);
// The trace as the lines of the simulator library's trace file.
std::vector<std::string> TraceLines(const sim::SimDevice& device);
// The lines of a text file without their line ends; none when it cannot be read.
std::vector<std::string> FileLines(const std::string& path);

// The lines with the figures of each "... in 4.1 s (31.2 KiB/s)" put as "in T s (R KiB/s)".
std::vector<std::string> WithFiguresMasked(std::vector<std::string> lines);

// Sets a variable of this process's environment, where the simulator library reads its settings;
// "" unsets it for the library.
void SetVariable(const char* name, const std::string& value);

// The library of this build that lacks one entry point: "no_open", "no_close", "no_write", "no_read".
std::string SimLibraryLackingPath(const std::string& lack);

}  // namespace hnx::test
