#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "link/presence_scan.h"
#include "link/usb_hub_layout.h"
#include "support/fake_topology.h"

namespace hnx::test {
namespace {

std::uint32_t Scan(FakeTopology& topology) {
  std::uint32_t count = 0xDEADBEEF;
  CountAttachedDevices(topology, count);
  EXPECT_EQ(topology.openHandles(), 0u);
  EXPECT_EQ(topology.misuses(), 0u);
  return count;
}

std::size_t IdentificationRequests(const FakeTopology& topology) {
  return std::count_if(
      topology.ioControls().begin(), topology.ioControls().end(),
      [](const FakeIoControl& call) { return call.code == usb::kIoctlGetDescriptorFromNodeConnection; });
}

// HCD0: ROOT_HUB#0 [device, HUB#0001 [device, HUB#0002 [device]], device]; HCD2: ROOT_HUB#2
// [device, matching devices not connected and failed enumeration, a hub flag without a connection
// and HUB#0003 [device] behind it, HUB#0004 [] that answers the identification].
void BuildReference(FakeTopology& topology) {
  FakeHub& root = topology.AddController(0);
  root.AddDevice().AddHub().AddDevice().AddHub().AddDevice();
  root.AddDevice();
  FakeHub& second = topology.AddController(2).AddDevice();
  second.AddPort({false, kNoDeviceConnected, MatchingDescriptor()});
  second.AddPort({false, kDeviceFailedEnumeration, MatchingDescriptor()});
  second.AddPort({.deviceIsHub = true, .hub = &topology.NewHub().AddDevice()});
  second.AddPort({true, kDeviceConnected, MatchingDescriptor(), &topology.NewHub()});
}

TEST(PresenceScanWalkTest, TriesTenControllersAndHoldsEachHubOpenWhileWalkingBehindIt) {
  FakeTopology topology;
  BuildReference(topology);
  EXPECT_EQ(Scan(topology), 6u);
  EXPECT_EQ(IdentificationRequests(topology), 6u);  // neither hubs nor unconnected devices are asked
  EXPECT_EQ(topology.handleLog(),
            "+HCD0 +ROOT_HUB#0 +HUB#0001 +HUB#0002 -HUB#0002 -HUB#0001 -ROOT_HUB#0 -HCD0 !HCD1 +HCD2 "
            "+ROOT_HUB#2 +HUB#0003 -HUB#0003 +HUB#0004 -HUB#0004 -ROOT_HUB#2 -HCD2 !HCD3 !HCD4 !HCD5 !HCD6 "
            "!HCD7 !HCD8 !HCD9");
}

// A failed request loses the devices behind the controller, hub or port that it concerns, and
// nothing else; these are the reference topology's, with every hub in it.
const std::map<std::string, std::uint32_t> kDevicesBehind = {
    {"HCD0", 4},       {"ROOT_HUB#0", 4}, {"ROOT_HUB#0:1", 1}, {"ROOT_HUB#0:2", 2}, {"ROOT_HUB#0:3", 1},
    {"HUB#0001", 2},   {"HUB#0001:1", 1}, {"HUB#0001:2", 1},   {"HUB#0002", 1},     {"HUB#0002:1", 1},
    {"HCD2", 2},       {"ROOT_HUB#2", 2}, {"ROOT_HUB#2:1", 1}, {"ROOT_HUB#2:4", 1}, {"HUB#0003", 1},
    {"HUB#0003:1", 1}, {"HUB#0004", 0}};

TEST(PresenceScanWalkTest, AFailedRequestLosesOnlyWhatLiesBehindItAndEveryHandleIsClosed) {
  FakeTopology reference;
  BuildReference(reference);
  Scan(reference);
  for (std::size_t number = 0; number < reference.requests(); ++number) {
    FakeTopology topology;
    BuildReference(topology);
    topology.FailRequestNumber(number);
    const std::uint32_t count = Scan(topology);
    ASSERT_TRUE(topology.failedRequest()) << number;
    const FakeRequest& failed = *topology.failedRequest();
    const std::string key = failed.port == 0 ? failed.node : failed.node + ':' + std::to_string(failed.port);
    SCOPED_TRACE(testing::Message() << number << ": " << key);
    EXPECT_EQ(count, 6 - (kDevicesBehind.contains(key) ? kDevicesBehind.at(key) : 0));
    for (const std::string& path : topology.openAttempts()) {
      EXPECT_TRUE(path.starts_with(R"(\\.\HCD)") || kDevicesBehind.contains(path.substr(4))) << path;
    }
  }
}

// HCD0: a root hub of 255 ports with devices on the first and the last; HCD4: twelve hubs in series,
// a device beside each and one behind the last.
TEST(PresenceScanWalkTest, ReachesEveryPortAHubReportsAndEveryTier) {
  FakeTopology topology;
  FakeHub& wide = topology.AddController(0).AddDevice();
  while (wide.ports.size() < 254) wide.AddEmptyPort();
  wide.AddDevice();
  FakeHub* hub = &topology.AddController(4);
  for (int tier = 0; tier < 12; ++tier) hub = &hub->AddDevice().AddHub();
  hub->AddDevice();
  EXPECT_EQ(Scan(topology), 15u);
}

std::vector<std::uint8_t> Bytes(std::size_t size, std::map<std::size_t, std::uint8_t> set) {
  std::vector<std::uint8_t> bytes(size);
  for (const auto& [at, value] : set) bytes[at] = value;
  return bytes;
}

// HCD0: ROOT_HUB#0 [empty, HUB#0001 [device]]: every I/O control in order, at its documented size,
// zero-filled but for ConnectionIndex and the setup packet of the identification.
TEST(PresenceScanWalkTest, SendsEachRequestAtItsDocumentedSizeAndOffsets) {
  FakeTopology topology;
  topology.AddController(0).AddEmptyPort().AddHub().AddDevice();
  Scan(topology);
  using namespace usb;
  const std::vector<FakeIoControl> expected = {
      {kIoctlGetRootHubName, {}, 6},
      {kIoctlGetRootHubName, {}, 4 + 2 * 11},
      {kIoctlGetNodeInformation, Bytes(76, {}), 76},
      {kIoctlGetNodeConnectionInformation, Bytes(365, {{0, 1}}), 365},
      {kIoctlGetNodeConnectionInformation, Bytes(365, {{0, 2}}), 365},
      {kIoctlGetNodeConnectionName, Bytes(10, {{0, 2}}), 10},
      {kIoctlGetNodeConnectionName, Bytes(8 + 2 * 9, {{0, 2}}), 8 + 2 * 9},
      {kIoctlGetNodeInformation, Bytes(76, {}), 76},
      {kIoctlGetNodeConnectionInformation, Bytes(365, {{0, 1}}), 365},
      // descriptor index 0xFF, string descriptor, language 0x2861, 255 bytes
      {kIoctlGetDescriptorFromNodeConnection,
       Bytes(267, {{0, 1}, {6, 0xFF}, {7, 3}, {8, 0x61}, {9, 0x28}, {10, 0xFF}}), 267}};
  EXPECT_EQ(topology.ioControls(), expected);
}

}  // namespace
}  // namespace hnx::test
