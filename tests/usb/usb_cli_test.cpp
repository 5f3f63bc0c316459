// hnx-update on Linux without a transfer library: libusb against devices emulated on umockdev. The
// seams are the simulated devices' traces and flash, the program's lines and exit code, and the
// files it leaves.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <map>
#include <set>
#include <thread>

#include "usb_rig.h"

namespace hnx::test {
namespace {

using ::testing::Pair;
using ::testing::UnorderedElementsAre;

constexpr char kPermissionText[] =
    "No permission to open 1 USB device: install the udev rule 60-hnx-update.rules (packaging/) and plug the "
    "device in again.";
constexpr char kUpdated[] = "Auto Command Succeeded !!";
constexpr char kExited[] = "EXIT ISP Successfull !!";

ScriptedDeviceSetup NearMiss(const std::string& location, std::u16string identification) {
  return {.location = location, .identification = std::move(identification)};
}

// A quarter of a millisecond on the wire for every transfer, so that several devices' exchanges overlap.
ScriptedDeviceSetup OnTheWire(ScriptedDeviceSetup setup) {
  setup.wireMicroseconds = 250;
  return setup;
}

// The 16 KiB chip's flash after an update with `image`: the read-protect marker is given 0xFF.
std::vector<std::uint8_t> SmallFlashUpdatedWith(std::vector<std::uint8_t> image) {
  image.resize(0x4000);
  std::fill(image.end() - 5, image.end(), 0xFF);
  return image;
}

class UsbCliTest : public ProgramTest {
 protected:
  std::vector<std::uint8_t> pattern_ = PatternImage(0x10000);
  std::string image_ = WriteFile("image.bin", pattern_);
};

TEST_F(UsbCliTest, UpdateProgramsTheEmbeddedImageLogsEveryTransferAndReleasesTheDevice) {
  ScriptedDevice& device = usb_.Add(Small(Device("1-4.2")));
  const ProgramRun result = Run({"--log", temp_.Path("transfers.log"), "--chip", "ZB4420", "update"});
  EXPECT_EQ(result.code, 0);
  EXPECT_THAT(result.out, ElementsAre("16384 bytes programmed and verified in T s (R KiB/s)", kUpdated));
  EXPECT_THAT(result.err, IsEmpty());
  EXPECT_EQ(device.Flash(), SmallFlashUpdatedWith(FileBytes(HNX_FIRMWARE_IMAGE)));
  const std::vector<std::string> trace = device.TraceLines();
  ASSERT_EQ(trace.size(),
            1 + 2 + 3 * 512 + 3 * 512 + 3u);  // open, erase, programs, reads, finish, exit, close
  EXPECT_EQ(trace.front(), "open 1");
  EXPECT_EQ(trace.back(), "close");
  EXPECT_EQ(FileLines(temp_.Path("transfers.log")), trace);
  // No driver was bound, so none is attached at the end.
  EXPECT_THAT(device.counts().interfaceEvents, ElementsAre("claim", "release"));
  EXPECT_THAT(Left(), ElementsAre("err", "image.bin", "out", "transfers.log"));  // nothing staged or else
}

// Each kind of exchange through libusb (an update's erase, programs, reads, finish and exit; a read; a
// read protection; an exit that leaves the pipe open) makes the transfers that it makes through the
// simulator library, line for line, and leaves the same flash and the same lines.
TEST_F(UsbCliTest, EveryCommandMakesTheSameTransfersAsThroughTheLibrary) {
  ScriptedDevice& device = usb_.Add(Small(Device("1-2")));
  const std::string state = temp_.Path("library.state"), libraryTrace = temp_.Path("library.trace");
  const std::vector<std::string> simulator = {"HNX_SIM_STATE=" + state, "HNX_SIM_TRACE=" + libraryTrace,
                                              "HNX_SIM_FLASH_SIZE=16384", "HNX_SIM_BLOCK_LENGTH=32"};
  const std::vector<std::vector<std::string>> commands = {
      {"update", "--image", image_}, {"read", temp_.Path("flash.dmp")}, {"protect"}, {"exit-isp"}};
  for (const std::vector<std::string>& command : commands) {
    SCOPED_TRACE(command.front());
    device.ClearTrace();
    std::filesystem::remove(libraryTrace);
    std::vector<std::string> args = {"--library", HNX_SIM_LIBRARY, "--chip", "ZB4420"};
    args.insert(args.end(), command.begin(), command.end());
    const ProgramRun overLibrary = Run(args, simulator);
    const ProgramRun overUsb = Run({args.begin() + 2, args.end()});  // the last to write the dump
    EXPECT_EQ(overUsb.code, 0);
    EXPECT_EQ(overUsb.code, overLibrary.code);
    EXPECT_EQ(overUsb.out, overLibrary.out);
    EXPECT_EQ(overUsb.err, overLibrary.err);
    EXPECT_EQ(device.TraceLines(), FileLines(libraryTrace));
    EXPECT_EQ(device.Flash(), StateFlash(state));
  }
  EXPECT_EQ(FileBytes(temp_.Path("flash.dmp")), SmallFlashUpdatedWith(pattern_));
  // Exit ISP leaves the pipe open: the interface is not released, the device only closed.
  EXPECT_EQ(device.counts().claims, device.counts().releases + 1);
}

// One command among the devices on the bus: its code and lines, and which devices it claimed; every
// other device saw no transfer at all.
struct BusCase {
  const char* name;
  std::vector<ScriptedDeviceSetup> devices;
  std::vector<std::string> args;
  int code;
  std::vector<std::string> out, err;
  std::set<std::string> claimed;
};

const std::vector<ScriptedDeviceSetup> kOneDevice = {Device("1-3")},
                                       kTwoDevices = {Device("1-3"), Device("1-4.2")};
const std::vector<ScriptedDeviceSetup> kBesideForeign = {Device("1-1", Kind::Foreign), Device("1-2"),
                                                         Device("2-1", Kind::Foreign)};
const std::string kBadPortPath = "--device takes BUS-PORT[.PORT...] as lsusb -t shows it, e.g. 1-4.2, not ";

// clang-format off
const BusCase kBusCases[] = {
    {"ForeignDevicesAreNotListed", kBesideForeign, {"list"}, 0,
     {"1-2: bus 1, port 2, 12 Mbit/s", "1 device attached", "ZB44xx Found !"}, {}, {}},
    {"ForeignDevicesAreNotTouched", kBesideForeign, {"exit-isp"}, 0, {kExited}, {}, {"1-2"}},
    {"ListInJsonGivesOneObjectPerDeviceThenTheResult", {{.location = "3-1.4.2", .speed = "480"}, Device("1-7")},
     {"--progress", "json", "list"}, 0,
     {"1-7: bus 1, port 7, 12 Mbit/s", "3-1.4.2: bus 3, port 1.4.2, 480 Mbit/s", "2 devices attached", "ZB44xx Found !"},
     {R"({"device":"1-7","bus":1,"port":"7","speed":"12 Mbit/s"})",
      R"({"device":"3-1.4.2","bus":3,"port":"1.4.2","speed":"480 Mbit/s"})", R"({"result":"ZB44xx Found !","code":0})"},
     {}},
    {"SeveralDevicesWithoutAChoice", kTwoDevices, {"update"}, 64, {},
     {"1-3: bus 1, port 3, 12 Mbit/s", "1-4.2: bus 1, port 4.2, 12 Mbit/s",
      "2 devices attached: choose one with --device or every one with --all."}, {}},
    {"DeviceChoosesOneByItsPortPath", kTwoDevices, {"--device", "1-4.2", "exit-isp"}, 0, {kExited}, {},
     {"1-4.2"}},
    {"DeviceNotAPortPath", kOneDevice, {"--device", "1.4", "erase"}, 64, {}, {kBadPortPath + "1.4"}, {}},
    {"DevicePortZero", kOneDevice, {"--device", "1-0", "erase"}, 64, {}, {kBadPortPath + "1-0"}, {}},
    {"DevicePortBeyond255", kOneDevice, {"--device", "1-256", "erase"}, 64, {}, {kBadPortPath + "1-256"}, {}},
    {"DeviceNobodyThere", kOneDevice, {"--device", "1-9", "erase"}, 69, {}, {"Can't find the device!"}, {}},
    {"DeviceWithALibrary", kOneDevice, {"--library", HNX_SIM_LIBRARY, "--device", "1-3", "erase"}, 64, {},
     {"--device, --all and --station choose among the system's USB devices; a transfer library has one."}, {}},
    {"AllAndDevice", kOneDevice, {"--all", "--device", "1-3", "erase"}, 64, {},
     {"--device excludes --all", "Run with --help for more information."}, {}},
    {"AllIntoOneFile", kOneDevice, {"--all", "read", "flash.dmp"}, 64, {},
     {"read writes one file: choose one device with --device."}, {}},
    {"NoPermissionIsNamedWithTheUdevRule", {Device("1-2", Kind::NoPermission)}, {"erase"}, 69, {},
     {kPermissionText}, {}},
    {"NoPermissionListed", {Device("1-2", Kind::NoPermission)}, {"list"}, 69, {"0 devices attached"},
     {kPermissionText}, {}},
    {"ADeviceThatCanBeOpenedIsUsedBesideOneThatCannot", {Device("1-2", Kind::NoPermission), Device("1-3")},
     {"exit-isp"}, 0, {kExited}, {}, {"1-3"}},
    {"NoDeviceAtAllIsNoDevice", {Device("1-1", Kind::Foreign)}, {"erase"}, 69, {}, {"Can't find the device!"}, {}},
    // A record that cannot be written is a line of its own naming the file; the device's outcome line is as
    // before, and the exit code says 74 unless the run had failed already.
    {"RecordThatCannotBeWritten", {Small(Device("1-1"))}, {"--record", "/dev/full", "--chip", "ZB4420", "erase"},
     74, {"16384 bytes erased and checked blank in T s (R KiB/s)", "Mass Erase Command Succeeded !"},
     {"Can't write the record file /dev/full: No space left on device"}, {"1-1"}},
    {"RecordThatCannotBeWrittenOfARefusal", {Small(Device("1-1"))},
     {"--record", "/dev/full", "--chip", "ZB4420", "verify", "absent.bin"}, 66, {},
     {"Can't write the record file /dev/full: No space left on device", "Open file error !!"}, {}},
};
// clang-format on

void PrintTo(const BusCase& c, std::ostream* out) {
  *out << c.name;
}

class UsbBus : public UsbCliTest, public ::testing::WithParamInterface<BusCase> {};

TEST_P(UsbBus, ClaimsOnlyTheDevicesTheCommandIsFor) {
  const BusCase& c = GetParam();
  std::vector<ScriptedDevice*> devices;
  for (const ScriptedDeviceSetup& setup : c.devices) devices.push_back(&usb_.Add(setup));
  const ProgramRun result = Run(c.args);
  EXPECT_EQ(result.code, c.code);
  EXPECT_EQ(result.out, c.out);
  EXPECT_EQ(result.err, c.err);
  for (ScriptedDevice* device : devices) {
    SCOPED_TRACE(device->setup().location);
    const bool claimed = c.claimed.contains(device->setup().location);
    EXPECT_EQ(device->counts().claims, claimed ? 1u : 0u);
    EXPECT_EQ(device->counts().bulkTransfers > 0, claimed);
  }
}

INSTANTIATE_TEST_SUITE_P(Usb, UsbBus, ::testing::ValuesIn(kBusCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Where libusb cannot start (here: umockdev's stand-in for its uevent socket cannot be bound, as the
// names it takes are folders), a command on one device or on several says so, as a device out of
// reach, and claims nothing.
TEST_F(UsbCliTest, LibusbThatCannotStartIsNoDeviceNotAUsage) {
  ScriptedDevice& device = usb_.Add(Device("1-2"));
  for (int descriptor = 0; descriptor < 64; ++descriptor)
    std::filesystem::create_directory(Testbed() / ("event" + std::to_string(descriptor)));
  for (const std::vector<std::string>& args : {std::vector<std::string>{"erase"}, {"--all", "erase"}}) {
    SCOPED_TRACE(args.front());
    const ProgramRun result = Run(args);
    EXPECT_EQ(result.code, 69);
    EXPECT_THAT(result.err, ElementsAre("Can't reach the USB devices (libusb did not start): name a transfer "
                                        "library with --library."));
  }
  EXPECT_EQ(device.counts().claims, 0u);
}

// Four devices at once, three at a time, beside three whose identification only looks like ours: every
// object of the JSON progress names its device, each device has a log of its own equal to its trace,
// the failures do not stop the others, and the run ends with the code of the first failing device in
// port-path order, whichever failed first: here the later port fails at once and the earlier one only
// when it compares. Each device run leaves a record naming its device and serial number.
TEST_F(UsbCliTest, AllRunsTheDevicesAtOnceEachWithItsOwnLogAndEndsWithTheFirstFailingDevicesCode) {
  std::vector<ScriptedDevice*> ours = {
      &usb_.Add(Small(OnTheWire(Device("1-1")))),
      &usb_.Add(WithFaults(Small(OnTheWire(Device("1-2"))), "stuck=0x10:0x00")),
      &usb_.Add(WithFaults(Small(OnTheWire(Device("1-3.1"))), "fail-transfer=40")),
      &usb_.Add(Small(OnTheWire(Device("2-1"))))};
  ScriptedDevice& longer = usb_.Add(NearMiss("1-4", u"ZB29K7021"));
  ScriptedDevice& lower = usb_.Add(NearMiss("1-5", u"zb29k702"));
  ScriptedDevice& empty = usb_.Add(NearMiss("1-6", u""));
  std::filesystem::create_directory(temp_.Path("logs.d"));
  const std::string image = WriteFile("small.bin", PatternImage(0x4000));
  const ProgramRun result =
      Run({"--all", "--jobs", "3", "--progress", "json", "--log", temp_.Path("logs.d/field"), "--record",
           temp_.Path("records"), "--chip", "ZB4420", "update", "--image", image});
  EXPECT_EQ(result.code, 1);
  EXPECT_THAT(result.out, UnorderedElementsAre("1-1: 16384 bytes programmed and verified in T s (R KiB/s)",
                                               "1-1: Auto Command Succeeded !!",
                                               "2-1: 16384 bytes programmed and verified in T s (R KiB/s)",
                                               "2-1: Auto Command Succeeded !!"));
  ASSERT_FALSE(result.err.empty());
  EXPECT_EQ(result.err.back(), "2 of 4 devices succeeded");
  EXPECT_THAT(LinesOf(result.err, "1-2"),
              ElementsAre("first difference at 0x00000010: expected 0x71, read 0x00",
                          "32768 bytes moved in T s (R KiB/s)", "Verify Failure !!"));
  EXPECT_THAT(LinesOf(result.err, "1-3.1"),
              ElementsAre("384 bytes moved in T s (R KiB/s)", "Flash Write Failure !!"));

  std::set<std::string> running, ended;
  std::size_t mostAtOnce = 0;
  std::vector<nlohmann::json> objects;
  for (const std::string& line : result.err)
    if (line.starts_with("{")) objects.push_back(nlohmann::json::parse(line));
  ASSERT_FALSE(objects.empty());
  EXPECT_EQ(objects.back(), nlohmann::json::parse(R"({"result":"2 of 4 devices succeeded","code":1})"));
  objects.pop_back();
  EXPECT_EQ(objects.front(),
            Json({{"image", {{"source", image}, {"size", 0x4000}, {"sha256", Sha256Sum(image)}}}}));
  objects.erase(objects.begin());
  for (const nlohmann::json& object : objects) {
    const std::string device = object.at("device");
    EXPECT_FALSE(ended.contains(device)) << object;
    if (object.contains("result")) {
      ended.insert(device);
      running.erase(device);
      EXPECT_EQ(object.at("code"), device == "1-3.1" ? 74 : device == "1-2" ? 1 : 0);
    } else {
      running.insert(device);
    }
    mostAtOnce = std::max(mostAtOnce, running.size());
  }
  EXPECT_THAT(ended, ElementsAre("1-1", "1-2", "1-3.1", "2-1"));
  EXPECT_LE(mostAtOnce, 3u);

  for (ScriptedDevice* device : ours) {
    SCOPED_TRACE(device->setup().location);
    // Each device's name goes after the log's, before its extension: here none, in a folder with one.
    EXPECT_EQ(FileLines(temp_.Path("logs.d/field." + device->setup().location)), device->TraceLines());
    EXPECT_EQ(device->counts().claims, device->counts().releases);
  }
  std::multimap<std::string, std::string> recorded;  // device: serial, code
  for (const Json& record : JsonLines(temp_.Path("records")))
    recorded.emplace(record.at("device"),
                     record.at("serial").get<std::string>() + " " + record.at("code").dump());
  EXPECT_THAT(recorded, ElementsAre(Pair("1-1", "S/1-1 0"), Pair("1-2", "S/1-2 1"),
                                    Pair("1-3.1", "S/1-3.1 74"), Pair("2-1", "S/2-1 0")));
  EXPECT_EQ(ours[0]->Flash(), SmallFlashUpdatedWith(pattern_));
  EXPECT_EQ(ours[3]->Flash(), SmallFlashUpdatedWith(pattern_));
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
// whose identification only looks like ours are never touched. Each run leaves a record naming its device.
TEST_F(UsbCliTest, StationRunsEachDeviceOncePerAttachment) {
  RunningProgram station = StartStation(
      {"--record", temp_.Path("records"), "--station", "--count", "3", "--chip", "ZB4420", "erase"});
  ScriptedDevice& first = usb_.Add(Small(Device("1-1")));
  ScriptedDevice& nearMiss = usb_.Add(NearMiss("1-3", u"ZB29K70"));
  ASSERT_TRUE(nearMiss.WaitUntil([](const auto& counts) { return counts.identifications > 0; }, kPatience));
  ASSERT_TRUE(first.WaitForTransfers(1, kPatience));
  ScriptedDevice& second = usb_.Add(Small(Device("1-2")));
  ASSERT_TRUE(station.WaitForOutput("1-1: Mass Erase Command Succeeded !", kPatience));
  ASSERT_TRUE(station.WaitForOutput("1-2: Mass Erase Command Succeeded !", kPatience));
  usb_.Remove(first);
  usb_.Replug(first);
  const ProgramRun result = Masked(station.Wait());
  EXPECT_EQ(result.code, 0);
  const std::string erased = "16384 bytes erased and checked blank in T s (R KiB/s)";
  const std::string succeeded = "Mass Erase Command Succeeded !";
  ASSERT_EQ(result.out.size(), 8u);
  EXPECT_EQ(result.out.front(), "Waiting for devices\u2026");
  EXPECT_THAT(LinesOf(result.out, "1-1"), ElementsAre(erased, succeeded, erased, succeeded));
  EXPECT_THAT(LinesOf(result.out, "1-2"), ElementsAre(erased, succeeded));
  EXPECT_EQ(result.out.back(), "3 of 3 devices succeeded");
  EXPECT_EQ(first.counts().claims, 2u);
  EXPECT_EQ(second.counts().claims, 1u);
  EXPECT_EQ(nearMiss.counts().claims, 0u);
  EXPECT_EQ(nearMiss.counts().bulkTransfers, 0u);
  std::multimap<std::string, std::string> recorded;  // device: serial
  for (const Json& record : JsonLines(temp_.Path("records")))
    recorded.emplace(record.at("device"), record.at("serial"));
  EXPECT_THAT(recorded, ElementsAre(Pair("1-1", "S/1-1"), Pair("1-1", "S/1-1"), Pair("1-2", "S/1-2")));
}

// A device that leaves while it waits for its place (--jobs 1) leaves the queue; plugged in again, it
// is queued once and runs once. The place is held by a device whose first transfer is never answered
// until it is unplugged, which fails its run.
TEST_F(UsbCliTest, AStationRunsADeviceThatLeftWhileWaitingOnceWhenItComesBack) {
  RunningProgram station = StartStation({"--station", "--jobs", "1", "--count", "3", "exit-isp"});
  ScriptedDeviceSetup holding = Device("1-1");
  holding.answeredTransfers = 0;
  ScriptedDevice& first = usb_.Add(holding);
  ASSERT_TRUE(first.WaitForTransfers(1, kPatience));
  ScriptedDevice& waiting = usb_.Add(Device("1-2"));
  const auto identified = [](std::uint32_t times) {
    return [times](const sim::UsbRequestCounts& counts) { return counts.identifications >= times; };
  };
  ASSERT_TRUE(waiting.WaitUntil(identified(1), kPatience));
  usb_.Remove(waiting);
  usb_.Replug(waiting);
  ASSERT_TRUE(waiting.WaitUntil(identified(2), kPatience));
  EXPECT_EQ(waiting.counts().claims, 0u);
  usb_.Remove(first);
  ASSERT_TRUE(station.WaitForOutput("1-2: EXIT ISP Successfull !!", kPatience));
  usb_.Add(Device("1-3"));
  const ProgramRun result = Masked(station.Wait());
  EXPECT_EQ(result.code, 74);
  EXPECT_THAT(result.err, ElementsAre("1-1: Flash Write Failure !!", "2 of 3 devices succeeded"));
  EXPECT_THAT(result.out, ElementsAre("Waiting for devices\u2026", "1-2: EXIT ISP Successfull !!",
                                      "1-3: EXIT ISP Successfull !!"));
  EXPECT_EQ(waiting.counts().claims, 1u);
  EXPECT_EQ(first.counts().claims, 1u);
}

// A station names the udev rule for devices it may not open, once for each: for those there when it
// starts, and for one plugged in later. A device that does not answer its first identification
// request (not ready yet) is asked again while it stays plugged, and runs.
TEST_F(UsbCliTest, AStationNamesTheUdevRuleOncePerDeviceAndAsksAnUnreadyDeviceAgain) {
  usb_.Add(Device("1-2", Kind::NoPermission));
  RunningProgram station = StartStation({"--station", "--count", "1", "exit-isp"});
  ASSERT_TRUE(WaitForLines(temp_.Path("err"), 1));
  usb_.Add(Device("1-4", Kind::NoPermission));
  ASSERT_TRUE(WaitForLines(temp_.Path("err"), 2));
  ScriptedDeviceSetup unready = Device("1-3");
  unready.refusedIdentifications = 1;
  ScriptedDevice& late = usb_.Add(unready);
  ASSERT_TRUE(station.WaitForOutput("1-3: EXIT ISP Successfull !!", kPatience));
  const ProgramRun result = Masked(station.Wait());
  EXPECT_EQ(result.code, 0);
  EXPECT_THAT(result.err, ElementsAre(kPermissionText, kPermissionText));
  EXPECT_THAT(result.out, ElementsAre("Waiting for devices\u2026", "1-3: EXIT ISP Successfull !!",
                                      "1 of 1 device succeeded"));
  EXPECT_EQ(late.counts().claims, 1u);
}

// The staging of a run is made new. Names that a run's folder once had, made in advance by someone
// else as a folder holding the staged file's name as a link to a file outside, or as a folder that may
// not be written, are neither followed nor used, and the runs succeed in folders of their own.
TEST_F(UsbCliTest, AStationsStagingTakesNoNameMadeInAdvance) {
  const std::string victim = WriteFile("victim.bin", std::string("keep"));
  RunningProgram station = StartStation({"--station", "--count", "2", "--chip", "ZB4420", "update"});
  const std::string run = "hnx-update-" + std::to_string(station.pid());
  const std::string linked = run + "-1-1", locked = run + "-1-2";
  std::filesystem::create_directory(temp_.Path(linked));
  std::filesystem::create_symlink(victim, temp_.Path(linked + "/b167h.bin"));
  std::filesystem::create_directory(temp_.Path(locked));
  std::filesystem::permissions(temp_.Path(locked),
                               std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
  usb_.Add(Small(Device("1-1")));
  usb_.Add(Small(Device("1-2")));
  const ProgramRun result = Masked(station.Wait());
  EXPECT_EQ(result.code, 0);
  EXPECT_EQ(result.out.back(), "2 of 2 devices succeeded");
  EXPECT_EQ(FileBytes(victim), (std::vector<std::uint8_t>{'k', 'e', 'e', 'p'}));
  EXPECT_THAT(Left(), ElementsAre("err", linked, locked, "image.bin", "out", "victim.bin"));
  EXPECT_TRUE(std::filesystem::is_symlink(temp_.Path(linked + "/b167h.bin")));
  EXPECT_TRUE(std::filesystem::is_empty(temp_.Path(locked)));
}

// How many threads the process runs and how many memory mappings it has.
std::pair<std::size_t, std::size_t> ThreadsAndMappings(pid_t pid) {
  const std::string proc = "/proc/" + std::to_string(pid);
  const auto threads = std::distance(std::filesystem::directory_iterator(proc + "/task"),
                                     std::filesystem::directory_iterator());
  return {static_cast<std::size_t>(threads), FileLines(proc + "/maps").size()};
}

// Every run's thread is joined as it ends: over sixty attachments in a row the station keeps the
// threads and memory mappings it had after the first ten.
TEST_F(UsbCliTest, SixtyAttachmentsInARowLeaveThreadsAndMappingsWhereTheyWere) {
  constexpr std::uint32_t kAttachments = 60, kSettled = 10;
  RunningProgram station = StartStation({"--station", "--count", std::to_string(kAttachments), "exit-isp"});
  // A device on each of ten buses, plugged in turn: a bus numbers no more than 255 plugs.
  std::vector<ScriptedDevice*> devices;
  std::pair<std::size_t, std::size_t> settled;
  for (std::uint32_t attachment = 0; attachment < kAttachments; ++attachment) {
    const std::uint32_t bus = attachment % 10, round = attachment / 10;
    if (round == 0)
      devices.push_back(&usb_.Add(Device(std::to_string(bus + 1) + "-1")));
    else
      usb_.Replug(*devices[bus]);
    // The exit frame, the run's one transfer; then the run lets go and its line is written.
    ASSERT_TRUE(devices[bus]->WaitForTransfers(round + 1, kPatience)) << attachment;
    ASSERT_TRUE(WaitForLines(temp_.Path("out"), attachment + 2)) << attachment;
    usb_.Remove(*devices[bus]);
    if (attachment + 1 == kSettled) settled = ThreadsAndMappings(station.pid());
  }
  const std::pair<std::size_t, std::size_t> after = ThreadsAndMappings(station.pid());
  const ProgramRun result = station.Wait();
  EXPECT_EQ(result.code, 0);
  EXPECT_EQ(result.out.back(), "60 of 60 devices succeeded");
  // A run whose line is out may still be ending; the station joins it at its next turn.
  EXPECT_LE(after.first, settled.first + 1);
  EXPECT_LE(after.second, settled.second + 4);
}

// A run that the system will not start (no thread to be had) is that device's failure alone: its line
// and code, while the station goes on to run the next device.
TEST_F(UsbCliTest, ARunThatCannotStartIsThatDevicesFailureAlone) {
  if (program_ != HNX_CLI_PROGRAM) GTEST_SKIP() << "a sanitizer's runtime in the program makes its threads";
  const std::string refusing = temp_.Path("no threads");
  RunningProgram station =
      StartStation({"--station", "--count", "2", "--chip", "ZB4420", "erase"},
                   {std::string("LD_PRELOAD=") + HNX_THREAD_REFUSAL, "HNX_REFUSE_THREADS_WHILE=" + refusing});
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
  RunningProgram station = StartStation({"--station", "erase"});
  station.Signal(SIGTERM);
  const ProgramRun result = station.Wait();
  EXPECT_EQ(result.code, 0);
  EXPECT_THAT(result.out, ElementsAre("Waiting for devices\u2026", "0 of 0 devices succeeded"));
}

// Interrupted or hung up on, each running device ends the block under way and sends nothing after it
// (no finish, no exit), releases its interface and its staging, and says so, in its record too with
// what had moved until then; the run exits 130.
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
  std::vector<ScriptedDevice*> devices = {&usb_.Add(OnTheWire(Device("1-1")))};
  if (station) devices.push_back(&usb_.Add(OnTheWire(Device("1-2"))));
  std::vector<std::string> args = {"--record", temp_.Path("records"), "update"};
  if (station) args.insert(args.begin(), "--station");
  RunningProgram program = Start(args);
  for (ScriptedDevice* device : devices) ASSERT_TRUE(device->WaitForTransfers(200, kPatience));
  program.Signal(GetParam().signal);
  const ProgramRun result = Masked(program.Wait());
  ASSERT_EQ(result.code, 130);
  std::map<std::string, Json> records;  // by device
  for (const Json& record : JsonLines(temp_.Path("records"))) records.emplace(record.at("device"), record);
  EXPECT_EQ(records.size(), devices.size());
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
    EXPECT_LT(trace.size(), 4 + 3 * 1024u);  // stopped at the block under way, not at the end of the phase
    EXPECT_THAT(FrameOpcodes(trace), ::testing::Not(::testing::Contains("2F")));
    EXPECT_THAT(device->counts().interfaceEvents, ElementsAre("claim", "release"));
    const Json record = records.at(device->setup().location);
    EXPECT_EQ(record.at("result"), "Interrupted");
    EXPECT_EQ(record.at("code"), 130);
    EXPECT_EQ(record.at("transfers"), MovedTransfers(trace));
    EXPECT_GT(record.at("bytes"), 0);
  }
  ExpectNoStaging();
}

INSTANTIATE_TEST_SUITE_P(Usb, UsbInterrupted,
                         ::testing::Values(InterruptCase{"Update", false, SIGINT},
                                           InterruptCase{"Station", true, SIGINT},
                                           InterruptCase{"UpdateHungUp", false, SIGHUP},
                                           InterruptCase{"StationHungUp", true, SIGHUP}),
                         [](const auto& info) { return std::string(info.param.name); });

// Interrupted while the device is being identified (the update: with its image staged), a command
// sends the device no frame and releases it.
TEST_F(UsbCliTest, AnInterruptBeforeTheFirstFrameSendsNone) {
  ScriptedDeviceSetup slow = Device("1-1");
  slow.wireMicroseconds = 1'000'000;  // the identification request is that long on the wire
  ScriptedDevice& device = usb_.Add(slow);
  for (const char* command : {"update", "exit-isp"}) {
    SCOPED_TRACE(command);
    const std::uint32_t asked = device.counts().identifications;
    RunningProgram program = Start({"--device", "1-1", command});
    ASSERT_TRUE(
        device.WaitUntil([&](const auto& counts) { return counts.identifications > asked; }, kPatience));
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
  RunningProgram program = usb_.Start(program_, {"--all", "--progress", "json", "--chip", "ZB4420", "update"},
                                      temp_.Path(""), {}, ends[1]);
  close(ends[1]);
  std::FILE* reader = fdopen(ends[0], "r");
  ASSERT_NE(reader, nullptr);
  char line[256];
  for (int i = 0; i < 4; ++i) ASSERT_NE(std::fgets(line, sizeof line, reader), nullptr);
  std::fclose(reader);
  const ProgramRun result = program.Wait();
  EXPECT_EQ(result.signal, 0);
  EXPECT_EQ(result.code, 74);
  for (ScriptedDevice* device : devices) {
    SCOPED_TRACE(device->setup().location);
    const std::vector<std::string> trace = device->TraceLines();
    for (std::size_t i = 0; i < trace.size(); ++i) {
      if (!trace[i].starts_with("write 10 10 1 28 ")) continue;
      ASSERT_LT(i + 2, trace.size());
      EXPECT_TRUE(trace[i + 1].starts_with("write 32 32 1")) << i;
      EXPECT_EQ(trace[i + 2], "read 1 1 1 00") << i;
    }
    EXPECT_EQ(device->Flash(), SmallFlashUpdatedWith(FileBytes(HNX_FIRMWARE_IMAGE)));
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

// A kernel driver bound to the interface is detached for the run and given the interface back once
// it is released, whether the run closed the pipe or (exit ISP) left it open: the kernel refuses the
// driver an interface still claimed.
TEST_F(UsbCliTest, AKernelDriverGetsTheInterfaceBackOnceReleased) {
  ScriptedDeviceSetup setup = Device("1-2");
  setup.kernelDriverBound = true;
  ScriptedDevice& device = usb_.Add(setup);
  for (const char* command : {"protect", "exit-isp"}) {
    SCOPED_TRACE(command);
    EXPECT_EQ(Run({command}).code, 0);
  }
  EXPECT_THAT(device.counts().interfaceEvents,
              ElementsAre("detach", "claim", "release", "attach", "detach", "claim", "release", "attach"));
}

}  // namespace
}  // namespace hnx::test
