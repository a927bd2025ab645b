#include "KestaACPLUIDlg.h"

#include <cstring>

#include "AudioDeviceManager.h"
#include "DeviceSeam.h"
#include "PPageASIO.h"
#include "PPagePlay.h"
#include "PanelMessages.h"
#include "PanelResourceIds.h"
#include "SystemClass.h"
#include "TessConstants.h"
#include "PPageRemoteCtrl.h"
#include "RemoteMessages.h"

static_assert(WM_CPL_DATAGRAM == remote::kDatagramMessage, "the receiver sends the panel's datagram message");

IMPLEMENT_DYNAMIC(CKestaACPLUIDlg, CSkinDialog)

namespace {

constexpr UINT_PTR kExitTimerId = 5068;
constexpr UINT kExitDelayMs = 500;

bool is(const char* name, const char* expected) { return std::strcmp(name, expected) == 0; }

int indexIn(const char* const* group, int count, const char* name) {
  for (int i = 0; i < count; ++i)
    if (is(name, group[i])) return i;
  return -1;
}

// An elevated program does not get messages from the shell's lower integrity level unless it
// lets them through; the function exists from Windows 7 on (Vista has the process-wide one).
void allowMessageFromShell(HWND window, UINT message) {
  HMODULE user32 = ::GetModuleHandleA("user32.dll");
  if (!user32) return;
  using FilterEx = BOOL(WINAPI*)(HWND, UINT, DWORD, void*);
  using Filter = BOOL(WINAPI*)(UINT, DWORD);
  if (auto filterEx = reinterpret_cast<FilterEx>(reinterpret_cast<void*>(::GetProcAddress(user32, "ChangeWindowMessageFilterEx")))) {
    filterEx(window, message, 1 /* MSGFLT_ALLOW */, nullptr);
  } else if (auto filter = reinterpret_cast<Filter>(reinterpret_cast<void*>(::GetProcAddress(user32, "ChangeWindowMessageFilter")))) {
    filter(message, 1 /* MSGFLT_ADD */);
  }
}

}  // namespace

CKestaACPLUIDlg::CKestaACPLUIDlg(CWnd* parent) : CSkinDialog(parent) {
  HINSTANCE module = ::GetModuleHandleA(nullptr);
  m_hIcon = static_cast<HICON>(::LoadImageA(module, MAKEINTRESOURCEA(IDI_PANEL), IMAGE_ICON, 0, 0, LR_DEFAULTSIZE));
  m_hSmallIcon = static_cast<HICON>(::LoadImageA(module, MAKEINTRESOURCEA(IDI_PANEL), IMAGE_ICON,
                                                 ::GetSystemMetrics(SM_CXSMICON), ::GetSystemMetrics(SM_CYSMICON), 0));
}

CKestaACPLUIDlg::~CKestaACPLUIDlg() {
  Shutdown();
  if (m_hIcon) ::DestroyIcon(m_hIcon);
  if (m_hSmallIcon) ::DestroyIcon(m_hSmallIcon);
}

BOOL CKestaACPLUIDlg::OnInitDialog() {
  CSkinDialog::OnInitDialog();
  SendMessage(WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
  SendMessage(WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hSmallIcon ? m_hSmallIcon : m_hIcon));
  SetWindowText(tess::kPanelWindowTitle);

  ClassifySystem();
  m_pManager = std::make_unique<CAudioDeviceManager>(m_hWnd);
  ClearDevice();
  if (MatchDevice()) ProbeCapabilities();
  if (!tess::isEndpointCapable(m_systemClass)) m_asioAvailable = LegacyPresenceCheck();
  ReadPageSwitches();
  BuildPages();

  m_taskbarCreated = ::RegisterWindowMessageA("TaskbarCreated");
  if (m_taskbarCreated) allowMessageFromShell(m_hWnd, m_taskbarCreated);
  m_tray.Add(m_hWnd, ::GetModuleHandleA(nullptr), tess::kPanelWindowTitle);
  RegisterUsbNotification();
  SetTimer(kPollTimerId, kPollPeriodMs);
  return TRUE;
}

