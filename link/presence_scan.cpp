#include "link/presence_scan.h"

#include <array>
#include <string>

#include "link/presence_scan_hub_names.h"
#include "link/presence_scan_identification.h"
#include "link/usb_hub_layout.h"

namespace hnx {
namespace {

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
  usb::WriteLe32(connection, usb::kConnectionIndexOffset, port);
  std::uint32_t returned = 0;
  if (!driver_.IoControl(hub, usb::kIoctlGetNodeConnectionInformation, connection.data(),
                         usb::kConnectionInformationSize, connection.data(), usb::kConnectionInformationSize,
                         returned)) {
    return;
  }
  if (connection[usb::kDeviceIsHubOffset] != 0) {
    if (const auto name = QueryExternalHubName(driver_, hub, port)) WalkHub(*name);
  } else if (usb::ReadLe32(connection, usb::kConnectionStatusOffset) == usb::kDeviceConnected &&
             DeviceIdentifies(driver_, hub, port)) {
    ++deviceCount_;
  }
}

}  // namespace

void CountAttachedDevices(HubDriver& driver, std::uint32_t& deviceCount) {
  deviceCount = PresenceScan(driver).Run();
}

}  // namespace hnx
