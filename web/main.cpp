// The page's engine: the exports that the page (web/page.js) and the tests call, one run at a time
// per module instance. Runs await WebUSB, so the page calls them with ccall's {async: true}.
#include <emscripten.h>

#include <atomic>
#include <cstring>
#include <span>

#include "web/page_run.h"

EM_JS(int, hnx_platform, (), {
  const name = Module.hnxHost.platform || "";
  return name === "linux" ? 0 : name === "windows" ? 1 : 2;
});

namespace {

// Set by hnx_stop while a run is waiting on the device; read by the run at block boundaries. A
// module instance runs one run at a time, so one flag serves it.
std::atomic<bool>& StopFlagOfThisInstance() {
  static std::atomic<bool> stop{false};
  return stop;
}

hnx::web::Platform HostPlatform() {
  return static_cast<hnx::web::Platform>(hnx_platform());
}

}  // namespace

extern "C" {

EMSCRIPTEN_KEEPALIVE int hnx_update() {
  StopFlagOfThisInstance() = false;
  return static_cast<int>(hnx::web::RunPageUpdate(HostPlatform(), &StopFlagOfThisInstance()));
}

EMSCRIPTEN_KEEPALIVE int hnx_write_verify(const std::uint8_t* content, std::uint32_t length, const char* name) {
  StopFlagOfThisInstance() = false;
  return static_cast<int>(hnx::web::RunPageWriteVerify(std::span(content, length), name, HostPlatform(),
                                                       &StopFlagOfThisInstance()));
}

// The run ends at the next block boundary, releases the device and says "Interrupted".
EMSCRIPTEN_KEEPALIVE void hnx_stop() {
  StopFlagOfThisInstance() = true;
}

}  // extern "C"
