#include "PPageASIO.h"

#include "AsioPageText.h"
#include "KestaACPLUIDlg.h"
#include "PanelMessages.h"
#include "PanelTables.h"

IMPLEMENT_DYNAMIC(CPPage, CObject)
IMPLEMENT_DYNAMIC(CPPageASIO, CPPage)

namespace {
const char* const kModeLabels[] = {"TXT_ASIOPCM", "TXT_ASIODSD", "TXT_ASIODSD128", "TXT_ASIODSD256"};
const char* modeLabel(tess::AsioMode mode) {
  switch (mode) {
    case tess::AsioMode::Dsd64: return "TXT_ASIODSD";
    case tess::AsioMode::Dsd128: return "TXT_ASIODSD128";
    case tess::AsioMode::Dsd256: return "TXT_ASIODSD256";
    default: return "TXT_ASIOPCM";
  }
}
}  // namespace

CPPageASIO::~CPPageASIO() {
  SaveSettings();
  m_mapping.close();
}

int CPPageASIO::Init() {
  if (m_pDialog) {
    m_pDialog->ShowSkinLabel("TXT_ASIOSTATUS", 0);
    for (const char* name : kModeLabels) m_pDialog->ShowSkinLabel(name, 0);
  }
  // Opens the driver's block, or creates it with the settings from the registry.
  if (m_mapping.attach(tess::BlockSide::ControlPanel) && m_mapping.view().valid()) Refresh();
  return 1;
}

void CPPageASIO::Refresh() {
  tess::StatusBlockView block = m_mapping.view();
  if (!m_pDialog || !block.valid()) return;
  const tess::AsioPageView page = tess::readAsioPageView(block);
  m_pDialog->SetSkinLabelText("TXT_ASIOSTATE", page.stateWord);
  m_pDialog->SetSkinLabelText("TXT_ASIODEVICE", page.deviceCaption);

  tess::BlockSettings settings;
  block.readSettings(settings);
  for (int i = 0; i < panel::kAsioWidthCount; ++i)
    m_pDialog->ShowSkinButton(panel::kAsioWidthButtons[i], (settings.supportedWidths & panel::kAsioWidthMaskBits[i]) != 0);
  int widthIndex = -1;
  for (int i = 0; i < panel::kAsioWidthCount; ++i)
    if (settings.bitsPerSample == panel::kAsioWidths[i]) widthIndex = i;
  if (widthIndex < 0) {
    // A width the driver cannot use is corrected to 16 bits.
    block.setPanelSettings(settings.bufferSize, 16);
    widthIndex = 0;
  }
  for (int i = 0; i < panel::kAsioWidthCount; ++i) m_pDialog->SetSkinButtonCheck(panel::kAsioWidthButtons[i], i == widthIndex);

  const int bufferIndex = panel::asioBufferButtonIndex(settings.bufferSize);
  for (int i = 0; i < panel::kAsioBufferButtonCount; ++i)
    m_pDialog->SetSkinButtonCheck(panel::kAsioBufferButtons[i], i == bufferIndex);

  if (page.running) {
    m_pDialog->SetSkinLabelText("TXT_ASIOSTATUS", page.streamLine.c_str());
    m_pDialog->ShowSkinLabel("TXT_ASIOSTATUS", 1);
    const char* shown = modeLabel(page.mode);
    for (const char* name : kModeLabels) m_pDialog->ShowSkinLabel(name, name == shown);
  } else {
    m_pDialog->ShowSkinLabel("TXT_ASIOSTATUS", 0);
    for (const char* name : kModeLabels) m_pDialog->ShowSkinLabel(name, 0);
  }
}

UINT CPPageASIO::PendingCommand() {
  tess::StatusBlockView block = m_mapping.view();
  if (!block.takeChanged()) return 0;
  return block.takeShowPanel() ? ID_CPL_SHOW_ASIO : ID_CPL_REFRESH_ASIO;
}

void CPPageASIO::StoreWidth() {
  tess::StatusBlockView block = m_mapping.view();
  tess::BlockSettings settings;
  if (!m_pDialog || !block.readSettings(settings)) return;
  for (int i = 0; i < panel::kAsioWidthCount; ++i)
    if (m_pDialog->GetSkinButtonCheck(panel::kAsioWidthButtons[i]))
      block.setPanelSettings(settings.bufferSize, panel::kAsioWidths[i]);
}

void CPPageASIO::StoreBufferSize(int index) {
  tess::StatusBlockView block = m_mapping.view();
  tess::BlockSettings settings;
  if (index < 0 || index >= panel::kAsioBufferCount || !block.readSettings(settings)) return;
  block.setPanelSettings(panel::kAsioBufferMs[index] * 10, settings.bitsPerSample);
}

void CPPageASIO::RequestReset() { m_mapping.view().requestReset(); }

void CPPageASIO::SaveSettings() {
  tess::StatusBlockView block = m_mapping.view();
  tess::BlockSettings settings;
  if (!block.settingsLoaded() || !block.readSettings(settings)) return;
  tess::savePanelSettings(settings.bufferSize, settings.bitsPerSample);
}
