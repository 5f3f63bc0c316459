#include "sim/scripted_usb.h"

#include <fcntl.h>
#include <linux/capability.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <umockdev.h>
#include <unistd.h>

#include <linux/usbdevice_fs.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "link/presence_scan.h"
#include "link/usb_bus.h"

extern char** environ;

namespace hnx::sim {
namespace {

constexpr std::uint8_t kBulkOut = 0x01;
constexpr std::uint8_t kBulkIn = 0x81;
constexpr std::size_t kSetupLength = 8;

// Device, configuration, interface 0 (vendor class) and its bulk OUT and IN endpoints.
std::vector<std::uint8_t> DeviceDescriptors(std::uint16_t vendor, std::uint8_t deviceClass) {
  return {18,   1,    0x00, 0x02, deviceClass, 0, 0, 64, static_cast<std::uint8_t>(vendor), static_cast<std::uint8_t>(vendor >> 8),
          0x29, 0x70, 0x00, 0x01, 0, 0, 0, 1,
          9, 2, 32, 0, 1, 1, 0, 0x80, 50,
          9, 4, 0, 0, 2, 0xFF, 0, 0, 0,
          7, 5, kBulkOut, 2, 64, 0, 0,
          7, 5, kBulkIn, 2, 64, 0, 0};
}

std::vector<std::uint8_t> IdentificationDescriptor() {
  std::vector<std::uint8_t> descriptor{static_cast<std::uint8_t>(2 + 2 * kIdentificationText.size()), 3};
  for (const char16_t unit : kIdentificationText) {
    descriptor.push_back(static_cast<std::uint8_t>(unit));
    descriptor.push_back(static_cast<std::uint8_t>(unit >> 8));
  }
  return descriptor;
}

std::uint16_t Le16(const std::uint8_t* bytes) {
  return static_cast<std::uint16_t>(bytes[0] | bytes[1] << 8);
}

// A resolved piece of the program's memory, released at the end of the scope.
class Memory {
 public:
  Memory(UMockdevIoctlData* parent, std::size_t offset, std::size_t length)
      : data_(umockdev_ioctl_data_resolve(parent, offset, length, nullptr)) {}
  ~Memory() {
    if (data_ != nullptr) g_object_unref(data_);
  }
  Memory(const Memory&) = delete;
  Memory& operator=(const Memory&) = delete;

  UMockdevIoctlData* get() const { return data_; }
  std::uint8_t* bytes() const { return data_->data; }
  template <typename T>
  T* as() const {
    return reinterpret_cast<T*>(data_->data);
  }

 private:
  UMockdevIoctlData* data_;
};

UMockdevIoctlClient* ClientOf(void* client) {
  return static_cast<UMockdevIoctlClient*>(client);
}

void Complete(void* client, long result, int error = 0) {
  umockdev_ioctl_client_complete(ClientOf(client), result, error);
}

UMockdevIoctlData* ArgOf(void* client) {
  return umockdev_ioctl_client_get_arg(ClientOf(client));
}

gboolean OnIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer device) {
  static_cast<ScriptedDevice*>(device)->Handle(client);
  return TRUE;
}

// Drops the capabilities that let root open a file whatever its mode. Only calls that are safe
// between fork and exec.
std::vector<std::string> ReadLines(const std::string& path) {
  std::vector<std::string> lines;
  std::ifstream file(path, std::ios::binary);
  for (std::string line; std::getline(file, line);) lines.push_back(line);
  return lines;
}

void DropFileModeOverride() {
  if (geteuid() != 0) return;
  for (const int capability : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH}) prctl(PR_CAPBSET_DROP, capability, 0, 0, 0);
  prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0);
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[2] = {};
  if (syscall(SYS_capget, &header, data) != 0) return;
  data[0].inheritable &= ~(1u << CAP_DAC_OVERRIDE | 1u << CAP_DAC_READ_SEARCH);
  syscall(SYS_capset, &header, data);
}

}  // namespace

ScriptedDevice::ScriptedDevice(ScriptedDeviceSetup setup)
    : setup_(std::move(setup)), driverBound_(setup_.kernelDriverBound) {
  if (auto plan = sim::FaultPlan::Parse(setup_.faults)) sim_.faults() = *plan;
  else throw std::invalid_argument("bad fault plan: " + setup_.faults);
}

std::vector<std::string> ScriptedDevice::TraceLines() const {
  const std::lock_guard lock(mutex_);
  std::vector<std::string> lines;
  for (const TraceRecord& record : sim_.trace()) lines.push_back(FormatTraceRecord(record));
  return lines;
}

