// hnx-update run as a script runs it: its exit code, its lines on standard output and standard
// error, the simulated device's flash and trace, and the files it leaves.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <thread>

#include "../usb/usb_rig.h"

namespace hnx::test {
namespace {

constexpr std::size_t kStateHeaderLength = 14;  // "HSIM", version, flash size, block length, protection

// Whether the process holds a signal that no thread has taken yet.
bool SignalPending(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);)
    if ((line.starts_with("ShdPnd:") || line.starts_with("SigPnd:")) &&
        line.find_first_not_of("0", line.find_first_not_of(" \t", 7)) != std::string::npos)
      return true;
  return false;
}

class CliTest : public ProgramTest {
 protected:
  // `text` with {image} (a whole image of pattern bytes), {short} (100 bytes), {temp} (the temporary
  // folder) and {lib} (the simulator library) put in.
  std::string Expand(std::string text) const {
    for (const auto& [token, value] : {std::pair{"{image}", image_},
                                       {"{short}", short_},
                                       {"{temp}", temp_.Path("")},
                                       {"{lib}", std::string(HNX_SIM_LIBRARY)}}) {
      for (std::size_t at; (at = text.find(token)) != std::string::npos;)
        text.replace(at, std::string(token).size(), value);
    }
    return text;
  }

  // Started as a shell starts a program (every signal at its default action, none blocked, $TMPDIR the
  // temporary folder), with the simulator's settings; its lines in "out" and "err" there.
  RunningProgram Start(std::vector<std::string> args, const std::string& faults = "") {
    for (std::string& arg : args) arg = Expand(arg);
    return usb_.Start(args.front(), {args.begin() + 1, args.end()}, temp_.Path(""),
                      {"HNX_SIM_STATE=" + state_, "HNX_SIM_TRACE=" + trace_, "HNX_SIM_FAULTS=" + faults});
  }

  // Runs the command line as a shell would split it.
  ProgramRun Run(const std::string& commandLine, const std::string& faults = "") {
    return Masked(Start({"/bin/sh", "-c", "exec '" HNX_CLI_PROGRAM "' " + commandLine}, faults).Wait());
  }

  // Waits until the device's trace holds `lines` lines.
  void AwaitTrace(std::size_t lines) const {
    while (TraceFile().size() < lines) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }

  std::vector<std::uint8_t> Flash() const {
    const std::vector<std::uint8_t> state = FileBytes(state_);
    return state.size() < kStateHeaderLength ? state
                                             : std::vector(state.begin() + kStateHeaderLength, state.end());
  }
  std::vector<std::string> TraceFile() const { return FileLines(trace_); }
  void ForgetTrace() const { std::filesystem::remove(trace_); }
  // The lines of the trace that are command frames: "write 10 10 1 <opcode> ...".
  std::vector<std::string> FrameOpcodes() const {
    std::vector<std::string> opcodes;
    for (const std::string& line : TraceFile())
      if (line.rfind("write 10 10 1 ", 0) == 0) opcodes.push_back(line.substr(14, 2));
    return opcodes;
  }

  std::string state_ = temp_.Path("device.state");
  std::string trace_ = temp_.Path("device.trace");
  std::vector<std::uint8_t> pattern_ = PatternImage(0x10000);
  std::string image_ = WriteFile("image.bin", pattern_);
  std::string short_ = WriteFile("short.bin", std::string(100, 0x11));
  std::string hex_ = WriteFile("first-byte.hex", std::string(":0100000000FF\n:00000001FF\n"));
  std::string badHex_ = WriteFile("bad.hex", std::string(":0100000000FF\n:0100010000FF\n:00000001FF\n"));
};

struct ExitCase {
  const char* name;
  const char* args;
  const char* faults;
  int code;
  std::vector<std::string> err;  // the final line last
};

