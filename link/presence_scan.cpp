#include "link/presence_scan.h"

#include <array>
#include <cstring>
#include <memory>
#include <new>
#include <span>

#include "link/usb_hub_layout.h"

namespace hnx {
namespace {

// Holds what HubDriver::Open gave and closes it, if it was opened, when the scope ends.
class OpenedHubDevice {
 public:
  OpenedHubDevice(HubDriver& driver, const std::string& name) : driver_(driver), handle_(driver.Open(name)) {}
  ~OpenedHubDevice() {
    if (handle_ != nullptr) driver_.Close(handle_);
  }
  OpenedHubDevice(const OpenedHubDevice&) = delete;
  OpenedHubDevice& operator=(const OpenedHubDevice&) = delete;

  bool opened() const { return handle_ != nullptr; }
  HubDriver::Handle handle() const { return handle_; }

 private:
  HubDriver& driver_;
  HubDriver::Handle handle_;
};

// The driver holds hub names as counted strings of at most 65,534 bytes; a probe that reports a
// longer reply is refused as an allocation that fails would be.
constexpr std::uint32_t kLargestNameReply = usb::kNodeNameTextOffset + 65534 + 2;

// A zero-filled reply buffer of the size that a probe reported.
class NameReply {
 public:
  explicit NameReply(std::uint32_t length)
      : bytes_(length <= kLargestNameReply ? new (std::nothrow) std::uint8_t[length]() : nullptr),
        length_(bytes_ ? length : 0) {}

  bool allocated() const { return bytes_ != nullptr; }
  std::uint8_t* data() { return bytes_.get(); }
  std::span<std::uint8_t> bytes() { return {bytes_.get(), length_}; }

 private:
  std::unique_ptr<std::uint8_t[]> bytes_;
  std::uint32_t length_;
};

// The name from `offset` up to its NUL unit. A driver's reply should hold the NUL, but one that
// does not ends at the end of the buffer, never past it.
std::u16string NameText(std::span<const std::uint8_t> reply, std::size_t offset) {
  std::u16string text;
  for (std::size_t at = offset; at + 2 <= reply.size(); at += 2) {
    const char16_t unit = ReadLe16(reply, at);
    if (unit == 0) break;
    text.push_back(unit);
  }
  return text;
}

using DescriptorRequest = std::array<std::uint8_t, usb::kDescriptorRequestSize>;

// Holds the longest text a descriptor can carry, 126 units, and its NUL.
constexpr std::size_t kTextBufferUnits = 128;

void PrepareRequest(DescriptorRequest& request, std::uint32_t port) {
  request.fill(0);
  WriteLe32(request, usb::kConnectionIndexOffset, port);
  WriteLe16(request, usb::kSetupValueOffset,
            static_cast<std::uint16_t>(usb::kStringDescriptorType << 8 | kIdentificationDescriptorIndex));
  WriteLe16(request, usb::kSetupIndexOffset, kIdentificationLanguage);
  WriteLe16(request, usb::kSetupLengthOffset, usb::kDescriptorDataRoom);
}

// `returned` counts the request header too, so a well-formed reply has bLength == returned - 12.
bool AcceptsReply(std::span<const std::uint8_t> data, std::uint32_t returned) {
  if (returned < 2) return false;
  if (data[usb::kStringTypeOffset] != usb::kStringDescriptorType) return false;
  const std::uint32_t length = data[usb::kStringLengthOffset];
  if (length + usb::kDescriptorRequestHeaderSize != returned) return false;
  return length % 2 == 0 && length != 0;
}

// The text ends at its first NUL unit or after (bLength - 2) / 2 units.
bool TextMatches(std::span<const std::uint8_t> data) {
  std::array<char16_t, kTextBufferUnits> text{};
  const std::size_t units = (data[usb::kStringLengthOffset] - 2u) / 2;
  std::size_t copied = 0;
  while (copied < units) {
    const char16_t unit = ReadLe16(data, usb::kStringTextOffset + 2 * copied);
    if (unit == 0) break;
    text[copied++] = unit;
  }
  text[copied] = 0;
  return std::u16string_view(text.data(), copied) == kIdentificationText;
}

constexpr int kControllerCount = 10;
constexpr char kDevicePathPrefix[] = "\\\\.\\";

// One scan of the whole topology. Every level of the walk adds to the one device count, and every
// controller and hub stays open while what lies behind it is walked.
class PresenceScan {
 public:
  explicit PresenceScan(HubDriver& driver) : driver_(driver) {}

  std::uint32_t Run() {
    for (int index = 0; index < kControllerCount; ++index) WalkController(index);
    return deviceCount_;
  }

 private:
  void WalkController(int index);
  void WalkHub(const std::string& name);
  void WalkHubPorts(HubDriver::Handle hub, std::uint32_t portCount);
  void WalkPort(HubDriver::Handle hub, std::uint32_t port);

