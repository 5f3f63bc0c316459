// The system's file-open and file-save dialogs as the program shows them.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace hnx::e2e {

struct FileDialogSeen {
  HWND window = nullptr;
  HWND owner = nullptr;
  std::vector<std::string> fileTypes;  // the entries of the file-type list
};

// A file dialog of the process, or one with a null window after `timeoutMs`.
FileDialogSeen WaitForFileDialog(DWORD processId, DWORD timeoutMs);
// Types `path` as the file name and confirms, as OK does.
void AcceptFileDialog(const FileDialogSeen& dialog, const std::string& path);
void CancelFileDialog(const FileDialogSeen& dialog);

}  // namespace hnx::e2e
