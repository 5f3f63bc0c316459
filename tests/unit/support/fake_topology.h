// A HubDriver over a made-up USB topology: host controllers at chosen indices, their root hubs,
// external hubs chained to any depth, ports and devices. It answers the hub I/O controls byte for
// byte as the Windows hub driver does, fails any one request on demand, and records every request,
// open and close for assertions.
//
//   FakeTopology topology;                       // no controllers: a scan counts 0
//   FakeHub& root = topology.AddController(0);   // "\\.\HCD0" and its root hub
//   root.AddDevice().AddDevice();                // ports 1 and 2: two matching devices
//   root.AddHub().AddDevice(StringDescriptor(u"OTHER"));  // port 3: a hub with a device on its port 1
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "link/presence_scan.h"

namespace hnx::test {

// A USB string descriptor: bLength, type 3, then the units little-endian.
std::vector<std::uint8_t> StringDescriptor(std::u16string_view text);
// The reply of a device that identifies itself: the string descriptor of "ZB29K702".
std::vector<std::uint8_t> MatchingDescriptor();

inline constexpr std::uint32_t kNoDeviceConnected = 0;
inline constexpr std::uint32_t kDeviceConnected = 1;
inline constexpr std::uint32_t kDeviceFailedEnumeration = 2;

class FakeTopology;
struct FakeHub;

struct FakePort {
  bool deviceIsHub = false;
  std::uint32_t connectionStatus = kNoDeviceConnected;
  // What the device on the port, or the hub, sends for string descriptor 0xFF in language 0x2861,
  // cut to the requested length; with nothing, or when it is not connected, the request fails, as
  // every other descriptor request does.
  std::optional<std::vector<std::uint8_t>> descriptor;
  // The hub whose name the port reports; none gives an empty name (ActualLength 10).
  FakeHub* hub = nullptr;
};

struct FakeHub {
  FakeHub(FakeTopology& topology, std::u16string hubName) : owner(&topology), name(std::move(hubName)) {}

  // Each adds the next port and gives this hub back, except AddHub, which gives the new hub.
  FakeHub& AddDevice(std::optional<std::vector<std::uint8_t>> reply = MatchingDescriptor());
  FakeHub& AddEmptyPort();
  FakeHub& AddPort(FakePort port);
  FakeHub& AddHub(std::u16string hubName = {});

  FakeTopology* owner;
  const std::u16string name;
  std::vector<FakePort> ports;
  // bNumberOfPorts of its node information; the number of ports when unset.
  std::optional<std::uint8_t> reportedPortCount;
  // The ActualLength of the replies that carry its name; the exact length when unset. A shorter one
  // cuts the name off without its NUL.
  std::optional<std::uint32_t> reportedNameLength;
};

enum class FakeRequestKind {
  Open,
  RootHubNameProbe,  // the root-hub name request with a 6-byte output
  RootHubName,
  NodeInformation,
  ConnectionInformation,
  Descriptor,
  NodeNameProbe,  // the node-connection name request with a 10-byte output
  NodeName,
  NarrowSize,  // the wide-to-narrow conversion asked for its size
  Narrow,
  Unknown,
};

// `node` is the name opened (without "\\.\"), of the device that the I/O control went to, or the
// text converted; `port` is the ConnectionIndex of the port-related requests.
struct FakeRequest {
  FakeRequestKind kind = FakeRequestKind::Unknown;
  std::string node;
  std::uint32_t port = 0;
  bool operator==(const FakeRequest&) const = default;
};

struct FakeCall {
  FakeRequest request;
  std::vector<std::uint8_t> input;
  std::uint32_t outputLength = 0;
  bool failed = false;
};

class FakeTopology final : public HubDriver {
 public:
  FakeTopology() = default;
  FakeTopology(const FakeTopology&) = delete;
  FakeTopology& operator=(const FakeTopology&) = delete;

  // A host controller "\\.\HCD<index>" and its root hub, named "ROOT_HUB#<index>" unless named here.
  FakeHub& AddController(int index, std::u16string rootHubName = {});
  // A hub that nothing reports yet, for hand-made ports.
  FakeHub& NewHub(std::u16string hubName = {});

  // Every request equal to `request` fails.
  void FailRequest(FakeRequest request) { failing_.push_back(std::move(request)); }
  // The request with this number fails, counting from 0 over the life of the topology.
  void FailRequestNumber(std::size_t number) { failingNumbers_.insert(number); }
  // From now on nothing is added to calls(), openAttempts() or handleEvents(): for long runs.
  void StopRecording() { recording_ = false; }

  const std::vector<FakeCall>& calls() const { return calls_; }
  std::vector<FakeRequest> Requests(FakeRequestKind kind) const;
  // Every name given to Open, in order, as given.
  const std::vector<std::string>& openAttempts() const { return openAttempts_; }
  // "+name" for each successful open and "-name" for each close, in order, without "\\.\".
  const std::vector<std::string>& handleEvents() const { return handleEvents_; }
  std::size_t openHandles() const { return open_.size(); }
  // Closes of handles that are not open, and I/O controls on them.
  std::size_t misuses() const { return misuses_; }

  Handle Open(const std::string& name) override;
  bool IoControl(Handle device, std::uint32_t code, const void* input, std::uint32_t inputLength,
                 void* output, std::uint32_t outputLength, std::uint32_t& returned) override;
  void Close(Handle device) override;
  int ConvertWideToNarrow(const char16_t* text, char* output, int outputSize) override;

 private:
  struct Node {
    std::string name;
    FakeHub* hub = nullptr;
    bool controller = false;
  };
  bool Record(FakeRequest request, std::span<const std::uint8_t> input, std::uint32_t outputLength);
  FakeRequest Classify(const Node& node, std::uint32_t code, std::span<const std::uint8_t> input,
                       std::uint32_t outputLength) const;
  // The bytes the driver reports, or nothing when the request fails.
  static std::optional<std::uint32_t> Answer(const Node& node, const FakeRequest& request,
                                             std::vector<std::uint8_t>& reply);

  std::deque<FakeHub> hubs_;
  std::map<std::string, Node> nodes_;
  std::map<std::uintptr_t, const Node*> open_;
  std::uintptr_t nextHandle_ = 1;
  std::size_t nextHubNumber_ = 1;
  std::vector<FakeRequest> failing_;
  std::set<std::size_t> failingNumbers_;
  std::size_t requestCount_ = 0;
  bool recording_ = true;
  std::vector<FakeCall> calls_;
  std::vector<std::string> openAttempts_;
  std::vector<std::string> handleEvents_;
  std::size_t misuses_ = 0;
};

}  // namespace hnx::test
