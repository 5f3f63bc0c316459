// hnx-update run as a script runs it: its exit code, its lines on standard output and standard
// error, the simulated device's flash and trace, and the files it leaves.
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "../usb/usb_rig.h"

namespace hnx::test {
namespace {

// Whether the process holds a signal that no thread has taken yet.
bool SignalPending(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);)
    if ((line.starts_with("ShdPnd:") || line.starts_with("SigPnd:")) &&
        line.find_first_not_of("0", line.find_first_not_of(" \t", 7)) != std::string::npos)
      return true;
  return false;
}

// The opcodes of the command frames in a trace, a run of one opcode as "2A*1024".
std::string FrameRuns(const std::vector<std::string>& trace) {
  const std::vector<std::string> opcodes = FrameOpcodes(trace);
  std::string runs;
  for (std::size_t at = 0, length; at < opcodes.size(); at += length) {
    for (length = 1; at + length < opcodes.size() && opcodes[at + length] == opcodes[at];) ++length;
    runs += (at == 0 ? "" : " ") + opcodes[at] + (length > 1 ? "*" + std::to_string(length) : "");
  }
  return runs;
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

  std::vector<std::string> TraceFile() const { return FileLines(trace_); }
  void ForgetTrace() const { std::filesystem::remove(trace_); }

  std::string state_ = temp_.Path("device.state");
  std::string trace_ = temp_.Path("device.trace");
  std::string image_ = WriteFile("image.bin", PatternImage(0x10000));
  std::string short_ = WriteFile("short.bin", std::string(100, 0x11));
};

// One command line: its exit code, its lines (a failure's on standard error, the outcome last) and the
// command frames that reached the device.
struct RunCase {
  const char* name;
  const char* args;
  const char* faults;
  int code;
  std::vector<std::string> out, err;
  const char* frames;
};

