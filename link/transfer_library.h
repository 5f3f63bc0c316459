// The vendor transfer library ZB_USB: its four entry points, the loader it is reached through, and
// the binding that one operation holds from its start to its end.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "link/transfer_trace.h"

#if defined(_WIN32)
#define ZB_USB_CALL __cdecl
#else
#define ZB_USB_CALL
#endif

extern "C" {
// Non-zero when a pipe to the device in ISP mode is open.
typedef unsigned char(ZB_USB_CALL* UsbOpenPipeFn)(void);
typedef void(ZB_USB_CALL* UsbClosePipeFn)(void);
// Non-zero on success; *count receives the bytes moved.
typedef unsigned char(ZB_USB_CALL* UsbBulkWriteFn)(unsigned char* data, std::uint32_t length,
                                                   std::uint32_t* count);
typedef unsigned char(ZB_USB_CALL* UsbBulkReadFn)(unsigned char* buffer, std::uint32_t length,
                                                  std::uint32_t* count);
}

namespace hnx {

inline constexpr const char* kUsbOpenPipeName = "USB_Open_PIPE";
inline constexpr const char* kUsbClosePipeName = "USB_Close_PIPE";
inline constexpr const char* kUsbBulkWriteName = "USB_BulkWrite";
inline constexpr const char* kUsbBulkReadName = "USB_BulkRead";

inline constexpr const char* kTransferLibraryName = "ZB_USB.DLL";

// Loading a shared library, resolving its exports and unloading it. A virtual seam, so that tests
// can bind a simulated device in their own process.
class DynamicLibrary {
 public:
  using Handle = void*;
  virtual ~DynamicLibrary() = default;

  // The loaded library, or nullptr when it cannot be loaded.
  virtual Handle Load(const std::string& path) = 0;
  // The address of an exported name, or nullptr when the library lacks it.
  virtual void* Resolve(Handle library, const char* name) = 0;
  // Releases a handle that Load returned.
  virtual void Unload(Handle library) = 0;
};

// LoadLibraryExW on Windows (the path in UTF-8), dlopen elsewhere.
class PlatformDynamicLibrary final : public DynamicLibrary {
 public:
  Handle Load(const std::string& path) override;
  void* Resolve(Handle library, const char* name) override;
  void Unload(Handle library) override;
};

// The four operations of the transfer library's contract from another source than a loaded library,
// e.g. the system's own USB access: open the pipe (true when it is open), close it, and one bulk write
// or read (true on success, with `count` the bytes moved).
class Transport {
 public:
  virtual ~Transport() = default;
  virtual bool OpenPipe() = 0;
  virtual void ClosePipe() = 0;
  virtual bool BulkWrite(const std::uint8_t* data, std::uint32_t length, std::uint32_t& count) = 0;
  virtual bool BulkRead(std::uint8_t* buffer, std::uint32_t length, std::uint32_t& count) = 0;
  // The device whose pipe is open; nothing where the transport cannot tell.
  virtual std::optional<DeviceFacts> facts() const { return std::nullopt; }
};

class TransferLibrary {
 public:
  // Loads the library at `path` (nothing for "") and resolves USB_Open_PIPE, USB_Close_PIPE,
  // USB_BulkWrite and USB_BulkRead in that order; the names it lacks are kept, in that order, for the
  // caller to report. A library that cannot be loaded resolves nothing and lacks nothing. Every call
  // of an entry point is reported to `log` when there is one.
  TransferLibrary(DynamicLibrary& loader, const std::string& path, TransferLog* log = nullptr);
  // Binds `transport` in place of a library: it counts as loaded with every entry point, until
  // unloaded.
  TransferLibrary(Transport& transport, TransferLog* log = nullptr);
  ~TransferLibrary();
  TransferLibrary(const TransferLibrary&) = delete;
  TransferLibrary& operator=(const TransferLibrary&) = delete;

  bool loaded() const { return handle_ != nullptr || transport_ != nullptr; }
  const std::vector<std::string>& missingEntryPoints() const { return missing_; }
  // The library is loaded and USB_Open_PIPE was resolved, so OpenPipe can ask the device at all.
  bool canOpenPipe() const { return openPipe_ != nullptr || transport_ != nullptr; }
  bool pipeOpen() const { return pipeOpen_; }

  // One call of USB_Open_PIPE; false when the device answered 0 or the entry point is missing.
  bool OpenPipe();
  // One bulk write or read; true only when the library reports success and moved exactly `length`
  // bytes. A missing entry point is a failed transfer.
  bool BulkWrite(const std::uint8_t* data, std::uint32_t length);
  bool BulkRead(std::uint8_t* buffer, std::uint32_t length);

  // USB_Close_PIPE if this binding opened the pipe (and the entry point exists).
  void ClosePipe();
  // Closes the pipe if it is open, then unloads the library. Safe to call more than once.
  void Unload();
  // Exit ISP: the device has been told to leave ISP mode, so the library is unloaded with the pipe
  // left open.
  void UnloadKeepingPipeOpen();

 private:
  template <typename Function>
  Function Resolve(const char* name);

  void Log(TraceRecord record);
  bool Writes() const { return bulkWrite_ != nullptr || transport_ != nullptr; }
  bool Reads() const { return bulkRead_ != nullptr || transport_ != nullptr; }

  DynamicLibrary* loader_ = nullptr;
  Transport* transport_ = nullptr;
  TransferLog* log_ = nullptr;
  DynamicLibrary::Handle handle_ = nullptr;
  std::vector<std::string> missing_;
  UsbOpenPipeFn openPipe_ = nullptr;
  UsbClosePipeFn closePipe_ = nullptr;
  UsbBulkWriteFn bulkWrite_ = nullptr;
  UsbBulkReadFn bulkRead_ = nullptr;
  bool pipeOpen_ = false;
};

// The running program's full path, in UTF-8 on Windows; "" when it cannot be had.
std::string ProgramPath();

#if defined(_WIN32)
// From now on, libraries that the process loads by name come from the system folder only, never
// from the current directory (where the system offers the restriction).
void RestrictLibrarySearchToSystemFolder();
#endif

// The folder of `modulePath` (up to and including its last separator) followed by the library's
// name; "" (nothing to load) for a path without a folder. Only the program's own folder is searched:
// a library planted in the current directory is never loaded.
std::string TransferLibraryPathBeside(const std::string& modulePath);

}  // namespace hnx
