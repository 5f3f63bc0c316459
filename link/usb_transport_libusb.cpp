#include "link/usb_transport_libusb.h"

#include <libusb.h>

#include <algorithm>
#include <array>
#include <deque>
#include <mutex>
#include <set>
#include <span>
#include <thread>

#include "link/presence_scan.h"

namespace hnx {
namespace {

constexpr int kInterface = 0;
constexpr std::size_t kMaxPortDepth = 7;
constexpr std::size_t kStringDescriptorRoom = 255;

using DeviceRef = std::unique_ptr<libusb_device, decltype(&libusb_unref_device)>;

class DeviceList {
 public:
  explicit DeviceList(libusb_context* context) {
    const ssize_t count = libusb_get_device_list(context, &devices_);
    count_ = count > 0 ? static_cast<std::size_t>(count) : 0;
  }
  ~DeviceList() {
    if (devices_ != nullptr) libusb_free_device_list(devices_, 1);
  }
  DeviceList(const DeviceList&) = delete;
  DeviceList& operator=(const DeviceList&) = delete;

  std::span<libusb_device*> devices() const { return {devices_, count_}; }

 private:
  libusb_device** devices_ = nullptr;
  std::size_t count_ = 0;
};

UsbLocation LocationOf(libusb_device* device) {
  std::array<std::uint8_t, kMaxPortDepth> ports{};
  const int depth =
      std::max(libusb_get_port_numbers(device, ports.data(), static_cast<int>(ports.size())), 0);
  return {libusb_get_bus_number(device), {ports.begin(), ports.begin() + depth}};
}

std::string SpeedText(int speed) {
  switch (speed) {
    case LIBUSB_SPEED_LOW:
      return "1.5 Mbit/s";
    case LIBUSB_SPEED_FULL:
      return "12 Mbit/s";
    case LIBUSB_SPEED_HIGH:
      return "480 Mbit/s";
    case LIBUSB_SPEED_SUPER:
      return "5 Gbit/s";
    case LIBUSB_SPEED_SUPER_PLUS:
      return "10 Gbit/s";
    default:
      return "unknown speed";
  }
}

bool IsHub(libusb_device* device) {
  libusb_device_descriptor descriptor{};
  return libusb_get_device_descriptor(device, &descriptor) == LIBUSB_SUCCESS &&
         descriptor.bDeviceClass == LIBUSB_CLASS_HUB;
}

enum class Identification {
  Ours,
  NotOurs,    // a hub, or a device that answers another text
  Denied,     // may not be opened for lack of permission
  NoAnswer,   // could not be opened, or did not answer the request
};

Identification AskIdentification(libusb_device_handle* handle) {
  std::array<unsigned char, kStringDescriptorRoom> descriptor{};
  const int received = libusb_control_transfer(
      handle, LIBUSB_ENDPOINT_IN, LIBUSB_REQUEST_GET_DESCRIPTOR,
      static_cast<std::uint16_t>(LIBUSB_DT_STRING << 8 | kIdentificationDescriptorIndex),
      kIdentificationLanguage, descriptor.data(), static_cast<std::uint16_t>(descriptor.size()),
      kUsbTransferTimeoutMilliseconds);
  if (received <= 0) return Identification::NoAnswer;
  return IdentificationDescriptorMatches(std::span(descriptor.data(), static_cast<std::size_t>(received)))
             ? Identification::Ours
             : Identification::NotOurs;
}

// Opens the device to ask for the identification string.
Identification Identify(libusb_device* device) {
  if (IsHub(device)) return Identification::NotOurs;
  libusb_device_handle* handle = nullptr;
  const int opened = libusb_open(device, &handle);
  if (opened == LIBUSB_ERROR_ACCESS) return Identification::Denied;
  if (opened != LIBUSB_SUCCESS) return Identification::NoAnswer;
  const Identification found = AskIdentification(handle);
  libusb_close(handle);
  return found;
}

struct Identified {
  std::vector<DeviceRef> devices;
  std::vector<UsbLocation> denied;  // refused for lack of permission
};

// Asks every device but the hubs, or only the one at `only`.
Identified FindIdentified(libusb_context* context, const std::optional<UsbLocation>& only) {
  Identified found;
  const DeviceList list(context);
  for (libusb_device* device : list.devices()) {
    if (only && LocationOf(device) != *only) continue;
    const Identification identification = Identify(device);
    if (identification == Identification::Ours)
      found.devices.emplace_back(libusb_ref_device(device), &libusb_unref_device);
    else if (identification == Identification::Denied)
      found.denied.push_back(LocationOf(device));
  }
  return found;
}

struct BulkEndpoints {
  std::uint8_t out = 0;
  std::uint8_t in = 0;
};

const libusb_interface_descriptor* FirstSettingOfInterface(const libusb_config_descriptor& config,
                                                           int number) {
  for (std::uint8_t i = 0; i < config.bNumInterfaces; ++i) {
    const libusb_interface& candidate = config.interface[i];
    if (candidate.num_altsetting > 0 && candidate.altsetting[0].bInterfaceNumber == number)
      return &candidate.altsetting[0];
  }
  return nullptr;
}

std::optional<BulkEndpoints> FindBulkEndpoints(libusb_device* device) {
  libusb_config_descriptor* config = nullptr;
  if (libusb_get_active_config_descriptor(device, &config) != LIBUSB_SUCCESS) return std::nullopt;
  BulkEndpoints endpoints;
  if (const libusb_interface_descriptor* setting = FirstSettingOfInterface(*config, kInterface)) {
    for (std::uint8_t i = 0; i < setting->bNumEndpoints; ++i) {
      const libusb_endpoint_descriptor& endpoint = setting->endpoint[i];
      if ((endpoint.bmAttributes & LIBUSB_TRANSFER_TYPE_MASK) != LIBUSB_TRANSFER_TYPE_BULK) continue;
      std::uint8_t& slot =
          (endpoint.bEndpointAddress & LIBUSB_ENDPOINT_IN) != 0 ? endpoints.in : endpoints.out;
      if (slot == 0) slot = endpoint.bEndpointAddress;
    }
  }
  libusb_free_config_descriptor(config);
  if (endpoints.out == 0 || endpoints.in == 0) return std::nullopt;
  return endpoints;
}

// The device's ids and place, and its serial number string (ASCII) when its descriptor names one.
DeviceFacts FactsOf(libusb_device* device, libusb_device_handle* handle) {
  DeviceFacts facts{LocationOf(device).Text(),
                    0,
                    0,
                    libusb_get_bus_number(device),
                    libusb_get_device_address(device),
                    SpeedText(libusb_get_device_speed(device)),
                    std::nullopt};
  libusb_device_descriptor descriptor{};
  if (libusb_get_device_descriptor(device, &descriptor) != LIBUSB_SUCCESS) return facts;
  facts.vendorId = descriptor.idVendor;
  facts.productId = descriptor.idProduct;
  std::array<unsigned char, kStringDescriptorRoom> serial{};
  if (descriptor.iSerialNumber == 0) return facts;
  const int length = libusb_get_string_descriptor_ascii(handle, descriptor.iSerialNumber, serial.data(),
                                                        static_cast<int>(serial.size()));
  if (length >= 0)
    facts.serial.emplace(reinterpret_cast<const char*>(serial.data()), static_cast<std::size_t>(length));
  return facts;
}

// Each transport has a libusb context of its own, so that its synchronous transfers are completed by
// its own thread only: with several devices' threads on one context, one thread may complete, and
// touch, a transfer that its owner has already seen done and freed (libusb before 1.0.27).
class LibusbTransport final : public UsbTransport {
 public:
  explicit LibusbTransport(std::optional<UsbLocation> location) : location_(std::move(location)) {
    if (libusb_init(&context_) != LIBUSB_SUCCESS) context_ = nullptr;
  }
  // A pipe left open (exit ISP) is not released when no driver waits for the interface: closing the
  // device gives up its claim as well.
  ~LibusbTransport() override {
    CloseDevice();
    if (context_ != nullptr) libusb_exit(context_);
  }
  LibusbTransport(const LibusbTransport&) = delete;
  LibusbTransport& operator=(const LibusbTransport&) = delete;

