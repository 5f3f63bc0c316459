#include "ops/operation_scope.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace hnx {

void DisableOperationButtons(DialogUi& ui) {
  for (int id : kOperationButtons) ui.EnableControl(id, false);
}

void EnableOperationButtons(DialogUi& ui) {
  for (int id : kOperationButtons) ui.EnableControl(id, true);
}

OperationScope::OperationScope(OperationContext& context, ScopeOptions options)
    : context_(context), options_(options) {
  if (options_.guard) DisableOperationButtons(context_.ui);
}

OperationScope::~OperationScope() {
  Buffer().swap(image);
  Buffer().swap(readBack);
  Buffer().swap(block);
  file.Close();
  if (link_ && !keepPipeOpen_) link_->ClosePipe();
  if (options_.removeStaging) RemoveStaging(context_);
  if (link_) link_->UnloadKeepingPipeOpen();
  if (options_.guard) EnableOperationButtons(context_.ui);
  if (options_.refreshControls) context_.ui.MembersToControls();
}

TransferLibrary& OperationScope::BindLibrary() {
  TransferLibrary& link = context_.transport != nullptr
                              ? link_.emplace(*context_.transport, context_.transferLog)
                              : link_.emplace(context_.libraries, context_.transferLibraryPath, context_.transferLog);
  for (const std::string& name : link.missingEntryPoints())
    context_.ui.ShowAppMessage(MissingEntryPointText(name));
  return link;
}

namespace {

// One attempt, or as long as `seconds` allow with a second's wait before each next one; none once a
// stop is asked for.
bool OpenPipeRetrying(OperationContext& context, TransferLibrary& link, std::uint32_t seconds) {
  constexpr std::uint32_t kWaitMilliseconds = 1000;
  const auto attempt = [&] { return !StopRequested(context.stop) && link.OpenPipe(); };
  if (seconds == 0) return attempt();
  if (!link.canOpenPipe()) return false;
  for (std::uint32_t retries = 0; !attempt();) {
    if (StopRequested(context.stop)) return false;
    context.sleeper.Sleep(kWaitMilliseconds);
    if (++retries > seconds) return false;
  }
  return true;
}

}  // namespace

bool OpenPipeWaiting(OperationContext& context, TransferLibrary& link, std::uint32_t defaultSeconds) {
  if (!OpenPipeRetrying(context, link, context.openWaitSeconds.value_or(defaultSeconds))) return false;
  // A stop asked for while the device was identified and opened: it is closed with nothing sent.
  return !StopRequested(context.stop);
}

bool ShowFirstDifference(DialogUi& ui, std::span<const std::uint8_t> expected, std::span<const std::uint8_t> found) {
  const auto [wanted, got] = std::mismatch(expected.begin(), expected.end(), found.begin(), found.end());
  if (wanted == expected.end() || got == found.end()) return false;
  ui.ShowFirstDifference(static_cast<std::uint32_t>(wanted - expected.begin()), *wanted, *got);
  return true;
}

std::optional<ChipProfile> SelectChip(OperationContext& context) {
  const ChipLookup lookup = LookUpChip(context.state.m_strChipType);
  if (lookup.status != ChipLookupStatus::Found) {
    Show(context.ui, ChipLookupFailure(lookup));
    return std::nullopt;
  }
  context.state.m_nImageSize = lookup.profile.imageSize;
  context.state.m_nBlockLength = lookup.profile.blockLength;
  return lookup.profile;
}

std::optional<ChipProfile> SelectChipAndImagePath(OperationContext& context) {
  if (context.state.m_strChipType.empty()) {
    Show(context.ui, kNoChipType);
    return std::nullopt;
  }
  if (context.state.m_strImagePath.empty()) {
    Show(context.ui, kNoImagePath);
    return std::nullopt;
  }
  return SelectChip(context);
}

Message ChipLookupFailure(const ChipLookup& lookup) {
  return lookup.status == ChipLookupStatus::Empty ? kNoChipType : kUnknownChipType;
}

std::string ChecksumText(std::span<const std::uint8_t> image) {
  std::uint16_t sum = 0;
  for (std::uint8_t byte : image) sum = static_cast<std::uint16_t>(sum + byte);
  char digits[8] = {};
  std::snprintf(digits, sizeof digits, "%.4x", static_cast<unsigned>(sum));
  std::string text(digits);
  for (char& digit : text) digit = static_cast<char>(std::toupper(static_cast<unsigned char>(digit)));
  return text + "H";
}

void Show(DialogUi& ui, const Message& message) {
  ui.ShowMessage(message.text, message.caption, message.icon);
}

Message ExchangeFailure(Exchange failure) {
  if (failure == Exchange::Stopped) return kInterrupted;
  return failure == Exchange::WriteFailure ? kWriteFailure : kReadFailure;
}

Message ProgramFailure(Exchange failure) {
  if (failure == Exchange::Stopped) return kInterrupted;
  return failure == Exchange::ReadFailure ? kReadFailure : kFlashWriteFailure;
}

Message NotOpened(const OperationContext& context, const Message& failure) {
  return StopRequested(context.stop) ? kInterrupted : failure;
}

}  // namespace hnx
