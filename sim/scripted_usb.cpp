#include "sim/scripted_usb.h"

#include <fcntl.h>
#include <linux/capability.h>
#include <signal.h>
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
#include <deque>
#include <filesystem>
#include <fstream>
#include <map>
#include <stdexcept>
#include <thread>
#include <utility>

#include "link/usb_bus.h"

extern char** environ;

#if defined(__SANITIZE_ADDRESS__)
// The tests on the emulated bus run under umockdev's preload library, which the dynamic loader puts
// before the sanitizer's runtime.
extern "C" const char* __asan_default_options() {
  return "verify_asan_link_order=0";
}
#endif

namespace hnx::sim {

using Clock = std::chrono::steady_clock;

namespace {

constexpr std::uint8_t kBulkOut = 0x01;
constexpr std::uint8_t kBulkIn = 0x81;
constexpr std::size_t kSetupLength = 8;
constexpr std::uint8_t kSerialIndex = 3;
constexpr std::uint16_t kEnglish = 0x0409;

// Device, configuration, interface 0 (vendor class) and its bulk OUT and IN endpoints.
// clang-format off
std::vector<std::uint8_t> DeviceDescriptors(std::uint16_t vendor, std::uint8_t deviceClass,
                                            std::uint8_t serialIndex = 0) {
  return {18,   1,    0x00, 0x02, deviceClass, 0, 0, 64, static_cast<std::uint8_t>(vendor), static_cast<std::uint8_t>(vendor >> 8),
          0x29, 0x70, 0x00, 0x01, 0, 0, serialIndex, 1,
          9, 2, 32, 0, 1, 1, 0, 0x80, 50,
          9, 4, 0, 0, 2, 0xFF, 0, 0, 0,
          7, 5, kBulkOut, 2, 64, 0, 0,
          7, 5, kBulkIn, 2, 64, 0, 0};
}
// clang-format on

std::vector<std::uint8_t> StringDescriptor(std::u16string_view text) {
  std::vector<std::uint8_t> descriptor{static_cast<std::uint8_t>(2 + 2 * text.size()), 3};
  for (const char16_t unit : text) {
    descriptor.push_back(static_cast<std::uint8_t>(unit));
    descriptor.push_back(static_cast<std::uint8_t>(unit >> 8));
  }
  return descriptor;
}

std::uint16_t Le16(const std::uint8_t* bytes) {
  return static_cast<std::uint16_t>(bytes[0] | bytes[1] << 8);
}

std::string Hex(const std::vector<std::uint8_t>& bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (const std::uint8_t byte : bytes) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 0xF];
  }
  return text;
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

std::vector<std::string> ReadLines(const std::string& path) {
  std::vector<std::string> lines;
  std::ifstream file(path, std::ios::binary);
  for (std::string line; std::getline(file, line);) lines.push_back(line);
  return lines;
}

// Drops the capabilities that let root open a file whatever its mode. Only calls that are safe
// between fork and exec.
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

// What a program started from a shell begins with, whatever this process ignores or blocks (a test
// runner may ignore SIGPIPE): every signal at its default action, none blocked. Only calls that are
// safe between fork and exec.
void StartSignalsAsAShellDoes() {
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  for (int signal = 1; signal < NSIG; ++signal) sigaction(signal, &action, nullptr);
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
}

}  // namespace

