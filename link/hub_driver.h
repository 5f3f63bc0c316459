// The USB host-controller and hub driver interface that the presence scan walks.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace hnx {

class HubDriver {
 public:
  using Handle = void*;
  virtual ~HubDriver() = default;

  // Opens a host controller ("\\.\HCD0") or a hub ("\\.\" + its name) for I/O controls;
  // nullptr when the name cannot be opened.
  virtual Handle Open(const std::string& name) = 0;
  // One synchronous I/O control; false when it failed. `returned` receives the bytes written to
  // `output`. `input` and `output` may be the same buffer.
  virtual bool IoControl(Handle device, std::uint32_t code, const void* input, std::uint32_t inputLength,
                         void* output, std::uint32_t outputLength, std::uint32_t& returned) = 0;
  virtual void Close(Handle device) = 0;
  // The platform's wide-to-narrow conversion (WideCharToMultiByte, CP_ACP, flags 0, source
  // length -1): with no output, the size in bytes that the NUL-terminated `text` needs, NUL
  // included; with an output of `outputSize` bytes, the bytes written. 0 on failure.
  virtual int ConvertWideToNarrow(const char16_t* text, char* output, int outputSize) = 0;
};

// Holds what HubDriver::Open gave and closes it, if it was opened, when the scope ends.
class OpenedHubDevice {
 public:
  OpenedHubDevice(HubDriver& driver, const std::string& name) : driver_(driver), handle_(driver.Open(name)) {}
  ~OpenedHubDevice() {
    if (handle_ != nullptr) driver_.Close(handle_);
  }
  OpenedHubDevice(const OpenedHubDevice&) = delete;
  OpenedHubDevice& operator=(const OpenedHubDevice&) = delete;

  bool opened() const { return handle_ != nullptr; }
  HubDriver::Handle handle() const { return handle_; }

 private:
  HubDriver& driver_;
  HubDriver::Handle handle_;
};

// NUL-terminated UTF-16 text in the narrow code page of the driver: asks for the size, then
// converts. Nothing when either step fails.
std::optional<std::string> WideToNarrow(HubDriver& driver, const char16_t* text);

}  // namespace hnx
