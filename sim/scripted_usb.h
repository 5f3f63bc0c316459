// USB devices emulated on umockdev for the tests of the program's libusb transport. The program runs
// under umockdev's preload library, which routes its sysfs, /dev and usbfs requests into a testbed;
// the usbfs requests of each device come to a handler in this process, whose bulk endpoints speak
// the ISP protocol through a simulated device (sim::SimDevice: flash, state machine, fault plan)
// and whose string descriptor 0xFF (language 0x2861) answers the identification text. A device's node
// polls writable only when a request can be reaped, as a usbfs node does, so that programs which wait
// for completions with poll or epoll (libusb, Chromium) wait here too.
//
// Devices can be plugged and unplugged while a program runs; its hot-plug monitor then sees the
// "add" and "remove" uevents, which umockdev sends only from a process under its preload library
// itself (sim/README.md: hot-plug).
#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "link/presence_scan.h"
#include "sim/sim_device.h"

typedef struct _UMockdevTestbed UMockdevTestbed;

namespace hnx::sim {

struct ScriptedDeviceSetup {
  enum class Kind {
    Ours,          // answers the identification string
    Foreign,       // stalls the string request
    NoPermission,  // its device node cannot be opened (mode 000)
  };
  std::string location = "1-1";  // BUS-PORT[.PORT...]; the hubs on the way are made too
  Kind kind = Kind::Ours;
  std::string speed = "12";  // the sysfs attribute, in Mbit/s
  std::string faults{};      // the simulated device's fault plan (sim/README.md)
  // The text that a device of kind Ours answers as string descriptor 0xFF.
  std::u16string identification{kIdentificationText};
  // The serial number string its device descriptor names; "" for none (iSerialNumber 0).
  std::string serial{};
  std::uint32_t flashSize = 0x10000;  // the simulated device's geometry
  std::uint32_t blockLength = 64;
  // Time on the wire of every transfer: a request is answered this long after it was submitted,
  // without holding up the requests of other devices.
  std::uint32_t wireMicroseconds = 0;
  // Bulk transfers answered; every later one is taken and never completes, or, when unplugged, is
  // refused at once as the kernel refuses a device that is gone.
  std::uint64_t answeredTransfers = std::numeric_limits<std::uint64_t>::max();
  bool unpluggedAfterAnswers = false;
  bool kernelDriverBound = false;  // a driver holds interface 0 until the program detaches it
  // The first so many requests for the identification string stall, as from a device not yet ready.
  std::uint32_t refusedIdentifications = 0;
};

// How often the program asked a device for each thing, over all the times it was plugged.
struct UsbRequestCounts {
  std::uint64_t bulkTransfers = 0;  // submitted, answered or not
  std::uint32_t identifications = 0;  // requests for the identification string, answered or not
  std::uint32_t claims = 0;
  std::uint32_t releases = 0;
  std::uint32_t detaches = 0;
  std::uint32_t reattaches = 0;
  // Interface 0's claims and releases and its driver's detaches and attaches, in their order:
  // "claim", "release", "detach", "attach"; "attach refused" while the interface is claimed, as
  // the kernel refuses it (EBUSY).
  std::vector<std::string> interfaceEvents;
};

class WireClock;

// What one device saw. Every reader takes the device's lock, so a test may read while the program
// runs; sim() alone is for when no program runs.
class ScriptedDevice {
 public:
  explicit ScriptedDevice(ScriptedDeviceSetup setup);
  ~ScriptedDevice();
  ScriptedDevice(const ScriptedDevice&) = delete;
  ScriptedDevice& operator=(const ScriptedDevice&) = delete;

  const ScriptedDeviceSetup& setup() const { return setup_; }
  sim::SimDevice& sim() { return sim_; }
  // The simulated device's trace as lines of the transfer log.
  std::vector<std::string> TraceLines() const;
  void ClearTrace();
  std::vector<std::uint8_t> Flash() const;
  UsbRequestCounts counts() const;
  bool plugged() const;

  // Waits until `condition` holds for the counts, at most `timeout`; whether it holds.
  bool WaitUntil(const std::function<bool(const UsbRequestCounts&)>& condition,
                 std::chrono::milliseconds timeout) const;
  // Waits until the program has submitted `transfers` bulk transfers in all.
  bool WaitForTransfers(std::uint64_t transfers, std::chrono::milliseconds timeout) const;

 private:
  friend class ScriptedUsb;
  struct Plug;
  struct Urb;

  // umockdev's "handle-ioctl" signal, with the plug as its data.
  static int OnIoctl(void* handler, void* client, void* plug);
  void Handle(Plug& plug, void* client);
  void Submit(Plug& plug, void* client);
  void Reap(Plug& plug, void* client);
  void Discard(Plug& plug, void* client);
  void Interface(void* client, bool claim);
  void DriverIoctl(void* client);
  void GetDriver(void* client);
  void Control(Urb& urb, const std::uint8_t* buffer, std::uint32_t length);
  void Bulk(Urb& urb, std::uint8_t endpoint, const std::uint8_t* buffer, std::uint32_t length);
  // A plug of this device at `devnode`, whose requests complete through `clock`.
  // `readiness` is the other end of its node, a pipe (-1: none).
  Plug& Connect(const std::string& syspath, const std::string& devnode, WireClock& clock, int readiness);
  // Fills or empties the node's pipe as a request can be reaped or not. With the lock held.
  void UpdateReadiness(Plug& plug);
  // The current plug ends: every later request fails as for a device that is gone.
  Plug& Disconnect();

