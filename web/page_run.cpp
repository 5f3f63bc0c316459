#include "web/page_run.h"

#include <emscripten.h>

#include <optional>
#include <variant>
#include <vector>

#include "ops/bound_seams.h"
#include "ops/image_formats.h"
#include "ops/messages.h"
#include "ops/operation_scope.h"
#include "res/embedded_image.h"
#include "web/web_dialog_ui.h"

// The index of the device the user chose among `count` granted ones at `indices`; -1 when cancelled.
EM_ASYNC_JS(int, hnx_choose_device, (const int* indices, int count), {
  return await Module.hnxHost.chooseDevice(Array.from(HEAP32.subarray(indices >> 2, (indices >> 2) + count)));
});
EM_ASYNC_JS(void, hnx_sleep, (unsigned milliseconds), {
  await new Promise((resolve) => setTimeout(resolve, milliseconds));
});

namespace hnx::web {
namespace {

// Waits without blocking the page.
class PageSleeper final : public Sleeper {
 public:
  void Sleep(std::uint32_t milliseconds) override { hnx_sleep(milliseconds); }
};

// One run's dialog, transport and context.
class PageRun {
 public:
  PageRun(int device, Platform platform, StopFlag stop)
      : ui_(state_), transport_(device), image_(EmbeddedImage()),
        context_{state_, ui_, libraries_, "", hubs_, image_, sleeper_, StagingInTemporaryFolder("hnx-update-web")} {
    InitialiseDialog(state_, ui_);
    context_.transport = &transport_;
    context_.openWaitSeconds = 0;  // a granted device that does not open now will not by waiting
    context_.stop = stop;
    ui_.SetReplacement([this, platform](const std::string& text) -> std::optional<std::string> {
      if (text != kTimeOut.text && text != kDeviceNotFound.text) return std::nullopt;
      return ReachText(transport_.reach(), platform);
    });
  }

  OperationContext& context() { return context_; }
  WebDialogUi& ui() { return ui_; }
  RunOutcome OutcomeFor(const Message& success) const {
    return ui_.lastText() == success.text ? RunOutcome::Succeeded : RunOutcome::Failed;
  }

 private:
  DialogState state_;
  WebDialogUi ui_;
  WebUsbTransport transport_;
  NoLibraries libraries_;
  NoHubDriver hubs_;
  SpanImage image_;
  PageSleeper sleeper_;
  OperationContext context_;
};

// The granted device to run on, or the outcome when there is none.
std::variant<int, RunOutcome> ChooseDevice(Platform platform, const Message& notFound) {
  const Survey survey = SurveyGrantedDevices();
  if (survey.identified.empty()) {
    if (survey.denied > 0) {
      ShowMessageBox(*ReachText(Reach::Denied, platform), MessageIcon::Error, "");
      return RunOutcome::Failed;
    }
    ShowMessageBox(notFound.text, notFound.icon, "");
    return RunOutcome::NotOurs;
  }
  if (survey.identified.size() == 1) return survey.identified.front();
  const int chosen = hnx_choose_device(survey.identified.data(), static_cast<int>(survey.identified.size()));
  if (chosen < 0) return RunOutcome::Cancelled;
  return chosen;
}

}  // namespace

std::optional<std::string> ReachText(Reach reach, Platform platform) {
  switch (reach) {
    case Reach::Denied:
      return platform == Platform::Windows ? kWindowsDriverText : kAccessDeniedText;
    case Reach::ClaimRefused:
      return platform == Platform::Windows ? kWindowsDriverText : kClaimRefusedText;
    case Reach::NotIdentified:
      return kNotIdentifiedText;
    case Reach::Ok:
    case Reach::Gone:
      break;
  }
  return std::nullopt;
}

RunOutcome RunPageUpdate(Platform platform, StopFlag stop) {
  const std::variant<int, RunOutcome> device = ChooseDevice(platform, kTimeOut);
  if (const auto* outcome = std::get_if<RunOutcome>(&device)) return *outcome;
  PageRun run(std::get<int>(device), platform, stop);
  RunUpdate(run.context());
  return run.OutcomeFor(kUpdateSucceeded);
}

RunOutcome RunPageWriteVerify(std::span<const std::uint8_t> content, const std::string& name, Platform platform,
                              StopFlag stop) {
  const ChipLookup chip = LookUpChip("ZB29K702");
  auto decoded = DecodeImage(content, chip.profile.imageSize);
  if (const auto* fault = std::get_if<ImageError>(&decoded)) {
    std::string where = name;
    if (fault->line != 0) where.append(":").append(std::to_string(fault->line));
    ShowMessageBox(kFileReadFailed.text, kFileReadFailed.icon, where.append(": ").append(fault->text));
    return RunOutcome::Failed;
  }
  const std::variant<int, RunOutcome> device = ChooseDevice(platform, kDeviceNotFound);
  if (const auto* outcome = std::get_if<RunOutcome>(&device)) return *outcome;
  PageRun run(std::get<int>(device), platform, stop);
  OperationContext& context = run.context();
  context.state.m_strImagePath = name.empty() ? "image" : name;
  run.ui().MembersToControls();
  context.imageFileContent = std::move(std::get<DecodedImage>(decoded).bytes);
  WebDialogUi& ui = run.ui();

  // Programming only clears bits, so the flash is erased (and checked blank) first; the steps before
  // the verify show their message only when they fail.
  ui.HoldMessages(true);
  ui.FollowTransfers(0, 3);
  MassEraseWithBlankCheck(context);
  if (run.OutcomeFor(kMassEraseSucceeded) != RunOutcome::Succeeded) {
    ui.ShowHeld();
    return RunOutcome::Failed;
  }
  ui.FollowTransfers(1, 3);
  WriteImageFile(context);
  if (run.OutcomeFor(kWriteSucceeded) != RunOutcome::Succeeded) {
    ui.ShowHeld();
    return RunOutcome::Failed;
  }
  ui.HoldMessages(false);
  ui.FollowTransfers(2, 3);
  VerifyImageFile(context);
  return run.OutcomeFor(kVerifySucceeded);
}

}  // namespace hnx::web
