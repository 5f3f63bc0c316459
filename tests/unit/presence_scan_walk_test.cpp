#include <gtest/gtest.h>

#include <functional>

#include "link/presence_scan.h"
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
};

void PrintTo(const ShapeCase& c, std::ostream* os) {
  *os << c.name;
}

class PresenceScanShapeTest : public testing::TestWithParam<ShapeCase> {};

TEST_P(PresenceScanShapeTest, CountsTheMatchingDevicesItReaches) {
  FakeTopology topology;
  GetParam().build(topology);
  EXPECT_EQ(Scan(topology), GetParam().count);
}

FakePort HubFlagged(std::uint32_t status, FakeHub* hub) {
  return {.deviceIsHub = true, .connectionStatus = status, .descriptor = MatchingDescriptor(), .hub = hub};
}

FakePort Device(std::uint32_t status) {
  return {
      .deviceIsHub = false, .connectionStatus = status, .descriptor = MatchingDescriptor(), .hub = nullptr};
}

INSTANTIATE_TEST_SUITE_P(
    Topologies, PresenceScanShapeTest,
    testing::Values(
        ShapeCase{"NoControllers", [](FakeTopology&) {}, 0},
        ShapeCase{"RootPortAndBehindExternalHub",
                  [](FakeTopology& t) { t.AddController(0).AddDevice().AddHub().AddDevice(); }, 2},
        ShapeCase{"HubFlagWhileNotConnectedIsFollowed",
                  [](FakeTopology& t) {
                    FakeHub& behind = t.NewHub();
                    behind.AddDevice();
                    t.AddController(0).AddPort(HubFlagged(kNoDeviceConnected, &behind));
                  },
                  1},
        ShapeCase{
            "HubAnsweringTheIdentificationIsNotCounted",
            [](FakeTopology& t) { t.AddController(0).AddPort(HubFlagged(kDeviceConnected, &t.NewHub())); },
            0},
        ShapeCase{"HubFlagWithoutHubBehindIt",
                  [](FakeTopology& t) { t.AddController(0).AddPort(HubFlagged(kDeviceConnected, nullptr)); },
                  0},
        ShapeCase{"HubReportingNoPorts",
                  [](FakeTopology& t) { t.AddController(0).AddDevice().reportedPortCount = 0; }, 0},
        ShapeCase{"DeepChainOfHubs",
                  [](FakeTopology& t) {
                    FakeHub* hub = &t.AddController(4);
                    for (int depth = 0; depth < 12; ++depth) hub = &hub->AddDevice().AddHub();
                    hub->AddDevice();
                  },
                  13}),
    [](const testing::TestParamInfo<ShapeCase>& info) { return info.param.name; });

TEST(PresenceScanWalkTest, TriesAllTenControllerIndicesWhicheverExist) {
  FakeTopology topology;
  topology.AddController(2, u"ROOT2").AddDevice();
  topology.AddController(0, u"ROOT0").AddDevice();
  EXPECT_EQ(Scan(topology), 2u);
  const std::vector<std::string> expected = {R"(\\.\HCD0)",  R"(\\.\ROOT0)", R"(\\.\HCD1)", R"(\\.\HCD2)",
                                             R"(\\.\ROOT2)", R"(\\.\HCD3)",  R"(\\.\HCD4)", R"(\\.\HCD5)",
                                             R"(\\.\HCD6)",  R"(\\.\HCD7)",  R"(\\.\HCD8)", R"(\\.\HCD9)"};
  EXPECT_EQ(topology.openAttempts(), expected);
}

// HCD0: root [device, hub 1 [hub 2 [device]], device, hub 3 [device]]; HCD1: root [device].
TEST(PresenceScanWalkTest, WalksDepthFirstAndClosesEachHubAfterEverythingBehindIt) {
  FakeTopology topology;
  FakeHub& root = topology.AddController(0);
  root.AddDevice().AddHub().AddHub().AddDevice();
  root.AddDevice().AddHub().AddDevice();
  topology.AddController(1).AddDevice();

  EXPECT_EQ(Scan(topology), 5u);
  const std::vector<std::string> handles = {
      "+HCD0",     "+ROOT_HUB#0", "+HUB#0001", "+HUB#0002", "-HUB#0002",   "-HUB#0001",   "+HUB#0003",
      "-HUB#0003", "-ROOT_HUB#0", "-HCD0",     "+HCD1",     "+ROOT_HUB#1", "-ROOT_HUB#1", "-HCD1"};
  EXPECT_EQ(topology.handleEvents(), handles);
  const std::vector<FakeRequest> ports = {{FakeRequestKind::ConnectionInformation, "ROOT_HUB#0", 1},
                                          {FakeRequestKind::ConnectionInformation, "ROOT_HUB#0", 2},
                                          {FakeRequestKind::ConnectionInformation, "HUB#0001", 1},
                                          {FakeRequestKind::ConnectionInformation, "HUB#0002", 1},
                                          {FakeRequestKind::ConnectionInformation, "ROOT_HUB#0", 3},
                                          {FakeRequestKind::ConnectionInformation, "ROOT_HUB#0", 4},
                                          {FakeRequestKind::ConnectionInformation, "HUB#0003", 1},
                                          {FakeRequestKind::ConnectionInformation, "ROOT_HUB#1", 1}};
  EXPECT_EQ(topology.Requests(FakeRequestKind::ConnectionInformation), ports);
}

