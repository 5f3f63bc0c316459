#include "web/web_dialog_ui.h"

#include <emscripten.h>

EM_ASYNC_JS(void, hnx_show_message, (const char* text, const char* caption, int icon, const char* detail), {
  await Module.hnxHost.showMessage(UTF8ToString(text), UTF8ToString(caption), icon, UTF8ToString(detail));
});
EM_JS(void, hnx_progress_range, (int lower, int upper), { Module.hnxHost.progressRange(lower, upper); });
EM_JS(void, hnx_progress_pos, (int position), { Module.hnxHost.progressPos(position); });
EM_JS(void, hnx_transfer_progress, (int phase, unsigned done, unsigned total), {
  Module.hnxHost.transferProgress(["erase", "program", "read"][phase], done, total);
});
EM_JS(void, hnx_first_difference, (unsigned address, int expected, int found), {
  if (Module.hnxHost.firstDifference) Module.hnxHost.firstDifference(address, expected, found);
});

namespace hnx::web {

void WebDialogUi::ShowMessage(const std::string& text, const std::string& caption, MessageIcon icon) {
  lastText_ = text;
  lastCaption_ = caption;
  lastIcon_ = icon;
  if (replacement_) {
    if (std::optional<std::string> instead = replacement_(text)) lastText_ = *instead;
  }
  if (!holding_) ShowHeld();
}

void WebDialogUi::ShowHeld() {
  hnx_show_message(lastText_.c_str(), lastCaption_.c_str(), static_cast<int>(lastIcon_), "");
}

void WebDialogUi::ControlsToMembers() {
  TextsToMembers(texts_, state_);
}

void WebDialogUi::MembersToControls() {
  MembersToTexts(state_, texts_);
}

void WebDialogUi::ShowAppMessage(const std::string& text) {
  ShowMessage(text, kDialogCaption, MessageIcon::None);
}

void WebDialogUi::SetProgressRange(std::uint16_t lower, std::uint16_t upper) {
  upper_ = upper;
  hnx_progress_range(lower, upper);
}

void WebDialogUi::SetProgressPos(int position) {
  if (steps_ == 0) hnx_progress_pos(position);
}

void WebDialogUi::FollowTransfers(std::uint32_t step, std::uint32_t steps) {
  step_ = step;
  steps_ = steps;
}

void WebDialogUi::ShowTransferProgress(TransferPhase phase, std::uint32_t done, std::uint32_t total) {
  hnx_transfer_progress(static_cast<int>(phase), done, total);
  if (steps_ == 0 || total == 0 || phase == TransferPhase::Erase) return;
  const std::uint64_t within = static_cast<std::uint64_t>(upper_) * done / total;
  hnx_progress_pos(static_cast<int>((static_cast<std::uint64_t>(upper_) * step_ + within) / steps_));
}

void WebDialogUi::ShowFirstDifference(std::uint32_t address, std::uint8_t expected, std::uint8_t found) {
  hnx_first_difference(address, expected, found);
}

void ShowMessageBox(const std::string& text, MessageIcon icon, const std::string& detail) {
  hnx_show_message(text.c_str(), kDialogCaption, static_cast<int>(icon), detail.c_str());
}

}  // namespace hnx::web
