// DrvPkgInst.exe: the windowless co-installer the package's setup program starts after
// copying the files ("/U" for removal). All work happens in InitInstance, which returns
// FALSE so that no window stays and the process ends with exit code 0.
#include <windows.h>
#include <commctrl.h>

#include "Flow.h"
#include "WinApp.h"

class CDrvPkgInstApp : public CWinApp {
 public:
  BOOL InitInstance() override {
    INITCOMMONCONTROLSEX controls = {};
    controls.dwSize = sizeof controls;
    controls.dwICC = ICC_WIN95_CLASSES | ICC_DATE_CLASSES | ICC_USEREX_CLASSES | ICC_COOL_CLASSES |
                     ICC_INTERNET_CLASSES | ICC_PAGESCROLLER_CLASS | ICC_NATIVEFNTCTL_CLASS |
                     ICC_STANDARD_CLASSES | ICC_LINK_CLASS;
    InitCommonControlsEx(&controls);
    const char* commandLine = GetCommandLineA();
    tess::installer::runFlow(commandLine ? commandLine : "");
    return FALSE;
  }
};

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  CDrvPkgInstApp app;
  app.RunApplication(instance);
  return 0;
}
