// The window driven through its widgets on Qt's offscreen platform, over a USB bus of simulated
// devices in this process. The seams: the boxes as they show (answered as a user would), the progress
// bar and the button as the GUI thread sees them, the devices' traces and flash, the staging folder.
#include <QApplication>
#include <QDialogButtonBox>
#include <QListWidget>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <filesystem>
#include <latch>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "gui/environment.h"
#include "gui/update_window.h"
#include "ops/messages.h"
#include "res/embedded_image.h"
#include "sim/sim_device.h"
#include "support/rig.h"

namespace hnx::test {
namespace {

using gui::UpdateWindow;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr int kRunTimeoutMs = 60000;

// A simulated device on the fake bus.
struct FakeDevice {
  UsbLocation location;
  sim::SimDevice sim;
};

class FakeTransport final : public UsbTransport {
 public:
  FakeTransport(sim::SimDevice& device, std::uint32_t denied) : device_(device), denied_(denied) {}
  bool OpenPipe() override { return device_.OpenPipe() != 0; }
  void ClosePipe() override { device_.ClosePipe(); }
  bool BulkWrite(const std::uint8_t* data, std::uint32_t length, std::uint32_t& count) override {
    return device_.BulkWrite(data, length, &count) != 0;
  }
  bool BulkRead(std::uint8_t* buffer, std::uint32_t length, std::uint32_t& count) override {
    return device_.BulkRead(buffer, length, &count) != 0;
  }
  std::uint32_t deniedAtLastOpen() const override { return denied_; }

 private:
  sim::SimDevice& device_;
  std::uint32_t denied_;
};

// The identified devices, in order, and how many others could not be opened for lack of permission,
// at the survey and then while the transport waits for a device.
class FakeUsb final : public UsbBus {
 public:
  FakeUsb(const std::vector<std::unique_ptr<FakeDevice>>& devices, std::uint32_t denied,
          std::uint32_t deniedLater)
      : devices_(devices), denied_(denied), deniedLater_(deniedLater) {
    absent_.faults().openFailures = -1;
  }
  UsbSurvey Survey() override {
    UsbSurvey survey{{}, denied_};
    for (const auto& device : devices_) survey.devices.push_back({device->location, "12 Mbit/s"});
    return survey;
  }
  // With no device at `location`, or several and none named, a device that never opens.
  std::unique_ptr<UsbTransport> Connect(const std::optional<UsbLocation>& location) override {
    sim::SimDevice* found = &absent_;
    for (const auto& device : devices_)
      if (location ? device->location == *location : devices_.size() == 1) found = &device->sim;
    return std::make_unique<FakeTransport>(*found, deniedLater_);
  }
  UsbChanges WaitForChanges(std::chrono::milliseconds) override { return {}; }  // the window never waits

 private:
  const std::vector<std::unique_ptr<FakeDevice>>& devices_;
  std::uint32_t denied_;
  std::uint32_t deniedLater_;
  sim::SimDevice absent_;
};

struct Box {
  std::string caption;
  std::string text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  bool operator==(const Box&) const = default;
};
void PrintTo(const Box& box, std::ostream* out) {
  *out << "{\"" << box.caption << "\", \"" << box.text << "\", icon " << box.icon << "}";
}
Box BoxOf(const Message& message, QMessageBox::Icon icon) {
  return {message.caption, message.text, icon};
}

// Answers every box and the device choice as they show, as a user would, and keeps what they said.
class User final : public QObject {
 public:
  User() { qApp->installEventFilter(this); }
  ~User() override { qApp->removeEventFilter(this); }

  std::vector<Box> boxes;
  std::vector<std::vector<std::string>> deviceLists;
  QMessageBox::StandardButton question = QMessageBox::Yes;
  int deviceRow = 0;         // -1: cancel
  bool doubleClick = false;  // chooses the row by a double click rather than OK
  // At the moment each box shows, before it is answered.
  std::function<void()> onBox;

