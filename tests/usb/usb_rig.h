// What the tests of hnx-update share: the program built here (or the build of it that
// HNX_PROGRAM_UNDER_TEST names, ThreadSanitizer's) started as a shell starts it on a bus of devices
// emulated on umockdev, one temporary folder where it runs, and readers of its lines.
#pragma once

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "sim/scripted_usb.h"
#include "support/rig.h"

namespace hnx::test {

using namespace std::chrono_literals;
using sim::ProgramRun;
using sim::RunningProgram;
using sim::ScriptedDevice;
using sim::ScriptedDeviceSetup;
using sim::ScriptedUsb;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using Json = nlohmann::json;
using Kind = ScriptedDeviceSetup::Kind;

inline constexpr auto kPatience = 30s;  // only ever waited out when something is broken

// A device with a serial number of its place's: "S/1-4.2".
inline ScriptedDeviceSetup Device(const std::string& location, Kind kind = Kind::Ours) {
  return {.location = location, .kind = kind, .serial = "S/" + location};
}

// The 16 KiB chip's geometry (--chip ZB4420), for runs that need only be whole, not long.
inline ScriptedDeviceSetup Small(ScriptedDeviceSetup setup) {
  setup.flashSize = 0x4000;
  setup.blockLength = 32;
  return setup;
}

inline ScriptedDeviceSetup WithFaults(ScriptedDeviceSetup setup, const std::string& faults) {
  setup.faults = faults;
  return setup;
}

// The flash that the simulator library keeps in its state file, after the header ("HSIM", version, flash
// size, block length, protection).
inline std::vector<std::uint8_t> StateFlash(const std::string& path) {
  const std::vector<std::uint8_t> state = FileBytes(path);
  return state.size() < 14 ? state : std::vector(state.begin() + 14, state.end());
}

// The opcodes of the command frames that the device took whole: "write 10 10 1 <opcode> ...".
inline std::vector<std::string> FrameOpcodes(const std::vector<std::string>& trace) {
  std::vector<std::string> opcodes;
  for (const std::string& line : trace)
    if (line.starts_with("write 10 10 1 ")) opcodes.push_back(line.substr(14, 2));
  return opcodes;
}

// The bulk transfers of a trace that moved what was asked: "write 10 10 1 …", "read 1 1 1 00".
inline std::uint64_t MovedTransfers(const std::vector<std::string>& trace) {
  static const std::regex moved(R"((write|read) (\d+) (\d+) 1( .*)?)");
  std::uint64_t count = 0;
  std::smatch parts;
  for (const std::string& line : trace)
    if (std::regex_match(line, parts, moved) && parts[2] == parts[3]) ++count;
  return count;
}

inline std::string Sha256Sum(const std::string& path) {
  std::FILE* pipe = popen(("sha256sum '" + path + "'").c_str(), "r");
  char digest[65] = {};
  if (pipe == nullptr || std::fread(digest, 1, 64, pipe) != 64) digest[0] = '\0';
  if (pipe != nullptr) pclose(pipe);
  return digest;
}

// Every line of the file, each a whole JSON object.
inline std::vector<Json> JsonLines(const std::string& path) {
  std::vector<Json> objects;
  for (const std::string& line : FileLines(path)) {
    objects.push_back(Json::parse(line, nullptr, false));
    EXPECT_FALSE(objects.back().is_discarded()) << line;
  }
  return objects;
}

// Waits until `condition` holds.
inline bool Eventually(const std::function<bool()>& condition) {
  const auto deadline = std::chrono::steady_clock::now() + kPatience;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

// Waits until the file holds `lines` lines.
inline bool WaitForLines(const std::string& path, std::size_t lines) {
  return Eventually([&] { return FileLines(path).size() >= lines; });
}

// umockdev's testbed. It stands in for a program's uevent socket with a socket "event<descriptor>"
// there, named after the descriptor's number.
inline std::filesystem::path Testbed() {
  return std::getenv("UMOCKDEV_DIR");
}

// The lines headed by `device`, without the heading.
inline std::vector<std::string> LinesOf(const std::vector<std::string>& lines, const std::string& device) {
  std::vector<std::string> own;
  for (const std::string& line : lines)
    if (line.starts_with(device + ": ")) own.push_back(line.substr(device.size() + 2));
  return own;
}

class ProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::filesystem::exists(program_)) GTEST_SKIP() << "no program at " << program_;
  }

  static ProgramRun Masked(ProgramRun run) {
    run.out = WithFiguresMasked(run.out);
    run.err = WithFiguresMasked(run.err);
    return run;
  }

  RunningProgram Start(const std::vector<std::string>& args,
                       const std::vector<std::string>& environment = {}) {
    return usb_.Start(program_, args, temp_.Path(""), environment);
  }

  ProgramRun Run(const std::vector<std::string>& args, const std::vector<std::string>& environment = {}) {
    return Masked(Start(args, environment).Wait());
  }

  // A station started, once it listens; devices plugged while it runs need this process's uevents.
  RunningProgram StartStation(const std::vector<std::string>& args,
                              const std::vector<std::string>& environment = {}) {
    EXPECT_TRUE(ScriptedUsb::SendsUevents()) << "run under LD_PRELOAD=libumockdev-preload.so.0";
    RunningProgram station = Start(args, environment);
    EXPECT_TRUE(station.WaitForOutput("Waiting for devices\u2026", kPatience));
    return station;
  }

  // The names of what the temporary folder holds.
  std::set<std::string> Left() const {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(temp_.Path("")))
      names.insert(entry.path().filename());
    return names;
  }

  // No run left its staging folder behind.
  void ExpectNoStaging() const {
    for (const std::string& name : Left()) EXPECT_FALSE(name.starts_with("hnx-update-")) << name;
  }

  template <typename Bytes>
  std::string WriteFile(const std::string& name, const Bytes& bytes) {
    const std::string path = temp_.Path(name);
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    return path;
  }

  const std::string program_ = std::getenv("HNX_PROGRAM_UNDER_TEST") != nullptr
                                   ? std::getenv("HNX_PROGRAM_UNDER_TEST")
                                   : HNX_CLI_PROGRAM;
  TempFolder temp_;
  ScriptedUsb usb_;
};

}  // namespace hnx::test
