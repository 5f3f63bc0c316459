// What the tests of the simulator library need around it: its files, its environment, its paths.
#pragma once

#include <filesystem>
#include <map>
#include <string>

namespace hnx::test {

// A new, empty folder under the system's temporary folder, removed with its contents at the end.
class SimScratchFolder {
 public:
  SimScratchFolder();
  ~SimScratchFolder();
  SimScratchFolder(const SimScratchFolder&) = delete;
  SimScratchFolder& operator=(const SimScratchFolder&) = delete;

  std::string File(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

// Sets the HNX_SIM_* variables named in `values` and unsets the others, for the life of the object.
class SimLibraryEnvironment {
 public:
  explicit SimLibraryEnvironment(const std::map<std::string, std::string>& values);
  ~SimLibraryEnvironment();
  SimLibraryEnvironment(const SimLibraryEnvironment&) = delete;
  SimLibraryEnvironment& operator=(const SimLibraryEnvironment&) = delete;
};

// The simulator library of this build.
std::string SimLibraryPath();
// The library of this build that lacks one entry point: "no_open", "no_close", "no_write", "no_read".
std::string SimLibraryLackingPath(const std::string& lack);

}  // namespace hnx::test
