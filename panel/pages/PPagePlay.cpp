#include "PPagePlay.h"

#include <cstring>

#include "AudioDeviceManager.h"
#include "EndpointKeys.h"
#include "KestaACPLUIDlg.h"
#include "PanelTables.h"

IMPLEMENT_DYNAMIC(CPPagePlay, CPPage)
IMPLEMENT_DYNAMIC(CPPageRecord, CPPage)

namespace {

struct ButtonGroups {
  const char* const* rates;
  const char* const* bits;
};
const ButtonGroups kPlayButtons{panel::kPlayRateButtons, panel::kPlayBitButtons};
const ButtonGroups kRecordButtons{panel::kRecordRateButtons, panel::kRecordBitButtons};

void showSupported(CKestaACPLUIDlg& d, const ButtonGroups& g, uint32_t rateMask, uint32_t bitsMask) {
  for (int i = 0; i < panel::kRateButtonCount; ++i) d.ShowSkinButton(g.rates[i], (rateMask >> i) & 1u);
  for (int i = 0; i < panel::kBitButtonCount; ++i) d.ShowSkinButton(g.bits[i], (bitsMask >> i) & 1u);
}

// The button of the format's rate and of its width checked, the others not.
void checkFormat(CKestaACPLUIDlg& d, const ButtonGroups& g, uint32_t rate, uint32_t bits) {
  const int rateIndex = panel::panelRateIndex(rate);
  const int bitsIndex = panel::panelBitsIndex(bits);
  for (int i = 0; i < panel::kRateButtonCount; ++i) d.SetSkinButtonCheck(g.rates[i], i == rateIndex);
  for (int i = 0; i < panel::kBitButtonCount; ++i) d.SetSkinButtonCheck(g.bits[i], i == bitsIndex);
}

// The format the buttons show: the first checked of each group, else 44100 Hz and 16 bits.
void checkedFormat(CKestaACPLUIDlg& d, const ButtonGroups& g, uint32_t* rate, uint16_t* bits) {
  int rateIndex = panel::kDefaultRateIndex, bitsIndex = panel::kDefaultBitsIndex;
  for (int i = panel::kRateButtonCount - 1; i >= 0; --i)
    if (d.GetSkinButtonCheck(g.rates[i])) rateIndex = i;
  for (int i = panel::kBitButtonCount - 1; i >= 0; --i)
    if (d.GetSkinButtonCheck(g.bits[i])) bitsIndex = i;
  *rate = panel::kPanelRates[rateIndex];
  *bits = panel::kPanelBits[bitsIndex];
}

bool isLeft(const char* slider) {
  return slider && (std::strcmp(slider, "SLDR_P_VOL_L") == 0 || std::strcmp(slider, "SLDR_R_VOL_L") == 0);
}

}  // namespace

// Playback --------------------------------------------------------------------------------------

int CPPagePlay::Init() {
  ShowFormat();
  ShowSupported();
  RefreshVolume();
  BOOL mute = FALSE;
  if (m_pDialog->Manager() && SUCCEEDED(m_pDialog->Manager()->GetPlaybackMute(&mute)))
    m_pDialog->SetSkinButtonCheck("BTN_P_MUTE", mute ? 1 : 0);
  return 1;
}

void CPPagePlay::ShowSupported() {
  showSupported(*m_pDialog, kPlayButtons, m_pDialog->m_playRateMask, m_pDialog->m_playBitsMask);
}

void CPPagePlay::ShowFormat() {
  CAudioDeviceManager* manager = m_pDialog->Manager();
  EndpointFormat format;
  if (!manager || FAILED(manager->GetPlaybackFormat(&format))) return;
  m_pDialog->m_playRate = format.rate;
  m_pDialog->m_playBits = format.bits;
  checkFormat(*m_pDialog, kPlayButtons, format.rate, format.bits);
}

void CPPagePlay::ApplyFormat() {
  CAudioDeviceManager* manager = m_pDialog->Manager();
  uint32_t rate = 0;
  uint16_t bits = 0;
  checkedFormat(*m_pDialog, kPlayButtons, &rate, &bits);
  if (!manager || FAILED(manager->SetPlaybackFormat(rate, bits))) return;
  // Remembered, so that the next poll does not take the page's own change for an outside one.
  m_pDialog->m_playRate = rate;
  m_pDialog->m_playBits = bits;
}

void CPPagePlay::ApplyVolume(const char* slider, int value) {
  const float level = panel::levelFromSlider(value, m_minLevel, m_maxLevel);
  (isLeft(slider) ? m_leftLevel : m_rightLevel) = level;
  if (CAudioDeviceManager* manager = m_pDialog->Manager()) manager->SetPlaybackLevels(m_leftLevel, m_rightLevel);
}

