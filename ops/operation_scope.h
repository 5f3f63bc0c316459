// What the operations share: the scope that holds what an operation acquires and releases it in one
// order on every path, the guard around the operation buttons, the chip lookups they begin with, the
// image checksum, and the words for the outcomes of exchanges.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "chip/chip_catalogue.h"
#include "link/isp.h"
#include "link/transfer_library.h"
#include "ops/files.h"
#include "ops/messages.h"
#include "ops/operations.h"

namespace hnx {

using Buffer = std::vector<std::uint8_t>;

void DisableOperationButtons(DialogUi& ui);
void EnableOperationButtons(DialogUi& ui);

struct ScopeOptions {
  bool guard = true;             // disable the operation buttons now, enable them at the end
  bool removeStaging = false;    // the update: its staging goes once the pipe is closed
  bool refreshControls = false;  // members to controls, last of all
};

// Everything one operation holds. At the end of the scope, whatever the outcome: the buffers are
// freed, the file closed, the pipe closed (unless KeepPipeOpen), the staging removed, the library
// unloaded, the buttons enabled and the controls refreshed, in that order and each as asked.
class OperationScope {
 public:
  OperationScope(OperationContext& context, ScopeOptions options);
  ~OperationScope();
  OperationScope(const OperationScope&) = delete;
  OperationScope& operator=(const OperationScope&) = delete;

  // Binds the transfer library and reports each entry point it lacks.
  TransferLibrary& BindLibrary();
  // Exit ISP: the device has been told to leave ISP mode, so its pipe is left open.
  void KeepPipeOpen() { keepPipeOpen_ = true; }

  Buffer image;
  Buffer readBack;
  Buffer block;
  ImageFile file;

 private:
  OperationContext& context_;
  ScopeOptions options_;
  bool keepPipeOpen_ = false;
  std::optional<TransferLibrary> link_;
};

// Opens the pipe, trying again after a second's wait for as many seconds as the front end asked
// (openWaitSeconds), or else `defaultSeconds`. Without USB_Open_PIPE no wait could change the outcome.
// Every operation's first frame follows it, so once a stop is asked for (before an attempt, in the
// wait, or while the pipe opened) it is false: no frame goes to the device after a stop.
bool OpenPipeWaiting(OperationContext& context, TransferLibrary& link, std::uint32_t defaultSeconds);

// What to report when the pipe did not open: kInterrupted when the wait was cut short.
Message NotOpened(const OperationContext& context, const Message& failure);

// Reports the first byte at which `found` differs from `expected`; false when they are equal.
bool ShowFirstDifference(DialogUi& ui, std::span<const std::uint8_t> expected, std::span<const std::uint8_t> found);

// Looks up the dialog's chip type. Found: the profile is kept in m_nImageSize and m_nBlockLength.
// Otherwise "Please select the ic type!" or "IC Type Error!!" has been shown.
std::optional<ChipProfile> SelectChip(OperationContext& context);

// Write and Verify: an empty chip type first, then an empty image path ("Please open the program
// file!"), then an unknown chip type.
std::optional<ChipProfile> SelectChipAndImagePath(OperationContext& context);

// The message of a chip type that was not found: empty or unknown.
Message ChipLookupFailure(const ChipLookup& lookup);

// The 16-bit wrapping sum of the bytes, from 0, as "%.4x" upper-cased with "H" appended.
std::string ChecksumText(std::span<const std::uint8_t> image);

void Show(DialogUi& ui, const Message& message);

// Erase and read-block exchanges: a frame not sent is a write failure, a reply not received a read
// failure; a loop asked to stop is interrupted.
Message ExchangeFailure(Exchange failure);
// Program exchanges: anything but a status byte that did not arrive is a flash write failure.
Message ProgramFailure(Exchange failure);

}  // namespace hnx
