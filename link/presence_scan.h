// The USB presence scan: counts the attached devices that answer the identification string, walking
// host controllers 0 to 9, their root hubs and every hub behind them through the hub driver.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace hnx {

inline constexpr std::u16string_view kIdentificationText = u"ZB29K702";
inline constexpr std::uint8_t kIdentificationDescriptorIndex = 0xFF;
inline constexpr std::uint16_t kIdentificationLanguage = 0x2861;

// The USB host-controller and hub driver interface that the scan walks. A virtual seam: tests walk a
// fake topology that answers the same requests byte for byte.
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

// Where there is no Windows USB stack: nothing opens, so a scan counts no device.
class NoHubDriver final : public HubDriver {
 public:
  Handle Open(const std::string&) override { return nullptr; }
  bool IoControl(Handle, std::uint32_t, const void*, std::uint32_t, void*, std::uint32_t,
                 std::uint32_t& returned) override {
    returned = 0;
    return false;
  }
  void Close(Handle) override {}
  int ConvertWideToNarrow(const char16_t*, char*, int) override { return 0; }
};

#if defined(_WIN32)
// The hub driver of the Windows USB stack: CreateFileA, DeviceIoControl, CloseHandle and
// WideCharToMultiByte.
class Win32HubDriver final : public HubDriver {
 public:
  Handle Open(const std::string& name) override;
  bool IoControl(Handle device, std::uint32_t code, const void* input, std::uint32_t inputLength,
                 void* output, std::uint32_t outputLength, std::uint32_t& returned) override;
  void Close(Handle device) override;
  int ConvertWideToNarrow(const char16_t* text, char* output, int outputSize) override;
};
#endif

// A string descriptor as the device sent it (all the bytes received): true when it is well formed
// (type 3, bLength the bytes received, even and not 0) and its text equals kIdentificationText.
bool IdentificationDescriptorMatches(std::span<const std::uint8_t> descriptor);

// The whole walk; always writes the count.
void CountAttachedDevices(HubDriver& driver, std::uint32_t& deviceCount);

// The walk's steps.

// NUL-terminated UTF-16 text in the narrow code page of the driver: asks for the size, then
// converts. Nothing when either step fails.
std::optional<std::string> WideToNarrow(HubDriver& driver, const char16_t* text);

// The narrow name of the root hub of an open host controller; nothing when it cannot be had. Hub
// names take two requests: a probe that learns the size of the reply, then the reply.
std::optional<std::string> QueryRootHubName(HubDriver& driver, HubDriver::Handle controller);

// The narrow name of the external hub on `port` of an open hub; nothing when it cannot be had,
// including when the probe reports a reply with no room for a name.
std::optional<std::string> QueryExternalHubName(HubDriver& driver, HubDriver::Handle hub, std::uint32_t port);

// Asks the device on `port` of an open hub for string descriptor 0xFF in language 0x2861; true when
// its reply is a well-formed string descriptor whose text equals kIdentificationText.
bool DeviceIdentifies(HubDriver& driver, HubDriver::Handle hub, std::uint32_t port);

}  // namespace hnx