// Shutdown ----------------------------------------------------------------------------------------

void CKestaACPLUIDlg::Exit() {
  if (!m_hWnd || m_shutDown) return;
  KillTimer(kPollTimerId);
  ShowWindow(SW_HIDE);
  SetTimer(kExitTimerId, kExitDelayMs);
}

void CKestaACPLUIDlg::Shutdown() {
  if (m_shutDown) return;
  m_shutDown = true;
  if (m_hWnd) {
    KillTimer(kPollTimerId);
    KillTimer(kRescanTimerId);
    KillTimer(kExitTimerId);
  }
  if (m_hDevNotify && m_hDevNotify != INVALID_HANDLE_VALUE) tess::devices().unregisterDeviceNotification(m_hDevNotify);
  m_hDevNotify = nullptr;
  m_tray.Delete();
  DestroyPages();
  if (m_pManager) {
    m_pManager->ReleaseBindings();
    m_pManager->ReleasePlayer();
    m_pManager.reset();
  }
}

bool CKestaACPLUIDlg::DestroyWindow() {
  Shutdown();
  return CSkinDialog::DestroyWindow();
}

void CKestaACPLUIDlg::OnEndSession(BOOL ending) {
  // Logoff or shutdown ends the process without the dialog's own end: settings are written now.
  if (ending) Shutdown();
}

void CKestaACPLUIDlg::OnOK() {}

void CKestaACPLUIDlg::OnCancel() { ShowWindow(SW_HIDE); }

BOOL CKestaACPLUIDlg::PreTranslateMessage(MSG* msg) {
  if (msg->message == WM_KEYDOWN && (msg->wParam == VK_ESCAPE || msg->wParam == VK_RETURN)) {
    if (msg->wParam == VK_ESCAPE) ShowWindow(SW_HIDE);
    return TRUE;
  }
  return CSkinDialog::PreTranslateMessage(msg);
}

// Messages ----------------------------------------------------------------------------------------

LRESULT CKestaACPLUIDlg::WindowProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_COMMAND:
      if (OnPanelCommand(LOWORD(wParam))) return 0;
      break;
    case WM_SYSCOMMAND:
      if ((wParam & 0xFFF0) == SC_MINIMIZE) {
        ShowWindow(SW_HIDE);  // the window lives in the tray, never on the taskbar
        return 0;
      }
      break;
    case WM_CPL_TRAY:
      if (lParam == WM_CONTEXTMENU || lParam == WM_RBUTTONDOWN) {
        m_tray.TrackMenu(IsWindowVisible());
        return 0;
      }
      if (lParam == WM_LBUTTONDBLCLK) {
        ShowWindow(SW_RESTORE);
        ::SetForegroundWindow(m_hWnd);
        return 0;
      }
      break;
    default:
      break;
  }
  return CSkinDialog::WindowProc(msg, wParam, lParam);
}

bool CKestaACPLUIDlg::OnPanelCommand(UINT id) {
  switch (id) {
    case ID_TRAY_SHOW:
      ShowWindow(SW_RESTORE);
      return true;
    case ID_TRAY_HIDE:
      ShowWindow(SW_HIDE);
      return true;
    case ID_TRAY_EXIT:
    case ID_CPL_EXIT:
      Exit();
      return true;
    case ID_CPL_SHOW_ASIO:
      ShowOnAsioPage();
      return true;
    case ID_CPL_REFRESH_ASIO:
      if (m_pPageAsio) m_pPageAsio->Refresh();
      return true;
    default:
      return false;
  }
}