// Ports 1 and 2 hold a matching device that is not connected or failed enumeration: neither is asked.
TEST(PresenceScanWalkTest, AsksPortsOneToTheReportedCountAndOnlyConnectedDevicesToIdentify) {
  FakeTopology topology;
  FakeHub& root = topology.AddController(0);
  root.AddPort(Device(kNoDeviceConnected)).AddPort(Device(kDeviceFailedEnumeration));
  for (int port = 3; port <= 254; ++port) root.AddEmptyPort();
  root.AddHub();
  Scan(topology);
  const std::vector<FakeRequest> asked = topology.Requests(FakeRequestKind::ConnectionInformation);
  ASSERT_EQ(asked.size(), 255u);
  for (std::uint32_t port = 1; port <= 255; ++port) EXPECT_EQ(asked[port - 1].port, port);
  EXPECT_TRUE(topology.Requests(FakeRequestKind::Descriptor).empty());
}

TEST(PresenceScanWalkTest, TwoScansEachDeliverWhatTheyFound) {
  FakeTopology topology;
  FakeHub& root = topology.AddController(0);
  root.AddDevice().AddHub().AddDevice();
  EXPECT_EQ(Scan(topology), 2u);
  EXPECT_EQ(Scan(topology), 2u);
  root.ports[0].connectionStatus = kNoDeviceConnected;
  EXPECT_EQ(Scan(topology), 1u);
}

std::vector<std::uint8_t> Zeros(std::size_t size) {
  return std::vector<std::uint8_t>(size);
}

std::vector<std::uint8_t> InputOf(const FakeTopology& topology, FakeRequestKind kind) {
  for (const FakeCall& call : topology.calls()) {
    if (call.request.kind == kind) return call.input;
  }
  ADD_FAILURE() << "no request of kind " << static_cast<int>(kind);
  return {};
}

std::uint32_t OutputLengthOf(const FakeTopology& topology, FakeRequestKind kind) {
  for (const FakeCall& call : topology.calls()) {
    if (call.request.kind == kind) return call.outputLength;
  }
  return 0;
}

// Port 3 of the root hub: a hub with a device on its port 1 ("HUB#0001" is 8 units).
TEST(PresenceScanWalkTest, SendsEachRequestAtItsDocumentedSizeAndOffsets) {
  FakeTopology topology;
  topology.AddController(0).AddEmptyPort().AddEmptyPort().AddHub().AddDevice();
  Scan(topology);

  EXPECT_EQ(InputOf(topology, FakeRequestKind::RootHubNameProbe), Zeros(0));
  EXPECT_EQ(OutputLengthOf(topology, FakeRequestKind::RootHubNameProbe), 6u);
  EXPECT_EQ(OutputLengthOf(topology, FakeRequestKind::RootHubName), 4u + 2 * 11);
  EXPECT_EQ(InputOf(topology, FakeRequestKind::NodeInformation), Zeros(76));
  EXPECT_EQ(OutputLengthOf(topology, FakeRequestKind::NodeInformation), 76u);

  std::vector<std::uint8_t> connection = Zeros(365);
  connection[0] = 1;
  EXPECT_EQ(InputOf(topology, FakeRequestKind::ConnectionInformation), connection);
  EXPECT_EQ(OutputLengthOf(topology, FakeRequestKind::ConnectionInformation), 365u);

  const std::vector<std::uint8_t> probe = {3, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(InputOf(topology, FakeRequestKind::NodeNameProbe), probe);
  EXPECT_EQ(OutputLengthOf(topology, FakeRequestKind::NodeNameProbe), 10u);
  std::vector<std::uint8_t> name = Zeros(8 + 2 * 9);
  name[0] = 3;
  EXPECT_EQ(InputOf(topology, FakeRequestKind::NodeName), name);
  EXPECT_EQ(OutputLengthOf(topology, FakeRequestKind::NodeName), name.size());

  std::vector<std::uint8_t> identification = Zeros(267);
  identification[0] = 1;
  identification[6] = 0xFF;  // descriptor index
  identification[7] = 0x03;  // string descriptor
  identification[8] = 0x61;  // language 0x2861
  identification[9] = 0x28;
  identification[10] = 0xFF;  // 255 bytes
  EXPECT_EQ(InputOf(topology, FakeRequestKind::Descriptor), identification);
  EXPECT_EQ(OutputLengthOf(topology, FakeRequestKind::Descriptor), 267u);
}

}  // namespace
}  // namespace hnx::test
