// A HubDriver over a made-up USB topology: host controllers at chosen indices, their root hubs,
// external hubs chained to any depth, ports and devices. It answers the hub I/O controls as the
// Windows hub driver does, byte for byte in every field that the walk reads, fails the request of a
// chosen number, and records the I/O controls, opens and closes for assertions.
//
//   FakeTopology topology;                       // no controllers: a scan counts 0
//   FakeHub& root = topology.AddController(0);   // "\\.\HCD0" and its root hub "ROOT_HUB#0"
//   root.AddDevice().AddDevice();                // ports 1 and 2: two matching devices
//   root.AddHub().AddDevice(StringDescriptor(u"OTHER"));  // port 3: "HUB#0001", a device on its port 1
#pragma once

#include <cstdint>
#include <deque>
#include <limits>
#include <map>
#include <optional>
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
  // What the device or hub on the port sends for string descriptor 0xFF in language 0x2861, cut to
  // the requested length; with nothing, or when it is not connected, the request fails, as every
  // other descriptor request does.
  std::optional<std::vector<std::uint8_t>> descriptor{};
  // The hub whose name the port reports; none gives an empty name (ActualLength 10).
  FakeHub* hub = nullptr;
};

struct FakeHub {
  // Each adds the next port and gives this hub back, except AddHub, which gives the new hub.
  FakeHub& AddDevice(std::optional<std::vector<std::uint8_t>> reply = MatchingDescriptor());
  FakeHub& AddEmptyPort() { return AddPort({}); }
  FakeHub& AddPort(FakePort port);
  FakeHub& AddHub();

  FakeTopology* owner;
  std::u16string name;
  std::vector<FakePort> ports{};
  // bNumberOfPorts of its node information; the number of ports when unset.
  std::optional<std::uint8_t> reportedPortCount{};
  // The ActualLength of the replies that carry its name; the exact length when unset. A shorter one
  // cuts the name off without its NUL.
  std::optional<std::uint32_t> reportedNameLength{};
};

// What a request concerns: the name opened (without "\\.\"), the text converted, or the device that
// an I/O control went to and the ConnectionIndex at the start of its input (0 without one).
struct FakeRequest {
  std::string node;
  std::uint32_t port = 0;
};

struct FakeIoControl {
  std::uint32_t code;
  std::vector<std::uint8_t> input;
  std::uint32_t outputLength;
  bool operator==(const FakeIoControl&) const = default;
};

class FakeTopology final : public HubDriver {
 public:
  // A host controller "\\.\HCD<index>" and its root hub "ROOT_HUB#<index>".
  FakeHub& AddController(int index);
  // A hub that nothing reports yet, named "HUB#0001", "HUB#0002"... unless named here.
  FakeHub& NewHub(std::u16string hubName = {});

  // Request number `number` fails: opens, I/O controls and conversions, counted from 0.
  void FailRequestNumber(std::size_t number) { failing_ = number; }
  // From now on nothing is recorded: for long runs.
  void StopRecording() { recording_ = false; }

  std::size_t requests() const { return requests_; }
  const std::optional<FakeRequest>& failedRequest() const { return failed_; }
  const std::vector<FakeIoControl>& ioControls() const { return ioControls_; }
  // Every name given to Open, in order, as given.
  const std::vector<std::string>& openAttempts() const { return openAttempts_; }
  // "+name" for each open, "!name" for each open that fails and "-name" for each close, without
  // "\\.\", in order and separated by spaces.
  const std::string& handleLog() const { return handleLog_; }
  std::size_t openHandles() const { return open_.size(); }
  // Closes of handles that are not open, I/O controls on them, and I/O controls given a length for
  // a missing buffer.
  std::size_t misuses() const { return misuses_; }

  Handle Open(const std::string& name) override;
  bool IoControl(Handle device, std::uint32_t code, const void* input, std::uint32_t inputLength,
                 void* output, std::uint32_t outputLength, std::uint32_t& returned) override;
  void Close(Handle device) override;
  int ConvertWideToNarrow(const char16_t* text, char* output, int outputSize) override;

 private:
  struct Node {
    std::string name;
    FakeHub* hub;
    bool controller;
  };
  bool Counted(FakeRequest request);
  void Log(const std::string& entry);

  std::deque<FakeHub> hubs_;
  std::map<std::string, Node> nodes_;
  std::map<std::uintptr_t, const Node*> open_;
  std::uintptr_t nextHandle_ = 1;
  std::size_t hubsNumbered_ = 0;
  std::size_t failing_ = std::numeric_limits<std::size_t>::max();
  std::size_t requests_ = 0;
  std::optional<FakeRequest> failed_;
  bool recording_ = true;
  std::vector<FakeIoControl> ioControls_;
  std::vector<std::string> openAttempts_;
  std::string handleLog_;
  std::size_t misuses_ = 0;
};

}  // namespace hnx::test