// Each exit code, from a real run; a failure's lines are on standard error, the outcome last.
// clang-format off
const ExitCase kExitCases[] = {
    {"VerifyMismatch", "--library {lib} verify {image}", "", 1,
     {"first difference at 0x00000000: expected 0x01, read 0xFF", "65536 bytes moved in T s (R KiB/s)",
      "Verify Failure !!"}},
    {"BlankCheckFails", "--library {lib} erase", "stuck=0x1234:0xFE", 1,
     {"first difference at 0x00001234: expected 0xFF, read 0xFE", "4608 bytes moved in T s (R KiB/s)",
      "Mass Erase Failure !!"}},
    {"UnknownCommand", "--library {lib} frobnicate", "", 64,
     {"A subcommand is required", "Run with --help for more information."}},
    {"HashNotHex", "--library {lib} --expect-sha256 000000000000000000000000000000000000000000000000000000000000000g"
                   " erase", "", 64,
     {"--expect-sha256: a SHA-256 is 64 hexadecimal digits: "
      "000000000000000000000000000000000000000000000000000000000000000g",
      "Run with --help for more information."}},
    {"ShortImage", "--library {lib} write {short}", "", 65,
     {"{short}: the file holds 100 bytes; the chip needs 65536", "Program file read Failed !!"}},
    {"BadHexChecksum", "--library {lib} write {temp}/bad.hex", "", 65,
     {"{temp}/bad.hex:2: bad checksum", "Program file read Failed !!"}},
    {"UnknownChip", "--library {lib} --chip ZB9999 erase", "", 65, {"IC Type Error!!"}},
    {"NoChip", "--library {lib} --chip '' erase", "", 65, {"Please select the ic type!"}},
    {"MissingImage", "--library {lib} verify {temp}/absent.bin", "", 66, {"Open file error !!"}},
    {"ImageIsAFolder", "--library {lib} verify {temp}", "", 66, {"Open file error !!"}},
    {"LibraryNotLoadable", "--library {temp}/none.so erase", "", 69,
     {"Can't load the transfer library {temp}/none.so", "Can't find the device!"}},
    {"OpenTimesOut", "--library {lib} --wait 1 update", "open-fail=always", 69,
     {"Time Out !! Please check device and try again."}},
    {"BlockNotSent", "--library {lib} write {image}", "fail-transfer=2", 74, {"Flash Write Failure !!"}},
    {"LogNotCreated", "--library {lib} --log {temp}/absent/transfers.log erase", "", 74,
     {"Can't write the log file {temp}/absent/transfers.log !!"}},
    {"DumpNotCreated", "--library {lib} read {temp}/absent/flash.dmp", "", 74, {"Open file error !!"}},
};
// clang-format on

void PrintTo(const ExitCase& c, std::ostream* out) {
  *out << c.name;
}

class CliExitCode : public CliTest, public ::testing::WithParamInterface<ExitCase> {};

TEST_P(CliExitCode, EndsWithItsOutcomeOnStandardError) {
  const ExitCase& c = GetParam();
  const ProgramRun result = Run(c.args, c.faults);
  EXPECT_EQ(result.code, c.code);
  EXPECT_THAT(result.out, IsEmpty());
  std::vector<std::string> expected;
  for (const std::string& line : c.err) expected.push_back(Expand(line));
  EXPECT_EQ(result.err, expected);
  // Nothing reaches the device when the command line, the chip or the image is wrong.
  if (c.code >= 64 && c.code <= 66) {
    EXPECT_THAT(TraceFile(), IsEmpty());
  }
}

INSTANTIATE_TEST_SUITE_P(Cli, CliExitCode, ::testing::ValuesIn(kExitCases),
                         [](const auto& info) { return std::string(info.param.name); });

// A library that could not finish the command is refused before it reaches the device: no erase is
// sent that no program could follow.
TEST_F(CliTest, LibraryLackingAnEntryPointTheCommandNeedsIsRefusedBeforeAnyTransfer) {
  const std::vector<std::tuple<const char*, const char*, const char*>> cases = {
      {"no_read", "update", "USB_BulkRead"},          {"no_read", "erase", "USB_BulkRead"},
      {"no_read", "write {image}", "USB_BulkRead"},   {"no_read", "verify {image}", "USB_BulkRead"},
      {"no_write", "write {image}", "USB_BulkWrite"}, {"no_close", "protect", "USB_Close_PIPE"},
      {"no_open", "exit-isp", "USB_Open_PIPE"},
  };
  for (const auto& [lack, command, name] : cases) {
    SCOPED_TRACE(std::string(lack) + " " + command);
    ForgetTrace();
    const ProgramRun result = Run("--library " + SimLibraryLackingPath(lack) + " " + command);
    EXPECT_EQ(result.code, 69);
    EXPECT_THAT(result.err, ElementsAre("Can't load function " + std::string(name) + "!"));
    EXPECT_THAT(TraceFile(), IsEmpty());
  }
  // Exit ISP leaves the pipe open, so it does without USB_Close_PIPE.
  const ProgramRun exited = Run("--library " + SimLibraryLackingPath("no_close") + " exit-isp");
  EXPECT_EQ(exited.code, 69);
  EXPECT_THAT(exited.err, ElementsAre("Can't load function USB_Close_PIPE!", "EXIT ISP Successfull !!"));
  EXPECT_EQ(FrameOpcodes().back(), "20");
}