 protected:
  bool eventFilter(QObject* object, QEvent* event) override {
    if (event->type() != QEvent::Show) return false;
    if (auto* box = qobject_cast<QMessageBox*>(object)) {
      boxes.push_back({box->windowTitle().toStdString(), box->text().toStdString(), box->icon()});
      if (onBox) onBox();
      const QMessageBox::StandardButton answer =
          box->icon() == QMessageBox::Question ? question : QMessageBox::Ok;
      // No is given with the Return key, as the box's default: a stray Return never stops a run.
      QTimer::singleShot(0, box, [box, answer] {
        if (answer == QMessageBox::No) return QTest::keyClick(box, Qt::Key_Return);
        box->button(answer)->click();
      });
    } else if (object->objectName() == "deviceChoice") {
      auto* dialog = static_cast<QWidget*>(object);
      auto* list = dialog->findChild<QListWidget*>();
      std::vector<std::string> lines;
      for (int row = 0; row < list->count(); ++row) lines.push_back(list->item(row)->text().toStdString());
      deviceLists.push_back(lines);
      QTimer::singleShot(0, dialog, [dialog, list, row = deviceRow, twice = doubleClick] {
        auto* buttons = dialog->findChild<QDialogButtonBox*>();
        if (row < 0) return buttons->button(QDialogButtonBox::Cancel)->click();
        list->setCurrentRow(row);
        if (twice) return emit list->itemDoubleClicked(list->item(row));
        buttons->button(QDialogButtonBox::Ok)->click();
      });
    }
    return false;
  }
};

// Where a run waits until the test lets it go on.
struct Gate {
  std::latch reached{1};
  std::latch open{1};
};

class UpdateWindowTest : public ::testing::Test {
 protected:
  FakeDevice& AddDevice(const std::string& location) {
    devices_.push_back(std::make_unique<FakeDevice>());
    devices_.back()->location = *UsbLocation::Parse(location);
    return *devices_.back();
  }

  // The window over the devices added so far; no bus at all when `withUsb` is false.
  UpdateWindow& Open(std::uint32_t denied = 0, bool withUsb = true, std::uint32_t deniedLater = 0) {
    gui::WindowEngine engine{nullptr, &sleeper_, staging_, EmbeddedImage(), nullptr, recordPath_};
    if (withUsb) engine.usb = std::make_unique<FakeUsb>(devices_, denied, deniedLater);
    window_ = std::make_unique<UpdateWindow>(std::move(engine));
    window_->show();
    return *window_;
  }

  QProgressBar& Bar() { return *window_->findChild<QProgressBar*>(); }
  QPushButton& UpdateButton() { return *window_->findChild<QPushButton*>(); }

  // Clicks "Update" and waits for the run to end.
  void ClickUpdateAndWait() {
    QSignalSpy finished(window_.get(), &UpdateWindow::updateFinished);
    QTest::mouseClick(&UpdateButton(), Qt::LeftButton);
    ASSERT_TRUE(finished.wait(kRunTimeoutMs));
  }

  // The staged images in folders made for the runs, and the folders.
  std::size_t Staged(const std::string& name = "") const {
    std::size_t found = 0;
    for (const auto& entry : std::filesystem::directory_iterator(temp_.Path("")))
      if (entry.path().filename().string().starts_with("hnx-update-gui-"))
        found += name.empty() || std::filesystem::exists(entry.path() / name);
    return found;
  }
  bool StagingLeft() const { return Staged() > 0; }

  // Opens the window over one device and clicks "Update"; returns once the run waits at `gate`, as the
  // device records call `held` (301: block 99 is being programmed) or, with 0, the close of its pipe.
  FakeDevice& StartRunHeldAt(Gate& gate, std::size_t held = 301) {
    devices_.clear();
    FakeDevice& device = AddDevice("1-1");
    device.sim.SetTraceSink([&gate, held, calls = std::size_t{0}](const TraceRecord& record) mutable {
      if (++calls != held && (held != 0 || record.call != Call::ClosePipe)) return;
      gate.reached.count_down();
      gate.open.wait();
    });
    Open();
    QTest::mouseClick(&UpdateButton(), Qt::LeftButton);
    EXPECT_TRUE(QTest::qWaitFor([&] { return gate.reached.try_wait(); }, kRunTimeoutMs));
    return device;
  }

