// The hub driver of the Windows USB stack, and the check that the byte layout the walk uses equals
// the platform's own structures.
#include <usbioctl.h>
#include <windows.h>
#include <winioctl.h>

#include <cstddef>

#include "link/presence_scan.h"
#include "link/usb_hub_layout.h"

namespace hnx {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 text is handed to the wide API as it is");

HubDriver::Handle Win32HubDriver::Open(const std::string& name) {
  const HANDLE device =
      CreateFileA(name.c_str(), GENERIC_WRITE, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  return device == INVALID_HANDLE_VALUE ? nullptr : device;
}

bool Win32HubDriver::IoControl(Handle device, std::uint32_t code, const void* input,
                               std::uint32_t inputLength, void* output, std::uint32_t outputLength,
                               std::uint32_t& returned) {
  DWORD bytes = 0;
  const BOOL succeeded = DeviceIoControl(static_cast<HANDLE>(device), code, const_cast<void*>(input),
                                         inputLength, output, outputLength, &bytes, nullptr);
  returned = bytes;
  return succeeded != FALSE;
}

void Win32HubDriver::Close(Handle device) {
  CloseHandle(static_cast<HANDLE>(device));
}

int Win32HubDriver::ConvertWideToNarrow(const char16_t* text, char* output, int outputSize) {
  return WideCharToMultiByte(CP_ACP, 0, reinterpret_cast<LPCWCH>(text), -1, output, outputSize, nullptr,
                             nullptr);
}

}  // namespace hnx

namespace hnx::usb {

static_assert(kIoctlGetRootHubName == IOCTL_USB_GET_ROOT_HUB_NAME);
static_assert(kIoctlGetNodeInformation == IOCTL_USB_GET_NODE_INFORMATION);
static_assert(kIoctlGetNodeConnectionInformation == IOCTL_USB_GET_NODE_CONNECTION_INFORMATION);
static_assert(kIoctlGetDescriptorFromNodeConnection == IOCTL_USB_GET_DESCRIPTOR_FROM_NODE_CONNECTION);
static_assert(kIoctlGetNodeConnectionName == IOCTL_USB_GET_NODE_CONNECTION_NAME);

static_assert(kRootHubNameSize == sizeof(USB_ROOT_HUB_NAME));
static_assert(kRootHubNameActualLengthOffset == offsetof(USB_ROOT_HUB_NAME, ActualLength));
static_assert(kRootHubNameTextOffset == offsetof(USB_ROOT_HUB_NAME, RootHubName));

static_assert(kNodeInformationSize == sizeof(USB_NODE_INFORMATION));
static_assert(kNodeTypeOffset == offsetof(USB_NODE_INFORMATION, NodeType));
static_assert(kHubDescriptorOffset == offsetof(USB_NODE_INFORMATION, u.HubInformation.HubDescriptor));
static_assert(kNumberOfPortsOffset ==
              offsetof(USB_NODE_INFORMATION, u.HubInformation.HubDescriptor.bNumberOfPorts));

static_assert(kConnectionInformationHeaderSize == sizeof(USB_NODE_CONNECTION_INFORMATION));
static_assert(kPipeInfoSize == sizeof(USB_PIPE_INFO));
static_assert(kConnectionIndexOffset == offsetof(USB_NODE_CONNECTION_INFORMATION, ConnectionIndex));
static_assert(kDeviceDescriptorOffset == offsetof(USB_NODE_CONNECTION_INFORMATION, DeviceDescriptor));
static_assert(kCurrentConfigurationValueOffset ==
              offsetof(USB_NODE_CONNECTION_INFORMATION, CurrentConfigurationValue));
static_assert(kDeviceIsHubOffset == offsetof(USB_NODE_CONNECTION_INFORMATION, DeviceIsHub));
static_assert(kDeviceAddressOffset == offsetof(USB_NODE_CONNECTION_INFORMATION, DeviceAddress));
static_assert(kNumberOfOpenPipesOffset == offsetof(USB_NODE_CONNECTION_INFORMATION, NumberOfOpenPipes));
static_assert(kConnectionStatusOffset == offsetof(USB_NODE_CONNECTION_INFORMATION, ConnectionStatus));
static_assert(kConnectionInformationHeaderSize == offsetof(USB_NODE_CONNECTION_INFORMATION, PipeList));
static_assert(kDeviceConnected == DeviceConnected);

static_assert(kDescriptorRequestHeaderSize == sizeof(USB_DESCRIPTOR_REQUEST));
static_assert(kConnectionIndexOffset == offsetof(USB_DESCRIPTOR_REQUEST, ConnectionIndex));
static_assert(kSetupRequestTypeOffset == offsetof(USB_DESCRIPTOR_REQUEST, SetupPacket.bmRequest));
static_assert(kSetupRequestOffset == offsetof(USB_DESCRIPTOR_REQUEST, SetupPacket.bRequest));
static_assert(kSetupValueOffset == offsetof(USB_DESCRIPTOR_REQUEST, SetupPacket.wValue));
static_assert(kSetupIndexOffset == offsetof(USB_DESCRIPTOR_REQUEST, SetupPacket.wIndex));
static_assert(kSetupLengthOffset == offsetof(USB_DESCRIPTOR_REQUEST, SetupPacket.wLength));
static_assert(kDescriptorDataOffset == offsetof(USB_DESCRIPTOR_REQUEST, Data));
static_assert(kDescriptorDataRoom == MAXIMUM_USB_STRING_LENGTH);

static_assert(kStringLengthOffset == offsetof(USB_STRING_DESCRIPTOR, bLength));
static_assert(kStringTypeOffset == offsetof(USB_STRING_DESCRIPTOR, bDescriptorType));
static_assert(kStringTextOffset == offsetof(USB_STRING_DESCRIPTOR, bString));
static_assert(kStringDescriptorType == USB_STRING_DESCRIPTOR_TYPE);

static_assert(kNodeConnectionNameSize == sizeof(USB_NODE_CONNECTION_NAME));
static_assert(kConnectionIndexOffset == offsetof(USB_NODE_CONNECTION_NAME, ConnectionIndex));
static_assert(kNodeNameActualLengthOffset == offsetof(USB_NODE_CONNECTION_NAME, ActualLength));
static_assert(kNodeNameTextOffset == offsetof(USB_NODE_CONNECTION_NAME, NodeName));

}  // namespace hnx::usb