// A second interrupt, of any of the three kinds, does not wait for the block: the process ends as
// that signal ends it.
TEST_F(CliTest, ASecondInterruptEndsTheProcessAtOnce) {
  for (const auto& [first, second] : {std::pair{SIGINT, SIGINT}, {SIGINT, SIGTERM}, {SIGHUP, SIGINT}}) {
    SCOPED_TRACE(std::string(strsignal(first)) + ", then " + strsignal(second));
    ForgetTrace();
    RunningProgram program = Start({HNX_CLI_PROGRAM, "erase", "--library", "{lib}"}, "delay-us=300000");
    AwaitTrace(2);  // open, and the erase frame under way
    program.Signal(first);
    while (SignalPending(program.pid())) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    program.Signal(second);
    EXPECT_EQ(program.Wait().signal, second);
  }
}

// Started under nohup, the program keeps ignoring a hang-up and runs to its end.
TEST_F(CliTest, AHangUpIgnoredFromTheStartStaysIgnored) {
  RunningProgram program =
      Start({"/bin/sh", "-c", "trap '' HUP; exec '" HNX_CLI_PROGRAM "' --library " HNX_SIM_LIBRARY " erase"},
            "delay-us=300");
  AwaitTrace(2);  // open, and the erase frame under way
  program.Signal(SIGHUP);
  const ProgramRun run = program.Wait();
  EXPECT_EQ(run.code, 0);
  EXPECT_THAT(run.out, ::testing::Contains("Mass Erase Command Succeeded !"));
}

// Interrupted while it waits for the device, a command sends the device that turns up after it
// nothing: not its first frame, not even the opening.
TEST_F(CliTest, AnInterruptWhileWaitingForTheDeviceSendsItNothing) {
  for (const char* command : {"update", "exit-isp"}) {
    SCOPED_TRACE(command);
    ForgetTrace();
    RunningProgram program =
        Start({HNX_CLI_PROGRAM, "--library", "{lib}", "--wait", "5", command}, "open-fail=1");
    AwaitTrace(1);  // the first attempt, refused: the next one comes a second later
    program.Signal(SIGINT);
    const ProgramRun run = program.Wait();
    EXPECT_EQ(run.code, 130);
    EXPECT_THAT(run.err, ElementsAre("Interrupted"));
    EXPECT_THAT(TraceFile(), ElementsAre("open 0"));
  }
  ExpectNoStaging();
}

