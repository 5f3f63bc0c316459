// The binding against the built simulator libraries, each lacking one entry point, and against one
// that is not there: what reaches the device shows which entry points were called. How the operations
// bind and release the in-process simulator is checked with them.
#include "link/transfer_library.h"

#include <gtest/gtest.h>

#include "link/isp.h"
#include "sim/library_device.h"
#include "support/rig.h"

namespace hnx {
namespace {

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
