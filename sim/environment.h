// The process environment, as the simulator library reads its settings.
#pragma once

#include <optional>
#include <string>

namespace hnx::sim {

// nullopt when `name` is not set; an empty value counts as not set.
std::optional<std::string> EnvironmentValue(const char* name);

}  // namespace hnx::sim
