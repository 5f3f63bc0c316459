// The system's own way to the device when no transfer library is named: the identified devices on
// the USB buses, where each sits, and a transport to one of them. libusb on Linux
// (usb_transport_libusb.h); Windows has none and goes through the vendor library.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "link/transfer_library.h"

namespace hnx {

// Where a device sits: its bus and the ports from the root hub down, written as `lsusb -t` and the
// kernel name it, e.g. "1-4.2".
struct UsbLocation {
  std::uint8_t bus = 0;
  std::vector<std::uint8_t> ports;

  std::string Text() const;
  std::string PortPath() const;  // "4.2"
  // Nothing for text that is not BUS-PORT[.PORT...] with numbers from 1 to 255 (7 ports at most).
  static std::optional<UsbLocation> Parse(std::string_view text);
  bool operator==(const UsbLocation&) const = default;
};

struct UsbDeviceEntry {
  UsbLocation location;
  std::string speed;  // "480 Mbit/s"; "unknown speed" when the system does not say

  // "1-4.2: bus 1, port 4.2, 12 Mbit/s"
  std::string Description() const;
};

struct UsbSurvey {
  std::vector<UsbDeviceEntry> devices;  // the identified devices, in bus and port order
  std::uint32_t denied = 0;             // devices that could not be opened for lack of permission
};

// What changed on the buses: identified devices that arrived, the places of devices that left
// (identified or not), and of devices that arrived but could not be opened for lack of permission.
struct UsbChanges {
  std::vector<UsbDeviceEntry> arrived;
  std::vector<UsbLocation> left;
  std::vector<UsbLocation> denied;
};

// A transport to one device that also tells why opening found none.
class UsbTransport : public Transport {
 public:
  // How many devices the last OpenPipe could not open for lack of permission.
  virtual std::uint32_t deniedAtLastOpen() const = 0;
};

class UsbBus {
 public:
  virtual ~UsbBus() = default;
  virtual UsbSurvey Survey() = 0;
  // A transport to the identified device at `location`; without one, to the only identified device
  // (opening fails while there are several).
  virtual std::unique_ptr<UsbTransport> Connect(const std::optional<UsbLocation>& location) = 0;
  // The first call starts watching the buses, and the devices already attached arrive first. A
  // device whose identification fails is asked again while it stays plugged, a few times, spaced
  // out; one that still may not be opened is then reported denied, once per attachment. Waits up to
  // `timeout` for a change; nothing changed when it returns empty.
  virtual UsbChanges WaitForChanges(std::chrono::milliseconds timeout) = 0;
};

}  // namespace hnx
