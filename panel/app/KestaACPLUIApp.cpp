#include "KestaACPLUIApp.h"

#include <commctrl.h>

#include "KestaACPLUIDlg.h"
#include "PanelMessages.h"
#include "TessConstants.h"

IMPLEMENT_DYNAMIC(CKestaACPLUIApp, CWinApp)

CKestaACPLUIApp::~CKestaACPLUIApp() {
  if (m_hInstanceMutex) ::CloseHandle(m_hInstanceMutex);
}

bool CKestaACPLUIApp::ActivateRunningPanel(DWORD waitMs) {
  const ULONGLONG until = ::GetTickCount64() + waitMs;
  for (;;) {
    HWND running = ::FindWindowA(nullptr, tess::kPanelWindowTitle);
    if (running) {
      ::SetForegroundWindow(running);
      // Synchronous, as the running panel expects, but a hung panel does not hang this start.
      DWORD_PTR result = 0;
      ::SendMessageTimeoutA(running, WM_COMMAND, ID_CPL_SHOW_ASIO, 0, SMTO_ABORTIFHUNG, kFirstWindowWaitMs, &result);
      return true;
    }
    if (::GetTickCount64() >= until) return false;
    ::Sleep(50);
  }
}

BOOL CKestaACPLUIApp::InitInstance() {
  INITCOMMONCONTROLSEX controls{};
  controls.dwSize = sizeof controls;
  controls.dwICC = 0xFF;
  ::InitCommonControlsEx(&controls);
  SetRegistryKey("Local AppWizard-Generated Applications");

  m_hInstanceMutex = ::CreateMutexA(nullptr, FALSE, kInstanceMutex);
  const bool another = m_hInstanceMutex && ::GetLastError() == ERROR_ALREADY_EXISTS;
  // The title search stays: it is also how the driver finds the panel. A panel that is still
  // starting gets a moment to show its window.
  if (ActivateRunningPanel(another ? kFirstWindowWaitMs : 0) || another) return FALSE;

  CKestaACPLUIDlg dialog;
  m_pMainWnd = &dialog;
  dialog.DoModal();
  dialog.Shutdown();  // the tray icon goes even when the dialog could not be made
  m_pMainWnd = nullptr;
  return FALSE;
}
