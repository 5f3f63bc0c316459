#include <gtest/gtest.h>

#include <algorithm>

#include "link/presence_scan.h"
#include "support/fake_topology.h"

namespace hnx::test {
namespace {

using Kind = FakeRequestKind;

// HCD0: ROOT_HUB#0 [device, HUB#0001 [device, HUB#0002 [device]], device]; HCD1: ROOT_HUB#1 [device].
void BuildFiveDevices(FakeTopology& topology) {
  FakeHub& root = topology.AddController(0);
  root.AddDevice().AddHub().AddDevice().AddHub().AddDevice();
  root.AddDevice();
  topology.AddController(1).AddDevice();
}

constexpr std::uint32_t kAllDevices = 5;

std::size_t FailedCalls(const FakeTopology& topology) {
  return static_cast<std::size_t>(std::count_if(topology.calls().begin(), topology.calls().end(),
                                                [](const FakeCall& call) { return call.failed; }));
}

struct FailureCase {
  std::string name;
  FakeRequest failing;
  std::uint32_t count;
};

void PrintTo(const FailureCase& c, std::ostream* os) {
  *os << c.name;
}

class PresenceScanFailureTest : public testing::TestWithParam<FailureCase> {};

TEST_P(PresenceScanFailureTest, SkipsTheFailedNodeAndWalksOn) {
  FakeTopology topology;
  BuildFiveDevices(topology);
  topology.FailRequest(GetParam().failing);
  std::uint32_t count = 0;
  CountAttachedDevices(topology, count);
  EXPECT_EQ(FailedCalls(topology), 1u);
  EXPECT_EQ(count, GetParam().count);
  EXPECT_EQ(topology.openHandles(), 0u);
  EXPECT_EQ(topology.misuses(), 0u);
  EXPECT_EQ(topology.openAttempts().back(), R"(\\.\HCD9)");
}

INSTANTIATE_TEST_SUITE_P(
    FailureTable, PresenceScanFailureTest,
    testing::Values(
        FailureCase{"ControllerOpen", {Kind::Open, "HCD0"}, 1},
        FailureCase{"RootHubNameProbe", {Kind::RootHubNameProbe, "HCD0"}, 1},
        FailureCase{"RootHubName", {Kind::RootHubName, "HCD0"}, 1},
        FailureCase{"RootHubNameSize", {Kind::NarrowSize, "ROOT_HUB#0"}, 1},
        FailureCase{"RootHubNameConversion", {Kind::Narrow, "ROOT_HUB#0"}, 1},
        FailureCase{"RootHubOpen", {Kind::Open, "ROOT_HUB#0"}, 1},
        FailureCase{"RootHubNodeInformation", {Kind::NodeInformation, "ROOT_HUB#0"}, 1},
        FailureCase{"DevicePortConnectionInformation", {Kind::ConnectionInformation, "ROOT_HUB#0", 1}, 4},
        FailureCase{"HubPortConnectionInformation", {Kind::ConnectionInformation, "ROOT_HUB#0", 2}, 3},
        FailureCase{"Identification", {Kind::Descriptor, "ROOT_HUB#0", 1}, 4},
        FailureCase{"ExternalHubNameProbe", {Kind::NodeNameProbe, "ROOT_HUB#0", 2}, 3},
        FailureCase{"ExternalHubName", {Kind::NodeName, "ROOT_HUB#0", 2}, 3},
        FailureCase{"ExternalHubNameSize", {Kind::NarrowSize, "HUB#0001"}, 3},
        FailureCase{"ExternalHubNameConversion", {Kind::Narrow, "HUB#0001"}, 3},
        FailureCase{"ExternalHubOpen", {Kind::Open, "HUB#0001"}, 3},
        FailureCase{"ExternalHubNodeInformation", {Kind::NodeInformation, "HUB#0001"}, 3},
        FailureCase{"SecondTierHubNameProbe", {Kind::NodeNameProbe, "HUB#0001", 2}, 4},
        FailureCase{"SecondTierHubNodeInformation", {Kind::NodeInformation, "HUB#0002"}, 4},
        FailureCase{"SecondTierIdentification", {Kind::Descriptor, "HUB#0002", 1}, 4},
        FailureCase{"LaterControllerOpen", {Kind::Open, "HCD1"}, 4}),
    [](const testing::TestParamInfo<FailureCase>& info) { return info.param.name; });

// Whatever single request fails, the scan loses at most what lies behind it, closes everything it
// opened and still reaches the last controller index.
TEST(PresenceScanFailureSweepTest, AnySingleFailedRequestLeavesTheScanWhole) {
  FakeTopology reference;
  BuildFiveDevices(reference);
  std::uint32_t count = 0;
  CountAttachedDevices(reference, count);
  ASSERT_EQ(count, kAllDevices);

  for (std::size_t number = 0; number < reference.calls().size(); ++number) {
    SCOPED_TRACE(number);
    FakeTopology topology;
    BuildFiveDevices(topology);
    topology.FailRequestNumber(number);
    CountAttachedDevices(topology, count);
    EXPECT_EQ(FailedCalls(topology), 1u);
    EXPECT_LE(count, kAllDevices);
    EXPECT_EQ(topology.openHandles(), 0u);
    EXPECT_EQ(topology.misuses(), 0u);
    EXPECT_EQ(topology.openAttempts().back(), R"(\\.\HCD9)");
  }
}

}  // namespace
}  // namespace hnx::test
