// hnx-update --record against devices emulated on umockdev: the record file it leaves, line by line,
// beside the devices' traces, the program's lines and its exit code.
#include <unistd.h>

#include <map>
#include <set>

#include "usb_rig.h"

namespace hnx::test {
namespace {

constexpr char kFullSha[] = "0000000000000000000000000000000000000000000000000000000000000000";

std::string HostName() {
  char name[256] = {};
  gethostname(name, sizeof name - 1);
  return name;
}

// Whether a program has bound its stand-in for the uevent socket.
bool AnEventSocketIsBound() {
  for (const auto& entry : std::filesystem::directory_iterator(Testbed()))
    if (entry.path().filename().string().starts_with("event")) return true;
  return false;
}

class UsbRecordTest : public ProgramTest {
 protected:
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

  const std::vector<Json> records = JsonLines(records_);
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

// Two programs, each running 100 devices on eight threads, append to one file at once: every record
// arrives whole, none mixed with another. (Each run ends at its log, which cannot be made, so the
// records come fast.)
TEST_F(UsbRecordTest, TwoProgramsAppendingAtOnceLoseAndMixNoRecord) {
  for (int bus = 1; bus <= 2; ++bus)
    for (int port = 1; port <= 50; ++port) usb_.Add(Device(std::to_string(bus) + "-" + std::to_string(port)));
  std::vector<RunningProgram> programs;
  for (const std::string name : {"a", "b"}) {
    // umockdev unlinks and binds the stand-in for each program's uevent socket by its descriptor's
    // number: two programs doing that at the same moment can leave the second without a socket, and
    // libusb without a start. The second starts once the first has its own.
    if (name == "b") {
      ASSERT_TRUE(Eventually(AnEventSocketIsBound));
    }
    std::filesystem::create_directory(temp_.Path(name));
    programs.push_back(usb_.Start(program_,
                                  {"--record", records_, "--operator", name, "--all", "--jobs", "8", "--log",
                                   temp_.Path("absent/field.log"), "exit-isp"},
                                  temp_.Path(name)));
  }
  for (RunningProgram& program : programs) EXPECT_EQ(program.Wait().code, 74);
  std::map<std::string, std::set<std::string>> devices;  // by operator
  for (const Json& record : JsonLines(records_)) {
    EXPECT_EQ(record.at("result"),
              "Can't write the log file " +
                  temp_.Path("absent/field." + record.at("device").get<std::string>() + ".log") + " !!");
    devices[record.at("operator")].insert(record.at("device"));
  }
  EXPECT_EQ(FileLines(records_).size(), 200u);
  EXPECT_EQ(devices["a"].size(), 100u);
  EXPECT_EQ(devices["b"].size(), 100u);
}

// The embedded image's size and hash: --version tells them, and JSON progress gives the run's image
// first, before it looks for a device.
TEST_F(UsbRecordTest, VersionAndJsonProgressGiveTheImagesHash) {
  const std::string sha = Sha256Sum(HNX_FIRMWARE_IMAGE);
  const std::size_t size = FileBytes(HNX_FIRMWARE_IMAGE).size();
  const ProgramRun version = Run({"--version"});
  EXPECT_EQ(version.code, 0);
  EXPECT_THAT(version.out, ElementsAre("hnx-update " HNX_VERSION,
                                       "embedded image: " + std::to_string(size) + " bytes, SHA-256 " + sha));
  const ProgramRun run = Run({"--progress", "json", "--wait", "0", "--expect-sha256", sha, "update"});
  EXPECT_EQ(run.code, 69);
  ASSERT_FALSE(run.err.empty());
  EXPECT_EQ(Json::parse(run.err.front()),
            Json({{"image", {{"source", "embedded"}, {"size", size}, {"sha256", sha}}}}));
}

}  // namespace
}  // namespace hnx::test
