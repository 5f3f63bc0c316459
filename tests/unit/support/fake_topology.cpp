#include "support/fake_topology.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <span>

#include "link/usb_hub_layout.h"

namespace hnx::test {
namespace {

using Reply = std::vector<std::uint8_t>;

constexpr std::string_view kDevicePathPrefix = "\\\\.\\";

// What the ANSI code page makes of the text: ASCII as it is, anything else as the default '?'.
std::string Narrowed(std::u16string_view text) {
  std::string narrow;
  for (const char16_t unit : text) narrow.push_back(unit < 0x80 ? static_cast<char>(unit) : '?');
  return narrow;
}

std::u16string Widened(std::string_view ascii) {
  return {ascii.begin(), ascii.end()};
}

// ActualLength is what the whole reply needs; the name and its NUL go in as far as the buffer holds.
std::optional<std::uint32_t> AnswerName(const FakeHub& hub, std::size_t lengthOffset, std::size_t textOffset,
                                        Reply& reply) {
  if (reply.size() < textOffset + 2) return std::nullopt;
  const auto exact = static_cast<std::uint32_t>(textOffset + 2 * (hub.name.size() + 1));
  WriteLe32(reply, lengthOffset, hub.reportedNameLength.value_or(exact));
  for (std::size_t i = 0; i <= hub.name.size() && textOffset + 2 * i + 2 <= reply.size(); ++i) {
    WriteLe16(reply, textOffset + 2 * i, i < hub.name.size() ? hub.name[i] : u'\0');
  }
  return std::min(exact, static_cast<std::uint32_t>(reply.size()));
}

// The connection information says no more than whether a hub is there and the connection status; a
// port without a hub has an empty name.
std::optional<std::uint32_t> AnswerPort(const FakePort& port, std::uint32_t code, std::uint32_t index,
                                        Reply& reply) {
  if (code == usb::kIoctlGetNodeConnectionInformation &&
      reply.size() >= usb::kConnectionInformationHeaderSize) {
    std::fill(reply.begin(), reply.end(), 0);
    WriteLe32(reply, usb::kConnectionIndexOffset, index);
    reply[usb::kDeviceIsHubOffset] = port.deviceIsHub ? 1 : 0;
    WriteLe32(reply, usb::kConnectionStatusOffset, port.connectionStatus);
    return usb::kConnectionInformationHeaderSize;
  }
  if (code == usb::kIoctlGetNodeConnectionName && reply.size() >= usb::kNodeConnectionNameSize) {
    if (port.hub != nullptr) {
      return AnswerName(*port.hub, usb::kNodeNameActualLengthOffset, usb::kNodeNameTextOffset, reply);
    }
    WriteLe32(reply, usb::kNodeNameActualLengthOffset, usb::kNodeConnectionNameSize);
    return usb::kNodeConnectionNameSize;
  }
  // Only the identification request is answered, with at most the requested length and what fits
  // after the header; the count reported includes the header.
  if (code != usb::kIoctlGetDescriptorFromNodeConnection ||
      reply.size() < usb::kDescriptorRequestHeaderSize || port.connectionStatus != kDeviceConnected ||
      !port.descriptor || ReadLe16(reply, usb::kSetupValueOffset) != 0x03FF ||
      ReadLe16(reply, usb::kSetupIndexOffset) != 0x2861) {
    return std::nullopt;
  }
  const std::size_t length =
      std::min({static_cast<std::size_t>(ReadLe16(reply, usb::kSetupLengthOffset)),
                reply.size() - usb::kDescriptorRequestHeaderSize, port.descriptor->size()});
  std::copy_n(port.descriptor->begin(), length, reply.begin() + usb::kDescriptorDataOffset);
  return static_cast<std::uint32_t>(usb::kDescriptorRequestHeaderSize + length);
}

// The bytes the driver reports, or nothing when the request fails. The root-hub name and the node
// information share a code: a controller answers only the name, a hub only the node information.
std::optional<std::uint32_t> Answer(const FakeHub& hub, bool controller, std::uint32_t code,
                                    std::uint32_t index, Reply& reply) {
  if (controller) {
    if (code != usb::kIoctlGetRootHubName) return std::nullopt;
    return AnswerName(hub, usb::kRootHubNameActualLengthOffset, usb::kRootHubNameTextOffset, reply);
  }
  if (code == usb::kIoctlGetNodeInformation) {
    if (reply.size() < usb::kNodeInformationSize) return std::nullopt;
    std::fill(reply.begin(), reply.end(), 0);
    reply[usb::kNumberOfPortsOffset] =
        hub.reportedPortCount.value_or(static_cast<std::uint8_t>(hub.ports.size()));
    return usb::kNodeInformationSize;
  }
  if (index < 1 || index > hub.ports.size()) return std::nullopt;
  return AnswerPort(hub.ports[index - 1], code, index, reply);
}

}  // namespace

std::vector<std::uint8_t> StringDescriptor(std::u16string_view text) {
  std::vector<std::uint8_t> bytes(2 + 2 * text.size());
  bytes[0] = static_cast<std::uint8_t>(bytes.size());
  bytes[1] = usb::kStringDescriptorType;
  for (std::size_t i = 0; i < text.size(); ++i) WriteLe16(bytes, 2 + 2 * i, text[i]);
  return bytes;
}

std::vector<std::uint8_t> MatchingDescriptor() {
  return StringDescriptor(u"ZB29K702");
}

FakeHub& FakeHub::AddDevice(std::optional<std::vector<std::uint8_t>> reply) {
  return AddPort(
      {.deviceIsHub = false, .connectionStatus = kDeviceConnected, .descriptor = std::move(reply)});
}

FakeHub& FakeHub::AddPort(FakePort port) {
  ports.push_back(std::move(port));
  return *this;
}

FakeHub& FakeHub::AddHub() {
  FakeHub& hub = owner->NewHub();
  AddPort({.deviceIsHub = true, .connectionStatus = kDeviceConnected, .hub = &hub});
  return hub;
}

FakeHub& FakeTopology::AddController(int index) {
  FakeHub& root = NewHub(Widened("ROOT_HUB#" + std::to_string(index)));
  const std::string name = "HCD" + std::to_string(index);
  nodes_[name] = Node{name, &root, true};
  return root;
}

FakeHub& FakeTopology::NewHub(std::u16string hubName) {
  if (hubName.empty()) {
    char numbered[16];
    std::snprintf(numbered, sizeof numbered, "HUB#%04zu", ++hubsNumbered_);
    hubName = Widened(numbered);
  }
  FakeHub& hub = hubs_.emplace_back(FakeHub{.owner = this, .name = std::move(hubName)});
  const std::string name = Narrowed(hub.name);
  nodes_.emplace(name, Node{name, &hub, false});
  return hub;
}

HubDriver::Handle FakeTopology::Open(const std::string& name) {
  if (recording_) openAttempts_.push_back(name);
  const std::string nodeName =
      name.starts_with(kDevicePathPrefix) ? name.substr(kDevicePathPrefix.size()) : "?" + name;
  const bool allowed = Counted({nodeName});
  const auto node = nodes_.find(nodeName);
  Log((allowed && node != nodes_.end() ? "+" : "!") + nodeName);
  if (!allowed || node == nodes_.end()) return nullptr;
  open_[nextHandle_] = &node->second;
  return reinterpret_cast<Handle>(nextHandle_++);
}

void FakeTopology::Close(Handle device) {
  const auto open = open_.find(reinterpret_cast<std::uintptr_t>(device));
  if (open == open_.end()) {
    ++misuses_;
    return;
  }
  Log("-" + open->second->name);
  open_.erase(open);
}

// Buffered I/O: the input is copied into a system buffer as large as the larger of the two lengths,
// the driver answers in it, and the bytes it reports are copied to the output. A buffer that is
// missing but given a length is refused before the driver sees it.
bool FakeTopology::IoControl(Handle device, std::uint32_t code, const void* input, std::uint32_t inputLength,
                             void* output, std::uint32_t outputLength, std::uint32_t& returned) {
  returned = 0;
  const auto open = open_.find(reinterpret_cast<std::uintptr_t>(device));
  if (open == open_.end() || (input == nullptr && inputLength != 0) ||
      (output == nullptr && outputLength != 0)) {
    ++misuses_;
    return false;
  }
  const std::span in(static_cast<const std::uint8_t*>(input), inputLength);
  const std::uint32_t port = in.size() >= 4 ? ReadLe32(in, usb::kConnectionIndexOffset) : 0;
  if (recording_) ioControls_.push_back({code, {in.begin(), in.end()}, outputLength});
  if (!Counted({open->second->name, port})) return false;
  Reply reply(in.begin(), in.end());
  reply.resize(std::max(inputLength, outputLength));
  const std::optional<std::uint32_t> written =
      Answer(*open->second->hub, open->second->controller, code, port, reply);
  if (!written) return false;
  returned = std::min(*written, outputLength);
  if (returned != 0) std::memcpy(output, reply.data(), returned);
  return true;
}

// With no output the size needed, NUL included; otherwise the bytes written, or 0 when they do not fit.
int FakeTopology::ConvertWideToNarrow(const char16_t* text, char* output, int outputSize) {
  const std::string narrow = Narrowed(text);
  const int needed = static_cast<int>(narrow.size() + 1);
  if (!Counted({narrow}) || (outputSize != 0 && outputSize < needed)) return 0;
  if (outputSize != 0) std::memcpy(output, narrow.c_str(), needed);
  return needed;
}

bool FakeTopology::Counted(FakeRequest request) {
  if (requests_++ != failing_) return true;
  failed_ = std::move(request);
  return false;
}

void FakeTopology::Log(const std::string& entry) {
  if (recording_) handleLog_ += (handleLog_.empty() ? "" : " ") + entry;
}

}  // namespace hnx::test
