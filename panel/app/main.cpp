// TessalineUsbAudioDevice2ACPLUI.exe: the control panel. No command-line arguments.
#include <windows.h>

#include "KestaACPLUIApp.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  CKestaACPLUIApp app;
  return app.RunApplication(instance);
}
