#include <gtest/gtest.h>

#include <functional>

#include "ops/operations.h"
#include "support/ops_expect.h"
#include "support/ops_rig.h"

namespace hnx::test {
namespace {

struct ReconnectCase {
  const char* name;
  std::function<void(FakeTopology&)> attach;
  ShownMessage message;
};

TEST(Reconnect, ReportsWhetherADeviceAnswersTheIdentificationString) {
  const std::vector<ReconnectCase> cases = {
      {"no controllers", [](FakeTopology&) {}, Error("Device not found !!")},
      {"an empty port", [](FakeTopology& usb) { usb.AddController(0).AddEmptyPort(); },
       Error("Device not found !!")},
      {"another device",
       [](FakeTopology& usb) { usb.AddController(1).AddDevice(StringDescriptor(u"OTHER")); },
       Error("Device not found !!")},
      {"one device behind a hub", [](FakeTopology& usb) { usb.AddController(2).AddHub().AddDevice(); },
       Info("ZB44xx Found !")},
      {"two devices", [](FakeTopology& usb) { usb.AddController(0).AddDevice().AddDevice(); },
       Info("ZB44xx Found !")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    OpsRig rig;
    c.attach(rig.hubs);
    Reconnect(rig.context);
    EXPECT_EQ(rig.ui.messages, std::vector{c.message});
    EXPECT_EQ(rig.library.loads(), 0);
    EXPECT_TRUE(rig.ui.enableChanges.empty());
    EXPECT_EQ(rig.ui.controlsToMembersCalls + rig.ui.membersToControlsCalls, 0);
    EXPECT_EQ(rig.hubs.openHandles(), 0u);
  }
}

}  // namespace
}  // namespace hnx::test
