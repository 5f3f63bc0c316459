#include "web/webusb_transport.h"

#include <emscripten.h>

#include <array>
#include <span>

#include "link/presence_scan.h"
#include "link/usb_transport_libusb.h"

// Each call returns a Reach value, a byte count, or -1 for a failed transfer (glue.js).
EM_ASYNC_JS(int, hnx_usb_open, (int index), { return await Module.hnxUsb.open(index); });
EM_ASYNC_JS(int, hnx_usb_claim, (int index), { return await Module.hnxUsb.claim(index); });
EM_ASYNC_JS(void, hnx_usb_close, (int index), { await Module.hnxUsb.close(index); });
EM_ASYNC_JS(int, hnx_usb_string_descriptor,
            (int index, int descriptor, int language, std::uint8_t* buffer, int length, int limit), {
  return await Module.hnxUsb.stringDescriptor(index, descriptor, language, buffer, length, limit);
});
EM_ASYNC_JS(int, hnx_usb_transfer_out, (int index, const std::uint8_t* data, int length, int limit), {
  return await Module.hnxUsb.transferOut(index, data, length, limit);
});
EM_ASYNC_JS(int, hnx_usb_transfer_in, (int index, std::uint8_t* buffer, int length, int limit), {
  return await Module.hnxUsb.transferIn(index, buffer, length, limit);
});
EM_JS(int, hnx_usb_device_count, (), { return Module.hnxHost.devices.length; });

namespace hnx::web {
namespace {

constexpr int kLimit = static_cast<int>(kUsbTransferTimeoutMilliseconds);
constexpr int kStringDescriptorRoom = 255;

// The device is open: asks for the identification string.
bool AnswersAsOurs(int index) {
  std::array<std::uint8_t, kStringDescriptorRoom> descriptor{};
  const int received = hnx_usb_string_descriptor(index, kIdentificationDescriptorIndex, kIdentificationLanguage,
                                                 descriptor.data(), kStringDescriptorRoom, kLimit);
  return received > 0 &&
         IdentificationDescriptorMatches(std::span(descriptor.data(), static_cast<std::size_t>(received)));
}

Reach OpenAndIdentify(int index) {
  const auto opened = static_cast<Reach>(hnx_usb_open(index));
  if (opened != Reach::Ok) return opened;
  if (AnswersAsOurs(index)) return Reach::Ok;
  hnx_usb_close(index);
  return Reach::NotIdentified;
}

}  // namespace

Reach Identify(int index) {
  const Reach reach = OpenAndIdentify(index);
  if (reach == Reach::Ok) hnx_usb_close(index);
  return reach;
}

Survey SurveyGrantedDevices() {
  Survey survey;
  const int count = hnx_usb_device_count();
  for (int index = 0; index < count; ++index) {
    const Reach reach = Identify(index);
    if (reach == Reach::Ok) survey.identified.push_back(index);
    if (reach == Reach::Denied) ++survey.denied;
  }
  return survey;
}

WebUsbTransport::~WebUsbTransport() {
  ClosePipe();
}

bool WebUsbTransport::OpenPipe() {
  if (open_) return true;
  reach_ = OpenAndIdentify(index_);
  if (reach_ != Reach::Ok) return false;
  reach_ = static_cast<Reach>(hnx_usb_claim(index_));
  if (reach_ != Reach::Ok) {
    hnx_usb_close(index_);
    return false;
  }
  open_ = true;
  return true;
}

void WebUsbTransport::ClosePipe() {
  if (!open_) return;
  open_ = false;
  hnx_usb_close(index_);
}

bool WebUsbTransport::BulkWrite(const std::uint8_t* data, std::uint32_t length, std::uint32_t& count) {
  const int moved = open_ ? hnx_usb_transfer_out(index_, data, static_cast<int>(length), kLimit) : -1;
  count = moved > 0 ? static_cast<std::uint32_t>(moved) : 0;
  return moved >= 0;
}

bool WebUsbTransport::BulkRead(std::uint8_t* buffer, std::uint32_t length, std::uint32_t& count) {
  const int moved = open_ ? hnx_usb_transfer_in(index_, buffer, static_cast<int>(length), kLimit) : -1;
  count = moved > 0 ? static_cast<std::uint32_t>(moved) : 0;
  return moved >= 0;
}

}  // namespace hnx::web
