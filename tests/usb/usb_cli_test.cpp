// hnx-update on Linux without a transfer library: libusb against devices emulated on umockdev. The
// seams are the simulated devices' traces and flash, the program's lines and exit code, and the
// files it leaves.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <thread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

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

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::UnorderedElementsAre;
using Kind = ScriptedDeviceSetup::Kind;

constexpr std::size_t kStateHeaderLength = 14;  // of the simulator library's state file
constexpr char kPermissionText[] =
    "No permission to open 1 USB device: install the udev rule 60-hnx-update.rules (packaging/) and plug the "
    "device in again.";

ScriptedDeviceSetup Device(const std::string& location, Kind kind = Kind::Ours) {
  ScriptedDeviceSetup setup;
  setup.location = location;
  setup.kind = kind;
  return setup;
}

constexpr auto kPatience = 30s;
constexpr char kUpdated[] = "Auto Command Succeeded !!";  // only ever waited out when something is broken

ScriptedDeviceSetup NearMiss(const std::string& location, std::u16string identification) {
  ScriptedDeviceSetup setup = Device(location);
  setup.identification = std::move(identification);
  return setup;
}

// A millisecond on the wire for every transfer, so that several devices' exchanges overlap.
ScriptedDeviceSetup OnTheWire(const std::string& location) {
  ScriptedDeviceSetup setup = Device(location);
  setup.wireMicroseconds = 1000;
  return setup;
}

// The 16 KiB chip's geometry (--chip ZB4420), for runs that need only be whole, not long.
ScriptedDeviceSetup Small(ScriptedDeviceSetup setup) {
  setup.flashSize = 0x4000;
  setup.blockLength = 32;
  return setup;
}

ScriptedDeviceSetup WithFaults(ScriptedDeviceSetup setup, const std::string& faults) {
  setup.faults = faults;
  return setup;
}

// The lines headed by `device`, without the heading.
std::vector<std::string> LinesOf(const std::vector<std::string>& lines, const std::string& device) {
  std::vector<std::string> own;
  for (const std::string& line : lines)
    if (line.starts_with(device + ": ")) own.push_back(line.substr(device.size() + 2));
  return own;
}

// The opcodes of the command frames that the device took whole.
std::vector<std::string> FrameOpcodes(const std::vector<std::string>& trace) {
  std::vector<std::string> opcodes;
  for (const std::string& line : trace)
    if (line.rfind("write 10 10 1 ", 0) == 0) opcodes.push_back(line.substr(14, 2));
  return opcodes;
}

class UsbCliTest : public ::testing::Test {
 protected:
  // The program built here, or another build of it (ThreadSanitizer's) that the environment names.
  void SetUp() override {
    if (!std::filesystem::exists(program_)) GTEST_SKIP() << "no program at " << program_;
  }

  static ProgramRun Masked(ProgramRun run) {
    run.out = WithFiguresMasked(run.out);
    run.err = WithFiguresMasked(run.err);
    return run;
  }

  RunningProgram Start(const std::vector<std::string>& args) {
    return usb_.Start(program_, args, temp_.Path(""));
  }

  // No run left its staging folder behind.
  void ExpectNoStaging() const {
    for (const auto& entry : std::filesystem::directory_iterator(temp_.Path("")))
      EXPECT_FALSE(entry.path().filename().string().starts_with("hnx-update-")) << entry.path();
  }

  ProgramRun Run(const std::vector<std::string>& args, const std::vector<std::string>& environment = {}) {
    return Masked(usb_.Run(program_, args, temp_.Path(""), environment));
  }

  // Waits until the program has written `lines` lines of output.
  bool WaitForLines(std::size_t lines, std::chrono::milliseconds timeout) const {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (FileLines(temp_.Path("out")).size() < lines)
      if (std::chrono::steady_clock::now() > deadline) return false;
      else std::this_thread::sleep_for(1ms);
    return true;
  }

  std::string WriteImage(const std::string& name, const std::vector<std::uint8_t>& bytes) {
    const std::string path = temp_.Path(name);
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    return path;
  }

  const std::string program_ =
      std::getenv("HNX_PROGRAM_UNDER_TEST") != nullptr ? std::getenv("HNX_PROGRAM_UNDER_TEST") : HNX_CLI_PROGRAM;
  TempFolder temp_;
  ScriptedUsb usb_;
  std::vector<std::uint8_t> pattern_ = PatternImage(0x10000);
  std::string image_ = WriteImage("image.bin", pattern_);
};

TEST_F(UsbCliTest, UpdateProgramsTheEmbeddedImageLogsEveryTransferAndReleasesTheDevice) {
  ScriptedDevice& device = usb_.Add(Device("1-4.2"));
  const ProgramRun result = Run({"--log", temp_.Path("transfers.log"), "update"});
  EXPECT_EQ(result.code, 0);
  EXPECT_THAT(result.out,
              ElementsAre("65536 bytes programmed and verified in T s (R KiB/s)", "Auto Command Succeeded !!"));
  EXPECT_THAT(result.err, IsEmpty());
  EXPECT_EQ(device.Flash(), FileBytes(HNX_FIRMWARE_IMAGE));
  const std::vector<std::string> trace = device.TraceLines();
  ASSERT_EQ(trace.size(), 1 + 2 + 3 * 1024 + 3 * 1024 + 3u);  // open, erase, programs, reads, finish, exit, close
  EXPECT_EQ(trace.front(), "open 1");
  EXPECT_EQ(trace.back(), "close");
  EXPECT_EQ(FileLines(temp_.Path("transfers.log")), trace);
  EXPECT_EQ(device.counts().claims, 1u);
  EXPECT_EQ(device.counts().releases, 1u);
  // No driver was bound, so none is attached at the end.
  EXPECT_EQ(device.counts().reattaches, 0u);
}

