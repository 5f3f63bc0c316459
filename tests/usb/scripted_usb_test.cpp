// The emulated USB bus itself, where its faults would pass for the program's: devices plugged and
// unplugged while a program watches. The wire time and the identification texts are exercised by
// the program's own tests of several devices at once (usb_cli_test.cpp).
#include <filesystem>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "sim/scripted_usb.h"
#include "support/rig.h"

namespace hnx::test {
namespace {

using namespace std::chrono_literals;
using sim::ProgramRun;
using sim::RunningProgram;
using sim::ScriptedDevice;
using sim::ScriptedDeviceSetup;
using sim::ScriptedUsb;
using sim::UsbRequestCounts;

using ::testing::ElementsAre;

constexpr auto kPatience = 20s;  // only ever waited out when something is broken

ScriptedDeviceSetup Device(const std::string& location) {
  ScriptedDeviceSetup setup;
  setup.location = location;
  return setup;
}

class ScriptedUsbTest : public ::testing::Test {
 protected:
  std::string Folder(const std::string& name) {
    std::filesystem::create_directories(temp_.Path(name));
    return temp_.Path(name);
  }

  TempFolder temp_;
  ScriptedUsb usb_;
};

// The probe claims each device that arrives and, once it has left, tries a transfer and closes it.
// Unplugged, the device refuses both the transfer and the release of its interface; plugged in again,
// it is a new arrival that is claimed anew.
TEST_F(ScriptedUsbTest, AWatchingProgramSeesDevicesPluggedUnpluggedAndPluggedAgain) {
  ASSERT_TRUE(ScriptedUsb::SendsUevents()) << "run under LD_PRELOAD=libumockdev-preload.so.0";
  RunningProgram probe = usb_.Start(HNX_HOTPLUG_PROBE, {"4"}, Folder("probe"));
  ASSERT_TRUE(probe.WaitForOutput("ready", kPatience));
  ScriptedDevice& device = usb_.Add(Device("1-4.2"));
  const auto claimed = [](std::uint32_t claims) {
    return [claims](const UsbRequestCounts& counts) { return counts.claims >= claims; };
  };
  ASSERT_TRUE(device.WaitUntil(claimed(1), kPatience));
  usb_.Remove(device);
  EXPECT_FALSE(device.plugged());
  ASSERT_TRUE(probe.WaitForOutput("left", kPatience));
  usb_.Replug(device);
  ASSERT_TRUE(device.WaitUntil(claimed(2), kPatience));
  usb_.Remove(device);
  const ProgramRun run = probe.Wait();
  EXPECT_EQ(run.code, 0);
  EXPECT_THAT(run.out, ElementsAre("ready", "arrived 1-4.2", "left 1-4.2: LIBUSB_ERROR_NO_DEVICE", "arrived 1-4.2",
                                   "left 1-4.2: LIBUSB_ERROR_NO_DEVICE"));
  EXPECT_EQ(device.counts().claims, 2u);
  EXPECT_EQ(device.counts().releases, 0u);
  EXPECT_EQ(device.counts().bulkTransfers, 0u);
}

}  // namespace
}  // namespace hnx::test
