#include "program_session.h"

#include "paths.h"
#include "windows_probe.h"

namespace hnx::e2e {
namespace {

constexpr DWORD kStartTimeoutMs = 30000;
constexpr std::size_t kStateHeaderSize = 14;  // "HSIM", version, flash size, block length, protection

BuildOutputs& StoredOutputs() {
  static BuildOutputs outputs;
  return outputs;
}

void CopyLibrary(const std::string& library, const std::string& folder) {
  if (!library.empty()) CopyFileA(library.c_str(), JoinPath(folder, "ZB_USB.DLL").c_str(), FALSE);
}

}  // namespace

const BuildOutputs& Outputs() {
  return StoredOutputs();
}
void SetOutputs(BuildOutputs outputs) {
  StoredOutputs() = std::move(outputs);
}

ProgramSession::ProgramSession(const std::string& label)
    : folder_(MakeTempFolder(label)),
      programFolder_(JoinPath(folder_, "program")),
      workingFolder_(JoinPath(folder_, "work")) {
  CreateDirectoryA(programFolder_.c_str(), nullptr);
  CreateDirectoryA(workingFolder_.c_str(), nullptr);
}

ProgramSession::~ProgramSession() {
  if (Running()) {
    TerminateProcess(process_.hProcess, 1);
    WaitForSingleObject(process_.hProcess, 5000);
  }
  if (process_.hProcess != nullptr) CloseHandle(process_.hProcess);
  if (process_.hThread != nullptr) CloseHandle(process_.hThread);
  RemoveTree(folder_);
}

Layout ProgramSession::SimulatorLayout() {
  Layout layout;
  layout.libraryBesideProgram = Outputs().simulator;
  return layout;
}

std::string ProgramSession::statePath() const {
  return JoinPath(folder_, "device.state");
}
std::string ProgramSession::tracePath() const {
  return JoinPath(folder_, "device.trace");
}

bool ProgramSession::Start(const Layout& layout) {
  const std::string program = JoinPath(programFolder_, "ZB4450_download.exe");
  CopyFileA(Outputs().program.c_str(), program.c_str(), FALSE);
  CopyLibrary(layout.libraryBesideProgram, programFolder_);
  CopyLibrary(layout.libraryInWorkingFolder, workingFolder_);
  SetEnvironmentVariableA("HNX_SIM_STATE", statePath().c_str());
  SetEnvironmentVariableA("HNX_SIM_TRACE", tracePath().c_str());
  // A fault plan is the run's own: none leaks in from an earlier run of the driver.
  SetEnvironmentVariableA("HNX_SIM_FAULTS", nullptr);
  for (const auto& [name, value] : layout.environment) SetEnvironmentVariableA(name.c_str(), value.c_str());

  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  std::string commandLine = "\"" + program + "\"";
  if (!CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      workingFolder_.c_str(), &startup, &process_)) {
    return false;
  }
  dialog_ = WaitForWindow(
      [this] {
        const auto found = TopLevelWindows(processId(), [](HWND w) { return Text(w) == kDialogTitle; });
        return found.empty() ? nullptr : found.front();
      },
      kStartTimeoutMs);
  return dialog_ != nullptr;
}

void ProgramSession::Click(int id) const {
  PostMessageA(Control(id), BM_CLICK, 0, 0);
}

void ProgramSession::Command(int id) const {
  PostMessageA(dialog_, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(Control(id)));
}

bool ProgramSession::WaitForExit(DWORD timeoutMs) const {
  return WaitForSingleObject(process_.hProcess, timeoutMs) == WAIT_OBJECT_0;
}

bool ProgramSession::Running() const {
  return process_.hProcess != nullptr && WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT;
}

std::string ProgramSession::Flash() const {
  const std::string state = ReadFileBytes(statePath());
  return state.size() < kStateHeaderSize ? std::string() : state.substr(kStateHeaderSize);
}

std::string ProgramSession::Trace() const {
  return ReadFileBytes(tracePath());
}

}  // namespace hnx::e2e
