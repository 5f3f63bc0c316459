// The page's way to the device: a Transport whose calls await WebUSB (web/glue.js) on one of the
// devices that the browser granted the page. A device is ours when its string descriptor 0xFF in
// language 0x2861 reads the identification text, asked before any frame; every transfer ends within
// the limit of the other transports, the device closed when it passes.
#pragma once

#include <cstdint>
#include <vector>

#include "link/transfer_library.h"

namespace hnx::web {

// Why the device could not be reached, as WebUSB tells it.
enum class Reach {
  Ok,
  Denied,         // the browser or the system refused access (SecurityError)
  Gone,           // unplugged, or failed to open for another reason
  NotIdentified,  // it answered, but not as ours: never written to
  ClaimRefused,   // another program or a kernel driver holds its interface (NetworkError)
};

// Opens the granted device `index`, asks for the identification string and closes it again.
Reach Identify(int index);

// The indices of the granted devices that identify, and how many refused access.
struct Survey {
  std::vector<int> identified;
  std::uint32_t denied = 0;
};
Survey SurveyGrantedDevices();

class WebUsbTransport final : public Transport {
 public:
  explicit WebUsbTransport(int index) : index_(index) {}
  ~WebUsbTransport() override;
  WebUsbTransport(const WebUsbTransport&) = delete;
  WebUsbTransport& operator=(const WebUsbTransport&) = delete;

  // Opens the device, identifies it and claims interface 0.
  bool OpenPipe() override;
  // Releases the interface and closes the device.
  void ClosePipe() override;
  bool BulkWrite(const std::uint8_t* data, std::uint32_t length, std::uint32_t& count) override;
  bool BulkRead(std::uint8_t* buffer, std::uint32_t length, std::uint32_t& count) override;

  // What the last OpenPipe found; Ok until one fails.
  Reach reach() const { return reach_; }

 private:
  int index_;
  bool open_ = false;
  Reach reach_ = Reach::Ok;
};

}  // namespace hnx::web
