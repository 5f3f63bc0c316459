#include "link/presence_scan_hub_names.h"

#include <array>
#include <memory>
#include <new>
#include <span>

#include "link/usb_hub_layout.h"

namespace hnx {
namespace {

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
    const char16_t unit = usb::ReadLe16(reply, at);
    if (unit == 0) break;
    text.push_back(unit);
  }
  return text;
}

}  // namespace

std::optional<std::string> QueryRootHubName(HubDriver& driver, HubDriver::Handle controller) {
  std::array<std::uint8_t, usb::kRootHubNameSize> probe{};
  std::uint32_t returned = 0;
  if (!driver.IoControl(controller, usb::kIoctlGetRootHubName, nullptr, 0, probe.data(),
                        usb::kRootHubNameSize, returned)) {
    return std::nullopt;
  }
  const std::uint32_t length = usb::ReadLe32(probe, usb::kRootHubNameActualLengthOffset);
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
  usb::WriteLe32(probe, usb::kConnectionIndexOffset, port);
  std::uint32_t returned = 0;
  if (!driver.IoControl(hub, usb::kIoctlGetNodeConnectionName, probe.data(), usb::kNodeConnectionNameSize,
                        probe.data(), usb::kNodeConnectionNameSize, returned)) {
    return std::nullopt;
  }
  const std::uint32_t length = usb::ReadLe32(probe, usb::kNodeNameActualLengthOffset);
  if (length <= usb::kNodeConnectionNameSize) return std::nullopt;
  NameReply reply(length);
  if (!reply.allocated()) return std::nullopt;
  usb::WriteLe32(reply.bytes(), usb::kConnectionIndexOffset, port);
  if (!driver.IoControl(hub, usb::kIoctlGetNodeConnectionName, reply.data(), length, reply.data(), length,
                        returned)) {
    return std::nullopt;
  }
  return WideToNarrow(driver, NameText(reply.bytes(), usb::kNodeNameTextOffset).c_str());
}

}  // namespace hnx
