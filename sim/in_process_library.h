// A DynamicLibrary whose library is a SimDevice in this process: Load attaches the device to the
// entry points that Resolve hands out. Entry points can be withheld, and loading can be refused, to
// model broken libraries.
#pragma once

#include <set>
#include <string>

#include "link/transfer_library.h"
#include "sim/sim_device.h"

namespace hnx::sim {

class InProcessLibrary final : public DynamicLibrary {
 public:
  explicit InProcessLibrary(SimDevice& device);
  ~InProcessLibrary() override;

  void Withhold(const std::string& entryPointName) { withheld_.insert(entryPointName); }
  void RefuseLoad(bool refuse) { refuseLoad_ = refuse; }

  Handle Load(const std::string& path) override;
  void* Resolve(Handle library, const char* name) override;
  void Unload(Handle library) override;

  bool loaded() const { return loaded_; }
  int loads() const { return loads_; }
  int unloads() const { return unloads_; }
  const std::string& lastPath() const { return lastPath_; }
  // Entry-point calls that arrived while no library was loaded: a binding bug when not 0.
  static int CallsWhileUnloaded();

 private:
  SimDevice& device_;
  std::set<std::string> withheld_;
  bool refuseLoad_ = false;
  bool loaded_ = false;
  int loads_ = 0;
  int unloads_ = 0;
  std::string lastPath_;
};

}  // namespace hnx::sim
