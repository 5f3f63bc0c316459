// The binding against the built simulator libraries, each lacking one entry point, and against the
// simulator in this process: what reaches the device shows which entry points were called.
#include "link/transfer_library.h"

#include <gtest/gtest.h>

#include "link/isp.h"
#include "sim/in_process_library.h"
#include "support/rig.h"

namespace hnx {
namespace {

const std::string kEraseFrame = "write 10 10 1 25 00 00 00 00 00 00 00 FF 00";

// Opens the pipe, sends a mass erase and reads its status, then unbinds.
void EraseAndUnbind(TransferLibrary& link) {
  IspFrame frame;
  link.OpenPipe();
  MassErase(link, frame);
  link.Unload();
}

struct LackCase {
  const char* lack;  // suffix of the library built without the entry point
  const char* entryPoint;
  std::vector<std::string> trace;
};

TEST(TransferLibrary, ABuiltLibraryLackingAnEntryPointNamesItAndNeverCallsIt) {
  const LackCase cases[] = {
      {"no_open", kUsbOpenPipeName, {"write 10 0 0 25 00 00 00 00 00 00 00 FF 00"}},
      {"no_close", kUsbClosePipeName, {"open 1", kEraseFrame, "read 1 1 1 00"}},
      {"no_write", kUsbBulkWriteName, {"open 1", "close"}},
      {"no_read", kUsbBulkReadName, {"open 1", kEraseFrame, "close"}},
  };
  for (const LackCase& c : cases) {
    SCOPED_TRACE(c.lack);
    test::TempFolder folder;
    test::SimLibraryEnvironment environment({{"HNX_SIM_TRACE", folder.Path("trace.txt")}});
    PlatformDynamicLibrary loader;
    TransferLibrary link(loader, test::SimLibraryLackingPath(c.lack));
    ASSERT_TRUE(link.loaded());
    EXPECT_EQ(link.missingEntryPoints(), std::vector<std::string>{c.entryPoint});
    EraseAndUnbind(link);
    EXPECT_EQ(test::FileLines(folder.Path("trace.txt")), c.trace);
  }
}

TEST(TransferLibrary, NamesTheMissingEntryPointsInResolutionOrder) {
  sim::SimDevice device;
  sim::InProcessLibrary library(device);
  for (const char* name : {kUsbBulkReadName, kUsbOpenPipeName, kUsbBulkWriteName, kUsbClosePipeName})
    library.Withhold(name);
  TransferLibrary link(library, "ZB_USB.DLL");
  const std::vector<std::string> expected = {kUsbOpenPipeName, kUsbClosePipeName, kUsbBulkWriteName,
                                             kUsbBulkReadName};
  EXPECT_EQ(link.missingEntryPoints(), expected);
  EXPECT_FALSE(link.canOpenPipe());
}

TEST(TransferLibrary, ALibraryThatCannotBeLoadedLacksNothingAndIsNeverCalled) {
  sim::SimDevice device;
  sim::InProcessLibrary refusing(device);
  refusing.RefuseLoad(true);
  PlatformDynamicLibrary loader;
  test::TempFolder folder;
  for (DynamicLibrary* libraries :
       {static_cast<DynamicLibrary*>(&refusing), static_cast<DynamicLibrary*>(&loader)}) {
    TransferLibrary link(*libraries, folder.Path("ZB_USB.DLL"));
    EXPECT_FALSE(link.loaded());
    EXPECT_TRUE(link.missingEntryPoints().empty());
    EraseAndUnbind(link);
  }
  EXPECT_TRUE(device.trace().empty());
  EXPECT_EQ(refusing.unloads(), 0);
  EXPECT_EQ(refusing.lastPath(), folder.Path("ZB_USB.DLL"));
}

TEST(TransferLibrary, UnloadClosesTheOpenPipeFirstAndOnlyOnceAndExitIspLeavesItOpen) {
  const int strayCalls = sim::InProcessLibrary::CallsWhileUnloaded();
  for (bool keepOpen : {false, true}) {
    sim::SimDevice device;
    sim::InProcessLibrary library(device);
    {
      TransferLibrary link(library, "ZB_USB.DLL");
      ASSERT_TRUE(link.OpenPipe());
      keepOpen ? link.UnloadKeepingPipeOpen() : link.Unload();
      EXPECT_FALSE(library.loaded());
      EXPECT_FALSE(link.pipeOpen());
      link.Unload();
    }
    // A close after the unload would not have reached the device.
    const std::vector<std::string> expected =
        keepOpen ? std::vector<std::string>{"open 1"} : std::vector<std::string>{"open 1", "close"};
    EXPECT_EQ(test::TraceLines(device), expected);
    EXPECT_EQ(device.pipeOpen(), keepOpen);
    EXPECT_EQ(library.unloads(), 1);
  }
  EXPECT_EQ(sim::InProcessLibrary::CallsWhileUnloaded(), strayCalls);
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
