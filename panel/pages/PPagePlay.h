// CPPagePlay and CPPageRecord: the sample rate and width Windows uses for the device's
// playback endpoint and its capture endpoints, kept in step when the format is changed
// elsewhere; and the (hidden) volume, gang and mute logic of both directions.
#pragma once

#include <windows.h>

#include <cstdint>

#include "PPage.h"

class CPPagePlay : public CPPage {
  DECLARE_DYNAMIC(CPPagePlay)

 public:
  explicit CPPagePlay(CKestaACPLUIDlg* dialog) : CPPage(dialog) {}

  int Init() override;
  void ShowSupported();
  void ShowFormat();
  void ApplyFormat();
  void ApplyVolume(const char* slider, int value);
  void RefreshVolume();
  void ApplyMute();

  float m_leftLevel = 0, m_rightLevel = 0, m_maxLevel = 0, m_minLevel = 0;
};

class CPPageRecord : public CPPage {
  DECLARE_DYNAMIC(CPPageRecord)

 public:
  static constexpr int kMaxCapture = 8;

  explicit CPPageRecord(CKestaACPLUIDlg* dialog) : CPPage(dialog) {}

  int Init() override;
  void ChooseVolumeEndpoint();
  void ShowSupported();
  void ShowFormat(int index);
  void ApplyFormat();
  void ApplyVolume(const char* slider, int value);
  void RefreshVolume();
  void ApplyMute();
  void RefreshMute();

  int m_captureCount = 0;
  GUID m_jackSubtypes[kMaxCapture] = {};
  int m_volumeEndpoint = 0;
  float m_leftLevel = 0, m_rightLevel = 0, m_maxLevel = 0, m_minLevel = 0;
};
