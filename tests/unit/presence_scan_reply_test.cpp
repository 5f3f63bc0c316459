#include <gtest/gtest.h>

#include <string_view>

#include "link/presence_scan.h"
#include "support/fake_topology.h"

namespace hnx::test {
namespace {

using namespace std::string_view_literals;
using Bytes = std::vector<std::uint8_t>;

Bytes WithByte(Bytes bytes, std::size_t at, std::uint8_t value) {
  bytes[at] = value;
  return bytes;
}

Bytes Resized(Bytes bytes, std::size_t size) {
  bytes.resize(size);
  return bytes;
}

struct ReplyCase {
  std::string name;
  std::optional<Bytes> reply;
  bool counted;
};

void PrintTo(const ReplyCase& c, std::ostream* os) {
  *os << c.name;
}

class PresenceScanReplyTest : public testing::TestWithParam<ReplyCase> {};

// The device under test sits between an empty port and a matching device, so a reply can neither
// be credited to a neighbour nor spoil it.
TEST_P(PresenceScanReplyTest, CountsOnlyAWellFormedReplyWithTheExactText) {
  FakeTopology topology;
  topology.AddController(0).AddEmptyPort().AddDevice(GetParam().reply).AddDevice();
  std::uint32_t count = 0;
  CountAttachedDevices(topology, count);
  EXPECT_EQ(count, GetParam().counted ? 2u : 1u);
}

const std::u16string kLongestText(126, u'Z');

INSTANTIATE_TEST_SUITE_P(
    Replies, PresenceScanReplyTest,
    testing::Values(
        ReplyCase{"Exact", MatchingDescriptor(), true},
        ReplyCase{"LowerCase", StringDescriptor(u"zb29k702"), false},
        ReplyCase{"OneCharacterShort", StringDescriptor(u"ZB29K70"), false},
        ReplyCase{"OneCharacterLong", StringDescriptor(u"ZB29K7020"), false},
        ReplyCase{"OneCharacterDifferent", StringDescriptor(u"ZB29k702"), false},
        ReplyCase{"NulThenMoreUnits", StringDescriptor(u"ZB29K702\0XYZ"sv), true},
        ReplyCase{"NulInsideTheText", StringDescriptor(u"ZB29\0K702"sv), false},
        ReplyCase{"NarrowText", Bytes{10, 3, 'Z', 'B', '2', '9', 'K', '7', '0', '2'}, false},
        ReplyCase{"OddLength", WithByte(Resized(MatchingDescriptor(), 19), 0, 19), false},
        ReplyCase{"LengthAboveTheReply", WithByte(MatchingDescriptor(), 0, 20), false},
        ReplyCase{"LengthBelowTheReply", Resized(MatchingDescriptor(), 20), false},
        ReplyCase{"LengthZero", WithByte(MatchingDescriptor(), 0, 0), false},
        ReplyCase{"TypeNotString", WithByte(MatchingDescriptor(), 1, 2), false},
        ReplyCase{"EmptyText", StringDescriptor(u""), false}, ReplyCase{"NoDataBytes", Bytes{}, false},
        ReplyCase{"OneDataByte", Bytes{2}, false}, ReplyCase{"RequestFails", std::nullopt, false},
        ReplyCase{"LongestTextWithoutNul", StringDescriptor(kLongestText), false},
        ReplyCase{"LongestReplyHoldingTheText",
                  StringDescriptor(u"ZB29K702" + std::u16string(1, u'\0') + std::u16string(117, u'X')), true},
        ReplyCase{"MoreThanTheRequestedLength", Resized(StringDescriptor(kLongestText), 300), false}),
    [](const testing::TestParamInfo<ReplyCase>& info) { return info.param.name; });

}  // namespace
}  // namespace hnx::test
