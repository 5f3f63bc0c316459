#include <windows.h>

#include <commctrl.h>

#include "app/download_app.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_PROGRESS_CLASS};
  InitCommonControlsEx(&controls);
  theApp.InitInstance();
  return 0;
}
