// Reads a fake USB topology out of fuzz input. Bytes past the end read as 0, so every input makes
// some topology. The layout, little-endian:
//
//   u16  controllers: bit i puts a host controller at index i (0 to 15)
//   u16  the number of the one request that fails; 0xFFFF for none
//   then, for each controller in index order, its root hub:
//     hub:  u8 flags: bit 0, a u32 ActualLength for its name replies follows;
//                     bit 1, a u8 bNumberOfPorts follows
//           [u32 name length] [u8 reported port count]
//           u8 ports (at most 16 are made)
//           per port:  u8 kind: bit 0 DeviceIsHub, bit 1 a hub behind the port (read next, as
//                               above), bit 2 the descriptor request fails, bit 3 the bytes
//                               below are only the text of a string descriptor
//                      u8 ConnectionStatus
//                      u8 n, then n bytes that the device answers to the identification request
//
// Hubs nest at most 8 deep and number at most 64; beyond that, a port's hub is left out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "support/fake_topology.h"

namespace hnx::fuzz {

// Builds into `topology`; gives the number of ports that answer the identification request at all,
// which no scan can exceed.
std::size_t BuildTopology(std::span<const std::uint8_t> input, test::FakeTopology& topology);

}  // namespace hnx::fuzz
