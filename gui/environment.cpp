#include "gui/environment.h"

#include <cstdlib>

namespace hnx::gui {

std::unique_ptr<TransferLogFile> TransferLogNamedByEnvironment() {
  const char* path = std::getenv("HNX_TRACE");
  if (path == nullptr || *path == '\0') return nullptr;
  return std::make_unique<TransferLogFile>(path);
}

std::string RecordFileNamedByEnvironment() {
  const char* path = std::getenv("HNX_RECORD");
  return path != nullptr ? path : "";
}

}  // namespace hnx::gui
