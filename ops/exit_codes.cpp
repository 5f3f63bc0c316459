#include "ops/exit_codes.h"

#include <array>

#include "ops/messages.h"

namespace hnx {
namespace {

struct OutcomeCode {
  const Message* outcome;
  int code;
};

// Every box an operation ends with, and the exit code it stands for.
// clang-format off
constexpr std::array<OutcomeCode, 25> kOutcomeCodes = {{
    {&kUpdateSucceeded, kSuccess},     {&kMassEraseSucceeded, kSuccess},   {&kWriteSucceeded, kSuccess},
    {&kVerifySucceeded, kSuccess},     {&kReadSucceeded, kSuccess},        {&kDownloadCompleted, kSuccess},
    {&kReadProtectSucceeded, kSuccess}, {&kExitIspSucceeded, kSuccess},    {&kDeviceFound, kSuccess},
    {&kVerifyFailure, kContentDiffers}, {&kMassEraseFailure, kContentDiffers},
    {&kNoImagePath, kUsage},
    {&kNoChipType, kBadImageData},     {&kUnknownChipType, kBadImageData},
    {&kOpenFileError, kNoImageFile},   {&kFileReadFailed, kNoImageFile},
    {&kTimeOut, kNoDevice},            {&kDeviceNotFound, kNoDevice},      {&kNoDeviceAttached, kNoDevice},
    {&kWriteFailure, kTransferFailed}, {&kReadFailure, kTransferFailed},   {&kFlashWriteFailure, kTransferFailed},
    {&kReadProtectFailure, kTransferFailed}, {&kDumpWriteFailed, kTransferFailed},
    {&kInterrupted, kStopped},
}};
// clang-format on

}  // namespace

int ExitCodeOfOutcome(const std::string& outcome) {
  for (const OutcomeCode& entry : kOutcomeCodes)
    if (outcome == entry.outcome->text) return entry.code;
  return kSoftware;
}

}  // namespace hnx
