// CWinApp: the application object. The program's WinMain hands its instance to
// RunApplication, which calls InitInstance and, when that returns TRUE, runs the message loop.
#pragma once

#include "Wnd.h"

#include <string>

class CWinApp : public CObject {
  DECLARE_DYNAMIC(CWinApp)

 public:
  CWinApp();
  ~CWinApp() override;
  CWinApp(const CWinApp&) = delete;
  CWinApp& operator=(const CWinApp&) = delete;

  static CWinApp* Current();  // the one application object, or null

  int RunApplication(HINSTANCE instance);

  virtual BOOL InitInstance();  // FALSE ends the program (exit code from ExitInstance)
  virtual int Run();            // message loop until WM_QUIT
  virtual int ExitInstance();

  // Names the registry key of the application's own settings (kept, not used by the framework).
  void SetRegistryKey(const char* key) { m_registryKey = key ? key : ""; }
  const std::string& RegistryKey() const { return m_registryKey; }

  HINSTANCE m_hInstance = nullptr;
  CWnd* m_pMainWnd = nullptr;

 private:
  std::string m_registryKey;
  int m_exitCode = 0;
};
