// CKestaACPLUIApp: one panel per session. A second start brings the running panel to the
// front on its ASIO page and ends without a window.
#pragma once

#include "WinApp.h"

class CKestaACPLUIApp : public CWinApp {
  DECLARE_DYNAMIC(CKestaACPLUIApp)

 public:
  // Taken before the title search, so that two starts at one moment (the Run key and the
  // driver) cannot both miss each other's window.
  static constexpr char kInstanceMutex[] = "TessalineUsbAudioControlPanel2.Instance";
  // How long a second start waits for the first one's window to appear.
  static constexpr DWORD kFirstWindowWaitMs = 10000;

  CKestaACPLUIApp() = default;
  ~CKestaACPLUIApp() override;

  BOOL InitInstance() override;

 private:
  // Finds the running panel's window (waiting up to the limit) and brings it forward.
  static bool ActivateRunningPanel(DWORD waitMs);
  HANDLE m_hInstanceMutex = nullptr;
};
