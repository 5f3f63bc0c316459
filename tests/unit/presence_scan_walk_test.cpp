#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
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

struct ShapeCase {
  std::string name;
  std::function<void(FakeTopology&)> build;
  std::uint32_t count;
  std::size_t asked;  // identification requests
};

void PrintTo(const ShapeCase& c, std::ostream* os) {
  *os << c.name;
}

class PresenceScanShapeTest : public testing::TestWithParam<ShapeCase> {};

TEST_P(PresenceScanShapeTest, CountsTheMatchingDevicesItReachesAskingOnlyConnectedDevices) {
  FakeTopology topology;
  GetParam().build(topology);
  EXPECT_EQ(Scan(topology), GetParam().count);
  EXPECT_EQ(std::count_if(topology.ioControls().begin(), topology.ioControls().end(),
                          [](const FakeIoControl& call) {
                            return call.code == usb::kIoctlGetDescriptorFromNodeConnection;
                          }),
            GetParam().asked);
}

INSTANTIATE_TEST_SUITE_P(
    Topologies, PresenceScanShapeTest,
    testing::Values(
        ShapeCase{"HubFlagWhileNotConnectedIsFollowed",
                  [](FakeTopology& t) {
                    FakeHub& behind = t.NewHub();
                    behind.AddDevice();
                    t.AddController(0).AddPort({.deviceIsHub = true, .hub = &behind});
                  },
                  1, 1},
        ShapeCase{"HubAnsweringTheIdentificationIsNotAsked",
                  [](FakeTopology& t) {
                    t.AddController(0).AddPort({true, kDeviceConnected, MatchingDescriptor(), &t.NewHub()});
                  },
                  0, 0},
        // Matching devices on ports 2 and 3 that are not connected or failed enumeration.
        ShapeCase{"PortsOneToTheReportedCount",
                  [](FakeTopology& t) {
                    FakeHub& root = t.AddController(0).AddDevice();
                    root.AddPort({false, kNoDeviceConnected, MatchingDescriptor()});
                    root.AddPort({false, kDeviceFailedEnumeration, MatchingDescriptor()});
                    while (root.ports.size() < 254) root.AddEmptyPort();
                    root.AddDevice();
                  },
                  2, 2},
        ShapeCase{"DeepChainOfHubs",
                  [](FakeTopology& t) {
                    FakeHub* hub = &t.AddController(4);
                    for (int depth = 0; depth < 12; ++depth) hub = &hub->AddDevice().AddHub();
                    hub->AddDevice();
                  },
                  13, 13}),
    [](const testing::TestParamInfo<ShapeCase>& info) { return info.param.name; });

// HCD0: ROOT_HUB#0 [device, HUB#0001 [device, HUB#0002 [device]], device]; HCD2: ROOT_HUB#2 [device].
void BuildReference(FakeTopology& topology) {
  FakeHub& root = topology.AddController(0);
  root.AddDevice().AddHub().AddDevice().AddHub().AddDevice();
  root.AddDevice();
  topology.AddController(2).AddDevice();
}

TEST(PresenceScanWalkTest, TriesTenControllersAndHoldsEachHubOpenWhileWalkingBehindIt) {
  FakeTopology topology;
  BuildReference(topology);
  EXPECT_EQ(Scan(topology), 5u);
  EXPECT_EQ(topology.handleLog(),
            "+HCD0 +ROOT_HUB#0 +HUB#0001 +HUB#0002 -HUB#0002 -HUB#0001 -ROOT_HUB#0 -HCD0 !HCD1 +HCD2 "
            "+ROOT_HUB#2 -ROOT_HUB#2 -HCD2 !HCD3 !HCD4 !HCD5 !HCD6 !HCD7 !HCD8 !HCD9");
}

// A failed request loses the devices behind the controller, hub or port that it concerns, and
// nothing else; these are the reference topology's.
const std::map<std::string, std::uint32_t> kDevicesBehind = {
    {"HCD0", 4},     {"ROOT_HUB#0", 4}, {"ROOT_HUB#0:1", 1}, {"ROOT_HUB#0:2", 2}, {"ROOT_HUB#0:3", 1},
    {"HUB#0001", 2}, {"HUB#0001:1", 1}, {"HUB#0001:2", 1},   {"HUB#0002", 1},     {"HUB#0002:1", 1},
    {"HCD2", 1},     {"ROOT_HUB#2", 1}, {"ROOT_HUB#2:1", 1}};

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
    EXPECT_EQ(count, 5 - (kDevicesBehind.contains(key) ? kDevicesBehind.at(key) : 0));
    for (const std::string& path : topology.openAttempts()) {
      EXPECT_TRUE(path.starts_with(R"(\\.\HCD)") || kDevicesBehind.contains(path.substr(4))) << path;
    }
  }
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
