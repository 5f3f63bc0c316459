// A whole presence scan over a fake topology read from the input. Under ASan and UBSan the walk must
// not read outside any reply; it must also close every handle it opened and count no more devices
// than answer at all. Bytes past the end of the input read as 0, so every input makes some topology.
// The layout, little-endian:
//
//   u16  controllers: bit i puts a host controller at index i (0 to 15)
//   u16  the number of the one request that fails; 0xFFFF for none
//   then, for each controller in index order, its root hub:
//     hub:  u8 flags: bit 0, a u32 ActualLength for its name replies follows;
//                     bit 1, a u8 bNumberOfPorts follows
//           [u32 name length] [u8 reported port count]
//           u8 ports (at most 16 are made)
//           per port:  u8 kind: bit 0 DeviceIsHub, bit 1 a hub behind the port (read next, as
//                               above), bit 2 the descriptor request fails, bit 3 the bytes
//                               below are only the text of a string descriptor
//                      u8 ConnectionStatus
//                      u8 n, then n bytes that the device answers to the identification request
//
// Hubs nest at most 8 deep and number at most 64; beyond that, a port's hub is left out.
#include <algorithm>
#include <cstdlib>
#include <span>

#include "link/presence_scan.h"
#include "support/fake_topology.h"

namespace {

constexpr int kControllerSlots = 16;
constexpr std::size_t kMostPorts = 16;
constexpr int kDeepest = 8;
constexpr std::size_t kMostHubs = 64;
constexpr std::uint16_t kNoFailure = 0xFFFF;

class TopologyReader {
 public:
  TopologyReader(std::span<const std::uint8_t> input, hnx::test::FakeTopology& topology)
      : input_(input), topology_(topology) {}

  // Builds the topology; gives the number of ports that answer the identification request at all,
  // which no scan can exceed.
  std::size_t Read() {
    const std::uint16_t controllers = Le16();
    if (const std::uint16_t failing = Le16(); failing != kNoFailure) topology_.FailRequestNumber(failing);
    for (int index = 0; index < kControllerSlots; ++index) {
      if ((controllers >> index & 1) == 0) continue;
      ReadHub(topology_.AddController(index), 1);
    }
    return answering_;
  }

 private:
  std::uint8_t Byte() { return at_ < input_.size() ? input_[at_++] : 0; }
  std::uint16_t Le16() { return static_cast<std::uint16_t>(Byte() | Byte() << 8); }
  std::uint32_t Le32() { return Le16() | static_cast<std::uint32_t>(Le16()) << 16; }

  void ReadHub(hnx::test::FakeHub& hub, int depth) {
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

  void ReadPort(hnx::test::FakeHub& hub, int depth) {
    const std::uint8_t kind = Byte();
    hnx::test::FakePort port{.deviceIsHub = (kind & 1) != 0, .connectionStatus = Byte()};
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
  hnx::test::FakeTopology& topology_;
  std::size_t at_ = 0;
  std::size_t hubs_ = 0;
  std::size_t answering_ = 0;
};

}  // namespace

// Undefined behaviour ends the run like a crash, so the fuzzer keeps the input.
extern "C" const char* __ubsan_default_options() {
  return "halt_on_error=1:print_stacktrace=1";
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  hnx::test::FakeTopology topology;
  const std::size_t answering = TopologyReader({data, size}, topology).Read();
  topology.StopRecording();
  std::uint32_t count = 0;
  hnx::CountAttachedDevices(topology, count);
  if (count > answering || topology.openHandles() != 0 || topology.misuses() != 0) std::abort();
  return 0;
}