// A file larger than any chip's image could be, even as text, is refused before it is read: one of
// gigabytes once took the memory and aborted. One of exactly that size is a raw binary like any other,
// its first 64 KiB the image.
TEST_F(CliTest, AnImageFileBeyond64MiBIsRefusedAndOneOf64MiBIsRead) {
  const std::string huge = temp_.Path("huge.bin");
  const struct {
    off_t size;
    int code;
    std::vector<std::string> err;
  } cases[] = {
      {(off_t{64} << 20) + 1,
       65,
       {huge + ": larger than 64 MiB, more than any chip's image even as text",
        "Program file read Failed !!"}},
      {off_t{64} << 20, 0, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.size);
    ForgetTrace();
    const int file = open(huge.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_EQ(ftruncate(file, c.size), 0);  // sparse: no disk, no memory
    close(file);
    const ProgramRun result = Run("--library {lib} write " + huge);
    EXPECT_EQ(result.code, c.code);
    EXPECT_EQ(result.err, c.err);
    EXPECT_EQ(TraceFile().empty(), c.code != 0);
  }
  EXPECT_EQ(Flash(), std::vector<std::uint8_t>(0x10000, 0x00));
}

TEST_F(CliTest, WriteTakesIntelHexWithItsGapsErased) {
  const ProgramRun result = Run("--library {lib} write {temp}/first-byte.hex");
  EXPECT_EQ(result.code, 0);
  EXPECT_THAT(result.out,
              ElementsAre("65536 bytes programmed in T s (R KiB/s)", "Write Command Succeeded !"));
  std::vector<std::uint8_t> expected(0x10000, 0xFF);
  expected[0] = 0x00;
  EXPECT_EQ(Flash(), expected);
}

TEST_F(CliTest, UpdateProgramsTheEmbeddedImageLogsEveryTransferAndLeavesNoStaging) {
  const ProgramRun result = Run("--library {lib} --log {temp}/transfers.log update");
  EXPECT_EQ(result.code, 0);
  EXPECT_THAT(result.out, ElementsAre("65536 bytes programmed and verified in T s (R KiB/s)",
                                      "Auto Command Succeeded !!"));
  EXPECT_THAT(result.err, IsEmpty());
  EXPECT_EQ(Flash(), FileBytes(HNX_FIRMWARE_IMAGE));
  EXPECT_EQ(TraceFile().size(),
            1 + 2 + 3 * 1024 + 3 * 1024 + 3);  // open, erase, programs, reads, finish, exit, close
  EXPECT_EQ(FileLines(temp_.Path("transfers.log")), TraceFile());
  std::vector<std::string> left;
  for (const auto& entry : std::filesystem::directory_iterator(temp_.Path("")))
    left.push_back(entry.path().filename());
  std::sort(left.begin(), left.end());
  EXPECT_THAT(left, ElementsAre("bad.hex", "device.state", "device.trace", "err", "first-byte.hex",
                                "image.bin", "out", "short.bin", "transfers.log"));
}

TEST_F(CliTest, VerifyAndReadOnlyReadTheFlash) {
  ASSERT_EQ(Run("--library {lib} write {image}").code, 0);
  ForgetTrace();
  const ProgramRun verified = Run("--library {lib} verify {image}");
  EXPECT_EQ(verified.code, 0);
  EXPECT_THAT(verified.out,
              ElementsAre("65536 bytes verified in T s (R KiB/s)", "Verify Command Succeeded !!"));
  std::vector<std::string> reads(1024, "2A");
  reads.push_back("2F");
  EXPECT_EQ(FrameOpcodes(), reads);

  ForgetTrace();
  const ProgramRun read = Run("--library {lib} read {temp}/flash.dmp");
  EXPECT_EQ(read.code, 0);
  EXPECT_THAT(read.out, ElementsAre("Read Command Succeeded !!", "65536 bytes read in T s (R KiB/s)",
                                    "Download Completed !"));
  EXPECT_EQ(FrameOpcodes(), std::vector<std::string>(1024, "2A"));
  EXPECT_EQ(FileBytes(temp_.Path("flash.dmp")), pattern_);
}

TEST_F(CliTest, JsonProgressIsOneObjectPerLineEndingWithTheResult) {
  const ProgramRun result = Run("--library {lib} --progress json erase");
  EXPECT_EQ(result.code, 0);
  const std::regex progress(R"re(\{"phase":"(erase|program|read)","done":\d+,"total":\d+\})re");
  ASSERT_EQ(result.err.size(), 1 + 1025 + 1u);
  EXPECT_EQ(result.err.front(), R"({"phase":"erase","done":1,"total":1})");
  EXPECT_EQ(result.err[1], R"({"phase":"read","done":0,"total":65536})");
  EXPECT_EQ(result.err[1025], R"({"phase":"read","done":65536,"total":65536})");
  for (std::size_t i = 0; i + 1 < result.err.size(); ++i)
    EXPECT_TRUE(std::regex_match(result.err[i], progress)) << i;
  EXPECT_EQ(result.err.back(), R"({"result":"Mass Erase Command Succeeded !","code":0})");
  EXPECT_THAT(result.out, ElementsAre("65536 bytes erased and checked blank in T s (R KiB/s)",
                                      "Mass Erase Command Succeeded !"));
}

TEST_F(CliTest, BarRedrawsEachPhaseOnItsOwnLine) {
  const ProgramRun result = Run("--library {lib} --progress bar erase");
  EXPECT_EQ(result.code, 0);
  const std::string full = "] 100%";
  ASSERT_EQ(result.err.size(), 2u);
  EXPECT_EQ(result.err[0], "\rerase    [" + std::string(40, '#') + full);
  const std::string& read = result.err[1];
  const std::string first = "\rread     [" + std::string(40, '.') + "]   0%\r";
  const std::string last = "\rread     [" + std::string(40, '#') + full;
  EXPECT_EQ(read.substr(0, first.size()), first);
  EXPECT_EQ(read.substr(read.size() - last.size()), last);
  EXPECT_THAT(result.out, ElementsAre("65536 bytes erased and checked blank in T s (R KiB/s)",
                                      "Mass Erase Command Succeeded !"));
}

TEST_F(CliTest, HelpListsTheExitCodes) {
  const ProgramRun result = Run("--help");
  EXPECT_EQ(result.code, 0);
  EXPECT_THAT(result.out, ::testing::Contains("  74  a transfer with the device failed, the output file or a "
                                              "record could not be written, or the run"));
}

TEST_F(CliTest, QuietKeepsOnlyTheOutcome) {
  const ProgramRun result = Run("--library {lib} -q read {temp}/flash.dmp");
  EXPECT_EQ(result.code, 0);
  EXPECT_THAT(result.out, ElementsAre("Download Completed !"));
  EXPECT_THAT(result.err, IsEmpty());
}

TEST_F(CliTest, ListCountsTheDevice) {
  const ProgramRun result = Run("--library {lib} list");
  EXPECT_EQ(result.code, 0);
  EXPECT_THAT(result.out, ElementsAre("1 device attached", "ZB44xx Found !"));
}

}  // namespace
}  // namespace hnx::test
