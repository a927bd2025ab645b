// The main dialog's pages: the switches from the package key, building the pages with their
// show and hide rules, destroying them, and the one-second poll.
#include <windows.h>

#include <new>

#include "AudioDeviceManager.h"
#include "KestaACPLUIDlg.h"
#include "PPageASIO.h"
#include "PPagePlay.h"
#include "PanelMessages.h"
#include "SystemClass.h"
#include "TessConstants.h"
#include "PPageRemoteCtrl.h"

namespace {

const char kPackageKey32[] = "SOFTWARE\\Wow6432Node\\Tessaline\\Tessaline USB 2";

// One switch: the package key, else its 32-bit view, else the default.
uint32_t readSwitch(const char* value, uint32_t fallback) {
  for (const char* path : {tess::kPackageKeyPath, kPackageKey32}) {
    HKEY key = nullptr;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS) continue;
    DWORD type = 0, data = 0, size = sizeof data;
    const LONG read = ::RegQueryValueExA(key, value, nullptr, &type, reinterpret_cast<BYTE*>(&data), &size);
    ::RegCloseKey(key);
    // A value of another type or size is not a switch.
    if (read == ERROR_SUCCESS && type == REG_DWORD && size == sizeof data) return data;
  }
  return fallback;
}

template <typename Page>
Page* buildPage(CKestaACPLUIDlg* dialog) {
  Page* page = new (std::nothrow) Page(dialog);
  if (page) page->Init();
  return page;
}

template <typename Page>
void destroyPage(Page*& page) {
  delete page;
  page = nullptr;
}

}  // namespace

void CKestaACPLUIDlg::ReadPageSwitches() {
  const panel::PageSwitches defaults;
  m_switches.playRec = readSwitch("PlayRecPP", defaults.playRec);
  m_switches.asioDrv = readSwitch("AsioDrvPP", defaults.asioDrv);
  m_switches.rmtCtrl = readSwitch("RmtCtrlPP", defaults.rmtCtrl);
}

void CKestaACPLUIDlg::BuildPages() {
  DestroyPages();
  using namespace panel;
  // Playback.
  if (m_switches.playRec && m_playPresent) {
    m_pPagePlay = buildPage<CPPagePlay>(this);
  } else {
    m_playPresent = false;
    for (const char* name : kPlayRateButtons) ShowSkinButton(name, 0);
    for (const char* name : kPlayBitButtons) ShowSkinButton(name, 0);
  }
  for (const char* name : {"BTN_P_MUTE", "BTN_P_VOL_GANG"}) ShowSkinButton(name, 0);
  for (const char* name : {"SLDR_P_VOL_L", "SLDR_P_VOL_R"}) ShowSkinSlider(name, 0);
  // Record.
  if (m_switches.playRec && m_recordPresent) {
    m_pPageRecord = buildPage<CPPageRecord>(this);
  } else {
    m_recordPresent = false;
    for (const char* name : kRecordRateButtons) ShowSkinButton(name, 0);
    for (const char* name : kRecordBitButtons) ShowSkinButton(name, 0);
  }
  for (const char* name : {"BTN_R_MUTE", "BTN_R_VOL_GANG"}) ShowSkinButton(name, 0);
  for (const char* name : {"SLDR_R_VOL_L", "SLDR_R_VOL_R"}) ShowSkinSlider(name, 0);
  // ASIO.
  if (m_switches.asioDrv && m_asioAvailable) {
    m_pPageAsio = buildPage<CPPageASIO>(this);
  } else {
    m_asioAvailable = false;
    for (const char* name : kAsioWidthButtons) ShowSkinButton(name, 0);
  }
  ShowSkinButton("BTN_ASIO_BFSZ_3MS", 0);
  for (int i = 1; i < kAsioBufferButtonCount; ++i) ShowSkinButton(kAsioBufferButtons[i], m_asioAvailable);
  ShowSkinButton("BTN_ASIO_RESET", m_asioAvailable);
  ShowSkinLabel("TXT_ASIOSTATE", m_asioAvailable);
  ShowSkinLabel("TXT_ASIODEVICE", m_asioAvailable);
  ShowSkinLabel("TXT_ASIOSTATUS", 0);
  SetSkinLabelText("TXT_ASIOPCM", "PCM");
  SetSkinLabelText("TXT_ASIODSD", "DSD64");
  SetSkinLabelText("TXT_ASIODSD128", "DSD128");
  SetSkinLabelText("TXT_ASIODSD256", "DSD256");
  for (const char* name : {"TXT_ASIOPCM", "TXT_ASIODSD", "TXT_ASIODSD128", "TXT_ASIODSD256"}) ShowSkinLabel(name, 0);
  ShowSkinButton("BTN_LABEL_ASIO1", m_asioAvailable);
  ShowSkinButton("BTN_LABEL_ASIO2", m_asioAvailable);
  // The pages just built may have refreshed the ASIO labels: the page decides what shows.
  if (m_pPageAsio) m_pPageAsio->Refresh();
  // Remote control: only with one of the three pages present, whatever the switch says.
  bool remoteBuilt = false;
  if (m_switches.rmtCtrl && (m_playPresent || m_recordPresent || m_asioAvailable)) {
    auto* remote = new (std::nothrow) CPPageRemoteCtrl(this);
    if (remote) remote->Init();
    m_pPageRemote = remote;
    remoteBuilt = remote != nullptr;
  }
  ShowSkinButton("BTN_RMCT_NETWORK_SET", remoteBuilt);
  ShowSkinButton("BTN_RMCT_START_SVR", remoteBuilt);
  if (!remoteBuilt) ShowSkinLabel("TXT_LOCAL_IP", 0);
  ShowSkinLabel("TXT_REMOTE_IP", 0);
  ShowSkinLabel("TXT_CPL_LOAD", 0);
}

void CKestaACPLUIDlg::DestroyPages() {
  destroyPage(m_pPagePlay);
  destroyPage(m_pPageRecord);
  destroyPage(m_pPageAsio);  // writes its two settings
  destroyPage(m_pPageRemote);
  m_captureEndpointCount = 0;
}

void CKestaACPLUIDlg::PollPages() {
  if (m_pPageAsio && m_pPageAsio->IsMapped()) {
    if (const UINT command = m_pPageAsio->PendingCommand()) SendMessage(WM_COMMAND, command);
  }
  if (m_pPagePlay && m_pManager) {
    EndpointFormat format;
    if (SUCCEEDED(m_pManager->GetPlaybackFormat(&format)) && (format.rate != m_playRate || format.bits != m_playBits))
      PostMessage(WM_CPL_PLAY_FORMAT_CHANGED);
  }
  if (m_pPageRecord && m_pManager) {
    for (int i = 0; i < m_captureEndpointCount; ++i) {
      EndpointFormat format;
      if (SUCCEEDED(m_pManager->GetCaptureFormat(i, &format)) &&
          (format.rate != m_recordRate || format.bits != m_recordBits))
        PostMessage(WM_CPL_REC_FORMAT_CHANGED, static_cast<WPARAM>(i));
    }
  }
  if (m_legacyRetry && m_retryCountdown > 0) {
    --m_retryCountdown;
    if (!tess::isEndpointCapable(m_systemClass) && LegacyPresenceCheck()) {
      m_asioAvailable = true;
      BuildPages();
      m_legacyRetry = false;
    }
  }
  // A tray icon that could not be added (no shell yet at logon) is added as soon as it can.
  if (m_tray.IsWanted() && !m_tray.IsAdded()) m_tray.Retry();
}
