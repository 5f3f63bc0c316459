// The emulated USB bus for the browser tests, driven over its standard input: one JSON request per
// line, one JSON answer per line. It runs under umockdev's preload library, so that devices plugged
// and unplugged while the browser runs reach the browser as uevents.
//
//   {"op":"add","location":"1-2","kind":"ours"|"foreign"|"no-permission","identification":"…",
//    "wireMicroseconds":N,"answeredTransfers":N,"unpluggedAfterAnswers":true,"faults":"…"}
//   {"op":"remove","location":"1-2"}  {"op":"replug","location":"1-2"}
//   {"op":"device","location":"1-2"}    -> {"trace":[…],"flash":[bytes…],"plugged":b,"counts":{…}}
//   {"op":"waitTransfers","location":"1-2","transfers":N,"timeoutMs":N} -> {"reached":b}
//   {"op":"start","program":"…","args":[…],"folder":"…"} -> {"pid":N}   (one program at a time)
//   {"op":"stop"}   -> {"code":N,"signal":N,"cpuSeconds":x}   (waits for the started program)
//   {"op":"run","program":"…","args":[…],"folder":"…"}
//       -> {"code":N,"out":[…],"err":[…],"cpuSeconds":x,"wallSeconds":x}
//
// Every answer is {"ok":true,…} or {"ok":false,"error":"…"}. At the end of its input it ends, and
// with it a started program that is still running.
#include <chrono>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

#include <nlohmann/json.hpp>

#include "sim/scripted_usb.h"

namespace {

using hnx::sim::ScriptedDevice;
using hnx::sim::ScriptedDeviceSetup;
using nlohmann::json;

ScriptedDeviceSetup SetupOf(const json& request) {
  ScriptedDeviceSetup setup;
  setup.location = request.at("location").get<std::string>();
  const std::string kind = request.value("kind", "ours");
  if (kind == "foreign")
    setup.kind = ScriptedDeviceSetup::Kind::Foreign;
  else if (kind == "no-permission")
    setup.kind = ScriptedDeviceSetup::Kind::NoPermission;
  else if (kind != "ours")
    throw std::invalid_argument("unknown kind " + kind);
  if (request.contains("identification")) {
    const std::string text = request["identification"].get<std::string>();
    setup.identification.assign(text.begin(), text.end());  // ASCII
  }
  setup.faults = request.value("faults", "");
  setup.wireMicroseconds = request.value("wireMicroseconds", 0u);
  setup.answeredTransfers = request.value("answeredTransfers", setup.answeredTransfers);
  setup.unpluggedAfterAnswers = request.value("unpluggedAfterAnswers", false);
  return setup;
}

class Bus {
 public:
  json Serve(const json& request) {
    const std::string op = request.at("op").get<std::string>();
    if (op == "add") {
      ScriptedDevice& device = usb_.Add(SetupOf(request));
      devices_[device.setup().location] = &device;
      return {};
    }
    if (op == "remove") return usb_.Remove(Device(request)), json::object();
    if (op == "replug") return usb_.Replug(Device(request)), json::object();
    if (op == "device") return Describe(Device(request));
    if (op == "waitTransfers") {
      const bool reached =
          Device(request).WaitForTransfers(request.at("transfers").get<std::uint64_t>(),
                                           std::chrono::milliseconds(request.at("timeoutMs").get<int>()));
      return {{"reached", reached}};
    }
    if (op == "start") {
      if (program_) throw std::logic_error("a program runs already");
      program_.emplace(usb_.Start(request.at("program"), request.at("args"), request.at("folder")));
      return {{"pid", program_->pid()}};
    }
    if (op == "stop") {
      if (!program_) throw std::logic_error("no program runs");
      const hnx::sim::ProgramRun run = program_->Wait();
      program_.reset();
      return {{"code", run.code}, {"signal", run.signal}, {"cpuSeconds", run.cpuSeconds}};
    }
    if (op == "run") {
      const auto start = std::chrono::steady_clock::now();
      const hnx::sim::ProgramRun run =
          usb_.Run(request.at("program"), request.at("args"), request.at("folder"));
      const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - start;
      return {{"code", run.code},
              {"out", run.out},
              {"err", run.err},
              {"cpuSeconds", run.cpuSeconds},
              {"wallSeconds", wall.count()}};
    }
    throw std::invalid_argument("unknown op " + op);
  }

 private:
  ScriptedDevice& Device(const json& request) {
    const auto found = devices_.find(request.at("location").get<std::string>());
    if (found == devices_.end()) throw std::invalid_argument("no device at " + request.at("location").dump());
    return *found->second;
  }

  static json Describe(const ScriptedDevice& device) {
    const hnx::sim::UsbRequestCounts counts = device.counts();
    return {{"trace", device.TraceLines()},
            {"flash", device.Flash()},
            {"plugged", device.plugged()},
            {"counts",
             {{"bulkTransfers", counts.bulkTransfers},
              {"claims", counts.claims},
              {"releases", counts.releases}}}};
  }

  hnx::sim::ScriptedUsb usb_;
  std::map<std::string, ScriptedDevice*> devices_;
  std::optional<hnx::sim::RunningProgram> program_;
};

}  // namespace

int main() {
  auto bus = std::make_unique<Bus>();  // its testbed first: the preload is known to be there once it is
  if (!hnx::sim::ScriptedUsb::SendsUevents()) {
    std::cerr << "web_usb_bus needs LD_PRELOAD=libumockdev-preload.so.0\n";
    return 69;
  }
  std::cout << json{{"ok", true}, {"ready", true}}.dump() << std::endl;
  for (std::string line; std::getline(std::cin, line);) {
    json answer;
    try {
      answer = bus->Serve(json::parse(line));
      if (answer.is_null()) answer = json::object();
      answer["ok"] = true;
    } catch (const std::exception& error) {
      answer = {{"ok", false}, {"error", error.what()}};
    }
    std::cout << answer.dump() << std::endl;
  }
  return 0;
}
