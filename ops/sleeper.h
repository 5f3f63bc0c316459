// The wait between attempts to open the device pipe.
#pragma once

#include <cstdint>

namespace hnx {

class Sleeper {
 public:
  virtual ~Sleeper() = default;
  virtual void Sleep(std::uint32_t milliseconds) = 0;
};

}  // namespace hnx