// Does things at their time, from a thread of its own: umockdev serves the requests of every device
// on one thread, so a request that waits out its wire time there would hold up all devices.
class WireClock {
 public:
  WireClock() = default;
  ~WireClock() {
    {
      const std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    due_changed_.notify_all();
    if (thread_.joinable()) thread_.join();
  }
  WireClock(const WireClock&) = delete;
  WireClock& operator=(const WireClock&) = delete;

  void At(Clock::time_point due, std::function<void()> action) {
    const std::lock_guard lock(mutex_);
    if (!thread_.joinable()) thread_ = std::thread([this] { Serve(); });
    due_.emplace(due, std::move(action));
    due_changed_.notify_all();
  }

  // Completes the request of `client` with success at `due`.
  void CompleteAt(Clock::time_point due, void* client) {
    g_object_ref(client);
    At(due, [client] {
      Complete(client, 0);
      g_object_unref(client);
    });
  }

 private:
  // On stopping, whatever is left is done at once.
  void Serve() {
    std::unique_lock lock(mutex_);
    for (;;) {
      if (due_.empty()) {
        if (stopping_) return;
        due_changed_.wait(lock);
        continue;
      }
      const auto first = due_.begin();
      if (!stopping_ && first->first > Clock::now()) {
        due_changed_.wait_until(lock, first->first);
        continue;
      }
      const std::function<void()> action = std::move(first->second);
      due_.erase(first);
      lock.unlock();
      action();
      lock.lock();
    }
  }

  std::mutex mutex_;
  std::condition_variable due_changed_;
  std::multimap<Clock::time_point, std::function<void()>> due_;
  bool stopping_ = false;
  std::thread thread_;
};

struct ScriptedDevice::Urb {
  unsigned long address = 0;  // in the program's memory
  int status = 0;
  std::uint32_t actual = 0;
  std::vector<std::uint8_t> reply;  // the buffer's new content (IN and control); empty: unchanged
  Clock::time_point due{};          // when it comes off the wire
  void* owner = nullptr;            // the connection (one program's open of the node) that submitted it
};

// One stay of the device on the bus, from plugging to unplugging, with the requests of the
// programs that opened it meanwhile.
struct ScriptedDevice::Plug {
  ScriptedDevice* device = nullptr;
  std::string syspath;
  std::string devnode;
  bool gone = false;
  std::deque<Urb> done;     // of every program that has the device open, each reaping only its own
  std::vector<Urb> silent;  // taken and never answered
  // The node is a pipe that this end keeps full while nothing can be reaped, so that the program's
  // poll or epoll for writing waits as on a usbfs node; -1 for a node without it.
  int readiness = -1;
  bool ready = true;
  Clock::time_point wake{};  // when the clock looks at the readiness again

  ~Plug() {
    if (readiness >= 0) ::close(readiness);
  }
};

int ScriptedDevice::OnIoctl(void*, void* client, void* plug) {
  auto* connection = static_cast<Plug*>(plug);
  connection->device->Handle(*connection, client);
  return TRUE;
}

ScriptedDevice::ScriptedDevice(ScriptedDeviceSetup setup)
    : setup_(std::move(setup)), sim_(setup_.flashSize, setup_.blockLength), driverBound_(setup_.kernelDriverBound) {
  if (auto plan = sim::FaultPlan::Parse(setup_.faults)) sim_.faults() = *plan;
  else throw std::invalid_argument("bad fault plan: " + setup_.faults);
}

ScriptedDevice::~ScriptedDevice() = default;

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

bool ScriptedDevice::plugged() const {
  const std::lock_guard lock(mutex_);
  return !plugs_.empty() && !plugs_.back()->gone;
}

bool ScriptedDevice::WaitUntil(const std::function<bool(const UsbRequestCounts&)>& condition,
                               std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return condition(counts_); });
}

bool ScriptedDevice::WaitForTransfers(std::uint64_t transfers, std::chrono::milliseconds timeout) const {
  return WaitUntil([transfers](const UsbRequestCounts& counts) { return counts.bulkTransfers >= transfers; }, timeout);
}

ScriptedDevice::Plug& ScriptedDevice::Connect(const std::string& syspath, const std::string& devnode,
                                              WireClock& clock, int readiness) {
  const std::lock_guard lock(mutex_);
  clock_ = &clock;
  driverBound_ = setup_.kernelDriverBound;
  auto plug = std::make_unique<Plug>();
  plug->device = this;
  plug->syspath = syspath;
  plug->devnode = devnode;
  plug->readiness = readiness;
  plugs_.push_back(std::move(plug));
  UpdateReadiness(*plugs_.back());
  return *plugs_.back();
}

