// The handlers of the dialog's buttons. Each runs to its end, shows its outcome in message boxes
// and releases whatever it acquired.
#pragma once

#include "ops/operation_context.h"

namespace hnx {

void RunUpdate(OperationContext& context);               // "Update"
void MassEraseWithBlankCheck(OperationContext& context); // "Mass Erase"
void WriteImageFile(OperationContext& context);          // "Write"
void VerifyImageFile(OperationContext& context);         // "Verify"
void OpenImageFile(OperationContext& context);           // "Open File"
void ReadToDumpFile(OperationContext& context);          // "Read"
void ReadProtect(OperationContext& context);             // "Read Protect"
void ExitIsp(OperationContext& context);                 // "Exit ISP"
void Reconnect(OperationContext& context);               // "Re-connect"

// Deletes the staging file and its folder (the close request and command 8 run it too).
void RemoveStaging(const StagingPaths& staging);

}  // namespace hnx
