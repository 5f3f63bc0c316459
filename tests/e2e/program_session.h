// One run of the real program, laid out in a temporary folder of its own with the simulator
// library beside it, under the simulator settings that a scenario chooses.
#pragma once

#include <windows.h>

#include <map>
#include <string>

namespace hnx::e2e {

// What ctest hands the driver.
struct BuildOutputs {
  std::string program;         // ZB4450_download.exe
  std::string simulator;       // ZB_USB.DLL
  std::string missingLibrary;  // a ZB_USB library that lacks USB_BulkRead
  std::string firmwareImage;   // the image embedded in the program
  std::string sourceRoot;      // the checkout, for the resource files
};
const BuildOutputs& Outputs();
void SetOutputs(BuildOutputs outputs);

inline constexpr const char* kDialogTitle = "HNX470 Update Tool V1.0.6";

struct Layout {
  // Which library goes beside the program ("" for none), and which into the working folder.
  std::string libraryBesideProgram;
  std::string libraryInWorkingFolder;
  std::map<std::string, std::string> environment;  // simulator settings, e.g. HNX_SIM_FAULTS
};

class ProgramSession {
 public:
  explicit ProgramSession(const std::string& label);
  ~ProgramSession();
  ProgramSession(const ProgramSession&) = delete;
  ProgramSession& operator=(const ProgramSession&) = delete;

  // The default layout: the simulator beside the program, a state file and a trace file.
  static Layout SimulatorLayout();

  // Copies the files, starts the program in the working folder and waits for its dialog. False when
  // no dialog appeared.
  bool Start(const Layout& layout);
  HWND dialog() const { return dialog_; }
  HWND Control(int id) const { return GetDlgItem(dialog_, id); }
  DWORD processId() const { return process_.dwProcessId; }

  // Clicks a button as the user would (it must be visible and enabled).
  void Click(int id) const;
  // Sends the button's command directly, which reaches hidden buttons too.
  void Command(int id) const;
  bool WaitForExit(DWORD timeoutMs) const;
  bool Running() const;

  const std::string& folder() const { return folder_; }
  const std::string& programFolder() const { return programFolder_; }
  const std::string& workingFolder() const { return workingFolder_; }
  std::string statePath() const;
  std::string tracePath() const;
  // The simulator's flash as saved in its state file; empty when there is no state.
  std::string Flash() const;
  std::string Trace() const;

 private:
  std::string folder_;
  std::string programFolder_;
  std::string workingFolder_;
  PROCESS_INFORMATION process_ = {};
  HWND dialog_ = nullptr;
};

}  // namespace hnx::e2e