// clang-format off
const RunCase kRunCases[] = {
    {"Read", "--library {lib} read {temp}/flash.dmp", "", 0,
     {"Read Command Succeeded !!", "65536 bytes read in T s (R KiB/s)", "Download Completed !"}, {}, "2A*1024"},
    {"QuietKeepsOnlyTheOutcome", "--library {lib} -q read {temp}/flash.dmp", "", 0, {"Download Completed !"}, {},
     "2A*1024"},
    {"VerifyOnlyReads", "--library {lib} verify {temp}/blank.bin", "", 0,
     {"65536 bytes verified in T s (R KiB/s)", "Verify Command Succeeded !!"}, {}, "2A*1024 2F"},
    {"ListCountsTheDevice", "--library {lib} list", "", 0, {"1 device attached", "ZB44xx Found !"}, {}, ""},
    {"ImageOf64MiBIsARawBinary", "--library {lib} write {temp}/64MiB.bin", "", 0,
     {"65536 bytes programmed in T s (R KiB/s)", "Write Command Succeeded !"}, {}, "28*1024"},
    {"VerifyMismatchOfIntelHexWithItsGapsErased", "--library {lib} verify {temp}/second-byte.hex", "", 1, {},
     {"first difference at 0x00000001: expected 0x00, read 0xFF", "65536 bytes moved in T s (R KiB/s)",
      "Verify Failure !!"}, "2A*1024"},
    {"BlankCheckFails", "--library {lib} erase", "stuck=0x1234:0xFE", 1, {},
     {"first difference at 0x00001234: expected 0xFF, read 0xFE", "4608 bytes moved in T s (R KiB/s)",
      "Mass Erase Failure !!"}, "25 2A*73"},
    // Started with standard input closed, the program's first file takes descriptor 0.
    {"UpdateWithoutStandardInput", "--library {lib} -q update 0<&-", "", 0, {"Auto Command Succeeded !!"}, {},
     "25 28*1024 2A*1024 2F 20"},
    {"ReadWithoutStandardInput", "--library {lib} -q read {temp}/flash.dmp 0<&-", "", 0, {"Download Completed !"},
     {}, "2A*1024"},
    {"RecordWithoutStandardInput", "--library {lib} --record {temp}/runs.jsonl --chip ZB9999 erase 0<&-", "", 65,
     {}, {"IC Type Error!!"}, ""},
    {"UnknownCommand", "--library {lib} frobnicate", "", 64, {},
     {"A subcommand is required", "Run with --help for more information."}, ""},
    {"TwoCommands", "--library {lib} erase list", "", 64, {},
     {"The following argument was not expected: list", "Run with --help for more information."}, ""},
    {"HashNotHex", "--library {lib} --expect-sha256 000000000000000000000000000000000000000000000000000000000000000g"
                   " erase", "", 64, {},
     {"--expect-sha256: a SHA-256 is 64 hexadecimal digits: "
      "000000000000000000000000000000000000000000000000000000000000000g",
      "Run with --help for more information."}, ""},
    {"ShortImage", "--library {lib} write {short}", "", 65, {},
     {"{short}: the file holds 100 bytes; the chip needs 65536", "Program file read Failed !!"}, ""},
    {"BadHexChecksum", "--library {lib} write {temp}/bad.hex", "", 65, {},
     {"{temp}/bad.hex:2: bad checksum", "Program file read Failed !!"}, ""},
    // One of gigabytes once took the memory and aborted: one that large is refused before it is read.
    {"ImageBeyond64MiB", "--library {lib} write {temp}/over64MiB.bin", "", 65, {},
     {"{temp}/over64MiB.bin: larger than 64 MiB, more than any chip's image even as text",
      "Program file read Failed !!"}, ""},
    {"UnknownChip", "--library {lib} --chip ZB9999 erase", "", 65, {}, {"IC Type Error!!"}, ""},
    {"NoChip", "--library {lib} --chip '' erase", "", 65, {}, {"Please select the ic type!"}, ""},
    {"MissingImage", "--library {lib} verify {temp}/absent.bin", "", 66, {}, {"Open file error !!"}, ""},
    {"ImageIsAFolder", "--library {lib} verify {temp}", "", 66, {}, {"Open file error !!"}, ""},
    {"LibraryNotLoadable", "--library {temp}/none.so erase", "", 69, {},
     {"Can't load the transfer library {temp}/none.so", "Can't find the device!"}, ""},
    {"OpenTimesOut", "--library {lib} --wait 1 update", "open-fail=always", 69, {},
     {"Time Out !! Please check device and try again."}, ""},
    {"BlockNotSent", "--library {lib} write {image}", "fail-transfer=2", 74, {}, {"Flash Write Failure !!"}, "28"},
    {"LogNotCreated", "--library {lib} --log {temp}/absent/transfers.log erase", "", 74, {},
     {"Can't write the log file {temp}/absent/transfers.log !!"}, ""},
    {"DumpNotCreated", "--library {lib} read {temp}/absent/flash.dmp", "", 74, {}, {"Open file error !!"}, ""},
};
// clang-format on

void PrintTo(const RunCase& c, std::ostream* out) {
  *out << c.name;
}

class CliRun : public CliTest, public ::testing::WithParamInterface<RunCase> {
 protected:
  std::vector<std::string> Expanded(std::vector<std::string> lines) const {
    for (std::string& line : lines) line = Expand(line);
    return lines;
  }

  std::string SparseFile(const std::string& name, std::uintmax_t size) {  // no disk, no memory
    const std::string path = WriteFile(name, std::string());
    std::filesystem::resize_file(path, size);
    return path;
  }

  std::string blank_ = WriteFile("blank.bin", std::string(0x10000, '\xFF'));
  std::string hex_ = WriteFile("second-byte.hex", std::string(":0100010000FE\n:00000001FF\n"));
  std::string badHex_ = WriteFile("bad.hex", std::string(":0100000000FF\n:0100010000FF\n:00000001FF\n"));
  std::string largest_ = SparseFile("64MiB.bin", 64 << 20),
              larger_ = SparseFile("over64MiB.bin", (64 << 20) + 1);
};