  User user_;
  TempFolder temp_;
  StagingPaths staging_{"", "", temp_.Path("hnx-update-gui-")};
  RecordingSleeper sleeper_;
  std::vector<std::unique_ptr<FakeDevice>> devices_;
  std::string recordPath_;
  std::unique_ptr<UpdateWindow> window_;
};

// Each run ends in one box, shown while the run still holds the device and the staged image, with the
// button disabled and the run's record (HNX_RECORD) appended: the window's tool, the embedded image,
// what moved and how it ended. Once the box is answered, everything is released and the button comes
// back. The bar moves on the GUI thread only, one step per block programmed, then the read-back's
// 1024 at once.
TEST_F(UpdateWindowTest, EachRunShowsItsOutcomeAfterItsRecordThenReleasesEverything) {
  struct Case {
    const char* faults;         // the device's fault plan; nullptr: no device
    std::uint32_t denied;       // at the survey
    std::uint32_t deniedLater;  // while the update waits for a device
    bool withUsb;
    Box box;
    int code;
    std::uint64_t bytes;
    std::uint64_t transfers;
    int bar;
    std::vector<std::uint32_t> waits;
  };
  const std::vector<std::uint32_t> waited(31, 1000);
  // clang-format off
  const std::vector<Case> cases = {
      {"", 0, 0, true, BoxOf(kUpdateSucceeded, QMessageBox::Information), 0, 0x20000, 6148, 2048, {}},
      // The program frame of block 499 fails.
      {"fail-transfer=1500", 0, 0, true, BoxOf(kFlashWriteFailure, QMessageBox::Critical), 74, 498 * 64, 1499,
       499, {}},
      // The dialog's own: it waits 30 seconds for a device, then times out.
      {nullptr, 0, 0, true, BoxOf(kTimeOut, QMessageBox::Critical), 69, 0, 0, 0, waited},
      {nullptr, 2, 2, true, {kDialogCaption, UsbPermissionText(2), QMessageBox::Critical}, 69, 0, 0, 0, {}},
      // One plugged in while it waited: named as hnx-update names it.
      {nullptr, 0, 1, true, {kDialogCaption, UsbPermissionText(1), QMessageBox::Critical}, 69, 0, 0, 0,
       waited},
      {nullptr, 0, 0, false, {kDialogCaption, gui::kNoUsbText, QMessageBox::Critical}, 69, 0, 0, 0, {}},
  };
  // clang-format on
  recordPath_ = temp_.Path("records.jsonl");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.box.text);
    std::filesystem::remove(recordPath_);
    user_.boxes.clear();
    sleeper_.waits.clear();
    devices_.clear();
    FakeDevice* device = c.faults == nullptr ? nullptr : &AddDevice("1-4.2");
    if (device != nullptr) device->sim.faults() = *sim::FaultPlan::Parse(c.faults);
    Open(c.denied, c.withUsb, c.deniedLater);
    std::vector<int> positions;
    bool offGuiThread = false, enabledWhileMoving = false, enabledAtBox = true, pipeOpenAtBox = false;
    QObject::connect(&Bar(), &QProgressBar::valueChanged, [&](int value) {
      positions.push_back(value);
      offGuiThread |= QThread::currentThread() != qApp->thread();
      enabledWhileMoving |= UpdateButton().isEnabled();
    });
    std::vector<std::string> recordAtBox;
    std::size_t stagedAtBox = 0;
    user_.onBox = [&] {
      recordAtBox = FileLines(recordPath_);
      enabledAtBox = UpdateButton().isEnabled();
      pipeOpenAtBox = device != nullptr && device->sim.pipeOpen();
      stagedAtBox = Staged("b167h.bin");
    };

