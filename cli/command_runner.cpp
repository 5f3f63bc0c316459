#include "cli/command_runner.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <thread>
#include <variant>

#include "cli/platform.h"
#include "link/file_names.h"
#include "ops/image_formats.h"
#include "ops/messages.h"
#include "ops/operation_scope.h"

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

class ThreadSleeper final : public Sleeper {
 public:
  void Sleep(std::uint32_t milliseconds) override {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
  }
};

std::optional<std::vector<std::uint8_t>> ReadWholeFile(const std::string& name) {
  const std::filesystem::path path = SystemPath(name);
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) return std::nullopt;
  std::ifstream file(path, std::ios::binary);
  std::vector<std::uint8_t> content((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  if (file.bad()) return std::nullopt;
  return content;
}

// "1 device", "2 devices".
std::string CountText(std::uint32_t count, const std::string& noun = "device") {
  return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

bool TakesImageFile(const CommandLine& line) {
  return line.command == Command::Write || line.command == Command::Verify ||
         (line.command == Command::Update && !line.file.empty());
}

// What every run of the command shares: the image file's content and the transfer log.
struct Prepared {
  std::optional<std::vector<std::uint8_t>> image;
  std::unique_ptr<TransferLogFile> log;
};

// Reads and decodes the image file and opens the log; the exit code when either fails.
std::optional<int> Prepare(const CommandLine& line, const ChipProfile& chip, ConsoleUi& ui, Prepared& prepared) {
  // A bad image file is refused before anything reaches the device.
  if (TakesImageFile(line)) {
    const std::optional<std::vector<std::uint8_t>> content = ReadWholeFile(line.file);
    if (!content) return ui.Finish(kOpenFileError.text, kNoImageFile);
    auto decoded = DecodeImage(*content, chip.imageSize);
    if (const auto* fault = std::get_if<ImageError>(&decoded)) {
      std::string where = line.file;
      if (fault->line != 0) where.append(":").append(std::to_string(fault->line));
      where.append(": ").append(fault->text);
      ui.AddDetail(where, true);
      return ui.Finish(kFileReadFailed.text, kBadImageData);
    }
    prepared.image = std::move(std::get<DecodedImage>(decoded).bytes);
  }
  if (!line.logPath.empty()) {
    prepared.log = std::make_unique<TransferLogFile>(line.logPath);
    if (!prepared.log->isOpen()) return ui.Finish("Can't write the log file " + line.logPath + " !!", kTransferFailed);
  }
  return std::nullopt;
}

// Runs the command's operation to its end through the library at `libraryPath`, or through
// `transport` when there is one.
void Operate(const CommandLine& line, ConsoleUi& ui, const Prepared& prepared, const std::string& libraryPath,
             Transport* transport) {
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
  OperationContext context{state, ui, libraries, libraryPath, *hubs, resource, sleeper, StagingForThisRun()};
  context.transferLog = prepared.log.get();
  context.transport = transport;
  context.openWaitSeconds = line.waitSeconds;
  if (line.command != Command::Update) context.imageFileContent = prepared.image;

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

int RunWithLibrary(const CommandLine& line, ConsoleUi& ui, const Prepared& prepared) {
  const std::string libraryPath = line.library.empty() ? DefaultTransferLibraryPath() : line.library;
  // Only where the system's USB access could not start, since it is used when no library is named.
  if (libraryPath.empty())
    return ui.Finish("Can't reach the USB devices (libusb did not start): name a transfer library with --library.",
                     kNoDevice);
  PlatformDynamicLibrary libraries;
  if (DynamicLibrary::Handle probe = libraries.Load(libraryPath)) libraries.Unload(probe);
  else ui.AddDetail("Can't load the transfer library " + libraryPath, true);
  Operate(line, ui, prepared, libraryPath, nullptr);
  return ui.Finish(line.command == Command::Read);
}

std::string PermissionText(std::uint32_t denied) {
  return "No permission to open " + CountText(denied, "USB device") +
         ": install the udev rule 60-hnx-update.rules (packaging/) and plug the device in again.";
}

std::string DeviceLine(const UsbDeviceEntry& device) {
  return device.location.Text() + ": bus " + std::to_string(device.location.bus) + ", port " +
         device.location.PortPath() + ", " + device.speed;
}

int RunOnDevice(const CommandLine& line, ConsoleUi& ui, const Prepared& prepared, UsbBus& usb,
                const std::optional<UsbLocation>& location) {
  const std::unique_ptr<UsbTransport> transport = usb.Connect(location);
  Operate(line, ui, prepared, "", transport.get());
  if (const std::uint32_t denied = transport->deniedAtLastOpen()) ui.ReplaceNoDeviceOutcome(PermissionText(denied));
  return ui.Finish(line.command == Command::Read);
}

int ListDevices(ConsoleUi& ui, const UsbSurvey& survey) {
  for (const UsbDeviceEntry& device : survey.devices) {
    ui.AddDetail(DeviceLine(device), false);
    ui.EmitJson("\"device\":\"" + device.location.Text() + "\",\"bus\":" + std::to_string(device.location.bus) +
                ",\"port\":\"" + device.location.PortPath() + "\",\"speed\":\"" + device.speed + "\"");
  }
  ui.AddDetail(CountText(static_cast<std::uint32_t>(survey.devices.size())) + " attached", false);
  if (survey.devices.empty() && survey.denied > 0) return ui.Finish(PermissionText(survey.denied), kNoDevice);
  Show(ui, survey.devices.empty() ? kNoDeviceAttached : kDeviceFound);
  return ui.Finish(false);
}

int RunOnEveryDevice(const CommandLine& line, ConsoleUi& ui, const Prepared& prepared, UsbBus& usb,
                     std::FILE* out, std::FILE* err) {
  const UsbSurvey survey = usb.Survey();
  if (survey.devices.empty())
    return ui.Finish(survey.denied > 0 ? PermissionText(survey.denied) : kNoDeviceAttached.text, kNoDevice);
  int firstFailure = kSuccess;
  std::uint32_t succeeded = 0;
  for (const UsbDeviceEntry& device : survey.devices) {
    ConsoleUi deviceUi(line.file, line.progress, line.quiet, out, err, IsTerminal(err), device.location.Text());
    const int code = RunOnDevice(line, deviceUi, prepared, usb, device.location);
    if (code == kSuccess) ++succeeded;
    else if (firstFailure == kSuccess) firstFailure = code;
  }
  return ui.Finish(std::to_string(succeeded) + " of " + CountText(static_cast<std::uint32_t>(survey.devices.size())) +
                       " succeeded",
                   firstFailure);
}

int RunOnUsb(const CommandLine& line, ConsoleUi& ui, const Prepared& prepared, UsbBus& usb, std::FILE* out,
             std::FILE* err) {
  if (line.command == Command::List) return ListDevices(ui, usb.Survey());
  if (line.all) return RunOnEveryDevice(line, ui, prepared, usb, out, err);
  if (!line.device.empty()) {
    const std::optional<UsbLocation> location = UsbLocation::Parse(line.device);
    if (!location) return ui.Finish("--device takes BUS-PORT[.PORT...] as lsusb -t shows it, e.g. 1-4.2, not " + line.device, kUsage);
    return RunOnDevice(line, ui, prepared, usb, location);
  }
  const UsbSurvey survey = usb.Survey();
  if (survey.devices.size() > 1) {
    for (const UsbDeviceEntry& device : survey.devices) ui.AddDetail(DeviceLine(device), true);
    return ui.Finish(CountText(static_cast<std::uint32_t>(survey.devices.size())) +
                         " attached: choose one with --device or every one with --all.",
                     kUsage);
  }
  return RunOnDevice(line, ui, prepared, usb, std::nullopt);
}

}  // namespace

int RunCommand(const CommandLine& line, std::FILE* out, std::FILE* err) {
  ConsoleUi ui(line.file, line.progress, line.quiet, out, err, IsTerminal(err));
  if (line.all && line.command == Command::Read)
    return ui.Finish("read writes one file: choose one device with --device.", kUsage);

  const ChipLookup chip = LookUpChip(line.chip);
  if (chip.status != ChipLookupStatus::Found) return ui.Finish(ChipLookupFailure(chip).text, kBadImageData);
  Prepared prepared;
  if (const std::optional<int> failed = Prepare(line, chip.profile, ui, prepared)) return *failed;

  const bool choosesDevice = line.all || !line.device.empty();
  const std::unique_ptr<UsbBus> usb = line.library.empty() ? MakeSystemUsb() : nullptr;
  if (usb) return RunOnUsb(line, ui, prepared, *usb, out, err);
  if (choosesDevice)
    return ui.Finish("--device and --all choose among the system's USB devices; a transfer library has one.", kUsage);
  return RunWithLibrary(line, ui, prepared);
}

}  // namespace hnx::cli