// Writable when a request can be reaped: one has come off the wire, or the device is gone (the
// program then learns so from the reap). Otherwise the clock looks again when the first comes off.
void ScriptedDevice::UpdateReadiness(Plug& plug) {
  if (plug.readiness < 0) return;
  const Clock::time_point now = Clock::now();
  const bool ready = plug.gone || (!plug.done.empty() && plug.done.front().due <= now);
  if (ready != plug.ready) {
    char byte = 0;
    // The pipe holds one byte at most: with it, it is full.
    const ssize_t moved = ready ? ::read(plug.readiness, &byte, 1) : ::write(plug.readiness, &byte, 1);
    if (moved == 1) plug.ready = ready;
  }
  if (ready || plug.done.empty() || clock_ == nullptr) return;
  const Clock::time_point due = plug.done.front().due;
  if (plug.wake > now && plug.wake <= due) return;
  plug.wake = due;
  clock_->At(due, [this, &plug] {
    const std::lock_guard lock(mutex_);
    UpdateReadiness(plug);
  });
}

ScriptedDevice::Plug& ScriptedDevice::Disconnect() {
  const std::lock_guard lock(mutex_);
  Plug& plug = *plugs_.back();
  plug.gone = true;
  // The kernel kills what is still on the wire or never answered; the program reaps it so.
  const Clock::time_point now = Clock::now();
  for (Urb& urb : plug.done) {
    if (urb.due <= now) continue;
    urb = {urb.address, -ESHUTDOWN, 0, {}, now, urb.owner};
  }
  for (const Urb& urb : plug.silent) plug.done.push_back({urb.address, -ESHUTDOWN, 0, {}, now, urb.owner});
  plug.silent.clear();
  UpdateReadiness(plug);
  return plug;
}

void ScriptedDevice::Handle(Plug& plug, void* client) {
  {
    const std::lock_guard lock(mutex_);
    const unsigned long request = umockdev_ioctl_client_get_request(ClientOf(client));
    if (plug.gone) {
      // As usbfs: what completed can still be reaped, everything else is refused.
      if (request == USBDEVFS_REAPURB || request == USBDEVFS_REAPURBNDELAY) Reap(plug, client);
      else Complete(client, -1, ENODEV);
      UpdateReadiness(plug);
      return;
    }
    switch (request) {
      case USBDEVFS_GET_CAPABILITIES: {
        const Memory caps(ArgOf(client), 0, sizeof(std::uint32_t));
        *caps.as<std::uint32_t>() = USBDEVFS_CAP_BULK_CONTINUATION | USBDEVFS_CAP_NO_PACKET_SIZE_LIM;
        Complete(client, 0);
        break;
      }
      case USBDEVFS_SUBMITURB:
        Submit(plug, client);
        break;
      case USBDEVFS_REAPURB:
      case USBDEVFS_REAPURBNDELAY:
        Reap(plug, client);
        break;
      case USBDEVFS_DISCARDURB:
        Discard(plug, client);
        break;
      case USBDEVFS_CLAIMINTERFACE:
        Interface(client, true);
        break;
      case USBDEVFS_RELEASEINTERFACE:
        Interface(client, false);
        break;
      case USBDEVFS_GETDRIVER:
        GetDriver(client);
        break;
      case USBDEVFS_IOCTL:
        DriverIoctl(client);
        break;
      case USBDEVFS_SETINTERFACE:
      case USBDEVFS_SETCONFIGURATION:
      case USBDEVFS_CLEAR_HALT:
      case USBDEVFS_RESET:
        Complete(client, 0);
        break;
      default:
        Complete(client, -1, ENOTTY);
    }
    UpdateReadiness(plug);
  }
  changed_.notify_all();
}

