#include "WinApp.h"

IMPLEMENT_DYNAMIC(CWinApp, CObject)

namespace {
CWinApp* g_app = nullptr;
}

CWinApp::CWinApp() {
  if (!g_app) g_app = this;
}

CWinApp::~CWinApp() {
  if (g_app == this) g_app = nullptr;
}

CWinApp* CWinApp::Current() { return g_app; }

int CWinApp::RunApplication(HINSTANCE instance) {
  m_hInstance = instance;
  if (!InitInstance()) return ExitInstance();
  return Run();
}

BOOL CWinApp::InitInstance() { return TRUE; }

int CWinApp::Run() {
  MSG msg;
  for (;;) {
    const BOOL got = ::GetMessageA(&msg, nullptr, 0, 0);
    if (got == -1) break;
    if (got == 0) {
      m_exitCode = static_cast<int>(msg.wParam);
      break;
    }
    HWND stop = m_pMainWnd ? m_pMainWnd->m_hWnd : nullptr;
    if (!CWnd::WalkPreTranslateTree(stop, &msg)) {
      ::TranslateMessage(&msg);
      ::DispatchMessageA(&msg);
    }
  }
  return ExitInstance();
}

int CWinApp::ExitInstance() { return m_exitCode; }