  bool OpenPipe() override;
  void ClosePipe() override;
  bool BulkWrite(const std::uint8_t* data, std::uint32_t length, std::uint32_t& count) override {
    // libusb takes a non-const buffer for both directions; it does not write to an OUT buffer.
    return Transfer(endpoints_.out, const_cast<std::uint8_t*>(data), length, count);
  }
  bool BulkRead(std::uint8_t* buffer, std::uint32_t length, std::uint32_t& count) override {
    return Transfer(endpoints_.in, buffer, length, count);
  }
  std::uint32_t deniedAtLastOpen() const override { return denied_; }
  std::optional<DeviceFacts> facts() const override { return facts_; }

 private:
  bool Claim();
  void Release();
  void CloseDevice();
  bool Transfer(std::uint8_t endpoint, std::uint8_t* data, std::uint32_t length, std::uint32_t& count);

  libusb_context* context_ = nullptr;
  std::optional<UsbLocation> location_;
  libusb_device_handle* handle_ = nullptr;
  BulkEndpoints endpoints_;
  bool claimed_ = false;
  bool driverDetached_ = false;
  std::uint32_t denied_ = 0;
  std::optional<DeviceFacts> facts_;
};

bool LibusbTransport::OpenPipe() {
  if (handle_ != nullptr) return true;
  if (context_ == nullptr) return false;
  const Identified found = FindIdentified(context_, location_);
  denied_ = static_cast<std::uint32_t>(found.denied.size());
  if (found.devices.size() != 1) return false;
  libusb_device* device = found.devices.front().get();
  const std::optional<BulkEndpoints> endpoints = FindBulkEndpoints(device);
  if (!endpoints || libusb_open(device, &handle_) != LIBUSB_SUCCESS) {
    handle_ = nullptr;
    return false;
  }
  endpoints_ = *endpoints;
  facts_ = FactsOf(device, handle_);
  if (Claim()) return true;
  CloseDevice();
  return false;
}

bool LibusbTransport::Claim() {
  if (libusb_kernel_driver_active(handle_, kInterface) == 1) {
    if (libusb_detach_kernel_driver(handle_, kInterface) != LIBUSB_SUCCESS) return false;
    driverDetached_ = true;
  }
  claimed_ = libusb_claim_interface(handle_, kInterface) == LIBUSB_SUCCESS;
  return claimed_;
}

void LibusbTransport::ClosePipe() {
  if (handle_ == nullptr) return;
  Release();
  CloseDevice();
}

void LibusbTransport::Release() {
  if (claimed_) libusb_release_interface(handle_, kInterface);
  claimed_ = false;
}

// The kernel gives an interface to its driver only once no program holds it.
void LibusbTransport::CloseDevice() {
  if (handle_ == nullptr) return;
  if (driverDetached_) {
    Release();
    libusb_attach_kernel_driver(handle_, kInterface);
  }
  driverDetached_ = false;
  claimed_ = false;
  libusb_close(handle_);
  handle_ = nullptr;
}

bool LibusbTransport::Transfer(std::uint8_t endpoint, std::uint8_t* data, std::uint32_t length,
                               std::uint32_t& count) {
  count = 0;
  if (handle_ == nullptr) return false;
  int moved = 0;
  const int result = libusb_bulk_transfer(handle_, endpoint, data, static_cast<int>(length), &moved,
                                          kUsbTransferTimeoutMilliseconds);
  count = static_cast<std::uint32_t>(std::max(moved, 0));
  return result == LIBUSB_SUCCESS;
}

UsbDeviceEntry EntryOf(libusb_device* device) {
  return {LocationOf(device), SpeedText(libusb_get_device_speed(device))};
}

bool InBusOrder(const UsbDeviceEntry& a, const UsbDeviceEntry& b) {
  if (a.location.bus != b.location.bus) return a.location.bus < b.location.bus;
  return a.location.ports < b.location.ports;
}

class LibusbBus final : public UsbBus {
 public:
  explicit LibusbBus(libusb_context* context) : context_(context) {}
  ~LibusbBus() override {
    if (hotplugRegistered_) libusb_hotplug_deregister_callback(context_, hotplug_);
    events_.clear();
    libusb_exit(context_);
  }
  LibusbBus(const LibusbBus&) = delete;
  LibusbBus& operator=(const LibusbBus&) = delete;

