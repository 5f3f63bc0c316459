// What every button operation works with: the dialog's members and user interface, and the seams
// to the transfer library, the USB hubs, the embedded image and the clock.
#pragma once

#include <string>

#include "app/dialog_state.h"
#include "app/dialog_ui.h"
#include "link/dynamic_library.h"
#include "link/hub_driver.h"
#include "ops/image_resource.h"
#include "ops/sleeper.h"

namespace hnx {

struct StagingPaths {
  std::string folder;  // "C://Program BinFile" in the program
  std::string file;    // "C://Program BinFile//b167h.bin" in the program
};

struct OperationContext {
  DialogState& state;
  DialogUi& ui;
  DynamicLibrary& libraries;
  std::string transferLibraryPath;
  HubDriver& hubs;
  ImageResource& image;
  Sleeper& sleeper;
  StagingPaths staging;
};

}  // namespace hnx