void ScriptedDevice::ClearTrace() {
  const std::lock_guard lock(mutex_);
  sim_.ClearTrace();
}

std::vector<std::uint8_t> ScriptedDevice::Flash() const {
  const std::lock_guard lock(mutex_);
  return sim_.flash();
}

UsbRequestCounts ScriptedDevice::counts() const {
  const std::lock_guard lock(mutex_);
  return counts_;
}

void ScriptedDevice::Handle(void* client) {
  const std::lock_guard lock(mutex_);
  switch (umockdev_ioctl_client_get_request(ClientOf(client))) {
    case USBDEVFS_GET_CAPABILITIES: {
      const Memory caps(ArgOf(client), 0, sizeof(std::uint32_t));
      *caps.as<std::uint32_t>() = USBDEVFS_CAP_BULK_CONTINUATION | USBDEVFS_CAP_NO_PACKET_SIZE_LIM;
      return Complete(client, 0);
    }
    case USBDEVFS_SUBMITURB:
      return Submit(client);
    case USBDEVFS_REAPURB:
    case USBDEVFS_REAPURBNDELAY:
      return Reap(client);
    case USBDEVFS_DISCARDURB:
      return Discard(client);
    case USBDEVFS_CLAIMINTERFACE:
      return Interface(client, true);
    case USBDEVFS_RELEASEINTERFACE:
      return Interface(client, false);
    case USBDEVFS_GETDRIVER:
      return GetDriver(client);
    case USBDEVFS_IOCTL:
      return DriverIoctl(client);
    case USBDEVFS_SETINTERFACE:
    case USBDEVFS_CLEAR_HALT:
      return Complete(client, 0);
    default:
      return Complete(client, -1, ENOTTY);
  }
}

void ScriptedDevice::Submit(void* client) {
  const Memory header(ArgOf(client), 0, sizeof(usbdevfs_urb));
  if (header.get() == nullptr) return Complete(client, -1, EFAULT);
  const usbdevfs_urb request = *header.as<usbdevfs_urb>();
  const auto length = static_cast<std::uint32_t>(std::max(request.buffer_length, 0));
  const Memory buffer(header.get(), offsetof(usbdevfs_urb, buffer), length);
  const std::uint8_t* bytes = buffer.get() != nullptr ? buffer.bytes() : nullptr;
  Urb urb{header.get()->client_addr, 0, 0, {}};
  if (request.type == USBDEVFS_URB_TYPE_CONTROL && bytes != nullptr && length >= kSetupLength) {
    Control(urb, bytes, length);
  } else if (request.type == USBDEVFS_URB_TYPE_BULK && (request.endpoint == kBulkOut || request.endpoint == kBulkIn)) {
    if (++counts_.bulkTransfers > setup_.answeredTransfers) {
      if (setup_.unpluggedAfterAnswers) return Complete(client, -1, ENODEV);
      silent_.push_back(urb);
      return Complete(client, 0);
    }
    Bulk(urb, request.endpoint, bytes, length);
  } else {
    urb.status = -EPIPE;
  }
  done_.push_back(std::move(urb));
  Complete(client, 0);
}

void ScriptedDevice::Control(Urb& urb, const std::uint8_t* buffer, std::uint32_t length) {
  const bool identification = buffer[0] == 0x80 && buffer[1] == 6 &&
                              Le16(buffer + 2) == (3 << 8 | kIdentificationDescriptorIndex) &&
                              Le16(buffer + 4) == kIdentificationLanguage;
  if (!identification || setup_.kind != ScriptedDeviceSetup::Kind::Ours) {
    urb.status = -EPIPE;
    return;
  }
  const std::vector<std::uint8_t> descriptor = IdentificationDescriptor();
  const std::size_t room = std::min<std::size_t>(Le16(buffer + 6), length - kSetupLength);
  const std::size_t sent = std::min(room, descriptor.size());
  urb.reply.assign(buffer, buffer + length);
  std::copy_n(descriptor.begin(), sent, urb.reply.begin() + kSetupLength);
  urb.actual = static_cast<std::uint32_t>(sent);
}

void ScriptedDevice::Bulk(Urb& urb, std::uint8_t endpoint, const std::uint8_t* buffer, std::uint32_t length) {
  std::uint32_t count = 0;
  bool moved = false;
  if (endpoint == kBulkOut) {
    moved = sim_.BulkWrite(buffer, length, &count) != 0;
  } else {
    urb.reply.assign(length, 0);
    moved = sim_.BulkRead(urb.reply.data(), length, &count) != 0;
  }
  urb.status = moved ? 0 : -EPIPE;
  urb.actual = moved ? count : 0;
}