void ScriptedDevice::Submit(Plug& plug, void* client) {
  const Memory header(ArgOf(client), 0, sizeof(usbdevfs_urb));
  if (header.get() == nullptr) return Complete(client, -1, EFAULT);
  const usbdevfs_urb request = *header.as<usbdevfs_urb>();
  const auto length = static_cast<std::uint32_t>(std::max(request.buffer_length, 0));
  const Memory buffer(header.get(), offsetof(usbdevfs_urb, buffer), length);
  const std::uint8_t* bytes = buffer.get() != nullptr ? buffer.bytes() : nullptr;
  Urb urb{header.get()->client_addr, 0, 0, {}, Clock::now() + std::chrono::microseconds(setup_.wireMicroseconds),
          client};
  if (request.type == USBDEVFS_URB_TYPE_CONTROL && bytes != nullptr && length >= kSetupLength) {
    Control(urb, bytes, length);
  } else if (request.type == USBDEVFS_URB_TYPE_BULK && (request.endpoint == kBulkOut || request.endpoint == kBulkIn)) {
    if (++counts_.bulkTransfers > setup_.answeredTransfers) {
      if (setup_.unpluggedAfterAnswers) return Complete(client, -1, ENODEV);
      plug.silent.push_back(urb);
      return Complete(client, 0);
    }
    Bulk(urb, request.endpoint, bytes, length);
  } else {
    urb.status = -EPIPE;
  }
  plug.done.push_back(std::move(urb));
  Complete(client, 0);
}

// Answers string descriptors: the identification (0xFF in its language), and with a serial number
// the list of languages (0) and the serial number in English. Every other request stalls.
void ScriptedDevice::Control(Urb& urb, const std::uint8_t* buffer, std::uint32_t length) {
  const bool getString = buffer[0] == 0x80 && buffer[1] == 6 && buffer[3] == 3;
  const std::uint8_t index = buffer[2];
  const std::uint16_t language = Le16(buffer + 4);
  const bool identification =
      getString && index == kIdentificationDescriptorIndex && language == kIdentificationLanguage;
  if (identification) ++counts_.identifications;
  std::vector<std::uint8_t> descriptor;
  if (identification && setup_.kind == ScriptedDeviceSetup::Kind::Ours &&
      counts_.identifications > setup_.refusedIdentifications) {
    descriptor = StringDescriptor(setup_.identification);
  } else if (getString && index == 0 && !setup_.serial.empty()) {
    descriptor = {4, 3, static_cast<std::uint8_t>(kEnglish), static_cast<std::uint8_t>(kEnglish >> 8)};
  } else if (getString && index == kSerialIndex && language == kEnglish && !setup_.serial.empty()) {
    descriptor = StringDescriptor(std::u16string(setup_.serial.begin(), setup_.serial.end()));
  } else {
    urb.status = -EPIPE;
    return;
  }
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

// A reap that finds the first request still on the wire (a program that reaps without polling) is
// held until it comes off, by the clock, not on umockdev's thread.
void ScriptedDevice::Reap(Plug& plug, void* client) {
  const auto own =
      std::find_if(plug.done.begin(), plug.done.end(), [client](const Urb& urb) { return urb.owner == client; });
  if (own == plug.done.end()) return Complete(client, -1, plug.gone ? ENODEV : EAGAIN);
  const Urb urb = std::move(*own);
  plug.done.erase(own);
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
  if (urb.due > Clock::now() && clock_ != nullptr) return clock_->CompleteAt(urb.due, client);
  Complete(client, 0);
}

void ScriptedDevice::Discard(Plug& plug, void* client) {
  unsigned long address = 0;
  std::memcpy(&address, ArgOf(client)->data, sizeof address);
  const auto found =
      std::find_if(plug.silent.begin(), plug.silent.end(),
                   [&](const Urb& urb) { return urb.address == address && urb.owner == client; });
  if (found == plug.silent.end()) return Complete(client, -1, EINVAL);
  plug.done.push_back({address, -ENOENT, 0, {}, Clock::now(), client});
  plug.silent.erase(found);
  Complete(client, 0);
}

void ScriptedDevice::Interface(void* client, bool claim) {
  if (!claim) {
    ++counts_.releases;
    counts_.interfaceEvents.emplace_back("release");
    claimed_ = false;
    sim_.ClosePipe();
    return Complete(client, 0);
  }
  if (driverBound_ || sim_.OpenPipe() == 0) return Complete(client, -1, EBUSY);
  ++counts_.claims;
  counts_.interfaceEvents.emplace_back("claim");
  claimed_ = true;
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
    counts_.interfaceEvents.emplace_back("detach");
  } else if (code == static_cast<int>(USBDEVFS_CONNECT)) {
    if (claimed_) {
      counts_.interfaceEvents.emplace_back("attach refused");
      return Complete(client, -1, EBUSY);
    }
    ++counts_.reattaches;
    counts_.interfaceEvents.emplace_back("attach");
    driverBound_ = true;
  } else {
    return Complete(client, -1, ENOTTY);
  }
  Complete(client, 0);
}