    ClickUpdateAndWait();
    EXPECT_THAT(user_.boxes, ElementsAre(c.box));
    EXPECT_EQ(sleeper_.waits, c.waits);
    EXPECT_FALSE(enabledAtBox);
    EXPECT_TRUE(UpdateButton().isEnabled());
    std::vector<int> steps;
    for (int block = 1; block <= std::min(c.bar, 1024); ++block) steps.push_back(block);
    if (c.bar == 2048) steps.push_back(2048);
    EXPECT_EQ(positions, steps);
    EXPECT_FALSE(offGuiThread);
    EXPECT_FALSE(enabledWhileMoving);
    EXPECT_FALSE(StagingLeft());
    ASSERT_EQ(recordAtBox.size(), 1u);
    EXPECT_EQ(FileLines(recordPath_), recordAtBox);
    const nlohmann::json record = nlohmann::json::parse(recordAtBox.front());
    EXPECT_EQ(record.at("tool"), "hnx-update-gui " HNX_VERSION);
    EXPECT_EQ(record.at("command"), "update");
    EXPECT_EQ(record.at("chip"), "ZB29K702");
    EXPECT_EQ(record.at("image").at("source"), "embedded");
    EXPECT_EQ(record.at("image").at("size"), EmbeddedImage().size());
    EXPECT_EQ(record.at("result"), c.box.text);
    EXPECT_EQ(record.at("code"), c.code);
    EXPECT_EQ(record.at("bytes"), c.bytes);
    EXPECT_EQ(record.at("transfers"), c.transfers);
    if (device == nullptr) continue;
    EXPECT_TRUE(pipeOpenAtBox);
    EXPECT_EQ(stagedAtBox, 1u);
    // The pipe's open, the transfers (the failed one too, none after it) and its close.
    const std::vector<std::string> trace = TraceLines(device->sim);
    EXPECT_EQ(trace.size(), 1 + c.transfers + (c.code != 0) + 1);
    EXPECT_EQ(trace.back(), "close");
    EXPECT_FALSE(device->sim.pipeOpen());
    if (c.code != 0) continue;
    const std::span<const std::uint8_t> image = EmbeddedImage();
    EXPECT_EQ(device->sim.flash(), std::vector<std::uint8_t>(image.begin(), image.end()));
    // The README's picture of the window, as the update leaves it.
    EXPECT_TRUE(window_->grab().save("gui-window.png"));
  }
}

// Several devices: the user picks one from the list, or cancels and nothing is touched.
TEST_F(UpdateWindowTest, WithTwoDevicesTheChosenOneIsUpdatedAndCancellingTouchesNone) {
  FakeDevice& first = AddDevice("1-1");
  FakeDevice& second = AddDevice("2-3.1");
  Open();
  const std::vector<std::string> lines = {"1-1: bus 1, port 1, 12 Mbit/s",
                                          "2-3.1: bus 2, port 3.1, 12 Mbit/s"};

  user_.deviceRow = -1;
  ClickUpdateAndWait();
  EXPECT_THAT(user_.deviceLists, ElementsAre(lines));
  EXPECT_THAT(user_.boxes, IsEmpty());
  EXPECT_THAT(first.sim.trace(), IsEmpty());
  EXPECT_THAT(second.sim.trace(), IsEmpty());
  EXPECT_TRUE(UpdateButton().isEnabled());

  user_.deviceRow = 1;
  ClickUpdateAndWait();
  EXPECT_THAT(user_.deviceLists, ElementsAre(lines, lines));
  EXPECT_THAT(user_.boxes, ElementsAre(BoxOf(kUpdateSucceeded, QMessageBox::Information)));
  EXPECT_THAT(first.sim.trace(), IsEmpty());
  EXPECT_EQ(TraceLines(second.sim).back(), "close");

  user_.deviceRow = 0;
  user_.doubleClick = true;
  ClickUpdateAndWait();
  EXPECT_EQ(TraceLines(first.sim).back(), "close");
}

// The program's environment: HNX_TRACE names the transfer log (unset or empty: none), HNX_RECORD the
// record file.
TEST(WindowEnvironment, NamesTheTransferLogAndTheRecordFile) {
  TempFolder temp;
  unsetenv("HNX_TRACE");
  unsetenv("HNX_RECORD");
  EXPECT_EQ(gui::TransferLogNamedByEnvironment(), nullptr);
  EXPECT_EQ(gui::RecordFileNamedByEnvironment(), "");
  setenv("HNX_TRACE", "", 1);
  EXPECT_EQ(gui::TransferLogNamedByEnvironment(), nullptr);
  setenv("HNX_TRACE", temp.Path("transfers.log").c_str(), 1);
  setenv("HNX_RECORD", temp.Path("records.jsonl").c_str(), 1);
  EXPECT_NE(gui::TransferLogNamedByEnvironment(), nullptr);
  EXPECT_TRUE(std::filesystem::exists(temp.Path("transfers.log")));
  EXPECT_EQ(gui::RecordFileNamedByEnvironment(), temp.Path("records.jsonl"));
  unsetenv("HNX_TRACE");
  unsetenv("HNX_RECORD");
}