void CPPagePlay::RefreshVolume() {
  CAudioDeviceManager* manager = m_pDialog->Manager();
  ChannelLevels levels;
  if (!manager || FAILED(manager->GetPlaybackLevels(&levels)) || !levels.read) return;
  m_leftLevel = levels.left;
  m_rightLevel = levels.right;
  m_minLevel = levels.minLevel;
  m_maxLevel = levels.maxLevel;
  m_pDialog->SetSkinSliderPos("SLDR_P_VOL_L", panel::sliderFromLevel(m_leftLevel, m_minLevel, m_maxLevel));
  m_pDialog->SetSkinSliderPos("SLDR_P_VOL_R", panel::sliderFromLevel(m_rightLevel, m_minLevel, m_maxLevel));
}

void CPPagePlay::ApplyMute() {
  if (CAudioDeviceManager* manager = m_pDialog->Manager())
    manager->SetPlaybackMute(m_pDialog->GetSkinButtonCheck("BTN_P_MUTE") ? TRUE : FALSE);
}

// Record ----------------------------------------------------------------------------------------

int CPPageRecord::Init() {
  CAudioDeviceManager* manager = m_pDialog->Manager();
  m_captureCount = manager ? manager->CaptureCount() : 0;
  if (m_captureCount > kMaxCapture) m_captureCount = kMaxCapture;
  m_pDialog->m_captureEndpointCount = m_captureCount;
  ChooseVolumeEndpoint();
  ShowFormat(0);
  ShowSupported();
  RefreshVolume();
  RefreshMute();
  return 1;
}

void CPPageRecord::ChooseVolumeEndpoint() {
  CAudioDeviceManager* manager = m_pDialog->Manager();
  m_volumeEndpoint = 0;
  // From the last down, so that the lowest-indexed line input wins.
  for (int i = m_captureCount - 1; i >= 0; --i) {
    m_jackSubtypes[i] = manager ? manager->CaptureJackSubtype(i) : GUID{};
    if (IsEqualGUID(m_jackSubtypes[i], endpoint::kNodeLineConnector)) m_volumeEndpoint = i;
  }
}

void CPPageRecord::ShowSupported() {
  showSupported(*m_pDialog, kRecordButtons, m_pDialog->m_recordRateMask, m_pDialog->m_recordBitsMask);
}

void CPPageRecord::ShowFormat(int index) {
  CAudioDeviceManager* manager = m_pDialog->Manager();
  EndpointFormat format;
  if (manager && SUCCEEDED(manager->GetCaptureFormat(index, &format))) {
    m_pDialog->m_recordRate = format.rate;
    m_pDialog->m_recordBits = format.bits;
    checkFormat(*m_pDialog, kRecordButtons, format.rate, format.bits);
  }
  // Every capture endpoint of the device takes the format the buttons now show.
  ApplyFormat();
}

void CPPageRecord::ApplyFormat() {
  CAudioDeviceManager* manager = m_pDialog->Manager();
  if (!manager) return;
  uint32_t rate = 0;
  uint16_t bits = 0;
  checkedFormat(*m_pDialog, kRecordButtons, &rate, &bits);
  for (int i = 0; i < m_captureCount; ++i) {
    if (SUCCEEDED(manager->SetCaptureFormat(i, rate, bits))) {
      m_pDialog->m_recordRate = rate;
      m_pDialog->m_recordBits = bits;
    }
  }
}

void CPPageRecord::ApplyVolume(const char* slider, int value) {
  const float level = panel::levelFromSlider(value, m_minLevel, m_maxLevel);
  (isLeft(slider) ? m_leftLevel : m_rightLevel) = level;
  if (CAudioDeviceManager* manager = m_pDialog->Manager())
    manager->SetCaptureLevels(m_volumeEndpoint, m_leftLevel, m_rightLevel);
}

void CPPageRecord::RefreshVolume() {
  CAudioDeviceManager* manager = m_pDialog->Manager();
  ChannelLevels levels;
  if (!manager || FAILED(manager->GetCaptureLevels(m_volumeEndpoint, &levels)) || !levels.read) return;
  m_leftLevel = levels.left;
  m_rightLevel = levels.right;
  m_minLevel = levels.minLevel;
  m_maxLevel = levels.maxLevel;
  m_pDialog->SetSkinSliderPos("SLDR_R_VOL_L", panel::sliderFromLevel(m_leftLevel, m_minLevel, m_maxLevel));
  m_pDialog->SetSkinSliderPos("SLDR_R_VOL_R", panel::sliderFromLevel(m_rightLevel, m_minLevel, m_maxLevel));
}

void CPPageRecord::ApplyMute() {
  if (CAudioDeviceManager* manager = m_pDialog->Manager())
    manager->SetCaptureMute(m_volumeEndpoint, m_pDialog->GetSkinButtonCheck("BTN_R_MUTE") ? TRUE : FALSE);
}

void CPPageRecord::RefreshMute() {
  CAudioDeviceManager* manager = m_pDialog->Manager();
  BOOL mute = FALSE;
  if (manager && SUCCEEDED(manager->GetCaptureMute(m_volumeEndpoint, &mute)))
    m_pDialog->SetSkinButtonCheck("BTN_R_MUTE", mute ? 1 : 0);
}
