#include "cli/command_runner.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <thread>
#include <variant>

#include "cli/platform.h"
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

std::optional<std::vector<std::uint8_t>> ReadWholeFile(const std::string& path) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) return std::nullopt;
  std::ifstream file(path, std::ios::binary);
  std::vector<std::uint8_t> content((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  if (file.bad()) return std::nullopt;
  return content;
}

bool TakesImageFile(const CommandLine& line) {
  return line.command == Command::Write || line.command == Command::Verify ||
         (line.command == Command::Update && !line.file.empty());
}

}  // namespace

int RunCommand(const CommandLine& line, std::FILE* out, std::FILE* err) {
  ConsoleUi ui(line.file, line.progress, line.quiet, out, err, IsTerminal(err));

  const ChipLookup chip = LookUpChip(line.chip);
  if (chip.status != ChipLookupStatus::Found) return ui.Finish(ChipLookupFailure(chip).text, kBadImageData);

  // A bad image file is refused before anything reaches the device.
  std::optional<std::vector<std::uint8_t>> image;
  if (TakesImageFile(line)) {
    const std::optional<std::vector<std::uint8_t>> content = ReadWholeFile(line.file);
    if (!content) return ui.Finish(kOpenFileError.text, kNoImageFile);
    auto decoded = DecodeImage(*content, chip.profile.imageSize);
    if (const auto* fault = std::get_if<ImageError>(&decoded)) {
      std::string where = line.file;
      if (fault->line != 0) where.append(":").append(std::to_string(fault->line));
      where.append(": ").append(fault->text);
      ui.AddDetail(where, true);
      return ui.Finish(kFileReadFailed.text, kBadImageData);
    }
    image = std::move(std::get<DecodedImage>(decoded).bytes);
  }

  std::unique_ptr<TransferLogFile> log;
  if (!line.logPath.empty()) {
    log = std::make_unique<TransferLogFile>(line.logPath);
    if (!log->isOpen()) return ui.Finish("Can't write the log file " + line.logPath + " !!", kTransferFailed);
  }

  PlatformDynamicLibrary libraries;
  const std::string libraryPath = line.library.empty() ? DefaultTransferLibraryPath() : line.library;
  if (libraryPath.empty()) return ui.Finish("No transfer library: name one with --library.", kNoDevice);
  if (DynamicLibrary::Handle probe = libraries.Load(libraryPath)) libraries.Unload(probe);
  else ui.AddDetail("Can't load the transfer library " + libraryPath, true);

  const std::span<const std::uint8_t> embedded = EmbeddedImage();
  MemoryImageResource resource(line.command == Command::Update && image
                                   ? *image
                                   : std::vector<std::uint8_t>(embedded.begin(), embedded.end()));
  const std::unique_ptr<HubDriver> hubs = MakeHubDriver();
  ThreadSleeper sleeper;
  DialogState state;
  state.m_strChipType = line.chip;
  state.m_strImagePath = line.file;
  OperationContext context{state, ui, libraries, libraryPath, *hubs, resource, sleeper, StagingForThisRun()};
  context.transferLog = log.get();
  context.openWaitSeconds = line.waitSeconds;
  if (line.command != Command::Update) context.imageFileContent = std::move(image);

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
      ui.AddDetail(std::to_string(count) + (count == 1 ? " device" : " devices") + " attached", false);
      Show(ui, count > 0 ? kDeviceFound : kNoDeviceAttached);
      break;
    }
  }
  return ui.Finish(line.command == Command::Read);
}

}  // namespace hnx::cli
