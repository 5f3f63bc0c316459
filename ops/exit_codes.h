// What the outcome of a run means to a script: the exit code of hnx-update, which a production
// record of any front end carries too.
#pragma once

#include <string>

namespace hnx {

enum ExitCode : int {
  kSuccess = 0,
  kContentDiffers = 1,
  kUsage = 64,
  kBadImageData = 65,
  kNoImageFile = 66,
  kNoDevice = 69,
  kSoftware = 70,
  kOsError = 71,  // the system would not give what a run needs, a thread of its own
  kTransferFailed = 74,
  kOutputLost = 74,  // the run succeeded, but not every line of it could be written
  kStopped = 130,  // interrupted; as a shell reports a program ended by SIGINT
};

// The exit code of the box an operation ended with; kSoftware for a text that is no outcome.
int ExitCodeOfOutcome(const std::string& outcome);

}  // namespace hnx
