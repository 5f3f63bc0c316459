// hnx-update on Linux without a transfer library: libusb against devices emulated on umockdev. The
// seams are the simulated devices' traces and flash, the program's lines and exit code.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "scripted_usb.h"
#include "support/rig.h"

namespace hnx::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using Kind = ScriptedDeviceSpec::Kind;

ScriptedDeviceSpec Device(const std::string& location, Kind kind = Kind::Ours) {
  ScriptedDeviceSpec spec;
  spec.location = location;
  spec.kind = kind;
  return spec;
}

ScriptedDeviceSpec WithSpeed(ScriptedDeviceSpec spec, const std::string& speed) {
  spec.speed = speed;
  return spec;
}

class UsbCliTest : public ::testing::Test {
 protected:
  ProgramRun Run(const std::vector<std::string>& args) { return usb_.Run(HNX_CLI_PROGRAM, args, temp_.Path("")); }

  TempFolder temp_;
  ScriptedUsb usb_;
};

TEST_F(UsbCliTest, UpdateProgramsTheEmbeddedImage) {
  ScriptedDevice& device = usb_.Add(Device("1-4.2"));
  const ProgramRun result = Run({"--log", temp_.Path("transfers.log"), "update"});
  EXPECT_EQ(result.code, 0);
  EXPECT_THAT(result.out, ElementsAre("Auto Command Succeeded !!"));
  EXPECT_THAT(result.err, IsEmpty());
  EXPECT_EQ(device.sim().flash(), FileBytes(HNX_FIRMWARE_IMAGE));
  EXPECT_EQ(FileLines(temp_.Path("transfers.log")), device.TraceLines());
}

TEST_F(UsbCliTest, ListShowsEachDevice) {
  usb_.Add(WithSpeed(Device("1-4.2"), "480"));
  usb_.Add(Device("1-3"));
  usb_.Add(Device("1-5", Kind::Foreign));
  const ProgramRun result = Run({"list"});
  EXPECT_EQ(result.code, 0);
  EXPECT_THAT(result.out, ElementsAre("1-3: bus 1, port 3, 12 Mbit/s", "1-4.2: bus 1, port 4.2, 480 Mbit/s",
                                      "2 devices attached", "ZB44xx Found !"));
}

}  // namespace
}  // namespace hnx::test
