// Every outcome the operations report, word for word.
#pragma once

#include <cstdint>
#include <string>

#include "ops/dialog_ui.h"

namespace hnx {

struct Message {
  const char* text;
  MessageIcon icon;
  const char* caption = kDialogCaption;
};

// Failures.
inline constexpr Message kNoChipType{"Please select the ic type!", MessageIcon::Exclamation};
inline constexpr Message kUnknownChipType{"IC Type Error!!", MessageIcon::Error};
inline constexpr Message kTimeOut{"Time Out !! Please check device and try again.", MessageIcon::Error, ""};
inline constexpr Message kDeviceNotFound{"Can't find the device!", MessageIcon::None};
inline constexpr Message kNoImagePath{"Please open the program file!", MessageIcon::Exclamation};
inline constexpr Message kOpenFileError{"Open file error !!", MessageIcon::None};
inline constexpr Message kFileReadFailed{"Program file read Failed !!", MessageIcon::Error};
inline constexpr Message kWriteFailure{"Write Failure !!", MessageIcon::Error};
inline constexpr Message kReadFailure{"Read Failure !!", MessageIcon::Error};
inline constexpr Message kFlashWriteFailure{"Flash Write Failure !!", MessageIcon::Error};
inline constexpr Message kVerifyFailure{"Verify Failure !!", MessageIcon::Error};
inline constexpr Message kReadProtectFailure{"Read Protect Failure !!", MessageIcon::Error};
inline constexpr Message kMassEraseFailure{"Mass Erase Failure !!", MessageIcon::Error};
inline constexpr Message kDumpWriteFailed{"Dump file write Failed !!", MessageIcon::Error};
inline constexpr Message kNoDeviceAttached{"Device not found !!", MessageIcon::Error};
// Asked to stop (front ends other than the dialog): the operation ended at a block boundary.
inline constexpr Message kInterrupted{"Interrupted", MessageIcon::Exclamation};

// Successes.
inline constexpr Message kUpdateSucceeded{"Auto Command Succeeded !!", MessageIcon::Information};
inline constexpr Message kMassEraseSucceeded{"Mass Erase Command Succeeded !", MessageIcon::Information};
inline constexpr Message kWriteSucceeded{"Write Command Succeeded !", MessageIcon::Information};
inline constexpr Message kVerifySucceeded{"Verify Command Succeeded !!", MessageIcon::Information};
inline constexpr Message kReadSucceeded{"Read Command Succeeded !!", MessageIcon::Information};
inline constexpr Message kDownloadCompleted{"Download Completed !", MessageIcon::Information};
inline constexpr Message kReadProtectSucceeded{"Read Protect Command Succeeded !", MessageIcon::Information};
inline constexpr Message kExitIspSucceeded{"EXIT ISP Successfull !!", MessageIcon::Information};
inline constexpr Message kDeviceFound{"ZB44xx Found !", MessageIcon::Information};

// A transfer-library entry point that could not be resolved, shown with ShowAppMessage.
inline constexpr const char* kMissingEntryPointLead = "Can't load function ";
inline std::string MissingEntryPointText(const std::string& name) {
  return kMissingEntryPointLead + name + "!";
}

// Linux: identified devices whose nodes the user may not open, and the rule that gives access.
inline std::string UsbPermissionText(std::uint32_t devices) {
  return "No permission to open " + std::to_string(devices) + " USB device" + (devices == 1 ? "" : "s") +
         ": install the udev rule 60-hnx-update.rules (packaging/) and plug the device in again.";
}

}  // namespace hnx
