#include "link/usb_bus.h"

#include <charconv>

namespace hnx {
namespace {

constexpr std::size_t kMaxPortDepth = 7;

bool ParseNumber(std::string_view text, std::uint8_t& value) {
  unsigned number = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
  if (error != std::errc() || end != text.data() + text.size() || number == 0 || number > 255) return false;
  value = static_cast<std::uint8_t>(number);
  return true;
}

}  // namespace

std::string UsbLocation::PortPath() const {
  std::string path;
  for (const std::uint8_t port : ports) {
    if (!path.empty()) path += '.';
    path += std::to_string(port);
  }
  return path;
}

std::string UsbLocation::Text() const {
  return std::to_string(bus) + "-" + PortPath();
}

std::optional<UsbLocation> UsbLocation::Parse(std::string_view text) {
  const std::size_t dash = text.find('-');
  if (dash == std::string_view::npos) return std::nullopt;
  UsbLocation location;
  if (!ParseNumber(text.substr(0, dash), location.bus)) return std::nullopt;
  std::string_view rest = text.substr(dash + 1);
  for (;;) {
    const std::size_t dot = rest.find('.');
    std::uint8_t port = 0;
    if (!ParseNumber(rest.substr(0, dot), port) || location.ports.size() == kMaxPortDepth)
      return std::nullopt;
    location.ports.push_back(port);
    if (dot == std::string_view::npos) return location;
    rest = rest.substr(dot + 1);
  }
}

std::string UsbDeviceEntry::Description() const {
  return location.Text() + ": bus " + std::to_string(location.bus) + ", port " + location.PortPath() + ", " +
         speed;
}

}  // namespace hnx