void CKestaACPLUIDlg::ShowOnAsioPage() {
  ShowWindow(SW_SHOWNORMAL);
  // Topmost and back again: in front of every window without staying there.
  SetWindowPos(HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  SetWindowPos(HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW);
  if (m_pPageAsio) m_pPageAsio->Refresh();
  SendMessage(WM_COMMAND, ID_CPL_REFRESH_ASIO);
}

bool CKestaACPLUIDlg::OnPrivateMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  *result = 0;
  switch (msg) {
    case WM_CPL_VOLUME_CHANGED:
      OnVolumeChanged();
      return true;
    case WM_CPL_ENDPOINT_ACTIVE:
      OnEndpointActive();
      return true;
    case WM_CPL_PLAY_FORMAT_CHANGED:
      if (m_pPagePlay) m_pPagePlay->ShowFormat();
      return true;
    case WM_CPL_REC_FORMAT_CHANGED:
      if (m_pPageRecord) m_pPageRecord->ShowFormat(static_cast<int>(wParam));
      return true;
    case WM_CPL_DATAGRAM:
      // Sent by the remote-control receive thread, which waits for the answer: the dialog
      // acknowledges each datagram and does nothing with it.
      (void)lParam;
      return true;
    default:
      if (m_taskbarCreated && msg == m_taskbarCreated) {
        m_tray.ShellRestarted();
        return true;
      }
      return false;
  }
}

void CKestaACPLUIDlg::OnVolumeChanged() {
  if (m_pPagePlay) {
    m_pPagePlay->RefreshVolume();
    BOOL mute = FALSE;
    if (m_pManager && SUCCEEDED(m_pManager->GetPlaybackMute(&mute))) SetSkinButtonCheck("BTN_P_MUTE", mute ? 1 : 0);
  }
  if (m_pPageRecord) {
    m_pPageRecord->RefreshVolume();
    m_pPageRecord->RefreshMute();
  }
}

void CKestaACPLUIDlg::OnTimer(UINT_PTR id) {
  switch (id) {
    case kPollTimerId:
      PollPages();
      return;
    case kRescanTimerId:
      KillTimer(kRescanTimerId);
      Rescan();
      return;
    case kExitTimerId:
      KillTimer(kExitTimerId);
      EndDialog(IDOK);
      return;
    default:
      CSkinDialog::OnTimer(id);
  }
}

void CKestaACPLUIDlg::OnPaint() {
  if (::IsIconic(m_hWnd)) {
    CPaintDC dc(m_hWnd);
    SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(static_cast<HDC>(dc)));
    RECT client;
    GetClientRect(&client);
    const int cx = ::GetSystemMetrics(SM_CXICON), cy = ::GetSystemMetrics(SM_CYICON);
    ::DrawIcon(dc, (client.right - client.left - cx + 1) / 2, (client.bottom - client.top - cy + 1) / 2, m_hIcon);
    return;
  }
  CSkinDialog::OnPaint();
}

HCURSOR CKestaACPLUIDlg::OnQueryDragIcon() { return reinterpret_cast<HCURSOR>(m_hIcon); }

// Skin dispatch -------------------------------------------------------------------------------------

void CKestaACPLUIDlg::OnButtonOfGroup(const char* const* group, int count, const char* clicked) {
  for (int i = 0; i < count; ++i) SetSkinButtonCheck(group[i], 0);
  SetSkinButtonCheck(clicked, 1);
}

