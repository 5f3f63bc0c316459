// A libusb program that watches the emulated bus for the equipment's own tests: "ready" once its
// hot-plug callback is registered, then "arrived BUS-PORT" for each device (not hub) plugged in, which it opens
// and claims, and "left BUS-PORT: RESULT" for each device unplugged, RESULT being what a bulk transfer
// to the device it still holds gives. It ends after as many arrivals and departures as its argument.
#include <libusb.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

namespace {

struct Event {
  libusb_device* device;
  bool arrived;
};

std::vector<Event> events;

int OnHotplug(libusb_context*, libusb_device* device, libusb_hotplug_event event, void*) {
  libusb_device_descriptor descriptor{};
  if (libusb_get_device_descriptor(device, &descriptor) != 0 || descriptor.bDeviceClass == LIBUSB_CLASS_HUB) return 0;
  events.push_back({libusb_ref_device(device), event == LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED});
  return 0;
}

std::string Location(libusb_device* device) {
  std::array<std::uint8_t, 7> ports{};
  const int depth = libusb_get_port_numbers(device, ports.data(), static_cast<int>(ports.size()));
  std::string text = std::to_string(libusb_get_bus_number(device)) + "-";
  for (int i = 0; i < depth; ++i) text += (i > 0 ? "." : "") + std::to_string(ports[i]);
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  const int wanted = argc > 1 ? std::atoi(argv[1]) : 1;
  libusb_context* context = nullptr;
  if (libusb_init(&context) != 0 || !libusb_has_capability(LIBUSB_CAP_HAS_HOTPLUG)) return 2;
  libusb_hotplug_callback_handle callback = 0;
  if (libusb_hotplug_register_callback(
          context, LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED | LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT, LIBUSB_HOTPLUG_NO_FLAGS,
          LIBUSB_HOTPLUG_MATCH_ANY, LIBUSB_HOTPLUG_MATCH_ANY, LIBUSB_HOTPLUG_MATCH_ANY, OnHotplug, nullptr,
          &callback) != 0)
    return 3;
  std::printf("ready\n");
  std::fflush(stdout);
  std::map<libusb_device*, libusb_device_handle*> held;
  for (int seen = 0; seen < wanted;) {
    libusb_handle_events(context);
    for (const Event& event : events) {
      ++seen;
      const std::string location = Location(event.device);
      if (event.arrived) {
        libusb_device_handle* handle = nullptr;
        const bool claimed = libusb_open(event.device, &handle) == 0 && libusb_claim_interface(handle, 0) == 0;
        std::printf("arrived %s%s\n", location.c_str(), claimed ? "" : " (not claimed)");
        if (handle != nullptr) held[event.device] = handle;
      } else {
        std::array<unsigned char, 10> frame{};
        int moved = 0;
        const auto handle = held.find(event.device);
        const int result = handle == held.end() ? LIBUSB_ERROR_NOT_FOUND
                                                : libusb_bulk_transfer(handle->second, 0x01, frame.data(),
                                                                       static_cast<int>(frame.size()), &moved, 1000);
        std::printf("left %s: %s\n", location.c_str(), libusb_error_name(result));
        if (handle != held.end()) {
          libusb_close(handle->second);
          held.erase(handle);
        }
      }
      std::fflush(stdout);
      libusb_unref_device(event.device);
    }
    events.clear();
  }
  for (const auto& [device, handle] : held) libusb_close(handle);
  libusb_hotplug_deregister_callback(context, callback);
  libusb_exit(context);
  return 0;
}
