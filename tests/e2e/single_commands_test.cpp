// Read Protect, Exit ISP and Re-connect: single commands without the operation guard.
#include <windows.h>

#include "program_test.h"
#include "res/resource.h"
#include "windows_probe.h"

namespace hnx::e2e {
namespace {

class SingleCommands : public ProgramTest {};

TEST_F(SingleCommands, ReadProtectSendsItsFrameAndClosesThePipe) {
  Launch();
  program().Command(IDC_READ_PROTECT);
  ExpectMessages({Info("Read Protect Command Succeeded !")});
  ExpectNoFurtherMessage();
  EXPECT_EQ(program().Trace(), "open 1\nwrite 10 10 1 2C 00 00 00 00 00 00 00 40 00\nclose\n");
}

TEST_F(SingleCommands, ExitIspLeavesThePipeOpenAndEnablesReconnect) {
  Launch();
  EnableWindow(Control(IDC_RECONNECT), FALSE);
  program().Command(IDC_EXIT_ISP);
  ExpectMessages({Info("EXIT ISP Successfull !!")});
  ASSERT_TRUE(WaitUntil([this] { return IsWindowEnabled(Control(IDC_RECONNECT)) != FALSE; }, 5000));
  ExpectNoFurtherMessage();
  EXPECT_EQ(program().Trace(), "open 1\nwrite 10 10 1 20 00 00 00 00 00 00 00 40 00\n");
}

TEST_F(SingleCommands, ExitIspWithoutDeviceLeavesReconnectAsItWas) {
  ::hnx::e2e::Layout layout = ProgramSession::SimulatorLayout();
  layout.environment["HNX_SIM_FAULTS"] = "open-fail=always";
  Launch(layout);
  EnableWindow(Control(IDC_RECONNECT), FALSE);
  program().Command(IDC_EXIT_ISP);
  ExpectMessages({Plain("Can't find the device!")});
  EXPECT_FALSE(IsWindowEnabled(Control(IDC_RECONNECT)));
  EXPECT_EQ(program().Trace(), "open 0\n");
}

TEST_F(SingleCommands, ReconnectFindsNoDeviceWithoutUsbHostControllers) {
  Launch();
  program().Command(IDC_RECONNECT);
  ExpectMessages({Error("Device not found !!")});
  ExpectNoFurtherMessage();
  EXPECT_EQ(program().Trace(), "") << "Re-connect used the transfer library";
}

}  // namespace
}  // namespace hnx::e2e
