// hnx-update --record against devices emulated on umockdev: the record file it leaves, line by line,
// beside the devices' traces, the program's lines and its exit code.
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <map>
#include <regex>
#include <set>

#include <nlohmann/json.hpp>

#include "usb_rig.h"

namespace hnx::test {
namespace {

using Json = nlohmann::json;

constexpr char kFullSha[] = "0000000000000000000000000000000000000000000000000000000000000000";

std::string Sha256Sum(const std::string& path) {
  std::FILE* pipe = popen(("sha256sum '" + path + "'").c_str(), "r");
  char digest[65] = {};
  if (pipe == nullptr || std::fread(digest, 1, 64, pipe) != 64) digest[0] = '\0';
  if (pipe != nullptr) pclose(pipe);
  return digest;
}

// The bulk transfers of a trace that moved what was asked: "write 10 10 1 …", "read 1 1 1 00".
std::uint64_t MovedTransfers(const std::vector<std::string>& trace) {
  static const std::regex moved(R"((write|read) (\d+) (\d+) 1( .*)?)");
  std::uint64_t count = 0;
  std::smatch parts;
  for (const std::string& line : trace)
    if (std::regex_match(line, parts, moved) && parts[2] == parts[3]) ++count;
  return count;
}

std::string HostName() {
  char name[256] = {};
  gethostname(name, sizeof name - 1);
  return name;
}

class UsbRecordTest : public ProgramTest {
 protected:
  // Every line of the record file, each a whole JSON object.
  std::vector<Json> Records() const {
    std::vector<Json> records;
    for (const std::string& line : FileLines(records_)) {
      records.push_back(Json::parse(line, nullptr, false));
      EXPECT_FALSE(records.back().is_discarded()) << line;
    }
    return records;
  }

