// The program's wait between attempts to open the pipe.
#pragma once

#include "ops/sleeper.h"

namespace hnx {

class Win32Sleeper final : public Sleeper {
 public:
  void Sleep(std::uint32_t milliseconds) override;
};

}  // namespace hnx
