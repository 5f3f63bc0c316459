#include "cli/run_record.h"

#include <algorithm>
#include <cctype>

#include "res/embedded_image.h"

namespace hnx::cli {

const char* CommandName(Command command) {
  switch (command) {
    case Command::Update:
      return "update";
    case Command::Write:
      return "write";
    case Command::Verify:
      return "verify";
    case Command::Read:
      return "read";
    case Command::Erase:
      return "erase";
    case Command::Protect:
      return "protect";
    case Command::ExitIsp:
      return "exit-isp";
    case Command::List:
      return "list";
  }
  return "";
}

RecordHeader RecordHeaderOf(const CommandLine& line) {
  return {line.recordPath,
          HostName(),
          line.operatorName.empty() ? LoginName() : line.operatorName,
          "hnx-update " HNX_VERSION,
          CommandName(line.command),
          line.chip,
          std::nullopt};
}

void RecordAtOutcome(ConsoleUi& ui, const DeviceRunRecord& record) {
  ui.BeforeOutcome([&ui, &record](const std::string& outcome, int code) {
    const std::string failure = record.Write(outcome, code, ui.BytesMoved());
    if (failure.empty()) return code;
    ui.AddDetail(failure, true);
    return code == kSuccess ? static_cast<int>(kTransferFailed) : code;
  });
}

std::optional<int> RefuseUnexpectedImage(const CommandLine& line, const ImageIdentity& image, ConsoleUi& ui) {
  std::string expected = line.expectSha256;
  std::ranges::transform(expected, expected.begin(), [](unsigned char c) { return std::tolower(c); });
  if (expected.empty() || expected == image.sha256) return std::nullopt;
  ui.AddDetail(image.source + ": SHA-256 " + (image.sha256.empty() ? "unknown" : image.sha256), true);
  return ui.Finish("The image's SHA-256 is not the one expected (" + expected + "): refused.", kBadImageData);
}

Json ImageObject(const ImageIdentity& image) {
  return {{"image", {{"source", image.source}, {"size", image.size}, {"sha256", image.sha256}}}};
}

std::string VersionText() {
  const ImageIdentity embedded = IdentifyImage(kEmbeddedImageSource, EmbeddedImage());
  return "hnx-update " HNX_VERSION "\nembedded image: " + std::to_string(embedded.size) + " bytes, SHA-256 " +
         embedded.sha256;
}

}  // namespace hnx::cli