TEST_P(CliRun, EndsWithItsOutcomeAfterItsFrames) {
  const RunCase& c = GetParam();
  const ProgramRun result = Run(c.args, c.faults);
  EXPECT_EQ(result.code, c.code);
  EXPECT_EQ(result.out, Expanded(c.out));
  EXPECT_EQ(result.err, Expanded(c.err));
  EXPECT_EQ(FrameRuns(TraceFile()), c.frames);
  // Nothing reaches the device when the command line, the chip or the image is wrong.
  if (c.code >= 64 && c.code <= 66) {
    EXPECT_THAT(TraceFile(), IsEmpty());
  }
}

INSTANTIATE_TEST_SUITE_P(Cli, CliRun, ::testing::ValuesIn(kRunCases),
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
  EXPECT_EQ(FrameOpcodes(TraceFile()).back(), "20");
}

// A second interrupt, of any of the three kinds, does not wait for the block: the process ends as
// that signal ends it.
TEST_F(CliTest, ASecondInterruptEndsTheProcessAtOnce) {
  for (const auto& [first, second] : {std::pair{SIGINT, SIGINT}, {SIGINT, SIGTERM}, {SIGHUP, SIGINT}}) {
    SCOPED_TRACE(std::string(strsignal(first)) + ", then " + strsignal(second));
    ForgetTrace();
    RunningProgram program = Start({HNX_CLI_PROGRAM, "erase", "--library", "{lib}"}, "delay-us=300000");
    ASSERT_TRUE(WaitForLines(trace_, 2));  // open, and the erase frame under way
    program.Signal(first);
    ASSERT_TRUE(Eventually([&] { return !SignalPending(program.pid()); }));
    program.Signal(second);
    EXPECT_EQ(program.Wait().signal, second);
  }
}

// A run of well under a second still tells the rate it moved the flash at.
TEST_F(CliTest, AShortRunTellsItsRate) {
  const ProgramRun run = Start({HNX_CLI_PROGRAM, "--library", "{lib}", "erase"}).Wait();
  ASSERT_EQ(run.code, 0);
  EXPECT_THAT(run.out.front(), ::testing::Not(::testing::EndsWith("(0.0 KiB/s)")));
}

// Started under nohup, the program keeps ignoring a hang-up and runs to its end.
TEST_F(CliTest, AHangUpIgnoredFromTheStartStaysIgnored) {
  RunningProgram program =
      Start({"/bin/sh", "-c", "trap '' HUP; exec '" HNX_CLI_PROGRAM "' --library " HNX_SIM_LIBRARY " erase"},
            "delay-us=300");
  ASSERT_TRUE(WaitForLines(trace_, 2));  // open, and the erase frame under way
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
    ASSERT_TRUE(WaitForLines(trace_, 1));  // the first attempt, refused: the next one comes a second later
    program.Signal(SIGINT);
    const ProgramRun run = program.Wait();
    EXPECT_EQ(run.code, 130);
    EXPECT_THAT(run.err, ElementsAre("Interrupted"));
    EXPECT_THAT(TraceFile(), ElementsAre("open 0"));
  }
  ExpectNoStaging();
}

TEST_F(CliTest, JsonProgressIsOneObjectPerLineEndingWithTheResult) {
  const ProgramRun result = Run("--library {lib} --progress json erase");
  EXPECT_EQ(result.code, 0);
  std::vector<std::string> progress = {R"({"phase":"erase","done":1,"total":1})"};
  for (int done = 0; done <= 0x10000; done += 64)
    progress.push_back(R"({"phase":"read","done":)" + std::to_string(done) + R"(,"total":65536})");
  progress.push_back(R"({"result":"Mass Erase Command Succeeded !","code":0})");
  EXPECT_EQ(result.err, progress);
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

}  // namespace
}  // namespace hnx::test