void ScriptedDevice::Reap(void* client) {
  if (done_.empty()) return Complete(client, -1, EAGAIN);
  const Urb urb = std::move(done_.front());
  done_.pop_front();
  const Memory slot(ArgOf(client), 0, sizeof(void*));
  if (slot.get() == nullptr) return Complete(client, -1, EFAULT);
  std::memcpy(slot.bytes(), &urb.address, sizeof urb.address);
  const Memory header(slot.get(), 0, sizeof(usbdevfs_urb));
  auto* reaped = header.as<usbdevfs_urb>();
  reaped->status = urb.status;
  reaped->actual_length = static_cast<int>(urb.actual);
  if (!urb.reply.empty()) {
    const Memory buffer(header.get(), offsetof(usbdevfs_urb, buffer), urb.reply.size());
    std::copy(urb.reply.begin(), urb.reply.end(), buffer.bytes());
  }
  Complete(client, 0);
}

void ScriptedDevice::Discard(void* client) {
  unsigned long address = 0;
  std::memcpy(&address, ArgOf(client)->data, sizeof address);
  const auto found = std::find_if(silent_.begin(), silent_.end(), [&](const Urb& urb) { return urb.address == address; });
  if (found == silent_.end()) return Complete(client, -1, EINVAL);
  done_.push_back({address, -ENOENT, 0, {}});
  silent_.erase(found);
  Complete(client, 0);
}

void ScriptedDevice::Interface(void* client, bool claim) {
  if (!claim) {
    ++counts_.releases;
    sim_.ClosePipe();
    return Complete(client, 0);
  }
  if (driverBound_ || sim_.OpenPipe() == 0) return Complete(client, -1, EBUSY);
  ++counts_.claims;
  Complete(client, 0);
}

void ScriptedDevice::GetDriver(void* client) {
  if (!driverBound_) return Complete(client, -1, ENODATA);
  const Memory request(ArgOf(client), 0, sizeof(usbdevfs_getdriver));
  std::strcpy(request.as<usbdevfs_getdriver>()->driver, "usbhid");
  Complete(client, 0);
}

void ScriptedDevice::DriverIoctl(void* client) {
  const Memory request(ArgOf(client), 0, sizeof(usbdevfs_ioctl));
  const int code = request.as<usbdevfs_ioctl>()->ioctl_code;
  if (code == static_cast<int>(USBDEVFS_DISCONNECT)) {
    driverBound_ = false;
    ++counts_.detaches;
  } else if (code == static_cast<int>(USBDEVFS_CONNECT)) {
    ++counts_.reattaches;
  } else {
    return Complete(client, -1, ENOTTY);
  }
  Complete(client, 0);
}

struct ScriptedUsb::Attached {
  UMockdevIoctlBase* handler;
};

ScriptedUsb::ScriptedUsb() : testbed_(umockdev_testbed_new()) {}

ScriptedUsb::~ScriptedUsb() {
  g_object_unref(testbed_);
  for (const auto& attached : handlers_) g_object_unref(attached->handler);
}

std::string ScriptedUsb::NextDevnode(std::uint8_t bus, int& devnum) {
  devnum = ++nextDevnum_[bus];
  char node[32];
  std::snprintf(node, sizeof node, "/dev/bus/usb/%03u/%03d", bus, devnum);
  return node;
}

std::string ScriptedUsb::AddHub(std::uint8_t bus, const std::string& name, const std::string& parent) {
  const std::string path = parent.empty() ? name : parent + "/" + name;
  if (std::find(hubs_.begin(), hubs_.end(), path) != hubs_.end()) return path;
  int devnum = 0;
  const std::string devnode = NextDevnode(bus, devnum);
  const std::string busText = std::to_string(bus), devnumText = std::to_string(devnum);
  gchar* syspath = umockdev_testbed_add_device(testbed_, "usb", path.c_str(), nullptr, "busnum", busText.c_str(),
                                               "devnum", devnumText.c_str(), "speed", "480", "bConfigurationValue",
                                               "1", nullptr, "DEVTYPE", "usb_device", "DEVNAME", devnode.c_str(),
                                               nullptr);
  std::vector<std::uint8_t> descriptors = DeviceDescriptors(0x1D6B, 9);
  umockdev_testbed_set_attribute_binary(testbed_, syspath, "descriptors", descriptors.data(),
                                        static_cast<gint>(descriptors.size()));
  g_free(syspath);
  hubs_.push_back(path);
  return path;
}

