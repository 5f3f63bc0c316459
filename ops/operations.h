// The handlers of the dialog's buttons, and what they work with. Each runs to its end, shows its
// outcome in message boxes and releases whatever it acquired.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "link/isp.h"
#include "link/presence_scan.h"
#include "link/transfer_library.h"
#include "ops/dialog_ui.h"

namespace hnx {

// The firmware image embedded in the program (resource type "bin", id 133). A virtual seam: tests
// hold the image in memory and can fail any step.
class ImageResource {
 public:
  virtual ~ImageResource() = default;

  // The three steps of reaching the bytes; each reports its own failure, and a step after a
  // failed one is still tried (it fails too on Windows).
  virtual bool Find() = 0;
  virtual bool Load() = 0;
  // The bytes, or nullptr when they cannot be locked.
  virtual const std::uint8_t* Lock() = 0;
  // The resource's size in bytes; 0 when it was not found.
  virtual std::uint32_t Size() = 0;
};

// The wait between attempts to open the device pipe. A virtual seam: tests record the waits.
class Sleeper {
 public:
  virtual ~Sleeper() = default;
  virtual void Sleep(std::uint32_t milliseconds) = 0;
};

// The calling thread sleeps: the front ends that run an operation on a thread of its own.
class ThreadSleeper final : public Sleeper {
 public:
  void Sleep(std::uint32_t milliseconds) override;
};

#if defined(_WIN32)
class Win32ImageResource final : public ImageResource {
 public:
  bool Find() override;
  bool Load() override;
  const std::uint8_t* Lock() override;
  std::uint32_t Size() override;

 private:
  void* info_ = nullptr;  // HRSRC
  void* data_ = nullptr;  // HGLOBAL
};

class Win32Sleeper final : public Sleeper {
 public:
  void Sleep(std::uint32_t milliseconds) override;
};
#endif

// Where the update stages the image. The dialog's: `folder`, made when missing and otherwise used as
// it is, and `file` in it, replaced. Made per run (the Linux front ends, `newFolderPrefix` set): every
// staging makes a folder of its own, new, named the prefix and six random characters, that only this
// user may enter, and creates `file` in it as a new file; `folder` and `file` name them until the
// staging is removed, and nothing after.
struct StagingPaths {
  std::string folder;
  std::string file;
  std::string newFolderPrefix{};
};

// The program's staging folder and file; the doubled slashes are part of the names.
inline const StagingPaths kProgramStaging = {"C://Program BinFile", "C://Program BinFile//b167h.bin"};

// Staging made per run in the system's temporary folder ($TMPDIR, else /tmp), in folders named `name`,
// a dash and six random characters: where the front ends on Linux stage the image. POSIX only.
StagingPaths StagingInTemporaryFolder(const std::string& name);

// What every operation works with: the dialog's members and user interface, and the seams to the
// transfer library, the USB hubs, the embedded image and the clock.
struct OperationContext {
  DialogState& state;
  DialogUi& ui;
  DynamicLibrary& libraries;
  std::string transferLibraryPath;
  HubDriver& hubs;
  ImageResource& image;
  Sleeper& sleeper;
  StagingPaths staging;
  // What front ends other than the dialog choose.
  TransferLog* transferLog = nullptr;  // told of every call of an entry point
  // Bound in place of the library at transferLibraryPath when set, e.g. the system's USB access.
  Transport* transport = nullptr;
  // How many seconds to keep trying to open the pipe; unset: the update 30, the others not again.
  std::optional<std::uint32_t> openWaitSeconds{};
  // Write and Verify: the image file's content as read and decoded beforehand, in place of reading
  // m_strImagePath as raw binary.
  std::optional<std::vector<std::uint8_t>> imageFileContent{};
  // Once set, the operation stops at the next block boundary (or wait for the device), releases what
  // it holds and reports kInterrupted; the device stays in ISP mode.
  StopFlag stop = nullptr;
};

// The dialog's start-up, once its controls exist: the chip type "ZB29K702" in its control and member,
// the progress bar's range of 2048 steps at 0, an empty checksum, and the shipped layout in pixels (the
// progress bar and "Update" moved into view, the window made 530 x 180 outside, which leaves every
// other control outside it).
void InitialiseDialog(DialogState& state, DialogUi& ui);

void RunUpdate(OperationContext& context);                // "Update"
void MassEraseWithBlankCheck(OperationContext& context);  // "Mass Erase"
void WriteImageFile(OperationContext& context);           // "Write"
void VerifyImageFile(OperationContext& context);          // "Verify"
void OpenImageFile(OperationContext& context);            // "Open File"
void ReadToDumpFile(OperationContext& context);           // "Read"
void ReadProtect(OperationContext& context);              // "Read Protect"
void ExitIsp(OperationContext& context);                  // "Exit ISP"
void Reconnect(OperationContext& context);                // "Re-connect"
// The update's first step: writes the embedded image to the staging file, makes it the image path and
// checks that it holds an image of the selected chip, whose checksum it shows. False after the
// message of what failed.
bool StageImage(OperationContext& context);
// Deletes the staging file and its folder: the update's end, the close request and command 8.
void RemoveStaging(OperationContext& context);

}  // namespace hnx
