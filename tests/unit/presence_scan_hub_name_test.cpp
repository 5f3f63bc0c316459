#include <gtest/gtest.h>

#include <algorithm>

#include "link/presence_scan.h"
#include "support/fake_topology.h"

namespace hnx::test {
namespace {

enum class NameOf { RootHub, ExternalHub };

// A name reply whose ActualLength is not the name's: the walk reads no further than the buffer that
// it allocated, so under ASan a read past it shows up here.
struct NameCase {
  std::string name;
  NameOf hub;
  std::uint32_t reportedLength;
  std::optional<std::string> openedAs;  // the path tried for that hub, if any
};

void PrintTo(const NameCase& c, std::ostream* os) {
  *os << c.name;
}

// The paths opened apart from the controllers and the hubs whose names the case leaves alone.
std::vector<std::string> TriedPaths(const FakeTopology& topology, NameOf hub) {
  const std::vector<std::string> others =
      hub == NameOf::RootHub ? std::vector<std::string>{R"(\\.\HUB#0001)", R"(\\.\ROOT_HUB#1)"}
                             : std::vector<std::string>{R"(\\.\ROOT_HUB#0)", R"(\\.\ROOT_HUB#1)"};
  std::vector<std::string> tried;
  for (const std::string& path : topology.openAttempts()) {
    if (!path.starts_with(R"(\\.\HCD)") && std::find(others.begin(), others.end(), path) == others.end()) {
      tried.push_back(path);
    }
  }
  return tried;
}

class PresenceScanHubNameTest : public testing::TestWithParam<NameCase> {};

// HCD0: ROOT_HUB#0 [HUB#0001 [device]]; HCD1: ROOT_HUB#1 [device].
TEST_P(PresenceScanHubNameTest, ReadsANameOnlyInsideItsReply) {
  const NameCase& c = GetParam();
  FakeTopology topology;
  FakeHub& root = topology.AddController(0);
  FakeHub& hub = root.AddHub();
  hub.AddDevice();
  topology.AddController(1).AddDevice();
  (c.hub == NameOf::RootHub ? root : hub).reportedNameLength = c.reportedLength;

  std::uint32_t count = 0;
  CountAttachedDevices(topology, count);

  const std::string intact = c.hub == NameOf::RootHub ? R"(\\.\ROOT_HUB#0)" : R"(\\.\HUB#0001)";
  EXPECT_EQ(TriedPaths(topology, c.hub), c.openedAs ? std::vector{*c.openedAs} : std::vector<std::string>{});
  EXPECT_EQ(count, c.openedAs == intact ? 2u : 1u);
  EXPECT_EQ(topology.openHandles(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Lengths, PresenceScanHubNameTest,
    testing::Values(NameCase{"RootExact", NameOf::RootHub, 4 + 2 * 11, R"(\\.\ROOT_HUB#0)"},
                    NameCase{"RootRoomier", NameOf::RootHub, 4 + 2 * 11 + 40, R"(\\.\ROOT_HUB#0)"},
                    NameCase{"RootWithoutNul", NameOf::RootHub, 4 + 2 * 4, R"(\\.\ROOT)"},
                    NameCase{"RootOddLength", NameOf::RootHub, 4 + 2 * 4 + 1, R"(\\.\ROOT)"},
                    NameCase{"RootOneUnit", NameOf::RootHub, 6, R"(\\.\R)"},
                    NameCase{"RootNoNameField", NameOf::RootHub, 5, std::nullopt},
                    NameCase{"RootHeaderCut", NameOf::RootHub, 2, std::nullopt},
                    NameCase{"RootZero", NameOf::RootHub, 0, std::nullopt},
                    NameCase{"RootBeyondAnyName", NameOf::RootHub, 0xFFFFFFFF, std::nullopt},
                    NameCase{"ExternalExact", NameOf::ExternalHub, 8 + 2 * 9, R"(\\.\HUB#0001)"},
                    NameCase{"ExternalRoomier", NameOf::ExternalHub, 8 + 2 * 9 + 40, R"(\\.\HUB#0001)"},
                    NameCase{"ExternalWithoutNul", NameOf::ExternalHub, 8 + 2 * 3, R"(\\.\HUB)"},
                    NameCase{"ExternalOddLength", NameOf::ExternalHub, 8 + 2 * 1 + 1, R"(\\.\H)"},
                    NameCase{"ExternalNameFieldOnly", NameOf::ExternalHub, 10, std::nullopt},
                    NameCase{"ExternalZero", NameOf::ExternalHub, 0, std::nullopt},
                    NameCase{"ExternalBeyondAnyName", NameOf::ExternalHub, 0xFFFFFFFF, std::nullopt}),
    [](const testing::TestParamInfo<NameCase>& info) { return info.param.name; });

}  // namespace
}  // namespace hnx::test
