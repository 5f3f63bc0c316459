// USB devices emulated on umockdev for the tests of the program's libusb transport. The program runs
// under umockdev's preload library, which routes its sysfs, /dev and usbfs requests into a testbed;
// the usbfs requests of each device come to a handler in this process, whose bulk endpoints speak
// the ISP protocol through a simulated device (sim::SimDevice: flash, state machine, fault plan)
// and whose string descriptor 0xFF (language 0x2861) answers the identification text.
#pragma once

#include <cstdint>
#include <deque>
#include <limits>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

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
  std::string faults;        // the simulated device's fault plan (sim/README.md)
  // Bulk transfers answered; every later one is taken and never completes, or, when unplugged, is
  // refused at once as the kernel refuses a device that is gone.
  std::uint64_t answeredTransfers = std::numeric_limits<std::uint64_t>::max();
  bool unpluggedAfterAnswers = false;
  bool kernelDriverBound = false;  // a driver holds interface 0 until the program detaches it
};

// How often the program asked a device for each thing.
struct UsbRequestCounts {
  std::uint64_t bulkTransfers = 0;  // submitted, answered or not
  std::uint32_t claims = 0;
  std::uint32_t releases = 0;
  std::uint32_t detaches = 0;
  std::uint32_t reattaches = 0;
};

// What one device saw. Read it once the program has ended.
class ScriptedDevice {
 public:
  explicit ScriptedDevice(ScriptedDeviceSetup setup);

  const ScriptedDeviceSetup& setup() const { return setup_; }
  sim::SimDevice& sim() { return sim_; }
  // The simulated device's trace as lines of the transfer log.
  std::vector<std::string> TraceLines() const;
  void ClearTrace();
  std::vector<std::uint8_t> Flash() const;
  UsbRequestCounts counts() const;

  // The usbfs request of one client call; the reply goes back through umockdev.
  void Handle(void* client);

 private:
  struct Urb {
    unsigned long address = 0;  // in the program's memory
    int status = 0;
    std::uint32_t actual = 0;
    std::vector<std::uint8_t> reply;  // the buffer's new content (IN and control); empty: unchanged
  };

  void Submit(void* client);
  void Reap(void* client);
  void Discard(void* client);
  void Interface(void* client, bool claim);
  void DriverIoctl(void* client);
  void GetDriver(void* client);
  void Control(Urb& urb, const std::uint8_t* buffer, std::uint32_t length);
  void Bulk(Urb& urb, std::uint8_t endpoint, const std::uint8_t* buffer, std::uint32_t length);

  ScriptedDeviceSetup setup_;
  mutable std::mutex mutex_;
  sim::SimDevice sim_;
  std::deque<Urb> done_;
  std::vector<Urb> silent_;
  UsbRequestCounts counts_;
  bool driverBound_ = false;
};

struct ProgramRun {
  int code = -1;
  std::vector<std::string> out;
  std::vector<std::string> err;
  double cpuSeconds = 0;  // the program's user and system time
};

// A testbed with the devices added to it. One at a time per process: the testbed names itself in
// the environment (UMOCKDEV_DIR) that the program inherits.
class ScriptedUsb {
 public:
  ScriptedUsb();
  ~ScriptedUsb();
  ScriptedUsb(const ScriptedUsb&) = delete;
  ScriptedUsb& operator=(const ScriptedUsb&) = delete;

  ScriptedDevice& Add(ScriptedDeviceSetup setup);

  // Runs `program` with `args` under the preload library, its output in `folder` (also its TMPDIR),
  // with `environment` ("NAME=value") added. As root it runs without the capability to override
  // file modes, so that mode 000 refuses it.
  ProgramRun Run(const std::string& program, const std::vector<std::string>& args, const std::string& folder,
                 const std::vector<std::string>& environment = {});

 private:
  struct Attached;
  std::string AddHub(std::uint8_t bus, const std::string& name, const std::string& parent);
  std::string NextDevnode(std::uint8_t bus, int& devnum);

  UMockdevTestbed* testbed_;
  std::vector<std::unique_ptr<ScriptedDevice>> devices_;
  std::vector<std::unique_ptr<Attached>> handlers_;
  std::vector<std::string> hubs_;
  int nextDevnum_[256] = {};
};

}  // namespace hnx::sim
