#include "gui/update_window.h"

#include <QCloseEvent>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QIcon>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <utility>

#include "ops/bound_seams.h"
#include "ops/exit_codes.h"
#include "ops/messages.h"
#include "ops/production_record.h"
#include "res/resource.h"

namespace hnx::gui {
namespace {

// The template's caption, which the window keeps.
constexpr const char* kWindowTitle = "HNX470 Update Tool V" HNX_VERSION;

// The program's icon in every size it was drawn in.
QIcon ProgramIcon() {
  QIcon icon;
  for (const QString& size : QDir(":/icons").entryList())
    icon.addFile(":/icons/" + size + "/hnx-update-gui.png");
  return icon;
}

}  // namespace

std::optional<std::size_t> ChooseDevice(QWidget* parent, const std::vector<UsbDeviceEntry>& devices) {
  QDialog dialog(parent);
  dialog.setObjectName("deviceChoice");
  dialog.setWindowTitle(kDialogCaption);
  auto* layout = new QVBoxLayout(&dialog);
  layout->addWidget(new QLabel(kChooseDeviceText, &dialog));
  auto* list = new QListWidget(&dialog);
  for (const UsbDeviceEntry& device : devices) list->addItem(QString::fromStdString(device.Description()));
  list->setCurrentRow(0);
  layout->addWidget(list);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
  layout->addWidget(buttons);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  QObject::connect(list, &QListWidget::itemDoubleClicked, &dialog, &QDialog::accept);
  if (dialog.exec() != QDialog::Accepted || list->currentRow() < 0) return std::nullopt;
  return static_cast<std::size_t>(list->currentRow());
}

UpdateWindow::UpdateWindow(WindowEngine engine, QWidget* parent)
    : QWidget(parent),
      engine_(std::move(engine)),
      ui_(*this, state_),
      progress_(new QProgressBar(this)),
      update_(new QPushButton("Update", this)) {
  setWindowTitle(kWindowTitle);
  setWindowIcon(ProgramIcon());
  progress_->setTextVisible(false);
  ui_.AddControl(IDC_PROGRESS, progress_);
  ui_.AddControl(IDC_UPDATE, update_);
  connect(update_, &QPushButton::clicked, this, &UpdateWindow::StartUpdate);
  InitialiseDialog(state_, ui_);
  update_->setFocus();
}

UpdateWindow::~UpdateWindow() {
  if (!worker_.joinable()) return;
  stop_ = true;
  ui_.Detach();
  worker_.join();
}

void UpdateWindow::StartUpdate() {
  if (worker_.joinable()) return;
  stop_ = false;
  answeredBeforeRun_ = ui_.messagesAnswered();
  ui_.HoldDisabled(IDC_UPDATE, true);
  worker_ = std::thread([this] {
    Work();
    ui_.OnGuiThread([this] { EndUpdate(); });
  });
}

void UpdateWindow::Work() {
  const RecordHeader header{engine_.recordPath,
                            HostName(),
                            LoginName(),
                            "hnx-update-gui " HNX_VERSION,
                            "update",
                            state_.m_strChipType,
                            IdentifyImage(kEmbeddedImageSource, engine_.image)};
  DeviceRunRecord record(header, std::nullopt, engine_.transferLog);
  // The run's one box is its outcome; its record goes first. The window's own boxes before a run
  // say that there is no device to run on.
  bool recorded = false;
  std::string recordFailure;
  ui_.ResetBytesMoved();
  ui_.BeforeEachBox([&](const std::string& text) {
    if (std::exchange(recorded, true)) return;
    const int code = ExitCodeOfOutcome(text);
    recordFailure = record.Write(text, code == kSoftware ? kNoDevice : code, ui_.BytesMoved());
  });
  Run(record);
  ui_.BeforeEachBox({});
  if (!recordFailure.empty()) ui_.ShowMessage(recordFailure, kDialogCaption, MessageIcon::Error);
}

void UpdateWindow::Run(TransferLog& log) {
  if (!engine_.usb) {
    ui_.ShowMessage(kNoUsbText, kDialogCaption, MessageIcon::Error);
    return;
  }
  const UsbSurvey survey = engine_.usb->Survey();
  if (survey.devices.empty() && survey.denied > 0) {
    ui_.ShowMessage(UsbPermissionText(survey.denied), kDialogCaption, MessageIcon::Error);
    return;
  }
  // None: the update waits for one, as the dialog does. Several: never a guess.
  std::optional<UsbLocation> location;
  if (survey.devices.size() > 1) {
    std::optional<std::size_t> chosen;
    ui_.OnGuiThreadAndWait([&] { chosen = ChooseDevice(this, survey.devices); });
    if (!chosen) return;
    location = survey.devices[*chosen].location;
  }
  if (stop_) return;  // asked before anything began
  const std::unique_ptr<UsbTransport> transport = engine_.usb->Connect(location);
  NoLibraries libraries;
  NoHubDriver hubs;
  SpanImage image(engine_.image);
  OperationContext context{state_, ui_, libraries, "", hubs, image, *engine_.sleeper, engine_.staging};
  context.transport = transport.get();
  context.transferLog = &log;
  context.stop = &stop_;
  // As hnx-update says it: the wait found devices, but none that this user may open.
  ui_.EditMessages([&transport](std::string& text, std::string& caption, MessageIcon&) {
    if (text != kTimeOut.text || transport->deniedAtLastOpen() == 0) return;
    text = UsbPermissionText(transport->deniedAtLastOpen());
    caption = kDialogCaption;
  });
  RunUpdate(context);
  ui_.EditMessages(nullptr);
}

void UpdateWindow::EndUpdate() {
  worker_.join();
  ui_.HoldDisabled(IDC_UPDATE, false);
  emit updateFinished();
  if (closeWhenStopped_) close();
}

void UpdateWindow::closeEvent(QCloseEvent* event) {
  if (worker_.joinable()) {
    const bool outcomeAnswered = ui_.messagesAnswered() != answeredBeforeRun_;
    if (closeWhenStopped_ || (!outcomeAnswered && !AskToStop())) {
      event->ignore();
      return;
    }
    if (worker_.joinable()) {
      closeWhenStopped_ = true;
      if (!outcomeAnswered) stop_ = true;
      event->ignore();
      return;
    }
    // The run ended while the question was open.
  }
  NoLibraries libraries;
  NoHubDriver hubs;
  SpanImage image(engine_.image);
  OperationContext context{state_, ui_, libraries, "", hubs, image, *engine_.sleeper, engine_.staging};
  RemoveStaging(context);
  event->accept();
}

bool UpdateWindow::AskToStop() {
  QMessageBox box(QMessageBox::Question, kDialogCaption, kStopQuestion, QMessageBox::Yes | QMessageBox::No,
                  this);
  box.setDefaultButton(QMessageBox::No);
  return box.exec() == QMessageBox::Yes;
}

}  // namespace hnx::gui
