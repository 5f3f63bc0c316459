#include <gtest/gtest.h>

#include <string_view>

#include "link/presence_scan.h"
#include "support/fake_topology.h"

namespace hnx::test {
namespace {

using namespace std::literals;
using Bytes = std::vector<std::uint8_t>;

// The matching descriptor cut or padded to `size` bytes, with byte `at` set to `value`.
Bytes Patched(std::size_t size, std::size_t at, std::uint8_t value) {
  Bytes bytes = MatchingDescriptor();
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
  Bytes reply = MatchingDescriptor();
  std::uint32_t count = 2;
  std::string opened = "ROOT_HUB#0 HUB#0001";  // the hubs that the walk tried to open
};

void PrintTo(const ReplyCase& c, std::ostream* os) {
  *os << c.name;
}

class PresenceScanReplyTest : public testing::TestWithParam<ReplyCase> {};

TEST_P(PresenceScanReplyTest, ReadsNamesInsideTheirReplyAndCountsOnlyTheExactIdentification) {
  const ReplyCase& c = GetParam();
  FakeTopology topology;
  FakeHub& root = topology.AddController(0).AddDevice();
  FakeHub& hub = root.AddHub().AddDevice(c.reply);
  root.reportedNameLength = c.rootNameLength;
  hub.reportedNameLength = c.hubNameLength;

  std::uint32_t count = 0;
  CountAttachedDevices(topology, count);

  std::string opened;
  for (const std::string& path : topology.openAttempts()) {
    if (!path.starts_with(R"(\\.\HCD)")) opened.append(opened.empty() ? "" : " ").append(path, 4);
  }
  EXPECT_EQ(opened, c.opened);
  EXPECT_EQ(count, c.count);
  EXPECT_EQ(topology.openHandles(), 0u);
}

const std::u16string kLongestText(126, u'Z');
constexpr std::uint32_t kLongestHubName = 8 + 65534 + 2;

INSTANTIATE_TEST_SUITE_P(
    Replies, PresenceScanReplyTest,
    testing::Values(
        ReplyCase{.name = "RootNameWithoutNul", .rootNameLength = 4 + 2 * 4, .count = 0, .opened = "ROOT"},
        ReplyCase{
            .name = "RootNameOfOddLength", .rootNameLength = 4 + 2 * 4 + 1, .count = 0, .opened = "ROOT"},
        ReplyCase{.name = "RootNameOfOneUnit", .rootNameLength = 6, .count = 0, .opened = "R"},
        ReplyCase{.name = "RootProbeWithoutName", .rootNameLength = 5, .count = 0, .opened = ""},
        ReplyCase{.name = "RootNameBeyondAnyName", .rootNameLength = 0xFFFFFFFF, .count = 0, .opened = ""},
        ReplyCase{
            .name = "HubNameWithoutNul", .hubNameLength = 8 + 2 * 3, .count = 1, .opened = "ROOT_HUB#0 HUB"},
        ReplyCase{.name = "HubProbeWithoutName", .hubNameLength = 10, .count = 1, .opened = "ROOT_HUB#0"},
        ReplyCase{.name = "HubNameOfTheLongestLength", .hubNameLength = kLongestHubName},
        ReplyCase{.name = "HubNameBeyondTheLongest",
                  .hubNameLength = kLongestHubName + 1,
                  .count = 1,
                  .opened = "ROOT_HUB#0"},
        ReplyCase{.name = "TextOneUnitDifferent", .reply = StringDescriptor(u"ZB29k702"), .count = 1},
        ReplyCase{.name = "TextOneUnitShort", .reply = StringDescriptor(u"ZB29K70"), .count = 1},
        ReplyCase{.name = "TextOneUnitLong", .reply = StringDescriptor(u"ZB29K7020"), .count = 1},
        ReplyCase{.name = "TextEndingAtANul", .reply = StringDescriptor(u"ZB29K702\0XYZ"sv)},
        ReplyCase{.name = "NulInsideTheText", .reply = StringDescriptor(u"ZB29\0K702"sv), .count = 1},
        ReplyCase{.name = "NarrowText", .reply = {10, 3, 'Z', 'B', '2', '9', 'K', '7', '0', '2'}, .count = 1},
        ReplyCase{.name = "OddLength", .reply = Patched(19, 0, 19), .count = 1},
        ReplyCase{.name = "LengthAboveTheReply", .reply = Patched(18, 0, 20), .count = 1},
        ReplyCase{.name = "LengthBelowTheReply", .reply = Patched(20, 0, 18), .count = 1},
        ReplyCase{.name = "TypeNotString", .reply = Patched(18, 1, 2), .count = 1},
        ReplyCase{.name = "LongestTextWithoutNul", .reply = StringDescriptor(kLongestText), .count = 1},
        ReplyCase{.name = "LongestReplyHoldingTheText",
                  .reply = StringDescriptor(u"ZB29K702\0"s + std::u16string(117, u'X'))}),
    [](const testing::TestParamInfo<ReplyCase>& info) { return info.param.name; });

}  // namespace
}  // namespace hnx::test