void CKestaACPLUIDlg::OnSkinButtonClicked(const char* name) {
  using namespace panel;
  if (!name) return;
  if (is(name, "BTN_HIDE")) {
    ShowWindow(SW_HIDE);
    return;
  }
  struct Direction {
    const char* const* rates;
    const char* const* bits;
    const char* mute;
    const char* gang;
    const char* left;
    const char* right;
    bool* gangOn;
    bool play;
  };
  const Direction directions[] = {
      {kPlayRateButtons, kPlayBitButtons, "BTN_P_MUTE", "BTN_P_VOL_GANG", "SLDR_P_VOL_L", "SLDR_P_VOL_R", &m_playGang, true},
      {kRecordRateButtons, kRecordBitButtons, "BTN_R_MUTE", "BTN_R_VOL_GANG", "SLDR_R_VOL_L", "SLDR_R_VOL_R",
       &m_recordGang, false},
  };
  for (const Direction& d : directions) {
    const bool isRate = indexIn(d.rates, kRateButtonCount, name) >= 0;
    const bool isBits = indexIn(d.bits, kBitButtonCount, name) >= 0;
    if (isRate || isBits) {
      if (isRate) OnButtonOfGroup(d.rates, kRateButtonCount, name);
      if (isBits) OnButtonOfGroup(d.bits, kBitButtonCount, name);
      if (d.play && m_pPagePlay) m_pPagePlay->ApplyFormat();
      if (!d.play && m_pPageRecord) m_pPageRecord->ApplyFormat();
      return;
    }
    if (is(name, d.mute)) {
      SetSkinButtonCheck(name, !GetSkinButtonCheck(name));
      if (d.play && m_pPagePlay) m_pPagePlay->ApplyMute();
      if (!d.play && m_pPageRecord) m_pPageRecord->ApplyMute();
      return;
    }
    if (is(name, d.gang)) {
      if (GetSkinButtonCheck(name)) {
        SetSkinButtonCheck(name, 0);
        *d.gangOn = false;
        return;
      }
      SetSkinButtonCheck(name, 1);
      *d.gangOn = true;
      const int value = GetSkinSliderPos(d.left);
      SetSkinSliderPos(d.right, value);
      if (d.play && m_pPagePlay) m_pPagePlay->ApplyVolume(d.right, value);
      if (!d.play && m_pPageRecord) m_pPageRecord->ApplyVolume(d.right, value);
      return;
    }
  }
  const bool asioMapped = m_pPageAsio && m_pPageAsio->IsMapped();
  if (indexIn(kAsioWidthButtons, kAsioWidthCount, name) >= 0) {
    OnButtonOfGroup(kAsioWidthButtons, kAsioWidthCount, name);
    if (asioMapped) m_pPageAsio->StoreWidth();
    return;
  }
  const int buffer = indexIn(kAsioBufferButtons, kAsioBufferButtonCount, name);
  if (buffer >= 0) {
    OnButtonOfGroup(kAsioBufferButtons, kAsioBufferButtonCount, name);
    if (asioMapped) m_pPageAsio->StoreBufferSize(buffer);
    return;
  }
  if (is(name, "BTN_ASIO_RESET")) {
    if (asioMapped) m_pPageAsio->RequestReset();
    return;
  }
  auto* remote = static_cast<CPPageRemoteCtrl*>(m_pPageRemote);
  if (is(name, "BTN_RMCT_NETWORK_SET")) {
    if (remote) remote->NetworkSetting();
    return;
  }
  if (is(name, "BTN_RMCT_START_SVR")) {
    if (remote) remote->ToggleServer();
    return;
  }
}

void CKestaACPLUIDlg::OnSkinSliderChanged(const char* name, int, int value) {
  if (!name) return;
  const bool play = is(name, "SLDR_P_VOL_L") || is(name, "SLDR_P_VOL_R");
  const bool record = is(name, "SLDR_R_VOL_L") || is(name, "SLDR_R_VOL_R");
  if (play && m_pPagePlay) {
    if (m_playGang) {
      SetSkinSliderPos(is(name, "SLDR_P_VOL_L") ? "SLDR_P_VOL_R" : "SLDR_P_VOL_L", value);
      m_pPagePlay->ApplyVolume("SLDR_P_VOL_L", value);
      m_pPagePlay->ApplyVolume("SLDR_P_VOL_R", value);
    } else {
      m_pPagePlay->ApplyVolume(name, value);
    }
  } else if (record && m_pPageRecord) {
    if (m_recordGang) {
      SetSkinSliderPos(is(name, "SLDR_R_VOL_L") ? "SLDR_R_VOL_R" : "SLDR_R_VOL_L", value);
      m_pPageRecord->ApplyVolume("SLDR_R_VOL_L", value);
      m_pPageRecord->ApplyVolume("SLDR_R_VOL_R", value);
    } else {
      m_pPageRecord->ApplyVolume(name, value);
    }
  }
}
