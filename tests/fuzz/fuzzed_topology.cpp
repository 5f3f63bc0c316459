#include "fuzzed_topology.h"

namespace hnx::fuzz {
namespace {

constexpr int kControllerSlots = 16;
constexpr std::size_t kMostPorts = 16;
constexpr int kDeepest = 8;
constexpr std::size_t kMostHubs = 64;
constexpr std::uint16_t kNoFailure = 0xFFFF;

class TopologyReader {
 public:
  TopologyReader(std::span<const std::uint8_t> input, test::FakeTopology& topology)
      : input_(input), topology_(topology) {}

  std::size_t Read() {
    const std::uint16_t controllers = Le16();
    if (const std::uint16_t failing = Le16(); failing != kNoFailure) topology_.FailRequestNumber(failing);
    for (int index = 0; index < kControllerSlots; ++index) {
      if ((controllers >> index & 1) == 0) continue;
      const char16_t digits[] = {static_cast<char16_t>(u'0' + index / 10),
                                 static_cast<char16_t>(u'0' + index % 10), 0};
      ReadHub(topology_.AddController(index, u"ROOT#" + std::u16string(digits)), 1);
    }
    return answering_;
  }

 private:
  std::uint8_t Byte() { return at_ < input_.size() ? input_[at_++] : 0; }
  std::uint16_t Le16() { return static_cast<std::uint16_t>(Byte() | Byte() << 8); }
  std::uint32_t Le32() { return Le16() | static_cast<std::uint32_t>(Le16()) << 16; }

  void ReadHub(test::FakeHub& hub, int depth) {
    ++hubs_;
    const std::uint8_t flags = Byte();
    if (flags & 1) hub.reportedNameLength = Le32();
    if (flags & 2) hub.reportedPortCount = Byte();
    const std::size_t ports = std::min<std::size_t>(Byte(), kMostPorts);
    for (std::size_t port = 0; port < ports; ++port) ReadPort(hub, depth);
  }

  // A text alone is given its bLength and type, so that long well-formed replies are easy to reach.
  std::vector<std::uint8_t> ReadReply(bool textOnly) {
    const std::uint8_t length = Byte();
    std::vector<std::uint8_t> reply;
    if (textOnly) reply = {static_cast<std::uint8_t>(length + 2), 3};
    for (int i = 0; i < length; ++i) reply.push_back(Byte());
    return reply;
  }

  void ReadPort(test::FakeHub& hub, int depth) {
    const std::uint8_t kind = Byte();
    test::FakePort port{.deviceIsHub = (kind & 1) != 0,
                        .connectionStatus = Byte(),
                        .descriptor = std::nullopt,
                        .hub = nullptr};
    std::vector<std::uint8_t> reply = ReadReply((kind & 8) != 0);
    if ((kind & 4) == 0) {
      port.descriptor = std::move(reply);
      ++answering_;
    }
    const bool hubBehind = (kind & 2) != 0 && depth < kDeepest && hubs_ < kMostHubs;
    if (hubBehind) port.hub = &topology_.NewHub();
    hub.AddPort(std::move(port));
    if (hubBehind) ReadHub(*hub.ports.back().hub, depth + 1);
  }

  std::span<const std::uint8_t> input_;
  test::FakeTopology& topology_;
  std::size_t at_ = 0;
  std::size_t hubs_ = 0;
  std::size_t answering_ = 0;
};

}  // namespace

std::size_t BuildTopology(std::span<const std::uint8_t> input, test::FakeTopology& topology) {
  return TopologyReader(input, topology).Read();
}

}  // namespace hnx::fuzz