  HubDriver& driver_;
  std::uint32_t deviceCount_ = 0;
};

void PresenceScan::WalkController(int index) {
  const OpenedHubDevice controller(driver_, kDevicePathPrefix + ("HCD" + std::to_string(index)));
  if (!controller.opened()) return;
  if (const auto rootHub = QueryRootHubName(driver_, controller.handle())) WalkHub(*rootHub);
}

void PresenceScan::WalkHub(const std::string& name) {
  const OpenedHubDevice hub(driver_, kDevicePathPrefix + name);
  if (!hub.opened()) return;
  std::array<std::uint8_t, usb::kNodeInformationSize> information{};
  std::uint32_t returned = 0;
  if (!driver_.IoControl(hub.handle(), usb::kIoctlGetNodeInformation, information.data(),
                         usb::kNodeInformationSize, information.data(), usb::kNodeInformationSize,
                         returned)) {
    return;
  }
  WalkHubPorts(hub.handle(), information[usb::kNumberOfPortsOffset]);
}

void PresenceScan::WalkHubPorts(HubDriver::Handle hub, std::uint32_t portCount) {
  for (std::uint32_t port = 1; port <= portCount; ++port) WalkPort(hub, port);
}

// A hub is followed whatever its connection state says, and is never asked to identify itself.
void PresenceScan::WalkPort(HubDriver::Handle hub, std::uint32_t port) {
  std::array<std::uint8_t, usb::kConnectionInformationSize> connection{};
  WriteLe32(connection, usb::kConnectionIndexOffset, port);
  std::uint32_t returned = 0;
  if (!driver_.IoControl(hub, usb::kIoctlGetNodeConnectionInformation, connection.data(),
                         usb::kConnectionInformationSize, connection.data(), usb::kConnectionInformationSize,
                         returned)) {
    return;
  }
  if (connection[usb::kDeviceIsHubOffset] != 0) {
    if (const auto name = QueryExternalHubName(driver_, hub, port)) WalkHub(*name);
  } else if (ReadLe32(connection, usb::kConnectionStatusOffset) == usb::kDeviceConnected &&
             DeviceIdentifies(driver_, hub, port)) {
    ++deviceCount_;
  }
}

}  // namespace

std::optional<std::string> WideToNarrow(HubDriver& driver, const char16_t* text) {
  const int size = driver.ConvertWideToNarrow(text, nullptr, 0);
  if (size <= 0) return std::nullopt;
  std::string narrow(static_cast<std::size_t>(size), '\0');
  if (driver.ConvertWideToNarrow(text, narrow.data(), size) == 0) return std::nullopt;
  narrow.resize(std::strlen(narrow.c_str()));
  return narrow;
}

std::optional<std::string> QueryRootHubName(HubDriver& driver, HubDriver::Handle controller) {
  std::array<std::uint8_t, usb::kRootHubNameSize> probe{};
  std::uint32_t returned = 0;
  if (!driver.IoControl(controller, usb::kIoctlGetRootHubName, nullptr, 0, probe.data(),
                        usb::kRootHubNameSize, returned)) {
    return std::nullopt;
  }
  const std::uint32_t length = ReadLe32(probe, usb::kRootHubNameActualLengthOffset);
  if (length < usb::kRootHubNameSize) return std::nullopt;
  NameReply reply(length);
  if (!reply.allocated()) return std::nullopt;
  if (!driver.IoControl(controller, usb::kIoctlGetRootHubName, nullptr, 0, reply.data(), length, returned)) {
    return std::nullopt;
  }
  return WideToNarrow(driver, NameText(reply.bytes(), usb::kRootHubNameTextOffset).c_str());
}

std::optional<std::string> QueryExternalHubName(HubDriver& driver, HubDriver::Handle hub,
                                                std::uint32_t port) {
  std::array<std::uint8_t, usb::kNodeConnectionNameSize> probe{};
  WriteLe32(probe, usb::kConnectionIndexOffset, port);
  std::uint32_t returned = 0;
  if (!driver.IoControl(hub, usb::kIoctlGetNodeConnectionName, probe.data(), usb::kNodeConnectionNameSize,
                        probe.data(), usb::kNodeConnectionNameSize, returned)) {
    return std::nullopt;
  }
  const std::uint32_t length = ReadLe32(probe, usb::kNodeNameActualLengthOffset);
  if (length <= usb::kNodeConnectionNameSize) return std::nullopt;
  NameReply reply(length);
  if (!reply.allocated()) return std::nullopt;
  WriteLe32(reply.bytes(), usb::kConnectionIndexOffset, port);
  if (!driver.IoControl(hub, usb::kIoctlGetNodeConnectionName, reply.data(), length, reply.data(), length,
                        returned)) {
    return std::nullopt;
  }
  return WideToNarrow(driver, NameText(reply.bytes(), usb::kNodeNameTextOffset).c_str());
}

bool DeviceIdentifies(HubDriver& driver, HubDriver::Handle hub, std::uint32_t port) {
  DescriptorRequest request;
  PrepareRequest(request, port);
  std::uint32_t returned = 0;
  if (!driver.IoControl(hub, usb::kIoctlGetDescriptorFromNodeConnection, request.data(),
                        usb::kDescriptorRequestSize, request.data(), usb::kDescriptorRequestSize, returned)) {
    return false;
  }
  const std::span<const std::uint8_t> data = std::span(request).subspan(usb::kDescriptorDataOffset);
  return AcceptsReply(data, returned) && TextMatches(data);
}

bool IdentificationDescriptorMatches(std::span<const std::uint8_t> descriptor) {
  const auto received = static_cast<std::uint32_t>(descriptor.size());
  return received >= 2 && AcceptsReply(descriptor, received + usb::kDescriptorRequestHeaderSize) &&
         TextMatches(descriptor);
}

void CountAttachedDevices(HubDriver& driver, std::uint32_t& deviceCount) {
  deviceCount = PresenceScan(driver).Run();
}

}  // namespace hnx
