#include "link/transfer_library.h"

#include <gtest/gtest.h>

#include "link/isp_exchange.h"
#include "link/transfer_library_path.h"
#include "sim/in_process_library.h"
#include "support/recording_dialog.h"
#include "support/sim_library_setup.h"
#include "support/sim_trace_lines.h"

namespace hnx {
namespace {

const std::string kEraseFrame = "write 10 10 1 25 00 00 00 00 00 00 00 FF 00";

test::ShownMessage AppMessage(const char* text) {
  return {text, "", MessageIcon::None, true};
}

// Opens the pipe, sends a mass erase and reads its status, then unbinds: what reaches the device
// shows which entry points were called.
void EraseAndUnbind(TransferLibrary& link) {
  IspFrame frame;
  link.OpenPipe();
  MassErase(link, frame);
  link.Unload();
}

struct LackCase {
  const char* lack;  // suffix of the library built without the entry point
  const char* entryPoint;
  std::vector<test::ShownMessage> messages;
  std::vector<std::string> trace;
};

void PrintTo(const LackCase& c, std::ostream* os) {
  *os << c.lack;
}

const LackCase kLackCases[] = {
    {"no_open",
     kUsbOpenPipeName,
     {AppMessage("Can't load function USB_Open_PIPE!")},
     {"write 10 0 0 25 00 00 00 00 00 00 00 FF 00"}},
    {"no_close",
     kUsbClosePipeName,
     {AppMessage("Can't load function USB_Close_PIPE!")},
     {"open 1", kEraseFrame, "read 1 1 1 00"}},
    {"no_write", kUsbBulkWriteName, {AppMessage("Can't load function USB_BulkWrite!")}, {"open 1", "close"}},
    {"no_read",
     kUsbBulkReadName,
     {AppMessage("Can't load function USB_BulkRead!")},
     {"open 1", kEraseFrame, "close"}},
};

class LackingEntryPointTest : public testing::TestWithParam<LackCase> {
 protected:
  DialogState state;
  test::RecordingDialog ui{state};
};

TEST_P(LackingEntryPointTest, InProcessReportsItAndNeverCallsIt) {
  sim::SimDevice device;
  sim::InProcessLibrary library(device);
  library.Withhold(GetParam().entryPoint);
  const int strayCalls = sim::InProcessLibrary::CallsWhileUnloaded();
  {
    TransferLibrary link(library, "ZB_USB.DLL", ui);
    EXPECT_TRUE(link.loaded());
    EraseAndUnbind(link);
  }
  EXPECT_EQ(ui.messages, GetParam().messages);
  EXPECT_EQ(test::TraceLines(device), GetParam().trace);
  EXPECT_EQ(library.unloads(), 1);
  EXPECT_EQ(sim::InProcessLibrary::CallsWhileUnloaded(), strayCalls);
}

TEST_P(LackingEntryPointTest, BuiltLibraryReportsItAndNeverCallsIt) {
  test::SimScratchFolder folder;
  test::SimLibraryEnvironment environment({{"HNX_SIM_TRACE", folder.File("trace.txt")}});
  PlatformDynamicLibrary loader;
  TransferLibrary link(loader, test::SimLibraryLackingPath(GetParam().lack), ui);
  ASSERT_TRUE(link.loaded());
  EraseAndUnbind(link);
  EXPECT_EQ(ui.messages, GetParam().messages);
  EXPECT_EQ(test::TraceFileLines(folder.File("trace.txt")), GetParam().trace);
}

INSTANTIATE_TEST_SUITE_P(EachEntryPoint, LackingEntryPointTest, testing::ValuesIn(kLackCases),
                         [](const testing::TestParamInfo<LackCase>& info) {
                           return std::string(info.param.lack);
                         });

TEST(TransferLibraryTest, ReportsMissingEntryPointsInResolutionOrder) {
  sim::SimDevice device;
  sim::InProcessLibrary library(device);
  for (const char* name : {kUsbBulkReadName, kUsbOpenPipeName, kUsbBulkWriteName, kUsbClosePipeName})
    library.Withhold(name);
  DialogState state;
  test::RecordingDialog ui(state);
  TransferLibrary link(library, "ZB_USB.DLL", ui);
  const std::vector<test::ShownMessage> expected = {
      AppMessage("Can't load function USB_Open_PIPE!"), AppMessage("Can't load function USB_Close_PIPE!"),
      AppMessage("Can't load function USB_BulkWrite!"), AppMessage("Can't load function USB_BulkRead!")};
  EXPECT_EQ(ui.messages, expected);
  EXPECT_FALSE(link.canOpenPipe());
}

TEST(TransferLibraryTest, LibraryThatCannotBeLoadedIsReportedByNobody) {
  DialogState state;
  test::RecordingDialog ui(state);
  sim::SimDevice device;
  sim::InProcessLibrary refusing(device);
  refusing.RefuseLoad(true);
  PlatformDynamicLibrary loader;
  test::SimScratchFolder folder;
  for (DynamicLibrary* libraries :
       {static_cast<DynamicLibrary*>(&refusing), static_cast<DynamicLibrary*>(&loader)}) {
    TransferLibrary link(*libraries, folder.File("ZB_USB.DLL"), ui);
    EXPECT_FALSE(link.loaded());
    EXPECT_FALSE(link.canOpenPipe());
    EraseAndUnbind(link);
  }
  EXPECT_TRUE(ui.messages.empty());
  EXPECT_TRUE(device.trace().empty());
  EXPECT_EQ(refusing.unloads(), 0);
  EXPECT_EQ(refusing.lastPath(), folder.File("ZB_USB.DLL"));
}

class UnbindingTest : public testing::Test {
 protected:
  sim::SimDevice device;
  sim::InProcessLibrary library{device};
  DialogState state;
  test::RecordingDialog ui{state};
  const int strayCalls = sim::InProcessLibrary::CallsWhileUnloaded();
};

TEST_F(UnbindingTest, ClosesTheOpenPipeBeforeUnloadingOnce) {
  {
    TransferLibrary link(library, "ZB_USB.DLL", ui);
    ASSERT_TRUE(link.OpenPipe());
    link.Unload();
    EXPECT_FALSE(library.loaded());
    link.Unload();
  }
  // A close after the unload would not have reached the device.
  EXPECT_EQ(test::TraceLines(device), (std::vector<std::string>{"open 1", "close"}));
  EXPECT_EQ(library.unloads(), 1);
  EXPECT_EQ(sim::InProcessLibrary::CallsWhileUnloaded(), strayCalls);
}

TEST_F(UnbindingTest, ExitIspUnloadLeavesThePipeOpen) {
  {
    TransferLibrary link(library, "ZB_USB.DLL", ui);
    ASSERT_TRUE(link.OpenPipe());
    link.UnloadKeepingPipeOpen();
    EXPECT_FALSE(link.pipeOpen());
  }
  EXPECT_EQ(test::TraceLines(device), (std::vector<std::string>{"open 1"}));
  EXPECT_TRUE(device.pipeOpen());
  EXPECT_EQ(library.unloads(), 1);
}

struct BesideCase {
  std::string modulePath;
  std::string libraryPath;
};

void PrintTo(const BesideCase& c, std::ostream* os) {
  *os << '"' << c.modulePath << '"';
}

class LibraryPathTest : public testing::TestWithParam<BesideCase> {};

TEST_P(LibraryPathTest, IsTheProgramsOwnFolderOrNothing) {
  EXPECT_EQ(TransferLibraryPathBeside(GetParam().modulePath), GetParam().libraryPath);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, LibraryPathTest,
    testing::Values(BesideCase{"C:\\Tools\\ZB4450_download.exe", "C:\\Tools\\ZB_USB.DLL"},
                    BesideCase{"C:/Tools\\sub/ZB4450_download.exe", "C:/Tools\\sub/ZB_USB.DLL"},
                    BesideCase{"/opt/hnx/unit_tests", "/opt/hnx/ZB_USB.DLL"},
                    BesideCase{"ZB4450_download.exe", ""}, BesideCase{"", ""}));

}  // namespace
}  // namespace hnx