// Each command through libusb makes the transfers that the same command makes through the simulator
// library, line for line, and leaves the same flash and the same lines.
TEST_F(UsbCliTest, EveryCommandMakesTheSameTransfersAsThroughTheLibrary) {
  ScriptedDevice& device = usb_.Add(Device("1-2"));
  const std::string state = temp_.Path("library.state"), libraryTrace = temp_.Path("library.trace");
  const std::vector<std::string> simulator = {"HNX_SIM_STATE=" + state, "HNX_SIM_TRACE=" + libraryTrace};
  const std::vector<std::vector<std::string>> commands = {
      {"write", image_}, {"verify", image_}, {"read", temp_.Path("flash.dmp")}, {"protect"},
      {"read", temp_.Path("protected.dmp")}, {"erase"}, {"update", "--image", image_}, {"exit-isp"}};
  for (const std::vector<std::string>& command : commands) {
    SCOPED_TRACE(command.front());
    device.ClearTrace();
    std::filesystem::remove(libraryTrace);
    const ProgramRun overUsb = Run(command);
    std::vector<std::string> withLibrary = {"--library", HNX_SIM_LIBRARY};
    withLibrary.insert(withLibrary.end(), command.begin(), command.end());
    const ProgramRun overLibrary = Run(withLibrary, simulator);
    EXPECT_EQ(overUsb.code, 0);
    EXPECT_EQ(overUsb.code, overLibrary.code);
    EXPECT_EQ(overUsb.out, overLibrary.out);
    EXPECT_EQ(overUsb.err, overLibrary.err);
    EXPECT_EQ(device.TraceLines(), FileLines(libraryTrace));
    const std::vector<std::uint8_t> saved = FileBytes(state);
    EXPECT_EQ(device.Flash(), std::vector(saved.begin() + kStateHeaderLength, saved.end()));
  }
  EXPECT_EQ(FileBytes(temp_.Path("flash.dmp")), pattern_);
  EXPECT_EQ(FileBytes(temp_.Path("protected.dmp")), std::vector<std::uint8_t>(0x10000, 0x00));
  // Exit ISP leaves the pipe open: the interface is not released, the device only closed.
  EXPECT_EQ(device.counts().claims, device.counts().releases + 1);
}

TEST_F(UsbCliTest, ForeignDevicesAreNeverCountedNorWrittenTo) {
  ScriptedDevice& foreign = usb_.Add(Device("1-1", Kind::Foreign));
  ScriptedDevice& ours = usb_.Add(Device("1-2"));
  ScriptedDevice& alsoForeign = usb_.Add(Device("2-1", Kind::Foreign));
  const ProgramRun listed = Run({"list"});
  EXPECT_EQ(listed.code, 0);
  EXPECT_THAT(listed.out, ElementsAre("1-2: bus 1, port 2, 12 Mbit/s", "1 device attached", "ZB44xx Found !"));
  const ProgramRun updated = Run({"erase"});
  EXPECT_EQ(updated.code, 0);
  EXPECT_EQ(FrameOpcodes(ours.TraceLines()).front(), "25");
  for (ScriptedDevice* device : {&foreign, &alsoForeign}) {
    EXPECT_EQ(device->counts().bulkTransfers, 0u);
    EXPECT_EQ(device->counts().claims, 0u);
    EXPECT_THAT(device->TraceLines(), IsEmpty());
  }
}

TEST_F(UsbCliTest, ListInJsonGivesOneObjectPerDeviceThenTheResult) {
  ScriptedDeviceSetup fast = Device("3-1.4.2");
  fast.speed = "480";
  usb_.Add(fast);
  usb_.Add(Device("1-7"));
  const ProgramRun result = Run({"--progress", "json", "list"});
  EXPECT_EQ(result.code, 0);
  EXPECT_THAT(result.err, ElementsAre(R"({"device":"1-7","bus":1,"port":"7","speed":"12 Mbit/s"})",
                                      R"({"device":"3-1.4.2","bus":3,"port":"1.4.2","speed":"480 Mbit/s"})",
                                      R"({"result":"ZB44xx Found !","code":0})"));
  EXPECT_THAT(result.out, ElementsAre("1-7: bus 1, port 7, 12 Mbit/s", "3-1.4.2: bus 3, port 1.4.2, 480 Mbit/s",
                                      "2 devices attached", "ZB44xx Found !"));
}

TEST_F(UsbCliTest, SeveralDevicesWithoutAChoiceAreRefusedAndNoneIsTouched) {
  ScriptedDevice& first = usb_.Add(Device("1-3"));
  ScriptedDevice& second = usb_.Add(Device("1-4.2"));
  const ProgramRun result = Run({"update"});
  EXPECT_EQ(result.code, 64);
  EXPECT_THAT(result.out, IsEmpty());
  EXPECT_THAT(result.err, ElementsAre("1-3: bus 1, port 3, 12 Mbit/s", "1-4.2: bus 1, port 4.2, 12 Mbit/s",
                                      "2 devices attached: choose one with --device or every one with --all."));
  EXPECT_EQ(first.counts().claims + second.counts().claims, 0u);
}

