#include "cli/command_runner.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>
#include <variant>

#include "cli/device_run.h"
#include "cli/many_devices.h"
#include "cli/platform.h"
#include "cli/run_record.h"
#include "link/file_names.h"
#include "ops/image_formats.h"
#include "ops/messages.h"
#include "ops/operation_scope.h"
#include "res/embedded_image.h"

namespace hnx::cli {
namespace {

// The embedded image, or the image given with --image, held in memory.
class MemoryImageResource final : public ImageResource {
 public:
  explicit MemoryImageResource(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {}
  bool Find() override { return true; }
  bool Load() override { return true; }
  const std::uint8_t* Lock() override { return bytes_.data(); }
  std::uint32_t Size() override { return static_cast<std::uint32_t>(bytes_.size()); }

 private:
  std::vector<std::uint8_t> bytes_;
};

enum class FileRead { Read, Unreadable, TooLarge };

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

// The whole of the regular file `name`; one larger than any image could be is refused unread.
FileRead ReadWholeFile(const std::string& name, std::vector<std::uint8_t>& content) {
  const std::unique_ptr<std::FILE, FileCloser> file(OpenForReading(name));
  if (!file) return FileRead::Unreadable;
  const std::optional<std::uint64_t> size = RegularFileSize(file.get());
  if (!size) return FileRead::Unreadable;
  if (*size > kLargestImageFileSize) return FileRead::TooLarge;
  content.resize(static_cast<std::size_t>(*size));
  content.resize(std::fread(content.data(), 1, content.size(), file.get()));
  return std::ferror(file.get()) != 0 ? FileRead::Unreadable : FileRead::Read;
}

bool TakesImageFile(const CommandLine& line) {
  return line.command == Command::Write || line.command == Command::Verify ||
         (line.command == Command::Update && !line.file.empty());
}

bool RunsOnSeveralDevices(const CommandLine& line) {
  return line.all || line.station;
}

// What the line before the outcome says the flash went through.
const char* WorkText(Command command) {
  switch (command) {
    case Command::Update:
      return "programmed and verified";
    case Command::Write:
      return "programmed";
    case Command::Verify:
      return "verified";
    case Command::Read:
      return "read";
    case Command::Erase:
      return "erased and checked blank";
    default:
      return "";
  }
}

// The entry points without which the command cannot end as it should: it would leave the device
// half done (erased, say, with nothing programmed) or its pipe claimed.
std::vector<const char*> EntryPointsNeeded(Command command) {
  switch (command) {
    case Command::Protect:
      return {kUsbOpenPipeName, kUsbBulkWriteName, kUsbClosePipeName};
    case Command::ExitIsp:
      return {kUsbOpenPipeName, kUsbBulkWriteName};
    case Command::List:
      return {};
    default:
      return {kUsbOpenPipeName, kUsbClosePipeName, kUsbBulkWriteName, kUsbBulkReadName};
  }
}

// Opens the transfer log at `path` (appending); the exit code when it cannot be written.
std::optional<int> OpenLog(const std::string& path, ConsoleUi& ui, std::unique_ptr<TransferLogFile>& log) {
  log = std::make_unique<TransferLogFile>(path);
  if (log->isOpen()) return std::nullopt;
  return ui.Finish("Can't write the log file " + path + " !!", kTransferFailed);
}

// Reads and decodes the image file and, for a run on one device, opens the log; the exit code when
// either fails.
std::optional<int> Prepare(const CommandLine& line, const ChipProfile& chip, ConsoleUi& ui,
                           Prepared& prepared) {
  // A bad image file is refused before anything reaches the device.
  if (TakesImageFile(line)) {
    std::vector<std::uint8_t> content;
    const FileRead read = ReadWholeFile(line.file, content);
    if (read == FileRead::Unreadable) return ui.Finish(kOpenFileError.text, kNoImageFile);
    if (read == FileRead::TooLarge) {
      ui.AddDetail(line.file + ": larger than " + std::to_string(kLargestImageFileSize >> 20) +
                       " MiB, more than any chip's image even as text",
                   true);
      return ui.Finish(kFileReadFailed.text, kBadImageData);
    }
    prepared.record.image = IdentifyImage(line.file, content);
    if (const std::optional<int> refused = RefuseUnexpectedImage(line, *prepared.record.image, ui))
      return refused;
    auto decoded = DecodeImage(content, chip.imageSize);
    if (const auto* fault = std::get_if<ImageError>(&decoded)) {
      std::string where = line.file;
      if (fault->line != 0) where.append(":").append(std::to_string(fault->line));
      where.append(": ").append(fault->text);
      ui.AddDetail(where, true);
      return ui.Finish(kFileReadFailed.text, kBadImageData);
    }
    prepared.image = std::move(std::get<DecodedImage>(decoded).bytes);
  } else if (line.command == Command::Update) {
    prepared.record.image = IdentifyImage(kEmbeddedImageSource, EmbeddedImage());
    if (const std::optional<int> refused = RefuseUnexpectedImage(line, *prepared.record.image, ui))
      return refused;
  }
  if (!line.logPath.empty() && !RunsOnSeveralDevices(line)) return OpenLog(line.logPath, ui, prepared.log);
  return std::nullopt;
}

// Where one device's run is heard from and what it runs through: the library at `libraryPath`, or
// `transport` when there is one.
struct Channel {
  std::string libraryPath;
  Transport* transport = nullptr;
  TransferLog* log = nullptr;
  std::string device;  // names the staging of one of several devices
};

// Runs the command's operation to its end.
void Operate(const CommandLine& line, ConsoleUi& ui, const Prepared& prepared, const Channel& channel,
             StopFlag stop) {
  PlatformDynamicLibrary libraries;
  const std::span<const std::uint8_t> embedded = EmbeddedImage();
  MemoryImageResource resource(line.command == Command::Update && prepared.image
                                   ? *prepared.image
                                   : std::vector<std::uint8_t>(embedded.begin(), embedded.end()));
  const std::unique_ptr<HubDriver> hubs = MakeHubDriver();
  ThreadSleeper sleeper;
  DialogState state;
  state.m_strChipType = line.chip;
  state.m_strImagePath = line.file;
  OperationContext context{state, ui,       libraries, channel.libraryPath,
                           *hubs, resource, sleeper,   StagingForThisRun(channel.device)};
  context.transferLog = channel.log;
  context.transport = channel.transport;
  context.openWaitSeconds = line.waitSeconds;
  context.stop = stop;
  if (line.command != Command::Update) context.imageFileContent = prepared.image;
  ui.DescribeWork(WorkText(line.command));

  switch (line.command) {
    case Command::Update:
      RunUpdate(context);
      break;
    case Command::Write:
      WriteImageFile(context);
      break;
    case Command::Verify:
      VerifyImageFile(context);
      break;
    case Command::Read:
      ReadToDumpFile(context);
      break;
    case Command::Erase:
      MassEraseWithBlankCheck(context);
      break;
    case Command::Protect:
      ReadProtect(context);
      break;
    case Command::ExitIsp:
      ExitIsp(context);
      break;
    case Command::List: {
      const std::uint32_t count = CountDevices(context);
      ui.AddDetail(CountText(count) + " attached", false);
      Show(ui, count > 0 ? kDeviceFound : kNoDeviceAttached);
      break;
    }
  }
}

int RunWithLibrary(const CommandLine& line, ConsoleUi& ui, const Prepared& prepared, StopFlag stop) {
  const std::string libraryPath = line.library.empty() ? DefaultTransferLibraryPath() : line.library;
  // Only where the system's USB access could not start, since it is used when no library is named.
  if (libraryPath.empty())
    return ui.Finish(
        "Can't reach the USB devices (libusb did not start): name a transfer library with --library.",
        kNoDevice);
  if (RunsOnSeveralDevices(line) || !line.device.empty())
    return ui.Finish(
        "--device, --all and --station choose among the system's USB devices; a transfer library has one.",
        kUsage);
  PlatformDynamicLibrary libraries;
  if (DynamicLibrary::Handle probe = libraries.Load(libraryPath)) {
    libraries.Unload(probe);
  } else {
    ui.AddDetail("Can't load the transfer library " + libraryPath, true);
  }
  {
    // Resolving calls nothing in the library, so nothing has reached the device yet.
    const TransferLibrary resolved(libraries, libraryPath);
    std::vector<std::string> lacking;
    for (const char* name : EntryPointsNeeded(line.command))
      if (std::ranges::count(resolved.missingEntryPoints(), name) > 0)
        lacking.push_back(MissingEntryPointText(name));
    if (!lacking.empty()) {
      for (std::size_t i = 0; i + 1 < lacking.size(); ++i) ui.AddDetail(lacking[i], true);
      return ui.Finish(lacking.back(), kNoDevice);
    }
  }
  Operate(line, ui, prepared, {libraryPath, nullptr, prepared.oneDeviceLog, ""}, stop);
  return ui.Finish(line.command == Command::Read);
}

int RunOnDevice(const CommandLine& line, ConsoleUi& ui, const Prepared& prepared, TransferLog* log,
                UsbBus& usb, const std::optional<UsbLocation>& location, StopFlag stop) {
  const std::unique_ptr<UsbTransport> transport = usb.Connect(location);
  Operate(line, ui, prepared, {"", transport.get(), log, location ? location->Text() : ""}, stop);
  if (const std::uint32_t denied = transport->deniedAtLastOpen())
    ui.ReplaceNoDeviceOutcome(UsbPermissionText(denied));
  return ui.Finish(line.command == Command::Read);
}

int ListDevices(ConsoleUi& ui, const UsbSurvey& survey) {
  for (const UsbDeviceEntry& device : survey.devices) {
    ui.AddDetail(device.Description(), false);
    ui.EmitJson({{"device", device.location.Text()},
                 {"bus", device.location.bus},
                 {"port", device.location.PortPath()},
                 {"speed", device.speed}});
  }
  ui.AddDetail(CountText(survey.devices.size()) + " attached", false);
  if (survey.devices.empty() && survey.denied > 0)
    return ui.Finish(UsbPermissionText(survey.denied), kNoDevice);
  Show(ui, survey.devices.empty() ? kNoDeviceAttached : kDeviceFound);
  return ui.Finish(false);
}

int RunOnUsb(const CommandLine& line, ConsoleUi& ui, const Prepared& prepared, UsbBus& usb,
             ConsoleOutput& output, StopFlag stop) {
  if (line.command == Command::List) return ListDevices(ui, usb.Survey());
  if (line.station) return RunStation(line, ui, prepared, usb, output, stop);
  if (line.all) return RunOnEveryDevice(line, ui, prepared, usb, output, stop);
  if (!line.device.empty()) {
    const std::optional<UsbLocation> location = UsbLocation::Parse(line.device);
    if (!location)
      return ui.Finish(
          "--device takes BUS-PORT[.PORT...] as lsusb -t shows it, e.g. 1-4.2, not " + line.device, kUsage);
    return RunOnDevice(line, ui, prepared, prepared.oneDeviceLog, usb, location, stop);
  }
  const UsbSurvey survey = usb.Survey();
  if (survey.devices.size() > 1) {
    for (const UsbDeviceEntry& device : survey.devices) ui.AddDetail(device.Description(), true);
    return ui.Finish(
        CountText(survey.devices.size()) + " attached: choose one with --device or every one with --all.",
        kUsage);
  }
  return RunOnDevice(line, ui, prepared, prepared.oneDeviceLog, usb, std::nullopt, stop);
}

#if defined(_WIN32)
constexpr const char* kPathSeparators = "\\/";
#else
constexpr const char* kPathSeparators = "/";
#endif

// field.log: field.1-4.2.log; field: field.1-4.2; logs/.field: logs/.field.1-4.2.
std::string LogPathOf(const std::string& logPath, const UsbLocation& location) {
  const std::size_t nameStart = logPath.find_last_of(kPathSeparators) + 1;  // 0 when there is none
  std::size_t dot = logPath.rfind('.');
  if (dot == std::string::npos || dot <= nameStart) dot = logPath.size();
  return logPath.substr(0, dot) + "." + location.Text() + logPath.substr(dot);
}

}  // namespace

std::string CountText(std::size_t count) {
  return std::to_string(count) + (count == 1 ? " device" : " devices");
}

int RunOnListedDevice(const CommandLine& line, const Prepared& prepared, UsbBus& usb,
                      const UsbLocation& location, ConsoleOutput& output, StopFlag stop) {
  ConsoleUi ui(line.file, line.progress, line.quiet, output, location.Text());
  DeviceRunRecord record(prepared.record, location.Text());
  RecordAtOutcome(ui, record);
  std::unique_ptr<TransferLogFile> log;
  if (!line.logPath.empty())
    if (const std::optional<int> failed = OpenLog(LogPathOf(line.logPath, location), ui, log)) return *failed;
  record.Forward(log.get());
  return RunOnDevice(line, ui, prepared, &record, usb, location, stop);
}

int NotStartedOnListedDevice(const CommandLine& line, const Prepared& prepared, const UsbLocation& location,
                             ConsoleOutput& output, const std::string& outcome, int code) {
  ConsoleUi ui(line.file, line.progress, line.quiet, output, location.Text());
  const DeviceRunRecord record(prepared.record, location.Text());
  RecordAtOutcome(ui, record);
  return ui.Finish(outcome, code);
}

namespace {

int RunToTheEnd(const CommandLine& line, ConsoleOutput& output, StopFlag stop) {
  ConsoleUi ui(line.file, line.progress, line.quiet, output);
  if (RunsOnSeveralDevices(line) && line.command == Command::Read)
    return ui.Finish("read writes one file: choose one device with --device.", kUsage);

  // The run's own record: of its one device, or of a run on several that ends before any starts.
  Prepared prepared;
  prepared.record = RecordHeaderOf(line);
  DeviceRunRecord record(prepared.record, line.device.empty() ? std::nullopt : std::optional(line.device));
  if (line.command != Command::List) RecordAtOutcome(ui, record);  // list runs on no device
  const ChipLookup chip = LookUpChip(line.chip);
  if (chip.status != ChipLookupStatus::Found) return ui.Finish(ChipLookupFailure(chip).text, kBadImageData);
  if (const std::optional<int> failed = Prepare(line, chip.profile, ui, prepared)) return *failed;
  record.Forward(prepared.log.get());
  prepared.oneDeviceLog = &record;
  if (prepared.record.image) ui.EmitJson(ImageObject(*prepared.record.image));

  const std::unique_ptr<UsbBus> usb = line.library.empty() ? MakeSystemUsb() : nullptr;
  if (usb) return RunOnUsb(line, ui, prepared, *usb, output, stop);
  return RunWithLibrary(line, ui, prepared, stop);
}

}  // namespace

// The device's run is what it is whatever became of its lines; only a success that could not be
// told whole is not told as one.
int RunCommand(const CommandLine& line, std::FILE* out, std::FILE* err, StopFlag stop) {
  ConsoleOutput output(out, err, IsTerminal(err));
  const int code = RunToTheEnd(line, output, stop);
  return !output.Flush() && code == kSuccess ? kOutputLost : code;
}

}  // namespace hnx::cli
