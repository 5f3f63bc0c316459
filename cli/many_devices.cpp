#include "cli/many_devices.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <system_error>
#include <thread>

#include "ops/messages.h"

namespace hnx::cli {
namespace {

constexpr std::chrono::milliseconds kStationPoll{100};

// The runs' codes as they end, in any order, in room that does not grow: how many ended and how
// many succeeded, whether one was interrupted, and the first failure in the order the devices came.
class Results {
 public:
  void Add(std::size_t arrival, int code) {
    ++ended_;
    if (code == kSuccess) ++succeeded_;
    if (code == kStopped) interrupted_ = true;
    if (code != kSuccess && arrival < firstFailure_) {
      firstFailure_ = arrival;
      failureCode_ = code;
    }
  }
  std::size_t ended() const { return ended_; }
  std::size_t succeeded() const { return succeeded_; }
  int Code(StopFlag stop) const {
    if (StopRequested(stop) && interrupted_) return kStopped;
    return failureCode_;
  }

 private:
  std::size_t ended_ = 0;
  std::size_t succeeded_ = 0;
  bool interrupted_ = false;
  std::size_t firstFailure_ = SIZE_MAX;
  int failureCode_ = kSuccess;
};

// The summary line, its JSON object and the exit code.
int Summarize(ConsoleUi& ui, const Results& results, StopFlag stop) {
  ui.BeforeOutcome({});  // the summary is no device's run: it leaves no record
  return ui.Finish(std::to_string(results.succeeded()) + " of " + CountText(results.ended()) + " succeeded",
                   results.Code(stop));
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
      codes[i] = StopRequested(stop) ? NotStartedOnListedDevice(line, prepared, location, output,
                                                                  kInterrupted.text, kStopped)
                                     : RunOnListedDevice(line, prepared, usb, location, output, stop);
    }
  };
  {
    std::vector<std::jthread> workers(line.jobs == 0 ? devices : std::min<std::size_t>(line.jobs, devices));
    for (std::jthread& thread : workers) thread = std::jthread(worker);
  }
  Results results;
  for (std::size_t i = 0; i < devices; ++i) results.Add(i, codes[i]);
  return Summarize(ui, results, stop);
}

namespace {

// The devices of a station: those waiting for a place (--jobs), those running, and the results of
// those done. Devices arrive and leave on the station's own thread; a run that ends starts the next
// one waiting, and its thread is joined by the station's thread soon after.
class Station {
 public:
  Station(const CommandLine& line, const Prepared& prepared, UsbBus& usb, ConsoleOutput& output,
          StopFlag stop)
      : line_(line), prepared_(prepared), usb_(usb), output_(output), stop_(stop) {}

  // Every device is run once per attachment: queued when it arrives, again only after it has left.
  void Arrived(const UsbLocation& location) {
    const std::lock_guard lock(mutex_);
    if (Counted() || attached_.contains(location.Text())) return;
    attached_.insert(location.Text());
    waiting_.push_back({location, arrivals_++});
    StartWaiting();
  }
  // A device that leaves while it waits for its place leaves the queue.
  void Left(const UsbLocation& location) {
    const std::lock_guard lock(mutex_);
    attached_.erase(location.Text());
    std::erase_if(waiting_, [&](const Entry& entry) { return entry.location == location; });
  }

  // --count devices have run or are waiting to.
  bool LimitReached() const {
    const std::lock_guard lock(mutex_);
    return Counted();
  }
  std::size_t Running() const {
    const std::lock_guard lock(mutex_);
    return running_ + waiting_.size();
  }

  // "done 3, failed 1, running 2"
  std::string Tally() const {
    const std::lock_guard lock(mutex_);
    return "done " + std::to_string(results_.succeeded()) + ", failed " +
           std::to_string(results_.ended() - results_.succeeded()) + ", running " +
           std::to_string(running_ + waiting_.size());
  }

  // The threads of the runs that have ended.
  void JoinEnded() {
    std::vector<std::jthread> ended;
    {
      const std::lock_guard lock(mutex_);
      ended.swap(ended_);
    }
    for (std::jthread& thread : ended) thread.join();
  }

  // A stop keeps the waiting devices from starting; the running ones stop by themselves, and are
  // waited for.
  Results Finish() {
    std::unique_lock lock(mutex_);
    for (const Entry& entry : waiting_) 
      results_.Add(entry.arrival, NotStartedOnListedDevice(line_, prepared_, entry.location, output_,
                                                           kInterrupted.text, kStopped));
    waiting_.clear();
    runEnded_.wait(lock, [this] { return running_ == 0; });
    lock.unlock();
    JoinEnded();
    return results_;
  }

 private:
  struct Entry {
    UsbLocation location;
    std::size_t arrival;
  };

  // Called with the mutex held.
  bool Counted() const { return line_.count != 0 && started_ + waiting_.size() >= line_.count; }

  // Called with the mutex held. A run the system will not start is that device's failure alone.
  void StartWaiting() {
    while (!waiting_.empty() && (line_.jobs == 0 || running_ < line_.jobs)) {
      const Entry entry = waiting_.front();
      waiting_.pop_front();
      ++started_;
      const std::uint64_t id = nextRun_++;
      try {
        runs_[id] = std::jthread([this, entry, id] { Run(entry, id); });
        ++running_;
      } catch (const std::system_error& error) {
        runs_.erase(id);
        results_.Add(entry.arrival,
                     NotStartedOnListedDevice(line_, prepared_, entry.location, output_,
                                              std::string("Can't start the run: ") + error.what(), kOsError));
      }
    }
  }

  // On the run's own thread.
  void Run(const Entry& entry, std::uint64_t id) {
    const int code = RunOnListedDevice(line_, prepared_, usb_, entry.location, output_, stop_);
    const std::lock_guard lock(mutex_);
    results_.Add(entry.arrival, code);
    --running_;
    const auto own = runs_.find(id);
    ended_.push_back(std::move(own->second));
    runs_.erase(own);
    if (!StopRequested(stop_)) StartWaiting();
    runEnded_.notify_all();
  }

  const CommandLine& line_;
  const Prepared& prepared_;
  UsbBus& usb_;
  ConsoleOutput& output_;
  StopFlag stop_;
  mutable std::mutex mutex_;
  std::condition_variable runEnded_;
  std::set<std::string> attached_;
  std::deque<Entry> waiting_;
  std::size_t arrivals_ = 0;
  std::size_t started_ = 0;
  std::size_t running_ = 0;
  Results results_;
  std::uint64_t nextRun_ = 0;
  std::vector<std::jthread> ended_;
  std::map<std::uint64_t, std::jthread> runs_;  // last: joined before the members the runs use go
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
    if (!changes.denied.empty()) output.PrintLines({{true, UsbPermissionText(changes.denied.size())}});
    for (const UsbLocation& location : changes.left) station.Left(location);
    for (const UsbDeviceEntry& device : changes.arrived) station.Arrived(device.location);
    station.JoinEnded();
    if (const std::string now = station.Tally(); tally && now != shown) output.SetTally(shown = now);
  }
  const Results results = station.Finish();
  if (tally) output.SetTally("");
  return Summarize(ui, results, stop);
}

}  // namespace hnx::cli
