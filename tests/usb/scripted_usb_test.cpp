// The emulated USB bus itself, where its faults would pass for the program's: devices plugged and
// unplugged while a program watches, requests on the wire of two devices at once, identification
// texts that almost match.
#include <filesystem>
#include <fstream>

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

// Two programs write two images at once through devices whose every transfer spends a millisecond
// on the wire, so that their requests interleave on umockdev's one thread and in the clock that
// completes them: each device ends with its own image and its own exchanges only.
TEST_F(ScriptedUsbTest, DevicesWithWireTimeServedAtOnceKeepTheirOwnRequests) {
  std::vector<ScriptedDevice*> devices;
  std::vector<RunningProgram> programs;
  std::vector<std::vector<std::uint8_t>> images;
  for (const std::string location : {"1-2", "1-3"}) {
    ScriptedDeviceSetup setup = Device(location);
    setup.flashSize = 0x4000;
    setup.blockLength = 32;
    setup.wireMicroseconds = 1000;
    devices.push_back(&usb_.Add(setup));
    std::vector<std::uint8_t> image = PatternImage(0x4000);
    for (std::uint8_t& byte : image) byte = static_cast<std::uint8_t>(byte ^ (devices.size() == 1 ? 0x00 : 0x21));
    const std::string folder = Folder(location), path = folder + "/image.bin";
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(image.data()), image.size());
    images.push_back(image);
  }
  for (std::size_t i = 0; i < devices.size(); ++i) {
    const std::string& location = devices[i]->setup().location;
    programs.push_back(usb_.Start(HNX_CLI_PROGRAM, {"--chip", "ZB4420", "--device", location, "write",
                                                    temp_.Path(location) + "/image.bin"},
                                  temp_.Path(location)));
  }
  for (std::size_t i = 0; i < devices.size(); ++i) {
    const ProgramRun run = programs[i].Wait();
    EXPECT_EQ(run.code, 0);
    EXPECT_EQ(run.out.back(), "Write Command Succeeded !");
    EXPECT_EQ(devices[i]->Flash(), images[i]);
    const std::vector<std::string> trace = devices[i]->TraceLines();
    ASSERT_EQ(trace.size(), 1 + 3 * 512 + 1u);  // open, 512 programs of three transfers, close
    EXPECT_EQ(trace.front(), "open 1");
    EXPECT_EQ(trace.back(), "close");
  }
}

struct IdentificationCase {
  const char* name;
  std::u16string text;
  std::vector<std::string> out;
};

// clang-format off
const IdentificationCase kIdentificationCases[] = {
    {"Exact", u"ZB29K702", {"1-2: bus 1, port 2, 12 Mbit/s", "1 device attached", "ZB44xx Found !"}},
    {"OneCharacterMore", u"ZB29K7020", {"0 devices attached"}},
    {"OneCharacterLess", u"ZB29K70", {"0 devices attached"}},
    {"AnotherCase", u"zb29k702", {"0 devices attached"}},
    {"Empty", u"", {"0 devices attached"}},
};
// clang-format on

void PrintTo(const IdentificationCase& c, std::ostream* out) {
  *out << c.name;
}

class ScriptedIdentification : public ScriptedUsbTest, public ::testing::WithParamInterface<IdentificationCase> {};

TEST_P(ScriptedIdentification, OnlyTheExactTextIsOurs) {
  ScriptedDeviceSetup setup = Device("1-2");
  setup.identification = GetParam().text;
  usb_.Add(setup);
  const ProgramRun listed = usb_.Run(HNX_CLI_PROGRAM, {"list"}, temp_.Path(""));
  EXPECT_EQ(listed.out, GetParam().out);
}

INSTANTIATE_TEST_SUITE_P(Usb, ScriptedIdentification, ::testing::ValuesIn(kIdentificationCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace hnx::test