TEST_F(UsbCliTest, DeviceChoosesOneByItsPortPath) {
  ScriptedDevice& first = usb_.Add(Device("1-3"));
  ScriptedDevice& second = usb_.Add(Device("1-4.2"));
  const ProgramRun result = Run({"--device", "1-4.2", "write", image_});
  EXPECT_EQ(result.code, 0);
  EXPECT_THAT(result.out, ElementsAre("65536 bytes programmed in T s (R KiB/s)", "Write Command Succeeded !"));
  EXPECT_EQ(second.Flash(), pattern_);
  EXPECT_EQ(first.counts().claims, 0u);
  EXPECT_EQ(first.Flash(), std::vector<std::uint8_t>(0x10000, 0xFF));
}

struct DeviceArgumentCase {
  const char* name;
  std::vector<std::string> args;
  int code;
  std::vector<std::string> err;
};

// clang-format off
const DeviceArgumentCase kDeviceArgumentCases[] = {
    {"NotAPortPath", {"--device", "1.4", "erase"}, 64,
     {"--device takes BUS-PORT[.PORT...] as lsusb -t shows it, e.g. 1-4.2, not 1.4"}},
    {"PortZero", {"--device", "1-0", "erase"}, 64,
     {"--device takes BUS-PORT[.PORT...] as lsusb -t shows it, e.g. 1-4.2, not 1-0"}},
    {"NobodyThere", {"--device", "1-9", "erase"}, 69, {"Can't find the device!"}},
    {"WithALibrary", {"--library", HNX_SIM_LIBRARY, "--device", "1-3", "erase"}, 64,
     {"--device, --all and --station choose among the system's USB devices; a transfer library has one."}},
    {"AllAndDevice", {"--all", "--device", "1-3", "erase"}, 64,
     {"--device excludes --all", "Run with --help for more information."}},
    {"AllIntoOneFile", {"--all", "read", "flash.dmp"}, 64, {"read writes one file: choose one device with --device."}},
};
// clang-format on

void PrintTo(const DeviceArgumentCase& c, std::ostream* out) {
  *out << c.name;
}

class UsbDeviceArgument : public UsbCliTest, public ::testing::WithParamInterface<DeviceArgumentCase> {};

TEST_P(UsbDeviceArgument, IsRefusedBeforeAnyTransfer) {
  ScriptedDevice& device = usb_.Add(Device("1-3"));
  const ProgramRun result = Run(GetParam().args);
  EXPECT_EQ(result.code, GetParam().code);
  EXPECT_THAT(result.out, IsEmpty());
  EXPECT_EQ(result.err, GetParam().err);
  EXPECT_EQ(device.counts().bulkTransfers, 0u);
}

INSTANTIATE_TEST_SUITE_P(Usb, UsbDeviceArgument, ::testing::ValuesIn(kDeviceArgumentCases),
                         [](const auto& info) { return std::string(info.param.name); });

// The exit code is the first failing device's in port-path order, whichever failed first: here the
// later port fails at once and the earlier one only when it compares.
TEST_F(UsbCliTest, AllEndsWithTheCodeOfTheFirstFailingDeviceInPortOrder) {
  ScriptedDevice& comparesWrong = usb_.Add(WithFaults(Small(Device("1-2")), "stuck=0x10:0x00"));
  ScriptedDevice& failsAtOnce = usb_.Add(WithFaults(Small(Device("1-3")), "fail-transfer=4"));
  ScriptedDevice& fine = usb_.Add(Small(Device("2-1")));
  const ProgramRun result = Run({"--all", "--chip", "ZB4420", "update", "--image", image_});
  EXPECT_EQ(result.code, 1);
  EXPECT_THAT(LinesOf(result.err, "1-2"), ElementsAre("first difference at 0x00000010: expected 0x71, read 0x00",
                                                      "32768 bytes moved in T s (R KiB/s)", "Verify Failure !!"));
  EXPECT_THAT(LinesOf(result.err, "1-3"), ElementsAre("Flash Write Failure !!"));
  EXPECT_THAT(LinesOf(result.out, "2-1"), ElementsAre("16384 bytes programmed and verified in T s (R KiB/s)", kUpdated));
  EXPECT_EQ(result.err.back(), "1 of 3 devices succeeded");
  std::vector<std::uint8_t> updated(pattern_.begin(), pattern_.begin() + 0x4000);
  std::fill(updated.end() - 5, updated.end(), 0xFF);  // the read-protect marker is given 0xFF
  EXPECT_EQ(fine.Flash(), updated);
  for (ScriptedDevice* device : {&comparesWrong, &failsAtOnce, &fine})
    EXPECT_EQ(device->counts().claims, device->counts().releases);
}

