#include "support/fake_topology.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "link/usb_hub_layout.h"

namespace hnx::test {
namespace {

constexpr std::string_view kDevicePathPrefix = "\\\\.\\";
constexpr std::uint16_t kIdentificationValue = 0x03FF;
constexpr std::uint16_t kIdentificationLanguage = 0x2861;
constexpr std::uint8_t kHubDescriptorType = 0x29;
constexpr std::uint8_t kDeviceDescriptorLength = 18;
constexpr std::uint8_t kDeviceDescriptorType = 1;

// What the ANSI code page makes of the text: ASCII as it is, anything else as the default '?'.
std::string Narrowed(std::u16string_view text) {
  std::string narrow;
  for (const char16_t unit : text) narrow.push_back(unit < 0x80 ? static_cast<char>(unit) : '?');
  return narrow;
}

std::u16string Numbered(std::u16string_view prefix, std::size_t number, int width) {
  char digits[16];
  std::snprintf(digits, sizeof digits, "%0*zu", width, number);
  std::u16string name(prefix);
  for (const char* digit = digits; *digit != '\0'; ++digit) name.push_back(static_cast<char16_t>(*digit));
  return name;
}

std::uint32_t PortIndex(std::span<const std::uint8_t> input) {
  return input.size() >= 4 ? ReadLe32(input, usb::kConnectionIndexOffset) : 0;
}

const FakePort* PortOf(const FakeHub& hub, std::uint32_t port) {
  return port >= 1 && port <= hub.ports.size() ? &hub.ports[port - 1] : nullptr;
}

using Reply = std::vector<std::uint8_t>;

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

std::optional<std::uint32_t> AnswerNodeInformation(const FakeHub& hub, Reply& reply) {
  if (reply.size() < usb::kNodeInformationSize) return std::nullopt;
  std::fill_n(reply.begin(), usb::kNodeInformationSize, 0);
  const std::size_t descriptor = usb::kHubDescriptorOffset;
  reply[descriptor] = 9;
  reply[descriptor + 1] = kHubDescriptorType;
  reply[usb::kNumberOfPortsOffset] =
      hub.reportedPortCount.value_or(static_cast<std::uint8_t>(hub.ports.size()));
  reply[descriptor + 5] = 50;   // bPowerOnToPowerGood
  reply[descriptor + 6] = 100;  // bHubControlCurrent
  return usb::kNodeInformationSize;
}

std::optional<std::uint32_t> AnswerConnectionInformation(const FakeHub& hub, std::uint32_t index,
                                                         Reply& reply) {
  const FakePort* port = PortOf(hub, index);
  if (port == nullptr || reply.size() < usb::kConnectionInformationHeaderSize) return std::nullopt;
  std::fill_n(reply.begin(), usb::kConnectionInformationHeaderSize, 0);
  WriteLe32(reply, usb::kConnectionIndexOffset, index);
  const bool connected = port->connectionStatus == kDeviceConnected;
  if (connected) {
    reply[usb::kDeviceDescriptorOffset] = kDeviceDescriptorLength;
    reply[usb::kDeviceDescriptorOffset + 1] = kDeviceDescriptorType;
    reply[usb::kCurrentConfigurationValueOffset] = 1;
    WriteLe16(reply, usb::kDeviceAddressOffset, static_cast<std::uint16_t>(index + 1));
  }
  reply[usb::kDeviceIsHubOffset] = port->deviceIsHub ? 1 : 0;
  WriteLe32(reply, usb::kConnectionStatusOffset, port->connectionStatus);
  return usb::kConnectionInformationHeaderSize;
}

// The device answers only the identification request, with at most the requested length and what
// fits after the header; the count reported includes the header.
std::optional<std::uint32_t> AnswerDescriptor(const FakeHub& hub, std::uint32_t index, Reply& reply) {
  const FakePort* port = PortOf(hub, index);
  if (port == nullptr || reply.size() < usb::kDescriptorRequestHeaderSize) return std::nullopt;
  if (port->connectionStatus != kDeviceConnected || !port->descriptor) return std::nullopt;
  if (ReadLe16(reply, usb::kSetupValueOffset) != kIdentificationValue ||
      ReadLe16(reply, usb::kSetupIndexOffset) != kIdentificationLanguage) {
    return std::nullopt;
  }
  const std::size_t length =
      std::min({static_cast<std::size_t>(ReadLe16(reply, usb::kSetupLengthOffset)),
                reply.size() - usb::kDescriptorRequestHeaderSize, port->descriptor->size()});
  std::copy_n(port->descriptor->begin(), length, reply.begin() + usb::kDescriptorDataOffset);
  return static_cast<std::uint32_t>(usb::kDescriptorRequestHeaderSize + length);
}

// A port without a hub has an empty name.
std::optional<std::uint32_t> AnswerNodeName(const FakeHub& hub, std::uint32_t index, Reply& reply) {
  const FakePort* port = PortOf(hub, index);
  if (port == nullptr || reply.size() < usb::kNodeConnectionNameSize) return std::nullopt;
  WriteLe32(reply, usb::kConnectionIndexOffset, index);
  if (port->hub != nullptr) {
    return AnswerName(*port->hub, usb::kNodeNameActualLengthOffset, usb::kNodeNameTextOffset, reply);
  }
  WriteLe32(reply, usb::kNodeNameActualLengthOffset, usb::kNodeConnectionNameSize);
  WriteLe16(reply, usb::kNodeNameTextOffset, 0);
  return usb::kNodeConnectionNameSize;
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
  return AddPort({.deviceIsHub = false,
                  .connectionStatus = kDeviceConnected,
                  .descriptor = std::move(reply),
                  .hub = nullptr});
}

FakeHub& FakeHub::AddEmptyPort() {
  return AddPort({});
}

FakeHub& FakeHub::AddPort(FakePort port) {
  ports.push_back(std::move(port));
  return *this;
}

FakeHub& FakeHub::AddHub(std::u16string hubName) {
  FakeHub& hub = owner->NewHub(std::move(hubName));
  AddPort(
      {.deviceIsHub = true, .connectionStatus = kDeviceConnected, .descriptor = std::nullopt, .hub = &hub});
  return hub;
}

FakeHub& FakeTopology::AddController(int index, std::u16string rootHubName) {
  if (rootHubName.empty()) rootHubName = Numbered(u"ROOT_HUB#", static_cast<std::size_t>(index), 1);
  FakeHub& root = NewHub(std::move(rootHubName));
  const std::string name = "HCD" + std::to_string(index);
  nodes_[name] = Node{name, &root, true};
  return root;
}

FakeHub& FakeTopology::NewHub(std::u16string hubName) {
  if (hubName.empty()) hubName = Numbered(u"HUB#", nextHubNumber_++, 4);
  FakeHub& hub = hubs_.emplace_back(*this, std::move(hubName));
  const std::string name = Narrowed(hub.name);
  nodes_.emplace(name, Node{name, &hub, false});
  return hub;
}

std::vector<FakeRequest> FakeTopology::Requests(FakeRequestKind kind) const {
  std::vector<FakeRequest> requests;
  for (const FakeCall& call : calls_) {
    if (call.request.kind == kind) requests.push_back(call.request);
  }
  return requests;
}

HubDriver::Handle FakeTopology::Open(const std::string& name) {
  if (recording_) openAttempts_.push_back(name);
  const bool prefixed = name.starts_with(kDevicePathPrefix);
  const std::string nodeName = prefixed ? name.substr(kDevicePathPrefix.size()) : "?" + name;
  if (!Record({FakeRequestKind::Open, nodeName, 0}, {}, 0)) return nullptr;
  const auto node = nodes_.find(nodeName);
  if (node == nodes_.end()) return nullptr;
  const std::uintptr_t handle = nextHandle_++;
  open_[handle] = &node->second;
  if (recording_) handleEvents_.push_back("+" + nodeName);
  return reinterpret_cast<Handle>(handle);
}

void FakeTopology::Close(Handle device) {
  const auto open = open_.find(reinterpret_cast<std::uintptr_t>(device));
  if (open == open_.end()) {
    ++misuses_;
    return;
  }
  if (recording_) handleEvents_.push_back("-" + open->second->name);
  open_.erase(open);
}

// Buffered I/O: the input is copied into a system buffer as large as the larger of the two
// lengths, the driver answers in it, and the bytes it reports are copied to the output.
bool FakeTopology::IoControl(Handle device, std::uint32_t code, const void* input, std::uint32_t inputLength,
                             void* output, std::uint32_t outputLength, std::uint32_t& returned) {
  returned = 0;
  const auto open = open_.find(reinterpret_cast<std::uintptr_t>(device));
  if (open == open_.end()) {
    ++misuses_;
    return false;
  }
  const Node& node = *open->second;
  const std::span inputBytes(static_cast<const std::uint8_t*>(input), input != nullptr ? inputLength : 0);
  const FakeRequest request = Classify(node, code, inputBytes, outputLength);
  if (!Record(request, inputBytes, outputLength)) return false;
  std::vector<std::uint8_t> reply(inputBytes.begin(), inputBytes.end());
  reply.resize(std::max(inputLength, outputLength));
  const std::optional<std::uint32_t> written = Answer(node, request, reply);
  if (!written) return false;
  returned = std::min(*written, outputLength);
  if (returned != 0) std::memcpy(output, reply.data(), returned);
  return true;
}

int FakeTopology::ConvertWideToNarrow(const char16_t* text, char* output, int outputSize) {
  const std::string narrow = Narrowed(text);
  const bool sizing = outputSize == 0;
  if (!Record({sizing ? FakeRequestKind::NarrowSize : FakeRequestKind::Narrow, narrow, 0}, {}, 0)) return 0;
  const int needed = static_cast<int>(narrow.size() + 1);
  if (sizing) return needed;
  if (outputSize < needed) return 0;
  std::memcpy(output, narrow.c_str(), narrow.size() + 1);
  return needed;
}

bool FakeTopology::Record(FakeRequest request, std::span<const std::uint8_t> input,
                          std::uint32_t outputLength) {
  const bool failed = failingNumbers_.contains(requestCount_++) ||
                      std::find(failing_.begin(), failing_.end(), request) != failing_.end();
  if (recording_) calls_.push_back({std::move(request), {input.begin(), input.end()}, outputLength, failed});
  return !failed;
}

FakeRequest FakeTopology::Classify(const Node& node, std::uint32_t code, std::span<const std::uint8_t> input,
                                   std::uint32_t outputLength) const {
  switch (code) {
    case usb::kIoctlGetRootHubName:  // also kIoctlGetNodeInformation: the handle decides
      if (!node.controller) return {FakeRequestKind::NodeInformation, node.name, 0};
      return {outputLength == usb::kRootHubNameSize ? FakeRequestKind::RootHubNameProbe
                                                    : FakeRequestKind::RootHubName,
              node.name, 0};
    case usb::kIoctlGetNodeConnectionInformation:
      return {FakeRequestKind::ConnectionInformation, node.name, PortIndex(input)};
    case usb::kIoctlGetDescriptorFromNodeConnection:
      return {FakeRequestKind::Descriptor, node.name, PortIndex(input)};
    case usb::kIoctlGetNodeConnectionName:
      return {outputLength == usb::kNodeConnectionNameSize ? FakeRequestKind::NodeNameProbe
                                                           : FakeRequestKind::NodeName,
              node.name, PortIndex(input)};
    default:
      return {FakeRequestKind::Unknown, node.name, 0};
  }
}

std::optional<std::uint32_t> FakeTopology::Answer(const Node& node, const FakeRequest& request,
                                                  Reply& reply) {
  const FakeHub& hub = *node.hub;
  const bool askedOfController =
      request.kind == FakeRequestKind::RootHubNameProbe || request.kind == FakeRequestKind::RootHubName;
  if (node.controller != askedOfController) return std::nullopt;
  switch (request.kind) {
    case FakeRequestKind::RootHubNameProbe:
    case FakeRequestKind::RootHubName:
      return AnswerName(hub, usb::kRootHubNameActualLengthOffset, usb::kRootHubNameTextOffset, reply);
    case FakeRequestKind::NodeInformation:
      return AnswerNodeInformation(hub, reply);
    case FakeRequestKind::ConnectionInformation:
      return AnswerConnectionInformation(hub, request.port, reply);
    case FakeRequestKind::Descriptor:
      return AnswerDescriptor(hub, request.port, reply);
    case FakeRequestKind::NodeNameProbe:
    case FakeRequestKind::NodeName:
      return AnswerNodeName(hub, request.port, reply);
    default:
      return std::nullopt;
  }
}

}  // namespace hnx::test
