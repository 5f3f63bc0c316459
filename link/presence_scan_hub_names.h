// The names of the hubs that the walk opens: a host controller's root hub and the external hub on a
// hub's port. Each takes two requests: a probe that learns the size of the reply, then the reply.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "link/hub_driver.h"

namespace hnx {

// The narrow name of the root hub of an open host controller; nothing when it cannot be had.
std::optional<std::string> QueryRootHubName(HubDriver& driver, HubDriver::Handle controller);

// The narrow name of the external hub on `port` of an open hub; nothing when it cannot be had,
// including when the probe reports a reply with no room for a name.
std::optional<std::string> QueryExternalHubName(HubDriver& driver, HubDriver::Handle hub, std::uint32_t port);

}  // namespace hnx