// Closing during a run asks first. Yes: the run stops at the next block (the one under way ends
// whole), releases everything, says so, and the window closes. No: the run goes on to its end and the
// window stays. Once the outcome box is answered the run only lets go of the device and the staging:
// closing then asks nothing, and the window closes as soon as the run has ended. The window going
// away (the application quitting) stops the run and waits for it, without its outcome box, since no
// one is left to answer it.
TEST_F(UpdateWindowTest, ClosingDuringARunStopsItCleanlyOnlyWhenTold) {
  const Box question{kDialogCaption, gui::kStopQuestion, QMessageBox::Question};
  const Box succeeded = BoxOf(kUpdateSucceeded, QMessageBox::Information);
  struct Case {
    const char* name;
    std::size_t held;                    // the device's call the run waits at; 0: its pipe's close
    QMessageBox::StandardButton answer;  // NoButton: the window is destroyed instead
    std::vector<Box> boxes;
    bool visible;
    std::size_t transfers;
  };
  const std::vector<Case> cases = {
      {"stop", 301, QMessageBox::Yes, {question, BoxOf(kInterrupted, QMessageBox::Warning)}, false, 302},
      {"go on", 301, QMessageBox::No, {question, succeeded}, true, 6148},
      {"after the outcome", 0, QMessageBox::Yes, {succeeded}, false, 6148},
      {"destroyed", 301, QMessageBox::NoButton, {}, false, 302},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    user_.boxes.clear();
    user_.question = c.answer;
    Gate gate;
    const FakeDevice& device = StartRunHeldAt(gate, c.held);
    if (c.answer == QMessageBox::NoButton) {
      gate.open.count_down();
      window_.reset();
    } else {
      QSignalSpy finished(window_.get(), &UpdateWindow::updateFinished);
      EXPECT_FALSE(window_->close());  // the run still holds the device
      gate.open.count_down();
      ASSERT_TRUE(finished.wait(kRunTimeoutMs));
      EXPECT_EQ(window_->isVisible(), c.visible);
      EXPECT_EQ(Bar().value(), c.transfers == 302 ? 100 : 2048);
    }
    EXPECT_EQ(user_.boxes, c.boxes);
    const std::vector<std::string> trace = TraceLines(device.sim);
    EXPECT_EQ(trace.size(), 1 + c.transfers + 1);
    EXPECT_EQ(trace.back(), "close");
    EXPECT_FALSE(StagingLeft());
  }
}

// The shipped layout: the template's caption, the icon, and in a 524 x 155 client area (the dialog's
// 530 x 180 window without its frame) the progress bar and "Update" where the dialog puts them,
// nothing else.
TEST_F(UpdateWindowTest, ShowsTheShippedLayout) {
  UpdateWindow& window = Open();
  EXPECT_EQ(window.windowTitle().toStdString(), "HNX470 Update Tool V" HNX_VERSION);
  EXPECT_THAT(window.windowIcon().availableSizes(),
              ::testing::UnorderedElementsAre(QSize(16, 16), QSize(32, 32), QSize(48, 48), QSize(64, 64),
                                              QSize(128, 128)));
  EXPECT_EQ(window.size(), QSize(524, 155));
  EXPECT_EQ(window.minimumSize(), window.maximumSize());
  EXPECT_EQ(Bar().geometry(), QRect(30, 50, 350, 30));
  EXPECT_EQ(Bar().minimum(), 0);
  EXPECT_EQ(Bar().maximum(), 2048);
  EXPECT_EQ(Bar().value(), 0);
  EXPECT_EQ(UpdateButton().geometry(), QRect(400, 50, 80, 30));
  EXPECT_EQ(UpdateButton().text().toStdString(), "Update");
  std::vector<QWidget*> visible;
  for (QWidget* child : window.findChildren<QWidget*>())
    if (child->isVisible()) visible.push_back(child);
  EXPECT_THAT(visible, ::testing::UnorderedElementsAre(&Bar(), &UpdateButton()));
}

}  // namespace
}  // namespace hnx::test

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
