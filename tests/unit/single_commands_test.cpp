#include <gtest/gtest.h>

#include "link/isp.h"
#include "ops/operations.h"
#include "res/resource.h"
#include "support/ops_expect.h"
#include "support/ops_rig.h"

namespace hnx::test {
namespace {

using Call = sim::TraceRecord::Call;

// The calls of the trace with the bytes of the frames.
std::vector<std::pair<Call, std::vector<std::uint8_t>>> Calls(const Trace& trace) {
  std::vector<std::pair<Call, std::vector<std::uint8_t>>> calls;
  for (const auto& record : trace) calls.emplace_back(record.call, record.bytes);
  return calls;
}

const std::vector<std::uint8_t> kProtectFrame = {0x2C, 0, 0, 0, 0, 0, 0, 0, 0x40, 0};
const std::vector<std::uint8_t> kExitFrame = {0x20, 0, 0, 0, 0, 0, 0, 0, 0x40, 0};

void ExpectUntouchedDialog(const OpsRig& rig) {
  EXPECT_EQ(rig.ui.controlsToMembersCalls, 0);
  EXPECT_EQ(rig.ui.membersToControlsCalls, 0);
  EXPECT_FALSE(rig.library.loaded());
  EXPECT_EQ(sim::InProcessLibrary::CallsWhileUnloaded(), 0);
}

TEST(ReadProtect, SendsTheProtectFrameAloneAndClosesThePipe) {
  OpsRig rig("");  // no chip type needed
  ReadProtect(rig.context);
  EXPECT_EQ(rig.ui.messages, std::vector{Info("Read Protect Command Succeeded !")});
  const decltype(Calls({})) expected = {
      {Call::OpenPipe, {}}, {Call::BulkWrite, kProtectFrame}, {Call::ClosePipe, {}}};
  EXPECT_EQ(Calls(rig.device.trace()), expected);
  EXPECT_TRUE(rig.device.readProtected());
  EXPECT_TRUE(rig.ui.enableChanges.empty());
  ExpectUntouchedDialog(rig);
}

TEST(ExitIsp, SendsTheExitFrameUnloadsWithThePipeOpenAndEnablesReconnect) {
  OpsRig rig("");
  rig.ui.EnableControl(IDC_RECONNECT, false);
  rig.ui.events.clear();
  ExitIsp(rig.context);
  EXPECT_EQ(rig.ui.messages, std::vector{Info("EXIT ISP Successfull !!")});
  const decltype(Calls({})) expected = {{Call::OpenPipe, {}}, {Call::BulkWrite, kExitFrame}};
  EXPECT_EQ(Calls(rig.device.trace()), expected);
  EXPECT_TRUE(rig.device.exitedIsp());
  EXPECT_EQ(rig.ui.events, (std::vector<std::string>{"message EXIT ISP Successfull !!", "enable 1005 1"}));
  EXPECT_TRUE(rig.ui.IsEnabled(IDC_RECONNECT));
  ExpectUntouchedDialog(rig);
}

struct CommandCase {
  const char* name;
  void (*operation)(OperationContext&);
  bool library;
  int openFailures;
  std::uint64_t shortTransfer;
  ShownMessage message;
  std::vector<Call> calls;
};

TEST(SingleCommands, ReportNoDeviceAndFramesNotSentWholeAndLeaveTheButtonsAlone) {
  const std::vector<CommandCase> cases = {
      {"protect, no library", &ReadProtect, false, 0, 0, Plain("Can't find the device!"), {}},
      {"protect, no device", &ReadProtect, true, -1, 0, Plain("Can't find the device!"), {Call::OpenPipe}},
      {"protect, 9 bytes",
       &ReadProtect,
       true,
       0,
       1,
       Error("Read Protect Failure !!"),
       {Call::OpenPipe, Call::BulkWrite, Call::ClosePipe}},
      {"exit, no library", &ExitIsp, false, 0, 0, Plain("Can't find the device!"), {}},
      {"exit, no device", &ExitIsp, true, -1, 0, Plain("Can't find the device!"), {Call::OpenPipe}},
      {"exit, 9 bytes",
       &ExitIsp,
       true,
       0,
       1,
       Error("Flash Write Failure !!"),
       {Call::OpenPipe, Call::BulkWrite}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    OpsRig rig;
    rig.library.RefuseLoad(!c.library);
    rig.device.faults().openFailures = c.openFailures;
    rig.device.faults().shortTransfer = c.shortTransfer;
    rig.ui.EnableControl(IDC_RECONNECT, false);
    rig.ui.enableChanges.clear();
    c.operation(rig.context);
    EXPECT_EQ(rig.ui.messages, std::vector{c.message});
    std::vector<Call> calls;
    for (const auto& record : rig.device.trace()) calls.push_back(record.call);
    EXPECT_EQ(calls, c.calls);
    EXPECT_TRUE(rig.ui.enableChanges.empty());
    EXPECT_FALSE(rig.ui.IsEnabled(IDC_RECONNECT));
    ExpectUntouchedDialog(rig);
  }
}

}  // namespace
}  // namespace hnx::test
