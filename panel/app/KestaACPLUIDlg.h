// CKestaACPLUIDlg: the control panel's one window. It finds the device among the audio
// endpoints and kernel-streaming filters, decides which pages exist, shows and hides their
// skin elements, and routes skin clicks, slider moves, endpoint notifications, USB arrivals
// and removals and the one-second poll to the page objects. It lives in the tray.
#pragma once

#include <windows.h>
#include <dbt.h>

#include <cstdint>
#include <memory>

#include "PanelTables.h"
#include "PanelTray.h"
#include "SkinDialog.h"

class CAudioDeviceManager;
class CPPagePlay;
class CPPageRecord;
class CPPageASIO;

class CKestaACPLUIDlg : public CSkinDialog {
  DECLARE_DYNAMIC(CKestaACPLUIDlg)

 public:
  explicit CKestaACPLUIDlg(CWnd* parent = nullptr);
  ~CKestaACPLUIDlg() override;

  BOOL OnInitDialog() override;
  bool DestroyWindow() override;  // the shutdown order, then the window goes
  LRESULT WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) override;
  BOOL PreTranslateMessage(MSG* msg) override;
  void OnSkinButtonClicked(const char* name) override;
  void OnSkinSliderChanged(const char* name, int code, int value) override;
  void OnOK() override;      // Enter: nothing (the Exit button is hidden under the skin)
  void OnCancel() override;  // Esc, Alt+F4: to the tray

  // Ends the program: the poll stops at once, the window hides and the dialog ends a moment
  // later, so that a callback already posted finds everything still in place.
  void Exit();
  // The orderly shutdown: timers, device notification, tray icon, pages (the ASIO page writes
  // its settings), endpoint bindings and controller. Runs once.
  void Shutdown();

  CAudioDeviceManager* Manager() const { return m_pManager.get(); }
  CPPagePlay* PlayPage() const { return m_pPagePlay; }
  CPPageRecord* RecordPage() const { return m_pPageRecord; }
  CPPageASIO* AsioPage() const { return m_pPageAsio; }
  CObject* RemotePage() const { return m_pPageRemote; }
  CPanelTray& Tray() { return m_tray; }
  const panel::PageSwitches& Switches() const { return m_switches; }
  bool PendingRescan() const { return m_pendingRescan; }

  // State the pages read and write.
  int m_systemClass = 4;
  bool m_x86 = true;
  uint32_t m_build = 0;
  uint16_t m_vendorId = 0, m_productId = 0;
  bool m_playPresent = false, m_recordPresent = false, m_asioAvailable = false;
  bool m_playGang = false, m_recordGang = false;
  uint32_t m_playRate = 0;
  uint16_t m_playBits = 0;
  uint32_t m_recordRate = 0;
  uint16_t m_recordBits = 0;
  int m_captureEndpointCount = 0;
  uint32_t m_playRateMask = 0, m_playBitsMask = 0, m_recordRateMask = 0, m_recordBitsMask = 0;

 protected:
  void OnPaint() override;
  HCURSOR OnQueryDragIcon() override;
  BOOL OnDeviceChange(UINT event, DWORD_PTR data) override;
  void OnTimer(UINT_PTR id) override;
  bool OnPrivateMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result) override;
  void OnEndSession(BOOL ending) override;

 private:
  // Device (DlgDevice.cpp).
  void ClassifySystem();
  bool MatchDevice();
  void ProbeCapabilities();
  bool LegacyPresenceCheck();
  void OnUsbArrival();
  void OnUsbRemoval();
  void OnEndpointActive();
  void Rescan();
  void RegisterUsbNotification();
  void ClearDevice();
  // Pages (DlgPages.cpp).
  void ReadPageSwitches();
  void BuildPages();
  void DestroyPages();
  void PollPages();
  // Commands and the tray (KestaACPLUIDlg.cpp).
  bool OnPanelCommand(UINT id);
  void ShowOnAsioPage();
  void OnVolumeChanged();
  void OnButtonOfGroup(const char* const* group, int count, const char* clicked);

  HICON m_hIcon = nullptr;
  HICON m_hSmallIcon = nullptr;
  std::unique_ptr<CAudioDeviceManager> m_pManager;
  CPPagePlay* m_pPagePlay = nullptr;
  CPPageRecord* m_pPageRecord = nullptr;
  CPPageASIO* m_pPageAsio = nullptr;
  CObject* m_pPageRemote = nullptr;  // CPPageRemoteCtrl, when the program has the remote page
  bool m_pendingRescan = false;
  panel::PageSwitches m_switches;
  bool m_legacyRetry = false;
  int m_retryCountdown = 60;
  CPanelTray m_tray;
  HDEVNOTIFY m_hDevNotify = nullptr;
  UINT m_taskbarCreated = 0;
  bool m_shutDown = false;
};