// Four devices at once, two at a time, one of them failing midway, beside two whose identification
// only looks like ours: every object of the JSON progress names its device, each device has a log of
// its own equal to its trace, the failure does not stop the others, and its code is the run's.
TEST_F(UsbCliTest, AllRunsTheDevicesAtOnceEachWithItsOwnProgressLogAndOutcome) {
  std::vector<ScriptedDevice*> ours = {&usb_.Add(Small(OnTheWire("1-1"))), &usb_.Add(Small(OnTheWire("1-2"))),
                                       &usb_.Add(WithFaults(Small(OnTheWire("1-3.1")), "fail-transfer=40")),
                                       &usb_.Add(Small(OnTheWire("2-1")))};
  ScriptedDevice& longer = usb_.Add(NearMiss("1-4", u"ZB29K7021"));
  ScriptedDevice& lower = usb_.Add(NearMiss("1-5", u"zb29k702"));
  ScriptedDevice& empty = usb_.Add(NearMiss("1-6", u""));
  const ProgramRun result = Run({"--all", "--jobs", "2", "--progress", "json", "--log", temp_.Path("field.log"),
                                 "--chip", "ZB4420", "update", "--image", WriteImage("small.bin", PatternImage(0x4000))});
  EXPECT_EQ(result.code, 74);
  EXPECT_THAT(result.out, UnorderedElementsAre("1-1: 16384 bytes programmed and verified in T s (R KiB/s)",
                                               "1-1: Auto Command Succeeded !!",
                                               "1-2: 16384 bytes programmed and verified in T s (R KiB/s)",
                                               "1-2: Auto Command Succeeded !!",
                                               "2-1: 16384 bytes programmed and verified in T s (R KiB/s)",
                                               "2-1: Auto Command Succeeded !!"));
  ASSERT_FALSE(result.err.empty());
  EXPECT_EQ(result.err.back(), "3 of 4 devices succeeded");
  EXPECT_THAT(LinesOf(result.err, "1-3.1"), ElementsAre("384 bytes moved in T s (R KiB/s)", "Flash Write Failure !!"));

  std::set<std::string> running, ended;
  std::size_t mostAtOnce = 0;
  std::vector<nlohmann::json> objects;
  for (const std::string& line : result.err)
    if (line.starts_with("{")) objects.push_back(nlohmann::json::parse(line));
  ASSERT_FALSE(objects.empty());
  EXPECT_EQ(objects.back(), nlohmann::json::parse(R"({"result":"3 of 4 devices succeeded","code":74})"));
  objects.pop_back();
  EXPECT_EQ(objects.front().at("image").at("size"), 0x4000);  // the run's image comes first
  objects.erase(objects.begin());
  for (const nlohmann::json& object : objects) {
    const std::string device = object.at("device");
    EXPECT_FALSE(ended.contains(device)) << object;
    if (object.contains("result")) {
      ended.insert(device);
      running.erase(device);
      EXPECT_EQ(object.at("code"), device == "1-3.1" ? 74 : 0);
    } else {
      running.insert(device);
    }
    mostAtOnce = std::max(mostAtOnce, running.size());
  }
  EXPECT_THAT(ended, ElementsAre("1-1", "1-2", "1-3.1", "2-1"));
  EXPECT_LE(mostAtOnce, 2u);

  for (ScriptedDevice* device : ours) {
    SCOPED_TRACE(device->setup().location);
    EXPECT_EQ(FileLines(temp_.Path("field." + device->setup().location + ".log")), device->TraceLines());
    EXPECT_EQ(device->counts().claims, device->counts().releases);
  }
  for (ScriptedDevice* device : {&longer, &lower, &empty}) EXPECT_EQ(device->counts().claims, 0u);
  ExpectNoStaging();
}

// With a bar, each running device has a line of its own below the printed lines, redrawn in place
// (up over the lines drawn before, then clear to the end of the screen) and gone when it ends.
TEST_F(UsbCliTest, BarWithSeveralDevicesRedrawsALiveLinePerRunningDevice) {
  usb_.Add(Small(Device("1-1")));
  usb_.Add(Small(Device("1-2")));
  const ProgramRun result = Run({"--all", "--progress", "bar", "--chip", "ZB4420", "erase"});
  EXPECT_EQ(result.code, 0);
  std::string drawn;
  for (const std::string& line : result.err) drawn += line + "\n";
  for (const std::string device : {"1-1", "1-2"}) {
    EXPECT_THAT(drawn, ::testing::HasSubstr(device + ": erase    100%\n"));
    EXPECT_THAT(drawn, ::testing::ContainsRegex(device + ": read     100%  [0-9.]+ KiB/s  0.0 s left\n"));
  }
  EXPECT_THAT(drawn, ::testing::HasSubstr("\x1b[2A\x1b[J"));
  EXPECT_EQ(result.err.back(), "\x1b[1A\x1b[J");
  EXPECT_EQ(result.out.back(), "2 of 2 devices succeeded");
}

