// The link layer: the ISP frames and exchanges on the wire, as the simulated device traces them, and
// the binding of the built simulator libraries, each lacking one entry point, and of one that is not
// there (how the operations bind and release the in-process simulator is checked with them).
#include <gtest/gtest.h>

#include <numeric>

#include "link/isp.h"
#include "link/transfer_library.h"
#include "sim/library_device.h"
#include "support/rig.h"

namespace hnx {
namespace {

TEST(IspFrame, EncodesOpcodeBigEndianAddressAndTrailer) {
  using Bytes = std::array<std::uint8_t, kFrameLength>;
  const std::tuple<IspOpcode, std::uint32_t, Bytes> cases[] = {
      {OpMassErase, 0, {0x25, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0}},
      {OpProgramBlock, 0x12345678, {0x28, 0, 0, 0x12, 0x34, 0x56, 0x78, 0, 0x40, 0}},
      {OpReadBlock, 0xFFC0, {0x2A, 0, 0, 0, 0, 0xFF, 0xC0, 0, 0x40, 0}},
      {OpFinish, 0, {0x2F, 0, 0, 0, 0, 0, 0, 0, 0x40, 0}},
      {OpReadProtect, 0, {0x2C, 0, 0, 0, 0, 0, 0, 0, 0x40, 0}},
      {OpExitIsp, 0, {0x20, 0, 0, 0, 0, 0, 0, 0, 0x40, 0}},
  };
  IspFrame frame;  // each encoding overwrites the one before it
  frame.Encode(OpReadBlock, 0xFFFFFFFF);
  for (const auto& [opcode, address, bytes] : cases) {
    frame.Encode(opcode, address);
    EXPECT_EQ(frame.bytes, bytes);
  }
}

using Exchanger = std::function<Exchange(TransferLibrary&, IspFrame&, std::vector<std::uint8_t>&)>;

// What each exchange puts on the wire through the real binding code, a refused read asked again and an
// erase status that says nothing; each transfer failing or coming short is swept in fault_sweep_test.cpp.
TEST(IspExchange, PutsExactlyThisOnTheWire) {
  sim::SimDevice device;
  sim::InProcessLibrary library{device};
  TransferLibrary link{library, "ZB_USB.DLL"};
  IspFrame frame;
  std::vector<std::uint8_t> block(64);
  std::iota(block.begin(), block.end(), std::uint8_t{0x80});
  const Exchanger finish = [](auto& link, auto& frame, auto&) { return SendCommand(link, frame, OpFinish); };
  const Exchanger erase = [](auto& link, auto& frame, auto&) { return MassErase(link, frame); };
  const Exchanger programLast = [](auto& link, auto& frame, auto& block) {
    return ProgramBlock(link, frame, 0xFFC0, block);
  };
  const Exchanger readSecond = [](auto& link, auto& frame, auto& block) {
    return ReadBlock(link, frame, 0x40, block);
  };
  const std::string sent = "write 10 10 1 ", readFrame = "write 10 10 1 2A 00 00 00 00 00 40 00 40 00";
  struct Case {
    const char* faults;
    Exchanger run;
    std::vector<std::string> trace;
  };
  // clang-format off
  const Case cases[] = {
      {"", finish, {sent + "2F 00 00 00 00 00 00 00 40 00"}},
      {"erase-status=5", erase, {sent + "25 00 00 00 00 00 00 00 FF 00", "read 1 1 1 05"}},
      {"", programLast, {sent + "28 00 00 00 00 FF C0 00 40 00", "write 64 64 1", "read 1 1 1 00"}},
      {"", readSecond, {readFrame, "read 64 64 1", "read 1 1 1 00"}},
      {"refuse-read=0x40:1", readSecond,
         {readFrame, "read 64 64 1", "read 1 1 1 01", readFrame, "read 64 64 1", "read 1 1 1 00"}},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.faults) + " " + c.trace.front());
    device.faults() = *sim::FaultPlan::Parse(c.faults);
    ASSERT_TRUE(link.OpenPipe());
    device.ClearTrace();
    EXPECT_EQ(c.run(link, frame, block), Exchange::Ok);
    EXPECT_EQ(test::TraceLines(device), c.trace);
  }
}

const std::string kEraseFrame = "write 10 10 1 25 00 00 00 00 00 00 00 FF 00";

struct LackCase {
  const char* lack;        // suffix of the library built without the entry point
  const char* entryPoint;  // nullptr: no such library, so nothing is loaded or called
  std::vector<std::string> trace;
};

TEST(TransferLibrary, ABuiltLibraryLackingAnEntryPointNamesItAndNeverCallsIt) {
  const LackCase cases[] = {
      {"no_open", kUsbOpenPipeName, {"write 10 0 0 25 00 00 00 00 00 00 00 FF 00"}},
      {"no_close", kUsbClosePipeName, {"open 1", kEraseFrame, "read 1 1 1 00"}},
      {"no_write", kUsbBulkWriteName, {"open 1", "close"}},
      {"no_read", kUsbBulkReadName, {"open 1", kEraseFrame, "close"}},
      {"no_library", nullptr, {}},
  };
  for (const LackCase& c : cases) {
    SCOPED_TRACE(c.lack);
    test::TempFolder folder;
    test::SetVariable(sim::kTraceFileVariable, folder.Path("trace.txt"));
    PlatformDynamicLibrary loader;
    TransferLibrary link(loader, test::SimLibraryLackingPath(c.lack));
    EXPECT_EQ(link.loaded(), c.entryPoint != nullptr);
    EXPECT_EQ(link.missingEntryPoints(),
              c.entryPoint ? std::vector<std::string>{c.entryPoint} : std::vector<std::string>{});
    // Opens the pipe, sends a mass erase and reads its status, then unbinds, closing the pipe.
    IspFrame frame;
    link.OpenPipe();
    MassErase(link, frame);
    link.Unload();
    EXPECT_EQ(test::FileLines(folder.Path("trace.txt")), c.trace);
  }
  test::SetVariable(sim::kTraceFileVariable, "");
}

TEST(TransferLibrary, IsLookedForInTheProgramsOwnFolderOnly) {
  const std::pair<std::string, std::string> cases[] = {
      {"C:\\Tools\\ZB4450_download.exe", "C:\\Tools\\ZB_USB.DLL"},
      {"C:/Tools\\sub/ZB4450_download.exe", "C:/Tools\\sub/ZB_USB.DLL"},
      {"/opt/hnx/unit_tests", "/opt/hnx/ZB_USB.DLL"},
      {"ZB4450_download.exe", ""},
      {"", ""},
  };
  for (const auto& [program, library] : cases)
    EXPECT_EQ(TransferLibraryPathBeside(program), library) << program;
}

}  // namespace
}  // namespace hnx