ScriptedDevice& ScriptedUsb::Add(ScriptedDeviceSetup setup) {
  const std::optional<UsbLocation> location = UsbLocation::Parse(setup.location);
  if (!location) throw std::invalid_argument("bad location " + setup.location);
  const std::uint8_t bus = location->bus;
  std::string parent = AddHub(bus, "usb" + std::to_string(bus), "");
  UsbLocation hub{bus, {}};
  for (std::size_t i = 0; i + 1 < location->ports.size(); ++i) {
    hub.ports.push_back(location->ports[i]);
    parent = AddHub(bus, hub.Text(), parent);
  }
  int devnum = 0;
  const std::string devnode = NextDevnode(bus, devnum);
  const std::string busText = std::to_string(bus), devnumText = std::to_string(devnum);
  const std::string path = parent + "/" + setup.location;
  gchar* syspath = umockdev_testbed_add_device(testbed_, "usb", path.c_str(), nullptr, "busnum", busText.c_str(),
                                               "devnum", devnumText.c_str(), "speed", setup.speed.c_str(),
                                               "bConfigurationValue", "1", nullptr, "DEVTYPE", "usb_device",
                                               "DEVNAME", devnode.c_str(), nullptr);
  const bool ours = setup.kind != ScriptedDeviceSetup::Kind::Foreign;
  std::vector<std::uint8_t> descriptors = DeviceDescriptors(ours ? 0x1234 : 0x0BDA, 0);
  umockdev_testbed_set_attribute_binary(testbed_, syspath, "descriptors", descriptors.data(),
                                        static_cast<gint>(descriptors.size()));
  g_free(syspath);

  gchar* root = umockdev_testbed_get_root_dir(testbed_);
  const std::filesystem::path node = std::string(root) + devnode;
  g_free(root);
  std::filesystem::create_directories(node.parent_path());
  if (const int fd = ::open(node.c_str(), O_CREAT | O_WRONLY, 0644); fd >= 0) ::close(fd);
  if (setup.kind == ScriptedDeviceSetup::Kind::NoPermission) ::chmod(node.c_str(), 0);

  devices_.push_back(std::make_unique<ScriptedDevice>(std::move(setup)));
  ScriptedDevice& device = *devices_.back();
  UMockdevIoctlBase* handler = umockdev_ioctl_base_new();
  g_signal_connect(handler, "handle-ioctl", G_CALLBACK(OnIoctl), &device);
  handlers_.push_back(std::make_unique<Attached>(Attached{handler}));
  GError* error = nullptr;
  if (!umockdev_testbed_attach_ioctl(testbed_, devnode.c_str(), handler, &error)) {
    const std::string message = error->message;
    g_error_free(error);
    throw std::runtime_error("attach_ioctl: " + message);
  }
  return device;
}

ProgramRun ScriptedUsb::Run(const std::string& program, const std::vector<std::string>& args,
                            const std::string& folder, const std::vector<std::string>& added) {
  std::vector<std::string> environment = added;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string_view text(*entry);
    if (text.starts_with("LD_PRELOAD=") || text.starts_with("ASAN_OPTIONS=") || text.starts_with("TMPDIR=")) continue;
    environment.emplace_back(text);
  }
  const char* asan = std::getenv("ASAN_OPTIONS");
  environment.push_back("LD_PRELOAD=libumockdev-preload.so.0");
  environment.push_back(std::string("ASAN_OPTIONS=") + (asan != nullptr ? std::string(asan) + ":" : "") +
                        "verify_asan_link_order=0");
  environment.push_back("TMPDIR=" + folder);
  std::vector<char*> envp;
  for (std::string& entry : environment) envp.push_back(entry.data());
  envp.push_back(nullptr);
  std::vector<std::string> argvText{program};
  argvText.insert(argvText.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& arg : argvText) argv.push_back(arg.data());
  argv.push_back(nullptr);
  const std::string outPath = folder + "/out", errPath = folder + "/err";

  const pid_t child = fork();
  if (child == 0) {
    const int out = ::open(outPath.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
    const int err = ::open(errPath.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
    if (out < 0 || err < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) _exit(126);
    DropFileModeOverride();
    execve(program.c_str(), argv.data(), envp.data());
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  if (child < 0 || wait4(child, &status, 0, &usage) != child) return {};
  const auto seconds = [](const timeval& time) { return static_cast<double>(time.tv_sec) + time.tv_usec / 1e6; };
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadLines(outPath), ReadLines(errPath),
          seconds(usage.ru_utime) + seconds(usage.ru_stime)};
}

}  // namespace hnx::sim
