// Every device operation's clean run (its messages, dialog events, frames and what it leaves), then
// its transfers failing in turn, then coming short in turn, and its program statuses coming back
// non-zero (TransfersToTry says which): each case must show the message of the operation's failure
// table, send nothing after the failure and release everything.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <optional>
#include <sstream>

#include "link/isp.h"
#include "support/rig.h"

namespace hnx::test {
namespace {

namespace fs = std::filesystem;

enum class Role { Frame, DataOut, DataIn, Status };

// One transfer of an exchange: which frame it belongs to and what it carries.
struct Step {
  std::uint8_t opcode = 0;
  Role role = Role::Frame;
  auto operator<=>(const Step&) const = default;
};

using FailureTable = std::map<Step, const char*>;  // all shown with the error icon

struct SweptOperation {
  const char* name;
  const char* chip;
  void (*run)(OperationContext&);
  std::function<void(OpsRig&)> prepare;
  std::vector<ShownMessage> success;
  const char* events;                             // of the clean run, in the words of Events()
  std::vector<SentFrame> frames;                  // of the clean run
  std::function<bool(const OpsRig&)> cleanState;  // what the clean run left on the device and disk
  FailureTable failures;
};

constexpr const char* kWriteFailure = "Write Failure !!";
constexpr const char* kReadFailure = "Read Failure !!";
constexpr const char* kFlashWriteFailure = "Flash Write Failure !!";
constexpr const char* kProtectFailure = "Read Protect Failure !!";

const FailureTable kEraseFailures = {{{OpMassErase, Role::Frame}, kWriteFailure},
                                     {{OpMassErase, Role::Status}, kReadFailure}};
const FailureTable kReadBlockFailures = {{{OpReadBlock, Role::Frame}, kWriteFailure},
                                         {{OpReadBlock, Role::DataIn}, kReadFailure},
                                         {{OpReadBlock, Role::Status}, kReadFailure}};
const FailureTable kProgramFailures = {{{OpProgramBlock, Role::Frame}, kFlashWriteFailure},
                                       {{OpProgramBlock, Role::DataOut}, kFlashWriteFailure},
                                       {{OpProgramBlock, Role::Status}, kReadFailure}};

FailureTable Merge(std::vector<FailureTable> tables) {
  FailureTable all;
  for (const auto& table : tables) all.insert(table.begin(), table.end());
  return all;
}

const FailureTable kUpdateFailures = Merge({kEraseFailures,
                                            kProgramFailures,
                                            kReadBlockFailures,
                                            {{{OpFinish, Role::Frame}, kFlashWriteFailure},
                                             {{OpReadProtect, Role::Frame}, kProtectFailure},
                                             {{OpExitIsp, Role::Frame}, kFlashWriteFailure}}});

// The frames of `opcode` at 0, L, 2L, ... below `imageSize`.
std::vector<SentFrame> BlockFrames(std::uint8_t opcode, std::uint32_t imageSize, std::uint32_t blockLength) {
  std::vector<SentFrame> frames;
  for (std::uint32_t address = 0; address < imageSize; address += blockLength)
    frames.push_back({opcode, address});
  return frames;
}

std::vector<SentFrame> Concat(std::vector<std::vector<SentFrame>> parts) {
  std::vector<SentFrame> all;
  for (auto& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

std::vector<SentFrame> UpdateFrames(std::uint32_t size, std::uint32_t block, bool protect) {
  std::vector<SentFrame> tail = {{OpFinish, 0}};
  if (protect) tail.push_back({OpReadProtect, 0});
  tail.push_back({OpExitIsp, 0});
  return Concat({{{OpMassErase, 0}},
                 BlockFrames(OpProgramBlock, size, block),
                 BlockFrames(OpReadBlock, size, block),
                 tail});
}

bool UpdatedInFull(const OpsRig& rig) {
  return rig.device.flash() == rig.image.bytes && rig.device.exitedIsp() && !rig.device.readProtected() &&
         TransferCount(rig.device.trace()) == 6148 && rig.sleeper.waits.empty();
}

// The device is given 0xFF where the marker was.
bool UpdatedAndProtected(const OpsRig& rig) {
  auto expected = std::vector(rig.image.bytes.begin(), rig.image.bytes.begin() + 0x4000);
  std::fill(expected.end() - 5, expected.end(), 0xFF);
  return rig.device.flash() == expected && rig.device.readProtected();
}

void FlashToDump(OpsRig& rig) {
  rig.device.flash() = PatternImage(0x4000);
  rig.ui.nextFileChoice = {true, rig.temp->Path("d.dmp")};
}

// The dialog's events from one word each: "off" and "on" for the guard, "message" for the next of
// `messages`, "reconnect" for enabling Re-connect, any other word as it is.
std::vector<std::string> Events(const std::string& words, const std::vector<ShownMessage>& messages) {
  std::vector<std::string> events;
  auto message = messages.begin();
  std::istringstream in(words);
  for (std::string word; in >> word;) {
    if (word == "off" || word == "on") {
      for (int id : kOperationButtons)
        events.push_back("enable " + std::to_string(id) + (word == "on" ? " 1" : " 0"));
    } else {
      events.push_back(word == "message"     ? "message " + (message++)->text
                       : word == "reconnect" ? "enable 1005 1"
                                             : word);
    }
  }
  return events;
}

// The rigs of a sweep share their folder, and the file stays the same from case to case.
void UseImageFile(OpsRig& rig) {
  const std::string path = rig.temp->Path("image.bin");
  if (!fs::exists(path)) rig.MakeFile("image.bin", PatternImage(rig.device.flash().size()));
  rig.SelectImagePath(path);
}

// clang-format off
const std::vector<SweptOperation> kOperations = {
      {"Update64KiB", "ZB29K702", &RunUpdate, [](OpsRig&) {}, {Info("Auto Command Succeeded !!")},
         "take take show take off show message on show", UpdateFrames(0x10000, 64, false), UpdatedInFull,
         kUpdateFailures},
      {"Update16KiBProtected", "ZB4420", &RunUpdate, [](OpsRig& rig) { rig.image.bytes[0x4000 - 5] = 0; },
         {Info("Auto Command Succeeded !!")}, "take take show take off show message on show",
         UpdateFrames(0x4000, 32, true), UpdatedAndProtected, kUpdateFailures},
      {"MassErase", "ZB29K702", &MassEraseWithBlankCheck,
         [](OpsRig& rig) { rig.device.flash().assign(0x10000, 0x12); },
         {Info("Mass Erase Command Succeeded !")}, "take show off message on",
         Concat({{{OpMassErase, 0}}, BlockFrames(OpReadBlock, 0x10000, 64)}),
         [](const OpsRig& rig) { return rig.device.flash() == std::vector<std::uint8_t>(0x10000, 0xFF); },
         Merge({kEraseFailures, kReadBlockFailures})},
      {"MassErase16KiB", "ZB4437", &MassEraseWithBlankCheck, [](OpsRig&) {},
         {Info("Mass Erase Command Succeeded !")}, "take show off message on",
         Concat({{{OpMassErase, 0}}, BlockFrames(OpReadBlock, 0x4000, 32)}),
         [](const OpsRig& rig) { return rig.state.m_nImageSize == 0x4000 && rig.state.m_nBlockLength == 32; },
         Merge({kEraseFailures, kReadBlockFailures})},
      {"Write", "ZB2861K", &WriteImageFile, UseImageFile, {Info("Write Command Succeeded !")},
         "take off show message on", BlockFrames(OpProgramBlock, 0x10000, 64),
         [](const OpsRig& rig) { return rig.device.flash() == FileBytes(rig.temp->Path("image.bin")); },
         kProgramFailures},
      {"Verify", "ZB29K702", &VerifyImageFile,
         [](OpsRig& rig) { UseImageFile(rig); rig.device.flash() = PatternImage(0x10000); },
         {Info("Verify Command Succeeded !!")}, "show take off message on",
         Concat({BlockFrames(OpReadBlock, 0x10000, 64), {{OpFinish, 0}}}),
         [](const OpsRig& rig) { return rig.state.m_strChecksum.empty(); },
         Merge({kReadBlockFailures, {{{OpFinish, Role::Frame}, kFlashWriteFailure}}})},
      {"Read", "ZB4420", &ReadToDumpFile, FlashToDump,
         {Info("Read Command Succeeded !!"), Info("Download Completed !")}, "show off save take message message on",
         BlockFrames(OpReadBlock, 0x4000, 32),
         [](const OpsRig& rig) { return FileBytes(rig.temp->Path("d.dmp")) == rig.device.flash(); },
         kReadBlockFailures},
      {"ReadProtect", "", &ReadProtect, [](OpsRig&) {}, {Info("Read Protect Command Succeeded !")}, "message",
         {{OpReadProtect, 0}}, [](const OpsRig& rig) { return rig.device.readProtected(); },
         {{{OpReadProtect, Role::Frame}, kProtectFailure}}},
      {"ExitIsp", "", &ExitIsp, [](OpsRig&) {}, {Info("EXIT ISP Successfull !!")}, "message reconnect",
         {{OpExitIsp, 0}}, [](const OpsRig& rig) { return rig.device.exitedIsp(); },
         {{{OpExitIsp, Role::Frame}, kFlashWriteFailure}}},
};
// clang-format on

// The step of every transfer of a trace, in order.
std::vector<Step> Steps(const Trace& trace) {
  std::vector<Step> steps;
  std::uint8_t opcode = 0;
  for (const auto& record : trace) {
    if (record.call == Call::BulkWrite && record.length == kFrameLength) {
      opcode = record.bytes.at(0);
      steps.push_back({opcode, Role::Frame});
    } else if (record.call == Call::BulkWrite) {
      steps.push_back({opcode, Role::DataOut});
    } else if (record.call == Call::BulkRead) {
      steps.push_back({opcode, record.length == 1 ? Role::Status : Role::DataIn});
    }
  }
  return steps;
}

// Transfer numbers (from 1) to try: every transfer of a phase (the exchanges of one opcode in a row)
// of up to 512 exchanges, the 16 KiB chip's count of blocks; of a longer one, every transfer of its
// first, a middle and its last exchange, where a fault of the loop or of the hand-over from one phase
// to the next would show. Under Wine and AddressSanitizer, where a case costs many times more and the
// native build tries every transfer, every phase is tried so: their memory faults follow the path.
std::vector<std::size_t> TransfersToTry(const std::vector<Step>& steps) {
#if defined(_WIN32) || defined(__SANITIZE_ADDRESS__)
  constexpr std::size_t kLongPhase = 1;
#else
  constexpr std::size_t kLongPhase = 512;
#endif
  // The exchanges as [first, end) ranges of steps, grouped into phases.
  std::vector<std::vector<std::pair<std::size_t, std::size_t>>> phases;
  for (std::size_t i = 0; i < steps.size();) {
    std::size_t end = i + 1;
    while (end < steps.size() && steps[end].role != Role::Frame) ++end;
    if (phases.empty() || steps[phases.back().front().first].opcode != steps[i].opcode) phases.emplace_back();
    phases.back().emplace_back(i, end);
    i = end;
  }
  std::vector<std::size_t> numbers;
  for (const auto& exchanges : phases) {
    const std::size_t last = exchanges.size() - 1;
    for (std::size_t e = 0; e <= last; ++e) {
      const bool tried = exchanges.size() <= kLongPhase || e == 0 || e == last / 2 || e == last;
      for (std::size_t k = exchanges[e].first; tried && k < exchanges[e].second; ++k)
        numbers.push_back(k + 1);
    }
  }
  return numbers;
}

class FaultSweep : public ::testing::TestWithParam<SweptOperation> {
 protected:
  // The clean run: its messages, events and frames, what it left, and everything released.
  void SetUp() override {
    OpsRig rig(GetParam().chip, folder_);
    GetParam().prepare(rig);
    GetParam().run(rig.context);
    ASSERT_EQ(rig.ui.messages, GetParam().success);
    ASSERT_EQ(rig.ui.events, Events(GetParam().events, GetParam().success));
    ASSERT_EQ(SentFrames(rig.device.trace()), GetParam().frames);
    ASSERT_EQ(Released(rig), "");
    ASSERT_TRUE(GetParam().cleanState(rig));
    cleanSteps_ = Steps(rig.device.trace());
    blockLength_ = rig.device.blockLength();
  }

  // Runs the operation on a fresh rig with `plan`; the problems found, or "".
  std::string RunFailing(const sim::FaultPlan& plan, const char* message, std::size_t lastTransfer) const {
    OpsRig rig(GetParam().chip, folder_);
    GetParam().prepare(rig);
    rig.device.faults() = plan;
    GetParam().run(rig.context);

    std::ostringstream problems;
    if (rig.ui.messages != std::vector{Error(message)})
      problems << " message " << (rig.ui.messages.empty() ? "none" : rig.ui.messages.back().text);
    if (TransferCount(rig.device.trace()) != lastTransfer)
      problems << " transfers " << TransferCount(rig.device.trace());
    // The guard's buttons come back, and nothing else is enabled.
    const bool guarded = std::string_view(GetParam().events).find("off") != std::string_view::npos;
    if (rig.ui.enableChanges != (guarded ? GuardHistory() : std::vector<EnableChange>{}))
      problems << " enabling";
    problems << Released(rig);
    if (GetParam().run == &ReadToDumpFile &&
        fs::file_size(rig.temp->Path("d.dmp")) != AcceptedBlocksBefore(lastTransfer) * blockLength_)
      problems << " dump of " << fs::file_size(rig.temp->Path("d.dmp")) << " bytes";
    return problems.str();
  }

  std::string Released(const OpsRig& rig) const {
    const SweptOperation& operation = GetParam();
    std::ostringstream problems;
    // Exit ISP alone leaves the pipe open.
    const bool closesPipe = operation.run != &ExitIsp;
    if (CallsAfterLastTransfer(rig.device.trace()) !=
        (closesPipe ? std::vector{Call::ClosePipe} : std::vector<Call>{}))
      problems << " calls after the last transfer";
    if (rig.library.loaded() || sim::InProcessLibrary::CallsWhileUnloaded() != 0) problems << " library";
    if (rig.device.pipeOpen() == closesPipe) problems << " pipe";
    if (operation.run == &RunUpdate && fs::exists(rig.context.staging.folder)) problems << " staging left";
    return problems.str();
  }

  std::size_t AcceptedBlocksBefore(std::size_t transfer) const {
    std::size_t accepted = 0;
    for (std::size_t i = 0; i + 1 < transfer; ++i)
      accepted += cleanSteps_[i] == Step{OpReadBlock, Role::Status} ? 1 : 0;
    return accepted;
  }

  // Plants `fault` at each transfer k of the clean run (or each of step `only`) in turn: the run must
  // end there with the message of the failure table, or `message` when given.
  void Sweep(const std::function<void(sim::FaultPlan&, std::size_t k)>& fault, std::optional<Step> only = {},
             const char* message = nullptr) {
    std::vector<std::string> failed;
    std::size_t cases = 0;
    for (std::size_t k : TransfersToTry(cleanSteps_)) {
      const Step step = cleanSteps_.at(k - 1);
      if (only && step != *only) continue;
      sim::FaultPlan plan;
      fault(plan, k);
      ++cases;
      const std::string problems = RunFailing(plan, message ? message : GetParam().failures.at(step), k);
      if (!problems.empty()) failed.push_back("transfer " + std::to_string(k) + ":" + problems);
    }
    RecordProperty("cases", static_cast<int>(cases));
    EXPECT_GT(cases, 0u);
    EXPECT_EQ(std::vector(failed.begin(), failed.begin() + std::min<std::size_t>(failed.size(), 10)),
              std::vector<std::string>{})
        << failed.size() << " of " << cases << " cases failed";
  }

  std::shared_ptr<const TempFolder> folder_ = std::make_shared<const TempFolder>();
  std::vector<Step> cleanSteps_;
  std::uint32_t blockLength_ = 0;
};

// A refused program status is a flash write failure.
TEST_P(FaultSweep, EachTransferFailingOrComingShortAndEachProgramStatusRefusedInTurnShowsItsMessage) {
  Sweep([](sim::FaultPlan& plan, std::size_t k) { plan.failTransfer = k; });
  SCOPED_TRACE("coming short");
  Sweep([](sim::FaultPlan& plan, std::size_t k) { plan.shortTransfer = k; });
  const Step status = {OpProgramBlock, Role::Status};
  if (!GetParam().failures.contains(status)) return;  // programs nothing
  SCOPED_TRACE("program status refused");
  // Program exchanges come three by three: transfer k is an exchange of frame (k - 1) / 3.
  const auto refuse = [&](sim::FaultPlan& plan, std::size_t k) {
    plan.programStatus = {{GetParam().frames[(k - 1) / 3].address, 0x01}};
  };
  Sweep(refuse, status, kFlashWriteFailure);
}

INSTANTIATE_TEST_SUITE_P(DeviceOperations, FaultSweep, ::testing::ValuesIn(kOperations),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace hnx::test
