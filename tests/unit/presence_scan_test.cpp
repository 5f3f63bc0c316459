// The presence scan over a fake topology: the walk and its requests byte for byte, what a failed
// request loses, and replies that are malformed or only nearly right.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <optional>
#include <string_view>

#include "link/presence_scan.h"
#include "link/usb_hub_layout.h"
#include "support/fake_topology.h"

namespace hnx::test {
namespace {

using namespace std::literals;

std::uint32_t Scan(FakeTopology& topology) {
  std::uint32_t count = 0xDEADBEEF;
  CountAttachedDevices(topology, count);
  EXPECT_EQ(topology.openHandles(), 0u);
  EXPECT_EQ(topology.misuses(), 0u);
  return count;
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

// The walk tries ten controllers and holds each hub open while it walks behind it. A failed request
// loses the devices behind the controller, hub or port that it concerns, and nothing else; these are
// the reference topology's, with every hub in it.
const std::map<std::string, std::uint32_t> kDevicesBehind = {
    {"HCD0", 4},       {"ROOT_HUB#0", 4}, {"ROOT_HUB#0:1", 1}, {"ROOT_HUB#0:2", 2}, {"ROOT_HUB#0:3", 1},
    {"HUB#0001", 2},   {"HUB#0001:1", 1}, {"HUB#0001:2", 1},   {"HUB#0002", 1},     {"HUB#0002:1", 1},
    {"HCD2", 2},       {"ROOT_HUB#2", 2}, {"ROOT_HUB#2:1", 1}, {"ROOT_HUB#2:4", 1}, {"HUB#0003", 1},
    {"HUB#0003:1", 1}, {"HUB#0004", 0}};

TEST(PresenceScanWalkTest, HoldsEachHubOpenBehindItAndAFailedRequestLosesOnlyWhatLiesBehindIt) {
  FakeTopology reference;
  BuildReference(reference);
  EXPECT_EQ(Scan(reference), 6u);
  // neither hubs nor unconnected devices are asked
  EXPECT_EQ(std::count_if(reference.ioControls().begin(), reference.ioControls().end(),
                          [](const FakeIoControl& call) {
                            return call.code == usb::kIoctlGetDescriptorFromNodeConnection;
                          }),
            6);
  EXPECT_EQ(reference.handleLog(),
            "+HCD0 +ROOT_HUB#0 +HUB#0001 +HUB#0002 -HUB#0002 -HUB#0001 -ROOT_HUB#0 -HCD0 !HCD1 +HCD2 "
            "+ROOT_HUB#2 +HUB#0003 -HUB#0003 +HUB#0004 -HUB#0004 -ROOT_HUB#2 -HCD2 !HCD3 !HCD4 !HCD5 !HCD6 "
            "!HCD7 !HCD8 !HCD9");
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

// The matching descriptor cut or padded to `size` bytes, with byte `at` set to `value`.
std::vector<std::uint8_t> Patched(std::size_t size, std::size_t at, std::uint8_t value) {
  std::vector<std::uint8_t> bytes = MatchingDescriptor();
  bytes.resize(size);
  bytes[at] = value;
  return bytes;
}

// HCD0: ROOT_HUB#0 [device, HUB#0001 [the device under test]], with the ActualLength that each hub
// reports for its name. The walk reads no further than the buffer that it allocated, so under ASan a
// read past it shows up here.
struct ReplyCase {
  std::string name;
  std::optional<std::uint32_t> rootNameLength{};
  std::optional<std::uint32_t> hubNameLength{};
  std::vector<std::uint8_t> reply = MatchingDescriptor();
  std::uint32_t count = 2;
  std::string opened = "ROOT_HUB#0 HUB#0001";  // the hubs that the walk tried to open
};

TEST(PresenceScanReplyTest, ReadsNamesInsideTheirReplyAndCountsOnlyTheExactIdentification) {
  const std::u16string longestText(126, u'Z');
  constexpr std::uint32_t kLongestHubName = 8 + 65534 + 2;
  // clang-format off
  const ReplyCase cases[] = {
      {.name = "root name without NUL", .rootNameLength = 4 + 2 * 4, .count = 0, .opened = "ROOT"},
      {.name = "root name of odd length", .rootNameLength = 4 + 2 * 4 + 1, .count = 0, .opened = "ROOT"},
      {.name = "root name of one unit", .rootNameLength = 6, .count = 0, .opened = "R"},
      {.name = "root probe without name", .rootNameLength = 5, .count = 0, .opened = ""},
      {.name = "root name beyond any name", .rootNameLength = 0xFFFFFFFF, .count = 0, .opened = ""},
      {.name = "hub name without NUL", .hubNameLength = 8 + 2 * 3, .count = 1, .opened = "ROOT_HUB#0 HUB"},
      {.name = "hub probe without name", .hubNameLength = 10, .count = 1, .opened = "ROOT_HUB#0"},
      {.name = "hub name of the longest length", .hubNameLength = kLongestHubName},
      {.name = "hub name beyond the longest", .hubNameLength = kLongestHubName + 1, .count = 1, .opened = "ROOT_HUB#0"},
      {.name = "text one unit different", .reply = StringDescriptor(u"ZB29k702"), .count = 1},
      {.name = "text one unit short", .reply = StringDescriptor(u"ZB29K70"), .count = 1},
      {.name = "text one unit long", .reply = StringDescriptor(u"ZB29K7020"), .count = 1},
      {.name = "text ending at a NUL", .reply = StringDescriptor(u"ZB29K702\0XYZ"sv)},
      {.name = "NUL inside the text", .reply = StringDescriptor(u"ZB29\0K702"sv), .count = 1},
      {.name = "narrow text", .reply = {10, 3, 'Z', 'B', '2', '9', 'K', '7', '0', '2'}, .count = 1},
      {.name = "odd length", .reply = Patched(19, 0, 19), .count = 1},
      {.name = "length above the reply", .reply = Patched(18, 0, 20), .count = 1},
      {.name = "length below the reply", .reply = Patched(20, 0, 18), .count = 1},
      {.name = "type not string", .reply = Patched(18, 1, 2), .count = 1},
      {.name = "longest text without NUL", .reply = StringDescriptor(longestText), .count = 1},
      {.name = "longest reply holding the text", .reply = StringDescriptor(u"ZB29K702\0"s + std::u16string(117, u'X'))},
  };
  // clang-format on
  for (const ReplyCase& c : cases) {
    SCOPED_TRACE(c.name);
    FakeTopology topology;
    FakeHub& root = topology.AddController(0).AddDevice();
    FakeHub& hub = root.AddHub().AddDevice(c.reply);
    root.reportedNameLength = c.rootNameLength;
    hub.reportedNameLength = c.hubNameLength;
    const std::uint32_t count = Scan(topology);
    std::string opened;
    for (const std::string& path : topology.openAttempts()) {
      if (!path.starts_with(R"(\\.\HCD)")) opened.append(opened.empty() ? "" : " ").append(path, 4);
    }
    EXPECT_EQ(opened, c.opened);
    EXPECT_EQ(count, c.count);
  }
}

#if defined(_WIN32)
// A name that cannot be opened gives no handle, never INVALID_HANDLE_VALUE, and a name converts
// through its NUL into the ANSI code page.
TEST(Win32HubDriverTest, OpensNothingForAMissingNameAndConvertsNames) {
  Win32HubDriver driver;
  EXPECT_EQ(driver.Open(R"(\\.\HNX_NO_SUCH_HUB)"), nullptr);
  EXPECT_EQ(WideToNarrow(driver, u"USB#ROOT_HUB30#4&1"), "USB#ROOT_HUB30#4&1");
}
#endif

}  // namespace
}  // namespace hnx::test
