// Read Protect and Exit ISP: one command frame each, no reply, no guard, no chip lookup.
#include "ops/messages.h"
#include "ops/operations.h"
#include "res/resource.h"

namespace hnx {

void ReadProtect(OperationContext& context) {
  TransferLibrary link(context.libraries, context.transferLibraryPath, context.ui);
  if (link.OpenPipe()) {
    IspFrame frame;
    const bool sent = SendCommand(link, frame, OpReadProtect) == Exchange::Ok;
    Show(context.ui, sent ? kReadProtectSucceeded : kReadProtectFailure);
  } else {
    Show(context.ui, kDeviceNotFound);
  }
  link.ClosePipe();
  link.Unload();
}

void ExitIsp(OperationContext& context) {
  TransferLibrary link(context.libraries, context.transferLibraryPath, context.ui);
  if (!link.OpenPipe()) {
    Show(context.ui, kDeviceNotFound);
  } else if (IspFrame frame; SendCommand(link, frame, OpExitIsp) == Exchange::Ok) {
    Show(context.ui, kExitIspSucceeded);
    context.ui.EnableControl(IDC_RECONNECT, true);
  } else {
    Show(context.ui, kFlashWriteFailure);
  }
  // The device has been told to leave ISP mode: the pipe is not closed.
  link.UnloadKeepingPipeOpen();
}

}  // namespace hnx