RunningProgram::RunningProgram(pid_t pid, std::string folder, std::shared_ptr<std::atomic<int>> running)
    : pid_(pid), folder_(std::move(folder)), running_(std::move(running)) {
  ++*running_;
}

RunningProgram::RunningProgram(RunningProgram&& other) noexcept
    : pid_(std::exchange(other.pid_, -1)), folder_(std::move(other.folder_)), running_(std::move(other.running_)) {}

RunningProgram::~RunningProgram() {
  if (pid_ <= 0) return;
  Signal(SIGKILL);
  Wait();
}

void RunningProgram::Signal(int signal) const {
  if (pid_ > 0) ::kill(pid_, signal);
}

bool RunningProgram::WaitForOutput(const std::string& text, std::chrono::milliseconds timeout) const {
  const Clock::time_point end = Clock::now() + timeout;
  for (;;) {
    for (const char* name : {"/out", "/err"})
      for (const std::string& line : ReadLines(folder_ + name))
        if (line.find(text) != std::string::npos) return true;
    if (Clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

ProgramRun RunningProgram::Wait() {
  if (pid_ <= 0) return {};
  int status = 0;
  rusage usage{};
  pid_t ended = -1;
  do ended = wait4(pid_, &status, 0, &usage);
  while (ended < 0 && errno == EINTR);
  pid_ = -1;
  --*running_;
  if (ended < 0) return {};
  const auto seconds = [](const timeval& time) { return static_cast<double>(time.tv_sec) + time.tv_usec / 1e6; };
  ProgramRun run;
  run.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  run.out = ReadLines(folder_ + "/out");
  run.err = ReadLines(folder_ + "/err");
  run.cpuSeconds = seconds(usage.ru_utime) + seconds(usage.ru_stime);
  return run;
}

ScriptedUsb::ScriptedUsb() : testbed_(umockdev_testbed_new()), clock_(std::make_unique<WireClock>()) {}

ScriptedUsb::~ScriptedUsb() {
  clock_.reset();
  g_object_unref(testbed_);
  for (void* handler : handlers_) g_object_unref(handler);
}

bool ScriptedUsb::SendsUevents() {
  return umockdev_in_mock_environment() != FALSE;
}

void ScriptedUsb::RequireUeventsWhileRunning() const {
  if (*running_ > 0 && !SendsUevents())
    throw std::logic_error("plugging while a program runs needs this process under libumockdev-preload.so.0");
}

std::string ScriptedUsb::NodePath(const std::string& devnode) const {
  gchar* root = umockdev_testbed_get_root_dir(testbed_);
  const std::string path = std::string(root) + devnode;
  g_free(root);
  return path;
}

std::string ScriptedUsb::MakeNode(const std::string& devnode) {
  const std::string path = NodePath(devnode);
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  if (const int fd = ::open(path.c_str(), O_CREAT | O_WRONLY, 0644); fd >= 0) ::close(fd);
  return path;
}

std::string ScriptedUsb::MakePipeNode(const std::string& devnode) {
  const std::string path = NodePath(devnode);
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  if (::mkfifo(path.c_str(), 0644) != 0) throw std::runtime_error("cannot make " + path);
  return path;
}

// umockdev keeps a node's handler while a program may hold the node, so no number is given twice.
std::string ScriptedUsb::NextDevnode(std::uint8_t bus) {
  if (nextDevnum_[bus] == 255) throw std::logic_error("bus " + std::to_string(bus) + " has no device number left");
  char node[32];
  std::snprintf(node, sizeof node, "/dev/bus/usb/%03u/%03d", bus, ++nextDevnum_[bus]);
  return node;
}

namespace {

// A device in umockdev's record format: the sysfs attributes, the descriptors among them, are all
// written before the "add" uevent goes out.
std::string DeviceRecord(const std::string& path, const std::string& devnode, const std::string& speed,
                         const std::vector<std::uint8_t>& descriptors, const std::string& strings = "") {
  const std::string bus = std::to_string(std::stoi(devnode.substr(13, 3)));
  const std::string devnum = std::to_string(std::stoi(devnode.substr(17, 3)));
  return "P: /devices/" + path + "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: DEVNAME=" + devnode +
         "\nA: busnum=" + bus + "\nA: devnum=" + devnum + "\nA: speed=" + speed +
         "\nA: bConfigurationValue=1\n" + strings + "H: descriptors=" + Hex(descriptors) + "\n";
}

void AddRecord(UMockdevTestbed* testbed, const std::string& record) {
  GError* error = nullptr;
  if (!umockdev_testbed_add_from_string(testbed, record.c_str(), &error)) {
    const std::string message = error != nullptr ? error->message : "?";
    if (error != nullptr) g_error_free(error);
    throw std::runtime_error("add_from_string: " + message);
  }
}

}  // namespace

std::string ScriptedUsb::AddHub(std::uint8_t bus, const std::string& name, const std::string& parent) {
  const std::string path = parent.empty() ? name : parent + "/" + name;
  if (std::find(hubs_.begin(), hubs_.end(), path) != hubs_.end()) return path;
  const std::string devnode = NextDevnode(bus);
  MakeNode(devnode);  // opens; a request to it fails
  AddRecord(testbed_, DeviceRecord(path, devnode, "480", DeviceDescriptors(0x1D6B, 9)));
  hubs_.push_back(path);
  return path;
}

ScriptedDevice& ScriptedUsb::Add(ScriptedDeviceSetup setup) {
  if (!UsbLocation::Parse(setup.location)) throw std::invalid_argument("bad location " + setup.location);
  for (const auto& device : devices_)
    if (device->setup().location == setup.location && device->plugged())
      throw std::invalid_argument("a device is plugged at " + setup.location);
  RequireUeventsWhileRunning();
  devices_.push_back(std::make_unique<ScriptedDevice>(std::move(setup)));
  PlugIn(*devices_.back());
  return *devices_.back();
}

void ScriptedUsb::Replug(ScriptedDevice& device) {
  if (device.plugged()) throw std::invalid_argument("still plugged: " + device.setup().location);
  for (const auto& other : devices_)
    if (other->setup().location == device.setup().location && other->plugged())
      throw std::invalid_argument("a device is plugged at " + device.setup().location);
  RequireUeventsWhileRunning();
  PlugIn(device);
}

void ScriptedUsb::PlugIn(ScriptedDevice& device) {
  const ScriptedDeviceSetup& setup = device.setup();
  const UsbLocation location = *UsbLocation::Parse(setup.location);
  const std::uint8_t bus = location.bus;
  std::string parent = AddHub(bus, "usb" + std::to_string(bus), "");
  UsbLocation hub{bus, {}};
  for (std::size_t i = 0; i + 1 < location.ports.size(); ++i) {
    hub.ports.push_back(location.ports[i]);
    parent = AddHub(bus, hub.Text(), parent);
  }
  const std::string devnode = NextDevnode(bus);
  const std::string path = parent + "/" + setup.location;

  // The node and its handler first, so that a program can open the device as soon as it hears of it.
  const std::string node = MakePipeNode(devnode);
  const int readiness = ::open(node.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (readiness < 0) throw std::runtime_error("cannot open " + node);
  ::fcntl(readiness, F_SETPIPE_SZ, 4096);  // one page: a byte in it makes it full
  if (setup.kind == ScriptedDeviceSetup::Kind::NoPermission) ::chmod(node.c_str(), 0);
  ScriptedDevice::Plug& plug = device.Connect("/sys/devices/" + path, devnode, *clock_, readiness);
  UMockdevIoctlBase* handler = umockdev_ioctl_base_new();
  g_signal_connect(handler, "handle-ioctl", G_CALLBACK(ScriptedDevice::OnIoctl), &plug);
  handlers_.push_back(handler);
  GError* error = nullptr;
  if (!umockdev_testbed_attach_ioctl(testbed_, devnode.c_str(), handler, &error)) {
    const std::string message = error->message;
    g_error_free(error);
    throw std::runtime_error("attach_ioctl: " + message);
  }

  const bool ours = setup.kind != ScriptedDeviceSetup::Kind::Foreign;
  // The strings as the kernel caches them, as a browser shows them; without a serial number of its
  // own, the device's location stands for one.
  const std::string strings = "A: manufacturer=HNX\nA: product=HNX470 in ISP mode\nA: serial=" +
                              (setup.serial.empty() ? setup.location : setup.serial) + "\n";
  const std::uint8_t serial = setup.serial.empty() ? 0 : kSerialIndex;
  AddRecord(testbed_,
            DeviceRecord(path, devnode, setup.speed, DeviceDescriptors(ours ? 0x1234 : 0x0BDA, 0, serial), strings));
}

void ScriptedUsb::Remove(ScriptedDevice& device) {
  if (!device.plugged()) throw std::invalid_argument("not plugged: " + device.setup().location);
  RequireUeventsWhileRunning();
  const ScriptedDevice::Plug& plug = device.Disconnect();
  // The uevent reads the device's properties from sysfs, so it goes out while they are there. The
  // handler stays attached: a program that still holds the device open is refused, not cut off.
  umockdev_testbed_uevent(testbed_, plug.syspath.c_str(), "remove");
  umockdev_testbed_remove_device(testbed_, plug.syspath.c_str());
  std::filesystem::remove(NodePath(plug.devnode));
}

RunningProgram ScriptedUsb::Start(const std::string& program, const std::vector<std::string>& args,
                                  const std::string& folder, const std::vector<std::string>& added, int output) {
  std::vector<std::string> environment;
  std::string preload = "LD_PRELOAD=libumockdev-preload.so.0";
  for (const std::string& entry : added)
    if (entry.starts_with("LD_PRELOAD=")) preload += ":" + entry.substr(entry.find('=') + 1);
    else environment.push_back(entry);
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string_view text(*entry);
    if (text.starts_with("LD_PRELOAD=") || text.starts_with("ASAN_OPTIONS=") || text.starts_with("TMPDIR=")) continue;
    environment.emplace_back(text);
  }
  const char* asan = std::getenv("ASAN_OPTIONS");
  environment.push_back(preload);
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
  // Made before the program starts, so that WaitForOutput never reads a previous run's lines.
  for (const std::string& path : {outPath, errPath}) std::ofstream(path, std::ios::trunc);

  const pid_t child = fork();
  if (child == 0) {
    const int out = output >= 0 ? output : ::open(outPath.c_str(), O_WRONLY | O_TRUNC);
    const int err = output >= 0 ? output : ::open(errPath.c_str(), O_WRONLY | O_TRUNC);
    if (out < 0 || err < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) _exit(126);
    DropFileModeOverride();
    StartSignalsAsAShellDoes();
    execve(program.c_str(), argv.data(), envp.data());
    _exit(127);
  }
  if (child < 0) throw std::runtime_error("fork failed");
  return RunningProgram(child, folder, running_);
}

}  // namespace hnx::sim