  const ScriptedDeviceSetup setup_;
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  sim::SimDevice sim_;
  UsbRequestCounts counts_;
  bool driverBound_ = false;
  bool claimed_ = false;  // until released; a program that ends holding it is forgotten at its next claim
  std::vector<std::unique_ptr<Plug>> plugs_;  // every plug, the last one current unless it ended
  WireClock* clock_ = nullptr;
};

struct ProgramRun {
  int code = -1;   // the exit code; -1 when a signal ended the program
  int signal = 0;  // the signal that ended it, 0 when it exited
  std::vector<std::string> out;
  std::vector<std::string> err;
  double cpuSeconds = 0;  // the program's user and system time
};

// A program started by ScriptedUsb::Start. Destroying it before Wait() kills the program.
class RunningProgram {
 public:
  RunningProgram(RunningProgram&& other) noexcept;
  RunningProgram& operator=(RunningProgram&&) = delete;
  ~RunningProgram();

  pid_t pid() const { return pid_; }
  void Signal(int signal) const;
  // Waits until a line the program wrote to its output or error contains `text`, at most `timeout`.
  bool WaitForOutput(const std::string& text, std::chrono::milliseconds timeout) const;
  // Waits for the program to end; once.
  ProgramRun Wait();

 private:
  friend class ScriptedUsb;
  RunningProgram(pid_t pid, std::string folder, std::shared_ptr<std::atomic<int>> running);

  pid_t pid_;
  std::string folder_;
  std::shared_ptr<std::atomic<int>> running_;  // the testbed's count of programs not yet waited for
};

// A testbed with the devices added to it. One at a time per process: the testbed names itself in
// the environment (UMOCKDEV_DIR) that the program inherits.
class ScriptedUsb {
 public:
  ScriptedUsb();
  ~ScriptedUsb();
  ScriptedUsb(const ScriptedUsb&) = delete;
  ScriptedUsb& operator=(const ScriptedUsb&) = delete;

  // Plugs a new device in: its sysfs entry, descriptors, node and handler exist before the "add"
  // uevent, so a program watching sees it whole. The location must be free. While a started program
  // runs, this and Remove and Replug throw std::logic_error unless SendsUevents().
  ScriptedDevice& Add(ScriptedDeviceSetup setup);
  // Unplugs the device: the "remove" uevent, then its sysfs entry and node go. Every later request
  // from a program that still holds it open fails with ENODEV, after the transfers it had submitted
  // are reaped as killed (-ESHUTDOWN).
  void Remove(ScriptedDevice& device);
  // Plugs an unplugged device in again at its location, under a new device number; it keeps its
  // flash, trace and counts.
  void Replug(ScriptedDevice& device);

  // Starts `program` with `args` under the preload library, its output in `folder` (also its
  // TMPDIR; programs running side by side need folders of their own), with `environment`
  // ("NAME=value") added; an LD_PRELOAD there is preloaded after umockdev's. `output`, when given,
  // takes both standard output and error in place of the files (e.g. a pipe's write end; the caller's
  // other descriptors should be close-on-exec). The program starts as a shell starts it: every signal
  // at its default action, none blocked. As root it runs without the capability to override file
  // modes, so that mode 000 refuses it.
  RunningProgram Start(const std::string& program, const std::vector<std::string>& args, const std::string& folder,
                       const std::vector<std::string>& environment = {}, int output = -1);
  ProgramRun Run(const std::string& program, const std::vector<std::string>& args, const std::string& folder,
                 const std::vector<std::string>& environment = {}) {
    return Start(program, args, folder, environment).Wait();
  }

  // Whether this process runs under umockdev's preload library, which the uevents of devices
  // plugged or unplugged while a program runs need.
  static bool SendsUevents();

 private:
  std::string AddHub(std::uint8_t bus, const std::string& name, const std::string& parent);
  std::string NextDevnode(std::uint8_t bus);
  std::string NodePath(const std::string& devnode) const;  // in the testbed
  std::string MakeNode(const std::string& devnode);        // an empty file; its path
  std::string MakePipeNode(const std::string& devnode);    // a named pipe; its path
  void PlugIn(ScriptedDevice& device);
  void RequireUeventsWhileRunning() const;

  UMockdevTestbed* testbed_;
  std::unique_ptr<WireClock> clock_;
  std::vector<std::unique_ptr<ScriptedDevice>> devices_;
  std::vector<void*> handlers_;
  std::vector<std::string> hubs_;
  int nextDevnum_[256] = {};
  std::shared_ptr<std::atomic<int>> running_ = std::make_shared<std::atomic<int>>(0);
};

}  // namespace hnx::sim