  std::string records_ = temp_.Path("records.jsonl");
  std::string image_ = WriteFile("image.bin", PatternImage(0x4000));
};

// What a record says beyond what every record says.
struct RecordCase {
  const char* name;
  std::vector<std::string> args;  // after --record FILE --operator …; {image}: the image file
  std::string faults;             // of the device at 1-4.2; "none": no device at all
  int code;
  std::string result;
  const char* image;    // "embedded", "file" or nullptr
  std::uint64_t bytes;  // of the 16 KiB chip that the device has
};

// clang-format off
const RecordCase kRecordCases[] = {
    // Each command on success (verify after a write).
    {"Write", {"write", "{image}"}, "", 0, "Write Command Succeeded !", "file", 0x4000},
    {"Verify", {"verify", "{image}"}, "", 0, "Verify Command Succeeded !!", "file", 0x4000},
    {"Read", {"read", "{dump}"}, "", 0, "Download Completed !", nullptr, 0x4000},
    {"Erase", {"erase"}, "", 0, "Mass Erase Command Succeeded !", nullptr, 0x4000},
    {"Protect", {"protect"}, "", 0, "Read Protect Command Succeeded !", nullptr, 0},
    {"ExitIsp", {"exit-isp"}, "", 0, "EXIT ISP Successfull !!", nullptr, 0},
    {"UpdateEmbedded", {"update"}, "", 0, "Auto Command Succeeded !!", "embedded", 0x8000},
    {"UpdateWithImage", {"update", "--image", "{image}"}, "", 0, "Auto Command Succeeded !!", "file", 0x8000},
    // Failures on the way, and refusals before the first transfer.
    {"VerifyMismatch", {"verify", "{image}"}, "stuck=0x40:0x00", 1, "Verify Failure !!", "file", 0x4000},
    {"FailingMidway", {"write", "{image}"}, "fail-transfer=40", 74, "Flash Write Failure !!", "file", 12 * 32},
    {"WrongExpectedHash", {"--expect-sha256", kFullSha, "update", "--image", "{image}"}, "", 65,
     "The image's SHA-256 is not the one expected (" + std::string(kFullSha) + "): refused.", "file", 0},
    {"NoDevice", {"update"}, "none", 69, "Time Out !! Please check device and try again.", "embedded", 0},
};
// clang-format on

void PrintTo(const RecordCase& c, std::ostream* out) {
  *out << c.name;
}

class UsbRecord : public UsbRecordTest, public ::testing::WithParamInterface<RecordCase> {};

// Each run leaves one line: when, where, by whom, with what, on which device (its place, ids and
// serial number), how much moved and how it ended, the image's hash as sha256sum gives it. Without a
// device the chip is the one taken when none is named.
TEST_P(UsbRecord, LeavesOneLineWithTheRunsFacts) {
  const RecordCase& c = GetParam();
  ScriptedDevice* device = nullptr;
  std::vector<std::string> args = {"--record", records_, "--operator", "Ann Lee", "--wait", "0"};
  if (c.faults != "none") {
    device = &usb_.Add(Small({.location = "1-4.2", .faults = c.faults, .serial = "SN-0042"}));
    if (c.args.front() == "verify") device->sim().flash() = FileBytes(image_);
    args.insert(args.end(), {"--chip", "ZB4420"});
  }
  for (const std::string& arg : c.args)
    args.push_back(arg == "{image}" ? image_ : arg == "{dump}" ? temp_.Path("d") : arg);
  const auto started = std::chrono::steady_clock::now();
  const ProgramRun run = Run(args);
  EXPECT_EQ(run.code, c.code);
  const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

  const std::vector<Json> records = Records();
  ASSERT_EQ(records.size(), 1u);
  const Json& record = records.front();
  EXPECT_THAT(record.at("time").get<std::string>(),
              ::testing::MatchesRegex("[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}[.][0-9]{3}Z"));
  EXPECT_THAT(record.at("duration_s").get<double>(),
              ::testing::AllOf(::testing::Ge(0.0), ::testing::Le(elapsed)));
  EXPECT_EQ(record.at("host"), HostName());
  EXPECT_EQ(record.at("operator"), "Ann Lee");
  EXPECT_EQ(record.at("tool"), "hnx-update " HNX_VERSION);
  EXPECT_EQ(record.at("command"), c.args[c.args.front() == "--expect-sha256" ? 2 : 0]);
  EXPECT_EQ(record.at("chip"), device != nullptr ? "ZB4420" : "ZB29K702");
  EXPECT_EQ(record.at("result"), c.result);
  EXPECT_EQ(record.at("code"), c.code);
  EXPECT_EQ(record.at("bytes"), c.bytes);
  const bool opened = device != nullptr && c.code != 65;
  if (opened) {
    EXPECT_EQ(record.at("device"), "1-4.2");
    EXPECT_EQ(record.at("usb"), Json::parse(R"({"vendor":"1234","product":"7029","bus":1,"address":)" +
                                            std::to_string(record.at("usb").at("address").get<int>()) +
                                            R"(,"speed":"12 Mbit/s"})"));
    EXPECT_GT(record.at("usb").at("address"), 0);
    EXPECT_EQ(record.at("serial"), "SN-0042");
  } else {
    for (const char* unknown : {"device", "usb", "serial"})
      EXPECT_TRUE(record.at(unknown).is_null()) << unknown;
  }
  EXPECT_EQ(record.at("transfers"), device != nullptr ? MovedTransfers(device->TraceLines()) : 0u);
  if (c.image == nullptr) {
    EXPECT_TRUE(record.at("image").is_null());
  } else {
    const std::string file = std::string(c.image) == "file" ? image_ : HNX_FIRMWARE_IMAGE;
    EXPECT_EQ(record.at("image"), Json({{"source", std::string(c.image) == "file" ? image_ : "embedded"},
                                        {"size", FileBytes(file).size()},
                                        {"sha256", Sha256Sum(file)}}));
  }
  // Refused before any transfer.
  if (device != nullptr && c.code == 65) {
    EXPECT_EQ(device->counts().bulkTransfers, 0u);
    EXPECT_THAT(run.err, ::testing::Contains(image_ + ": SHA-256 " + Sha256Sum(image_)));
  }
}

INSTANTIATE_TEST_SUITE_P(Usb, UsbRecord, ::testing::ValuesIn(kRecordCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Interrupted midway, the run's record says so, with what had moved until then.
TEST_F(UsbRecordTest, AnInterruptedRunIsRecordedAsInterrupted) {
  ScriptedDevice& device = usb_.Add({.location = "1-2", .serial = "SN-7", .wireMicroseconds = 1000});
  RunningProgram program = Start({"--record", records_, "update"});
  ASSERT_TRUE(device.WaitForTransfers(200, kPatience));
  program.Signal(SIGINT);
  const ProgramRun run = program.Wait();
  EXPECT_EQ(run.code, 130);
  const std::vector<Json> records = Records();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].at("result"), "Interrupted");
  EXPECT_EQ(records[0].at("code"), 130);
  EXPECT_EQ(records[0].at("serial"), "SN-7");
  EXPECT_EQ(records[0].at("transfers"), MovedTransfers(device.TraceLines()));
  EXPECT_GT(records[0].at("bytes"), 0);
}

// Several devices at once, or one after another at a station: one record per device run, each naming
// its device and serial number as the device gives it.
TEST_F(UsbRecordTest, AllAndStationLeaveOneRecordPerDeviceRunNamingItsDevice) {
  const std::vector<std::string> locations = {"1-1", "1-2", "1-3.1", "2-1"};
  std::vector<ScriptedDevice*> devices;
  for (const std::string& location : locations)
    devices.push_back(&usb_.Add({.location = location, .serial = "S/" + location}));
  const ProgramRun all = Run({"--record", records_, "--all", "--jobs", "2", "exit-isp"});
  EXPECT_EQ(all.code, 0);
  using Named = std::pair<std::string, std::string>;  // device, serial
  std::set<Named> named;
  for (const Json& record : Records()) {
    named.emplace(record.at("device"), record.at("serial"));
    EXPECT_EQ(record.at("result"), "EXIT ISP Successfull !!");
  }
  EXPECT_EQ(named.size(), 4u);
  for (const std::string& location : locations) EXPECT_TRUE(named.contains({location, "S/" + location}));

  for (ScriptedDevice* device : devices) usb_.Remove(*device);
  std::filesystem::remove(records_);
  RunningProgram station = StartStation({"--record", records_, "--station", "--count", "3", "exit-isp"});
  for (const std::string location : {"3-1", "3-2", "3-3"})
    usb_.Add({.location = location, .serial = "ST-" + location});
  EXPECT_EQ(station.Wait().code, 0);
  named.clear();
  for (const Json& record : Records()) named.emplace(record.at("device"), record.at("serial"));
  EXPECT_THAT(named, ElementsAre(Named{"3-1", "ST-3-1"}, Named{"3-2", "ST-3-2"}, Named{"3-3", "ST-3-3"}));
  EXPECT_EQ(FileLines(records_).size(), 3u);
}

// Two programs, each running 100 devices on eight threads, append to one file at once: every record
// arrives whole, none mixed with another. (Each run ends at its log, which cannot be made, so the
// records come fast.)
TEST_F(UsbRecordTest, TwoProgramsAppendingAtOnceLoseAndMixNoRecord) {
  for (int bus = 1; bus <= 2; ++bus)
    for (int port = 1; port <= 50; ++port) usb_.Add(Device(std::to_string(bus) + "-" + std::to_string(port)));
  std::vector<RunningProgram> programs;
  for (const std::string name : {"a", "b"}) {
    std::filesystem::create_directory(temp_.Path(name));
    programs.push_back(usb_.Start(program_,
                                  {"--record", records_, "--operator", name, "--all", "--jobs", "8", "--log",
                                   temp_.Path("absent/field.log"), "exit-isp"},
                                  temp_.Path(name)));
  }
  for (RunningProgram& program : programs) EXPECT_EQ(program.Wait().code, 74);
  std::map<std::string, std::set<std::string>> devices;  // by operator
  for (const Json& record : Records()) {
    EXPECT_EQ(record.at("result"),
              "Can't write the log file " +
                  temp_.Path("absent/field." + record.at("device").get<std::string>() + ".log") + " !!");
    devices[record.at("operator")].insert(record.at("device"));
  }
  EXPECT_EQ(FileLines(records_).size(), 200u);
  EXPECT_EQ(devices["a"].size(), 100u);
  EXPECT_EQ(devices["b"].size(), 100u);
}

// A record that cannot be written is a line of its own naming the file; the device's outcome line
// is as before, and the exit code says 74 unless the run had failed already.
TEST_F(UsbRecordTest, ARecordThatCannotBeWrittenIsReportedAndIsExitCode74UnlessTheRunFailed) {
  usb_.Add(Small(Device("1-1")));
  const ProgramRun erased = Run({"--record", "/dev/full", "--chip", "ZB4420", "erase"});
  EXPECT_EQ(erased.code, 74);
  EXPECT_THAT(erased.err, ElementsAre("Can't write the record file /dev/full: No space left on device"));
  EXPECT_EQ(erased.out.back(), "Mass Erase Command Succeeded !");

  const ProgramRun refused =
      Run({"--record", "/dev/full", "--chip", "ZB4420", "verify", temp_.Path("absent.bin")});
  EXPECT_EQ(refused.code, 66);
  EXPECT_THAT(refused.err, ElementsAre("Can't write the record file /dev/full: No space left on device",
                                       "Open file error !!"));
}

// The embedded image's size and hash: --version tells them, and JSON progress gives the run's image
// first, before it looks for a device.
TEST_F(UsbRecordTest, VersionAndJsonProgressGiveTheImagesHash) {
  const std::string sha = Sha256Sum(HNX_FIRMWARE_IMAGE);
  const std::string size = std::to_string(FileBytes(HNX_FIRMWARE_IMAGE).size());
  const ProgramRun version = Run({"--version"});
  EXPECT_EQ(version.code, 0);
  EXPECT_THAT(version.out,
              ElementsAre("hnx-update " HNX_VERSION, "embedded image: " + size + " bytes, SHA-256 " + sha));

  for (const bool embedded : {true, false}) {
    const ProgramRun run = Run(embedded ? std::vector<std::string>{"--progress", "json", "--wait", "0",
                                                                   "--expect-sha256", sha, "update"}
                                        : std::vector<std::string>{"--progress", "json", "--wait", "0",
                                                                   "--chip", "ZB4420", "verify", image_});
    EXPECT_EQ(run.code, 69);
    ASSERT_FALSE(run.err.empty());
    EXPECT_EQ(Json::parse(run.err.front()),
              Json({{"image",
                     {{"source", embedded ? "embedded" : image_},
                      {"size", embedded ? std::stoul(size) : 0x4000u},
                      {"sha256", Sha256Sum(embedded ? HNX_FIRMWARE_IMAGE : image_)}}}}));
  }
}

}  // namespace
}  // namespace hnx::test