  UsbSurvey Survey() override {
    const Identified found = FindIdentified(context_, std::nullopt);
    UsbSurvey survey{{}, static_cast<std::uint32_t>(found.denied.size())};
    for (const DeviceRef& device : found.devices) survey.devices.push_back(EntryOf(device.get()));
    std::sort(survey.devices.begin(), survey.devices.end(), InBusOrder);
    return survey;
  }

  std::unique_ptr<UsbTransport> Connect(const std::optional<UsbLocation>& location) override {
    return std::make_unique<LibusbTransport>(location);
  }

  UsbChanges WaitForChanges(std::chrono::milliseconds timeout) override;

 private:
  struct Event {
    DeviceRef device;
    bool arrived;
  };

  // An arrival whose identification failed, asked again while it stays plugged.
  struct Pending {
    DeviceRef device;
    int tries;
    std::chrono::steady_clock::time_point next;
  };

  static int LIBUSB_CALL OnHotplug(libusb_context*, libusb_device* device, libusb_hotplug_event event,
                                   void* bus);
  void StartWatching();
  std::chrono::steady_clock::time_point NextPending() const;
  UsbChanges TakeEvents();
  void AskPending(UsbChanges& changes);
  UsbChanges SurveyChanges();

  libusb_context* context_;
  bool watching_ = false;
  libusb_hotplug_callback_handle hotplug_ = 0;
  bool hotplugRegistered_ = false;
  std::mutex eventsMutex_;
  std::deque<Event> events_;
  std::vector<Pending> pending_;
  // Without hot-plug: the identified devices, and those denied, at the last survey.
  std::set<std::string> surveyed_;
  std::set<std::string> deniedSurveyed_;
  std::chrono::steady_clock::time_point nextSurvey_{};
};

// Only queued: no transfer, not even the identification request, is made from within libusb's
// event handling.
int LIBUSB_CALL LibusbBus::OnHotplug(libusb_context*, libusb_device* device, libusb_hotplug_event event,
                                     void* bus) {
  auto* self = static_cast<LibusbBus*>(bus);
  const std::lock_guard lock(self->eventsMutex_);
  self->events_.push_back({DeviceRef(libusb_ref_device(device), &libusb_unref_device),
                           event == LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED});
  return 0;
}

void LibusbBus::StartWatching() {
  watching_ = true;
  if (libusb_has_capability(LIBUSB_CAP_HAS_HOTPLUG) == 0) return;
  const auto events = static_cast<libusb_hotplug_event>(LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED |
                                                        LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT);
  hotplugRegistered_ =
      libusb_hotplug_register_callback(context_, events, LIBUSB_HOTPLUG_ENUMERATE, LIBUSB_HOTPLUG_MATCH_ANY,
                                       LIBUSB_HOTPLUG_MATCH_ANY, LIBUSB_HOTPLUG_MATCH_ANY,
                                       &LibusbBus::OnHotplug, this, &hotplug_) == LIBUSB_SUCCESS;
}

UsbChanges LibusbBus::WaitForChanges(std::chrono::milliseconds timeout) {
  if (!watching_) StartWatching();
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  if (!hotplugRegistered_) {
    std::this_thread::sleep_until(std::min(deadline, nextSurvey_));
    if (std::chrono::steady_clock::now() < nextSurvey_) return {};
    nextSurvey_ = std::chrono::steady_clock::now() + kUsbSurveyInterval;
    return SurveyChanges();
  }
  for (;;) {
    {
      const std::lock_guard lock(eventsMutex_);
      if (!events_.empty()) break;
    }
    const auto left = std::min(deadline, NextPending()) - std::chrono::steady_clock::now();
    if (left <= std::chrono::steady_clock::duration::zero()) break;
    const auto micro = std::chrono::duration_cast<std::chrono::microseconds>(left).count();
    timeval wait{static_cast<time_t>(micro / 1000000), static_cast<suseconds_t>(micro % 1000000)};
    libusb_handle_events_timeout_completed(context_, &wait, nullptr);
  }
  return TakeEvents();
}

std::chrono::steady_clock::time_point LibusbBus::NextPending() const {
  auto next = std::chrono::steady_clock::time_point::max();
  for (const Pending& pending : pending_) next = std::min(next, pending.next);
  return next;
}

UsbChanges LibusbBus::TakeEvents() {
  std::deque<Event> events;
  {
    const std::lock_guard lock(eventsMutex_);
    events.swap(events_);
  }
  UsbChanges changes;
  for (Event& event : events) {
    if (event.arrived) {
      pending_.push_back({std::move(event.device), 0, std::chrono::steady_clock::now()});
      continue;
    }
    std::erase_if(pending_, [&](const Pending& pending) { return pending.device.get() == event.device.get(); });
    changes.left.push_back(LocationOf(event.device.get()));
  }
  AskPending(changes);
  return changes;
}

void LibusbBus::AskPending(UsbChanges& changes) {
  const auto now = std::chrono::steady_clock::now();
  for (auto pending = pending_.begin(); pending != pending_.end();) {
    if (pending->next > now) {
      ++pending;
      continue;
    }
    libusb_device* device = pending->device.get();
    const Identification found = Identify(device);
    if (found == Identification::Ours) {
      changes.arrived.push_back(EntryOf(device));
    } else if (found != Identification::NotOurs && ++pending->tries < kIdentificationTries) {
      pending->next = now + kIdentificationRetryInterval;
      ++pending;
      continue;
    } else if (found == Identification::Denied) {
      changes.denied.push_back(LocationOf(device));
    }
    pending = pending_.erase(pending);
  }
}

UsbChanges LibusbBus::SurveyChanges() {
  UsbChanges changes;
  const Identified found = FindIdentified(context_, std::nullopt);
  std::set<std::string> now, denied;
  for (const DeviceRef& device : found.devices) {
    const UsbDeviceEntry entry = EntryOf(device.get());
    now.insert(entry.location.Text());
    if (!surveyed_.contains(entry.location.Text())) changes.arrived.push_back(entry);
  }
  for (const std::string& before : surveyed_)
    if (!now.contains(before)) changes.left.push_back(*UsbLocation::Parse(before));
  for (const UsbLocation& location : found.denied)
    if (denied.insert(location.Text()).second && !deniedSurveyed_.contains(location.Text()))
      changes.denied.push_back(location);
  surveyed_ = std::move(now);
  deniedSurveyed_ = std::move(denied);
  return changes;
}

}  // namespace

std::unique_ptr<UsbBus> MakeLibusbBus() {
  libusb_context* context = nullptr;
  if (libusb_init(&context) != LIBUSB_SUCCESS) return nullptr;
  return std::make_unique<LibusbBus>(context);
}

}  // namespace hnx