// The station runs each device as it arrives, beside those still running, once per attachment: a
// device left plugged after its run is not run again, one unplugged and plugged again is. Devices
// whose identification only looks like ours are never touched.
TEST_F(UsbCliTest, StationRunsEachDeviceOncePerAttachment) {
  ASSERT_TRUE(ScriptedUsb::SendsUevents()) << "run under LD_PRELOAD=libumockdev-preload.so.0";
  RunningProgram station = Start({"--station", "--count", "3", "--chip", "ZB4420", "update"});
  ASSERT_TRUE(station.WaitForOutput("Waiting for devices\u2026", kPatience));
  ScriptedDevice& first = usb_.Add(Small(Device("1-1")));
  ScriptedDevice& nearMiss = usb_.Add(NearMiss("1-3", u"ZB29K70"));
  std::this_thread::sleep_for(300ms);
  ScriptedDevice& second = usb_.Add(Small(Device("1-2")));
  ASSERT_TRUE(station.WaitForOutput("1-1: Auto Command Succeeded !!", kPatience));
  ASSERT_TRUE(station.WaitForOutput("1-2: Auto Command Succeeded !!", kPatience));
  usb_.Remove(first);
  usb_.Replug(first);
  const ProgramRun result = Masked(station.Wait());
  EXPECT_EQ(result.code, 0);
  const std::string updated = "16384 bytes programmed and verified in T s (R KiB/s)";
  ASSERT_EQ(result.out.size(), 8u);
  EXPECT_EQ(result.out.front(), "Waiting for devices\u2026");
  EXPECT_THAT(LinesOf(result.out, "1-1"), ElementsAre(updated, kUpdated, updated, kUpdated));
  EXPECT_THAT(LinesOf(result.out, "1-2"), ElementsAre(updated, kUpdated));
  EXPECT_EQ(result.out.back(), "3 of 3 devices succeeded");
  EXPECT_EQ(first.counts().claims, 2u);
  EXPECT_EQ(second.counts().claims, 1u);
  EXPECT_EQ(nearMiss.counts().claims, 0u);
  EXPECT_EQ(nearMiss.counts().bulkTransfers, 0u);
  ExpectNoStaging();
}

// A device that leaves while it waits for its place (--jobs 1) leaves the queue; plugged in again, it
// is queued once and runs once.
TEST_F(UsbCliTest, AStationRunsADeviceThatLeftWhileWaitingOnceWhenItComesBack) {
  ASSERT_TRUE(ScriptedUsb::SendsUevents()) << "run under LD_PRELOAD=libumockdev-preload.so.0";
  RunningProgram station = Start({"--station", "--jobs", "1", "--count", "3", "--chip", "ZB4420", "erase"});
  ASSERT_TRUE(station.WaitForOutput("Waiting for devices\u2026", kPatience));
  ScriptedDeviceSetup slow = Small(Device("1-1"));
  slow.wireMicroseconds = 3000;  // holds the one place while the other comes and goes
  ScriptedDevice& first = usb_.Add(slow);
  ASSERT_TRUE(first.WaitForTransfers(1, kPatience));
  ScriptedDevice& waiting = usb_.Add(Small(Device("1-2")));
  const auto identified = [](std::uint32_t times) {
    return [times](const sim::UsbRequestCounts& counts) { return counts.identifications >= times; };
  };
  ASSERT_TRUE(waiting.WaitUntil(identified(1), kPatience));
  usb_.Remove(waiting);
  usb_.Replug(waiting);
  ASSERT_TRUE(waiting.WaitUntil(identified(2), kPatience));
  ASSERT_EQ(waiting.counts().claims, 0u) << "the first device ended before the second came back";
  ASSERT_TRUE(station.WaitForOutput("1-2: Mass Erase Command Succeeded !", kPatience));
  usb_.Add(Small(Device("1-3")));
  const ProgramRun result = Masked(station.Wait());
  EXPECT_EQ(result.code, 0);
  EXPECT_EQ(result.out.back(), "3 of 3 devices succeeded");
  EXPECT_THAT(LinesOf(result.out, "1-2"),
              ElementsAre("16384 bytes erased and checked blank in T s (R KiB/s)", "Mass Erase Command Succeeded !"));
  EXPECT_EQ(waiting.counts().claims, 1u);
  EXPECT_EQ(first.counts().claims, 1u);
}

// A station names the udev rule for devices it may not open, once for each: for those there when it
// starts, and for one plugged in later. A device that does not answer its first identification
// request (not ready yet) is asked again while it stays plugged, and runs.
TEST_F(UsbCliTest, AStationNamesTheUdevRuleOncePerDeviceAndAsksAnUnreadyDeviceAgain) {
  ASSERT_TRUE(ScriptedUsb::SendsUevents()) << "run under LD_PRELOAD=libumockdev-preload.so.0";
  usb_.Add(Device("1-2", Kind::NoPermission));
  RunningProgram station = Start({"--station", "--count", "1", "--chip", "ZB4420", "erase"});
  ASSERT_TRUE(station.WaitForOutput(kPermissionText, kPatience));
  usb_.Add(Device("1-4", Kind::NoPermission));
  ScriptedDeviceSetup unready = Small(Device("1-3"));
  unready.refusedIdentifications = 1;
  ScriptedDevice& late = usb_.Add(unready);
  ASSERT_TRUE(station.WaitForOutput("1-3: Mass Erase Command Succeeded !", kPatience));
  const ProgramRun result = Masked(station.Wait());
  EXPECT_EQ(result.code, 0);
  EXPECT_THAT(result.err, ElementsAre(kPermissionText, kPermissionText));
  EXPECT_THAT(result.out, ElementsAre("Waiting for devices\u2026", "1-3: 16384 bytes erased and checked blank in T s (R KiB/s)",
                                      "1-3: Mass Erase Command Succeeded !", "1 of 1 device succeeded"));
  EXPECT_EQ(late.counts().claims, 1u);
}

