// The request and reply buffers of the Windows USB hub I/O controls, as bytes: the structures of
// <usbioctl.h> are packed to one byte and little-endian, so the walk builds and reads them at these
// sizes and offsets on any host. The Windows build checks them against the header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "link/byte_order.h"

namespace hnx::usb {

// Device type 0x22 (FILE_DEVICE_USB), METHOD_BUFFERED, FILE_ANY_ACCESS. The root-hub name (asked of
// a host controller) and the node information (asked of a hub) share a code.
inline constexpr std::uint32_t kIoctlGetRootHubName = 0x220408;
inline constexpr std::uint32_t kIoctlGetNodeInformation = 0x220408;
inline constexpr std::uint32_t kIoctlGetNodeConnectionInformation = 0x22040C;
inline constexpr std::uint32_t kIoctlGetDescriptorFromNodeConnection = 0x220410;
inline constexpr std::uint32_t kIoctlGetNodeConnectionName = 0x220414;

// USB_ROOT_HUB_NAME
inline constexpr std::uint32_t kRootHubNameSize = 6;
inline constexpr std::size_t kRootHubNameActualLengthOffset = 0;
inline constexpr std::size_t kRootHubNameTextOffset = 4;

// USB_NODE_INFORMATION, and bNumberOfPorts of u.HubInformation.HubDescriptor inside it
inline constexpr std::uint32_t kNodeInformationSize = 76;
inline constexpr std::size_t kNodeTypeOffset = 0;
inline constexpr std::size_t kHubDescriptorOffset = 4;
inline constexpr std::size_t kNumberOfPortsOffset = 6;

// USB_NODE_CONNECTION_INFORMATION followed by room for USB_PIPE_INFO entries
inline constexpr std::uint32_t kConnectionInformationHeaderSize = 35;
inline constexpr std::uint32_t kPipeInfoSize = 11;
inline constexpr std::uint32_t kPipeInfoRoom = 30;
inline constexpr std::uint32_t kConnectionInformationSize =
    kConnectionInformationHeaderSize + kPipeInfoRoom * kPipeInfoSize;
inline constexpr std::size_t kConnectionIndexOffset = 0;
inline constexpr std::size_t kDeviceDescriptorOffset = 4;
inline constexpr std::size_t kCurrentConfigurationValueOffset = 22;
inline constexpr std::size_t kDeviceIsHubOffset = 24;
inline constexpr std::size_t kDeviceAddressOffset = 25;
inline constexpr std::size_t kNumberOfOpenPipesOffset = 27;
inline constexpr std::size_t kConnectionStatusOffset = 31;
inline constexpr std::uint32_t kDeviceConnected = 1;

// USB_DESCRIPTOR_REQUEST followed by the data it fetches; ConnectionIndex at offset 0 as above
inline constexpr std::uint32_t kDescriptorRequestHeaderSize = 12;
inline constexpr std::uint32_t kDescriptorDataRoom = 255;
inline constexpr std::uint32_t kDescriptorRequestSize = kDescriptorRequestHeaderSize + kDescriptorDataRoom;
inline constexpr std::size_t kSetupRequestTypeOffset = 4;
inline constexpr std::size_t kSetupRequestOffset = 5;
inline constexpr std::size_t kSetupValueOffset = 6;
inline constexpr std::size_t kSetupIndexOffset = 8;
inline constexpr std::size_t kSetupLengthOffset = 10;
inline constexpr std::size_t kDescriptorDataOffset = 12;

// USB_STRING_DESCRIPTOR, relative to the start of the data
inline constexpr std::size_t kStringLengthOffset = 0;
inline constexpr std::size_t kStringTypeOffset = 1;
inline constexpr std::size_t kStringTextOffset = 2;
inline constexpr std::uint8_t kStringDescriptorType = 3;

// USB_NODE_CONNECTION_NAME; ConnectionIndex at offset 0 as above
inline constexpr std::uint32_t kNodeConnectionNameSize = 10;
inline constexpr std::size_t kNodeNameActualLengthOffset = 4;
inline constexpr std::size_t kNodeNameTextOffset = 8;

}  // namespace hnx::usb
