// Which transfer library the program binds, and what it says when one lacks an entry point.
#include <windows.h>

#include "paths.h"
#include "program_test.h"
#include "res/resource.h"

namespace hnx::e2e {
namespace {

class TransferLibrary : public ProgramTest {};

TEST_F(TransferLibrary, OneInTheWorkingFolderOnlyIsNotLoaded) {
  ::hnx::e2e::Layout layout;
  layout.libraryInWorkingFolder = Outputs().simulator;
  Launch(layout);
  program().Command(IDC_READ_PROTECT);
  ExpectMessages({Plain("Can't find the device!")});
  ExpectNoFurtherMessage();
  EXPECT_FALSE(FileExists(program().tracePath())) << "the library in the working folder was loaded";
}

TEST_F(TransferLibrary, AMissingEntryPointIsReportedUnderTheApplicationTitle) {
  ::hnx::e2e::Layout layout;
  layout.libraryBesideProgram = Outputs().missingLibrary;
  Launch(layout);
  program().Command(IDC_READ_PROTECT);
  ExpectMessages({{"Can't load function USB_BulkRead!", "ZB4450_download", Icon::Exclamation},
                  Info("Read Protect Command Succeeded !")});
  ExpectNoFurtherMessage();
}

}  // namespace
}  // namespace hnx::e2e