// The staging of a run is made new. Names that a run's folder once had, made in advance by someone
// else as a folder holding the staged file's name as a link to a file outside, or as a folder that may
// not be written, are neither followed nor used, and the runs succeed in folders of their own.
TEST_F(UsbCliTest, AStationsStagingTakesNoNameMadeInAdvance) {
  ASSERT_TRUE(ScriptedUsb::SendsUevents()) << "run under LD_PRELOAD=libumockdev-preload.so.0";
  const std::string victim = WriteImage("victim.bin", {'k', 'e', 'e', 'p'});
  RunningProgram station = Start({"--station", "--count", "2", "--chip", "ZB4420", "update"});
  ASSERT_TRUE(station.WaitForOutput("Waiting for devices\u2026", kPatience));
  const std::string linked = temp_.Path("hnx-update-" + std::to_string(station.pid()) + "-1-1");
  const std::string locked = temp_.Path("hnx-update-" + std::to_string(station.pid()) + "-1-2");
  std::filesystem::create_directory(linked);
  std::filesystem::create_symlink(victim, linked + "/b167h.bin");
  std::filesystem::create_directory(locked);
  std::filesystem::permissions(locked, std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
  usb_.Add(Small(Device("1-1")));
  usb_.Add(Small(Device("1-2")));
  const ProgramRun result = Masked(station.Wait());
  EXPECT_EQ(result.code, 0);
  EXPECT_EQ(result.out.back(), "2 of 2 devices succeeded");
  EXPECT_EQ(FileBytes(victim), (std::vector<std::uint8_t>{'k', 'e', 'e', 'p'}));
  std::set<std::string> left;
  for (const auto& entry : std::filesystem::directory_iterator(temp_.Path("")))
    if (entry.path().filename().string().starts_with("hnx-update-")) left.insert(entry.path().string());
  EXPECT_THAT(left, ElementsAre(linked, locked));
  EXPECT_TRUE(std::filesystem::is_symlink(linked + "/b167h.bin"));
  EXPECT_TRUE(std::filesystem::is_empty(locked));
}

// How many threads the process runs and how many memory mappings it has.
std::pair<std::size_t, std::size_t> ThreadsAndMappings(pid_t pid) {
  const std::string proc = "/proc/" + std::to_string(pid);
  const auto threads = std::distance(std::filesystem::directory_iterator(proc + "/task"),
                                     std::filesystem::directory_iterator());
  return {static_cast<std::size_t>(threads), FileLines(proc + "/maps").size()};
}

// Every run's thread is joined as it ends: over a thousand attachments in a row the station keeps the
// threads and memory mappings it had after the first ten.
TEST_F(UsbCliTest, TwoHundredAttachmentsInARowLeaveThreadsAndMappingsWhereTheyWere) {
  ASSERT_TRUE(ScriptedUsb::SendsUevents()) << "run under LD_PRELOAD=libumockdev-preload.so.0";
  constexpr std::uint32_t kAttachments = 200, kSettled = 10;
  RunningProgram station = Start({"--station", "--count", std::to_string(kAttachments), "exit-isp"});
  ASSERT_TRUE(station.WaitForOutput("Waiting for devices\u2026", kPatience));
  // A device on each of ten buses, plugged in turn: a bus numbers no more than 255 plugs.
  std::vector<ScriptedDevice*> devices;
  std::pair<std::size_t, std::size_t> settled;
  for (std::uint32_t attachment = 0; attachment < kAttachments; ++attachment) {
    const std::uint32_t bus = attachment % 10, round = attachment / 10;
    if (round == 0) devices.push_back(&usb_.Add(Device(std::to_string(bus + 1) + "-1")));
    else usb_.Replug(*devices[bus]);
    // The exit frame, the run's one transfer; then the run lets go and its line is written.
    ASSERT_TRUE(devices[bus]->WaitForTransfers(round + 1, kPatience)) << attachment;
    ASSERT_TRUE(WaitForLines(attachment + 2, kPatience)) << attachment;
    usb_.Remove(*devices[bus]);
    if (attachment + 1 == kSettled) settled = ThreadsAndMappings(station.pid());
  }
  const std::pair<std::size_t, std::size_t> after = ThreadsAndMappings(station.pid());
  const ProgramRun result = station.Wait();
  EXPECT_EQ(result.code, 0);
  EXPECT_EQ(result.out.back(), "200 of 200 devices succeeded");
  // A run whose line is out may still be ending; the station joins it at its next turn.
  EXPECT_LE(after.first, settled.first + 1);
  EXPECT_LE(after.second, settled.second + 4);
}

// A run that the system will not start (no thread to be had) is that device's failure alone: its line
// and code, while the station goes on to run the next device.
TEST_F(UsbCliTest, ARunThatCannotStartIsThatDevicesFailureAlone) {
  ASSERT_TRUE(ScriptedUsb::SendsUevents()) << "run under LD_PRELOAD=libumockdev-preload.so.0";
  if (program_ != HNX_CLI_PROGRAM) GTEST_SKIP() << "a sanitizer's runtime in the program makes its threads";
  const std::string refusing = temp_.Path("no threads");
  RunningProgram station = usb_.Start(program_, {"--station", "--count", "2", "--chip", "ZB4420", "erase"},
                                      temp_.Path(""), {std::string("LD_PRELOAD=") + HNX_THREAD_REFUSAL,
                                                       "HNX_REFUSE_THREADS_WHILE=" + refusing});
  ASSERT_TRUE(station.WaitForOutput("Waiting for devices\u2026", kPatience));
  std::ofstream{refusing};
  ScriptedDevice& refused = usb_.Add(Small(Device("1-1")));
  ASSERT_TRUE(station.WaitForOutput("1-1: Can't start the run: Resource temporarily unavailable", kPatience));
  std::filesystem::remove(refusing);
  ScriptedDevice& next = usb_.Add(Small(Device("1-2")));
  const ProgramRun result = Masked(station.Wait());
  EXPECT_EQ(result.code, 71);
  EXPECT_THAT(result.err, ElementsAre("1-1: Can't start the run: Resource temporarily unavailable",
                                      "1 of 2 devices succeeded"));
  EXPECT_EQ(refused.counts().claims, 0u);
  EXPECT_EQ(next.counts().claims, next.counts().releases);
  EXPECT_EQ(LinesOf(result.out, "1-2").back(), "Mass Erase Command Succeeded !");
}

// A station interrupted while no device runs ends as its results say.
TEST_F(UsbCliTest, AStationInterruptedWhileIdleEndsWithItsSummary) {
  RunningProgram station = Start({"--station", "erase"});
  ASSERT_TRUE(station.WaitForOutput("Waiting for devices\u2026", kPatience));
  station.Signal(SIGTERM);
  const ProgramRun result = station.Wait();
  EXPECT_EQ(result.code, 0);
  EXPECT_THAT(result.out, ElementsAre("Waiting for devices\u2026", "0 of 0 devices succeeded"));
}

// Interrupted or hung up on, each running device ends the block under way and sends nothing after it
// (no finish, no exit), releases its interface and its staging, and says so; the run exits 130.
struct InterruptCase {
  const char* name;
  bool station;
  int signal;
};

void PrintTo(const InterruptCase& c, std::ostream* out) {
  *out << c.name;
}

class UsbInterrupted : public UsbCliTest, public ::testing::WithParamInterface<InterruptCase> {};

TEST_P(UsbInterrupted, EveryRunningDeviceStopsAtABlockBoundaryAndIsReleased) {
  const bool station = GetParam().station;
  std::vector<ScriptedDevice*> devices = {&usb_.Add(OnTheWire("1-1"))};
  if (station) devices.push_back(&usb_.Add(OnTheWire("1-2")));
  RunningProgram program = Start(station ? std::vector<std::string>{"--station", "update"}
                                         : std::vector<std::string>{"update"});
  for (ScriptedDevice* device : devices) ASSERT_TRUE(device->WaitForTransfers(200, kPatience));
  program.Signal(GetParam().signal);
  const ProgramRun result = Masked(program.Wait());
  ASSERT_EQ(result.code, 130);
  if (station) {
    EXPECT_THAT(LinesOf(result.err, "1-1").back(), "Interrupted");
    EXPECT_THAT(LinesOf(result.err, "1-2").back(), "Interrupted");
    EXPECT_EQ(result.err.back(), "0 of 2 devices succeeded");
  } else {
    EXPECT_EQ(result.err.back(), "Interrupted");
  }
  for (ScriptedDevice* device : devices) {
    SCOPED_TRACE(device->setup().location);
    const std::vector<std::string> trace = device->TraceLines();
    ASSERT_GE(trace.size(), 3u);
    EXPECT_EQ(trace.back(), "close");
    EXPECT_EQ(trace[trace.size() - 2], "read 1 1 1 00");  // a block's status, the exchange whole
    EXPECT_EQ((trace.size() - 4) % 3, 0u);                // open, erase (2), whole blocks, close
    EXPECT_THAT(FrameOpcodes(trace), ::testing::Not(::testing::Contains("2F")));
    EXPECT_EQ(device->counts().claims, 1u);
    EXPECT_EQ(device->counts().releases, 1u);
  }
  ExpectNoStaging();
}

INSTANTIATE_TEST_SUITE_P(Usb, UsbInterrupted,
                         ::testing::Values(InterruptCase{"Update", false, SIGINT}, InterruptCase{"Station", true, SIGINT},
                                           InterruptCase{"UpdateHungUp", false, SIGHUP},
                                           InterruptCase{"StationHungUp", true, SIGHUP}),
                         [](const auto& info) { return std::string(info.param.name); });

// Interrupted while the device is being identified (the update: with its image staged), a command
// sends the device no frame and releases it.
TEST_F(UsbCliTest, AnInterruptBeforeTheFirstFrameSendsNone) {
  ScriptedDeviceSetup slow = Device("1-1");
  slow.wireMicroseconds = 2'000'000;  // the identification request is that long on the wire
  ScriptedDevice& device = usb_.Add(slow);
  for (const char* command : {"update", "exit-isp"}) {
    SCOPED_TRACE(command);
    const std::uint32_t asked = device.counts().identifications;
    RunningProgram program = Start({"--device", "1-1", command});
    ASSERT_TRUE(device.WaitUntil([&](const auto& counts) { return counts.identifications > asked; }, kPatience));
    program.Signal(SIGINT);
    const ProgramRun result = program.Wait();
    EXPECT_EQ(result.code, 130);
    EXPECT_THAT(result.err, ElementsAre("Interrupted"));
    EXPECT_THAT(FrameOpcodes(device.TraceLines()), IsEmpty());
    EXPECT_EQ(device.counts().claims, device.counts().releases);
  }
  ExpectNoStaging();
}

// A reader that goes after a few lines (`2>&1 | head -n4`) costs no device anything: the program's
// writes fail, every device is updated whole, nothing is left staged, and the exit code says that
// the lines were lost.
TEST_F(UsbCliTest, AReaderThatGoesEarlyLeavesNoDeviceHalfWritten) {
  std::vector<ScriptedDevice*> devices = {&usb_.Add(Small(Device("1-1"))), &usb_.Add(Small(Device("1-2")))};
  int ends[2];
  ASSERT_EQ(pipe2(ends, O_CLOEXEC), 0);
  RunningProgram program =
      usb_.Start(program_, {"--all", "--progress", "json", "--chip", "ZB4420", "update"}, temp_.Path(""), {}, ends[1]);
  close(ends[1]);
  std::FILE* reader = fdopen(ends[0], "r");
  ASSERT_NE(reader, nullptr);
  char line[256];
  for (int i = 0; i < 4; ++i) ASSERT_NE(std::fgets(line, sizeof line, reader), nullptr);
  std::fclose(reader);
  const ProgramRun result = program.Wait();
  EXPECT_EQ(result.signal, 0);
  EXPECT_EQ(result.code, 74);
  std::vector<std::uint8_t> updated = FileBytes(HNX_FIRMWARE_IMAGE);
  updated.resize(0x4000);
  std::fill(updated.end() - 5, updated.end(), 0xFF);  // the read-protect marker is given 0xFF
  for (ScriptedDevice* device : devices) {
    SCOPED_TRACE(device->setup().location);
    const std::vector<std::string> trace = device->TraceLines();
    for (std::size_t i = 0; i < trace.size(); ++i) {
      if (!trace[i].starts_with("write 10 10 1 28 ")) continue;
      ASSERT_LT(i + 2, trace.size());
      EXPECT_TRUE(trace[i + 1].starts_with("write 32 32 1")) << i;
      EXPECT_EQ(trace[i + 2], "read 1 1 1 00") << i;
    }
    EXPECT_EQ(device->Flash(), updated);
    EXPECT_EQ(device->counts().claims, device->counts().releases);
  }
  ExpectNoStaging();
}

// The device takes the first block's frame, data and status, then stops: silent, its next frame times
// out; unplugged, the next frame is refused at once. Either way the program ends with a transfer
// failure, nothing reported moved, and the interface released.
class UsbDeviceGone : public UsbCliTest, public ::testing::WithParamInterface<bool> {};

TEST_P(UsbDeviceGone, MidwayIsATransferFailure) {
  ScriptedDeviceSetup setup = Device("1-2");
  setup.answeredTransfers = 3;
  setup.unpluggedAfterAnswers = GetParam();
  ScriptedDevice& device = usb_.Add(setup);
  const ProgramRun result = Run({"--log", temp_.Path("transfers.log"), "write", image_});
  EXPECT_EQ(result.code, 74);
  EXPECT_THAT(result.err, ElementsAre("Flash Write Failure !!"));
  EXPECT_THAT(FileLines(temp_.Path("transfers.log")),
              ElementsAre("open 1", "write 10 10 1 28 00 00 00 00 00 00 00 40 00", "write 64 64 1",
                          "read 1 1 1 00", "write 10 0 0 28 00 00 00 00 00 40 00 40 00", "close"));
  EXPECT_EQ(device.counts().claims, device.counts().releases);
}

INSTANTIATE_TEST_SUITE_P(Usb, UsbDeviceGone, ::testing::Bool(),
                         [](const auto& info) { return std::string(info.param ? "Unplugged" : "Silent"); });

TEST_F(UsbCliTest, NoPermissionIsNamedWithTheUdevRule) {
  ScriptedDevice& locked = usb_.Add(Device("1-2", Kind::NoPermission));
  const ProgramRun erased = Run({"erase"});
  EXPECT_EQ(erased.code, 69);
  EXPECT_THAT(erased.err, ElementsAre(kPermissionText));
  const ProgramRun listed = Run({"list"});
  EXPECT_EQ(listed.code, 69);
  EXPECT_THAT(listed.out, ElementsAre("0 devices attached"));
  EXPECT_THAT(listed.err, ElementsAre(kPermissionText));
  EXPECT_EQ(locked.counts().claims, 0u);
}

TEST_F(UsbCliTest, ADeviceThatCanBeOpenedIsUsedBesideOneThatCannot) {
  usb_.Add(Device("1-2", Kind::NoPermission));
  ScriptedDevice& open = usb_.Add(Device("1-3"));
  const ProgramRun result = Run({"erase"});
  EXPECT_EQ(result.code, 0);
  EXPECT_EQ(FrameOpcodes(open.TraceLines()).front(), "25");
}

TEST_F(UsbCliTest, NoDeviceAtAllIsNoDevice) {
  usb_.Add(Device("1-1", Kind::Foreign));
  const ProgramRun result = Run({"erase"});
  EXPECT_EQ(result.code, 69);
  EXPECT_THAT(result.err, ElementsAre("Can't find the device!"));
}

// A kernel driver bound to the interface is detached for the run and given the interface back once
// it is released, whether the run closed the pipe or (exit ISP) left it open: the kernel refuses the
// driver an interface still claimed.
TEST_F(UsbCliTest, AKernelDriverGetsTheInterfaceBackOnceReleased) {
  ScriptedDeviceSetup setup = Device("1-2");
  setup.kernelDriverBound = true;
  ScriptedDevice& device = usb_.Add(setup);
  for (const char* command : {"erase", "exit-isp"}) {
    SCOPED_TRACE(command);
    EXPECT_EQ(Run({command}).code, 0);
  }
  EXPECT_THAT(device.counts().interfaceEvents,
              ElementsAre("detach", "claim", "release", "attach", "detach", "claim", "release", "attach"));
}

}  // namespace
}  // namespace hnx::test
