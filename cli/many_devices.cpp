#include "cli/many_devices.h"

#include <algorithm>
#include <atomic>
#include <deque>
#include <mutex>
#include <set>
#include <thread>

#include "ops/messages.h"

namespace hnx::cli {
namespace {

constexpr std::chrono::milliseconds kStationPoll{100};

// The summary line, its JSON object and the exit code of the runs' codes in their order.
int Summarize(ConsoleUi& ui, const std::vector<int>& codes, StopFlag stop) {
  ui.BeforeOutcome({});  // the summary is no device's run: it leaves no record
  const auto succeeded = static_cast<std::size_t>(std::ranges::count(codes, kSuccess));
  int code = kSuccess;
  if (StopRequested(stop) && std::ranges::count(codes, kStopped) > 0) {
    code = kStopped;
  } else if (const auto failed = std::ranges::find_if(codes, [](int c) { return c != kSuccess; });
             failed != codes.end()) {
    code = *failed;
  }
  return ui.Finish(std::to_string(succeeded) + " of " + CountText(codes.size()) + " succeeded", code);
}

}  // namespace

int RunOnEveryDevice(const CommandLine& line, ConsoleUi& ui, const Prepared& prepared, UsbBus& usb,
                     ConsoleOutput& output, StopFlag stop) {
  const UsbSurvey survey = usb.Survey();
  if (survey.devices.empty())
    return ui.Finish(survey.denied > 0 ? UsbPermissionText(survey.denied) : kNoDeviceAttached.text,
                     kNoDevice);
  const std::size_t devices = survey.devices.size();
  std::vector<int> codes(devices, kSoftware);
  std::atomic<std::size_t> next = 0;
  const auto worker = [&] {
    for (std::size_t i; (i = next++) < devices;) {
      const UsbLocation& location = survey.devices[i].location;
      codes[i] = StopRequested(stop) ? NotStartedOnListedDevice(line, prepared, location, output)
                                     : RunOnListedDevice(line, prepared, usb, location, output, stop);
    }
  };
  {
    std::vector<std::jthread> workers(line.jobs == 0 ? devices : std::min<std::size_t>(line.jobs, devices));
    for (std::jthread& thread : workers) thread = std::jthread(worker);
  }
  return Summarize(ui, codes, stop);
}

namespace {

// The devices of a station: those waiting for a place (--jobs), those running, and the codes of
// those done, in the order they arrived.
class Station {
 public:
  Station(const CommandLine& line, const Prepared& prepared, UsbBus& usb, ConsoleOutput& output,
          StopFlag stop)
      : line_(line), prepared_(prepared), usb_(usb), output_(output), stop_(stop) {}

  // Every device is run once per attachment: again only after it has left.
  void Arrived(const UsbLocation& location) {
    if (LimitReached() || !attached_.insert(location.Text()).second) return;
    const std::lock_guard lock(mutex_);
    waiting_.push_back({location, codes_.size()});
    codes_.push_back(kSoftware);
    StartWaiting();
  }
  void Left(const UsbLocation& location) { attached_.erase(location.Text()); }

  bool LimitReached() const { return line_.count != 0 && Arrivals() >= line_.count; }
  std::size_t Arrivals() const {
    const std::lock_guard lock(mutex_);
    return codes_.size();
  }
  std::size_t Running() const {
    const std::lock_guard lock(mutex_);
    return running_ + waiting_.size();
  }

  // "done 3, failed 1, running 2"
  std::string Tally() const {
    const std::lock_guard lock(mutex_);
    const auto failed =
        std::ranges::count_if(codes_, [](int code) { return code != kSuccess && code != kSoftware; });
    return "done " + std::to_string(finished_ - failed) + ", failed " + std::to_string(failed) +
           ", running " + std::to_string(running_ + waiting_.size());
  }

  // A stop keeps the waiting devices from starting; the running ones stop by themselves.
  void DropWaiting() {
    const std::lock_guard lock(mutex_);
    for (const Entry& entry : waiting_)
      codes_[entry.index] = NotStartedOnListedDevice(line_, prepared_, entry.location, output_);
    finished_ += waiting_.size();
    waiting_.clear();
  }

  std::vector<int> Finish() {
    threads_.clear();
    const std::lock_guard lock(mutex_);
    return codes_;
  }

 private:
  struct Entry {
    UsbLocation location;
    std::size_t index;
  };

  // Called with the mutex held.
  void StartWaiting() {
    while (!waiting_.empty() && (line_.jobs == 0 || running_ < line_.jobs)) {
      Entry entry = waiting_.front();
      waiting_.pop_front();
      ++running_;
      threads_.emplace_back([this, entry] {
        const int code = RunOnListedDevice(line_, prepared_, usb_, entry.location, output_, stop_);
        const std::lock_guard lock(mutex_);
        codes_[entry.index] = code;
        --running_;
        ++finished_;
        if (!StopRequested(stop_)) StartWaiting();
      });
    }
  }

  const CommandLine& line_;
  const Prepared& prepared_;
  UsbBus& usb_;
  ConsoleOutput& output_;
  StopFlag stop_;
  std::set<std::string> attached_;  // only the station's own thread
  mutable std::mutex mutex_;
  std::deque<Entry> waiting_;
  std::vector<int> codes_;
  std::size_t running_ = 0;
  std::size_t finished_ = 0;
  std::deque<std::jthread> threads_;  // last: joined before the members the runs use go
};

}  // namespace

int RunStation(const CommandLine& line, ConsoleUi& ui, const Prepared& prepared, UsbBus& usb,
               ConsoleOutput& output, StopFlag stop) {
  if (!line.quiet) output.PrintLines({{false, "Waiting for devices\u2026"}});
  const bool tally = output.errIsTerminal() && !line.quiet && line.progress != ProgressStyle::Json;
  Station station(line, prepared, usb, output, stop);
  std::string shown;
  while (!StopRequested(stop) && !(station.LimitReached() && station.Running() == 0)) {
    const UsbChanges changes = usb.WaitForChanges(kStationPoll);
    for (const UsbLocation& location : changes.left) station.Left(location);
    for (const UsbDeviceEntry& device : changes.arrived) station.Arrived(device.location);
    if (const std::string now = station.Tally(); tally && now != shown) output.SetTally(shown = now);
  }
  station.DropWaiting();
  const std::vector<int> codes = station.Finish();
  if (tally) output.SetTally("");
  return Summarize(ui, codes, stop);
}

}  // namespace hnx::cli
