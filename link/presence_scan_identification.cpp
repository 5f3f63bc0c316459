#include "link/presence_scan_identification.h"

#include <array>
#include <span>

#include "link/usb_hub_layout.h"

namespace hnx {
namespace {

using DescriptorRequest = std::array<std::uint8_t, usb::kDescriptorRequestSize>;

// Holds the longest text a descriptor can carry, 126 units, and its NUL.
constexpr std::size_t kTextBufferUnits = 128;

void PrepareRequest(DescriptorRequest& request, std::uint32_t port) {
  request.fill(0);
  usb::WriteLe32(request, usb::kConnectionIndexOffset, port);
  usb::WriteLe16(
      request, usb::kSetupValueOffset,
      static_cast<std::uint16_t>(usb::kStringDescriptorType << 8 | kIdentificationDescriptorIndex));
  usb::WriteLe16(request, usb::kSetupIndexOffset, kIdentificationLanguage);
  usb::WriteLe16(request, usb::kSetupLengthOffset, usb::kDescriptorDataRoom);
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
    const char16_t unit = usb::ReadLe16(data, usb::kStringTextOffset + 2 * copied);
    if (unit == 0) break;
    text[copied++] = unit;
  }
  text[copied] = 0;
  return std::u16string_view(text.data(), copied) == kIdentificationText;
}

}  // namespace

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

}  // namespace hnx
