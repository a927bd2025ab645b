// The main dialog's device side: system classification, the device match over the audio
// endpoints, the kernel-streaming capability probe, the legacy presence check, USB arrival
// and removal, and the rescan after an arrival.
#include <windows.h>
#include <mmsystem.h>

#include <cstdio>
#include <initializer_list>
#include <memory>
#include <new>
#include <string>

#include "AudioDeviceManager.h"
#include "DeviceSeam.h"
#include "DeviceTable.h"
#include "KestaACPLUIDlg.h"
#include "KsAudio.h"
#include "PanelMessages.h"
#include "SystemClass.h"
#include "TessConstants.h"

namespace {

const GUID kCategoryAudio = {0x6994AD04, 0x93EF, 0x11D0, {0xA3, 0xCC, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};
const GUID kCategoryRender = {0x65E8773E, 0x8F56, 0x11D0, {0xA3, 0xB9, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};
const GUID kUsbDeviceInterface = {0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}};

constexpr ULONG kCheckBits = 4;
constexpr ULONG kCheckRate = 8;

// Calls f(entry) for each supported-device entry until it returns true.
template <typename F>
const tess::SupportedDevice* firstDevice(F f) {
  for (size_t i = 0; i < tess::kMaxSupportedDevices && tess::kSupportedDevices[i].vendorId != 0; ++i)
    if (f(tess::kSupportedDevices[i])) return &tess::kSupportedDevices[i];
  return nullptr;
}

// The kernel-streaming audio filters present; null when none could be listed.
std::unique_ptr<CKsEnumFilters> enumerateFilters() {
  auto filters = std::unique_ptr<CKsEnumFilters>(new (std::nothrow) CKsEnumFilters());
  const GUID categories[] = {kCategoryAudio, kCategoryRender};
  if (!filters || FAILED(filters->EnumFilters(categories, 2))) return nullptr;
  return filters;
}

template <typename Filter>
std::unique_ptr<Filter> openFilter(const char* path, const char* name) {
  HRESULT hr = S_OK;
  std::unique_ptr<Filter> filter(new (std::nothrow) Filter(path, name, &hr));
  if (!filter || FAILED(hr) || FAILED(filter->Instantiate()) || FAILED(filter->EnumeratePins())) return nullptr;
  return filter;
}

// Sets bits of the two masks for every width and rate some pin of the filter takes.
template <typename Filter>
void probeFilter(Filter& filter, uint32_t* bitsMask, uint32_t* rateMask) {
  WAVEFORMATEX wfx{};
  wfx.wFormatTag = WAVE_FORMAT_PCM;
  wfx.nChannels = 2;
  wfx.nSamplesPerSec = 48000;
  wfx.wBitsPerSample = 16;
  for (int i = 0; i < panel::kBitButtonCount; ++i) {
    wfx.wBitsPerSample = panel::kPanelBits[i];
    wfx.nBlockAlign = static_cast<WORD>(wfx.nChannels * wfx.wBitsPerSample / 8);
    wfx.nAvgBytesPerSec = wfx.nBlockAlign * wfx.nSamplesPerSec;
    if (filter.FindViablePin(&wfx, kCheckBits)) *bitsMask |= 1u << i;
  }
  for (int i = 0; i < panel::kRateButtonCount; ++i) {
    wfx.nSamplesPerSec = panel::kPanelRates[i];
    wfx.nAvgBytesPerSec = wfx.nBlockAlign * wfx.nSamplesPerSec;
    if (filter.FindViablePin(&wfx, kCheckRate)) *rateMask |= 1u << i;
  }
}

}  // namespace

void CKestaACPLUIDlg::ClassifySystem() {
  const tess::SystemClass system = tess::querySystemClass();
  if (system.ok) {
    m_systemClass = system.systemClass;
    m_x86 = system.x86;
    m_build = system.build;
  } else {
    m_systemClass = 4;
    m_x86 = true;
    m_build = 7601;
  }
  ::OutputDebugStringA(m_systemClass >= 10 && m_build >= 15063 ? "[lumo CPL]win10 1703" : "[lumo CPL]not win10 1703");
}

void CKestaACPLUIDlg::ClearDevice() {
  m_playPresent = m_recordPresent = m_asioAvailable = false;
  m_vendorId = m_productId = 0;
  m_playRateMask = m_playBitsMask = m_recordRateMask = m_recordBitsMask = 0;
}

bool CKestaACPLUIDlg::MatchDevice() {
  const tess::SupportedDevice* matched = nullptr;
  CAudioDeviceManager::BindResult found;
  if (m_pManager) {
    matched = firstDevice([&](const tess::SupportedDevice& d) {
      found = CAudioDeviceManager::BindResult{};
      return SUCCEEDED(m_pManager->BindEndpoints(d.vendorId, d.productId, d.interfaceNumber, &found));
    });
  }
  if (!matched) {
    m_playPresent = m_recordPresent = m_asioAvailable = false;
    return false;
  }
  m_vendorId = matched->vendorId;
  m_productId = matched->productId;
  m_playPresent = found.renderFound;
  m_recordPresent = found.captureFound;
  m_asioAvailable = found.asioAvailable;
  return true;
}

void CKestaACPLUIDlg::ProbeCapabilities() {
  if (!tess::isEndpointCapable(m_systemClass)) return;
  std::unique_ptr<CKsEnumFilters> filters = enumerateFilters();
  if (!filters) return;
  for (CKsAudRenFilter* listed : filters->m_listFilters) {
    const panel::FilterIdentity id = panel::filterIdentity(listed->GetSymbolicLink());
    if (!id.ok || id.vendorId != m_vendorId || id.productId != m_productId) continue;
    if (auto render = openFilter<CKsAudRenFilter>(listed->GetSymbolicLink(), listed->GetFriendlyName()))
      probeFilter(*render, &m_playBitsMask, &m_playRateMask);
    auto capture = openFilter<CKsAudCapFilter>(listed->GetSymbolicLink(), listed->GetFriendlyName());
    if (capture && !capture->m_listOutSinkPins.IsEmpty()) probeFilter(*capture, &m_recordBitsMask, &m_recordRateMask);
    return;  // the first filter of the device is the one probed
  }
}

bool CKestaACPLUIDlg::LegacyPresenceCheck() {
  std::unique_ptr<CKsEnumFilters> filters = enumerateFilters();
  if (!filters) return false;
  const tess::SupportedDevice* matched = firstDevice([&](const tess::SupportedDevice& d) {
    for (CKsAudRenFilter* listed : filters->m_listFilters) {
      const panel::FilterIdentity id = panel::filterIdentity(listed->GetSymbolicLink());
      if (id.ok && id.vendorId == d.vendorId && id.productId == d.productId) return true;
    }
    return false;
  });
  if (!matched) return false;
  m_vendorId = matched->vendorId;
  m_productId = matched->productId;
  return true;
}

void CKestaACPLUIDlg::RegisterUsbNotification() {
  DEV_BROADCAST_DEVICEINTERFACE_A filter{};
  filter.dbcc_size = sizeof filter;
  filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  filter.dbcc_classguid = kUsbDeviceInterface;
  // Through the device seam, so that the virtual DAC's arrivals and removals reach the window too.
  m_hDevNotify = tess::devices().registerDeviceNotification(m_hWnd, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
}

BOOL CKestaACPLUIDlg::OnDeviceChange(UINT event, DWORD_PTR data) {
  if (event != DBT_DEVICEARRIVAL && event != DBT_DEVICEREMOVECOMPLETE) return TRUE;
  const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(data);
  if (!header || header->dbch_devicetype != DBT_DEVTYP_DEVICEINTERFACE ||
      header->dbch_size < sizeof(DEV_BROADCAST_DEVICEINTERFACE_A))
    return TRUE;
  // The name runs to the end of the record; never past it, and never past its terminator.
  const auto* record = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_A*>(header);
  const size_t nameRoom = header->dbch_size - offsetof(DEV_BROADCAST_DEVICEINTERFACE_A, dbcc_name);
  const std::string name(record->dbcc_name, strnlen(record->dbcc_name, nameRoom));
  const bool ours = firstDevice([&](const tess::SupportedDevice& d) {
                      return panel::containsIgnoringCase(name, panel::usbInterfacePattern(d.vendorId, d.productId));
                    }) != nullptr;
  if (!ours) return TRUE;
  if (event == DBT_DEVICEARRIVAL) {
    OnUsbArrival();
  } else {
    OnUsbRemoval();
  }
  return TRUE;
}

void CKestaACPLUIDlg::OnUsbArrival() {
  m_tray.SetTip(tess::kPanelWindowTitle);
  if (m_pManager) m_pManager->ReleaseBindings();
  m_playPresent = m_recordPresent = m_asioAvailable = false;
  DestroyPages();
  m_pendingRescan = true;
  // Legacy systems have no endpoint to wait for; elsewhere the rescan follows the endpoint.
  if (!tess::isEndpointCapable(m_systemClass)) OnEndpointActive();
}

void CKestaACPLUIDlg::OnUsbRemoval() {
  m_tray.SetTip("N/A");
  if (m_pManager) m_pManager->ReleaseBindings();
  ClearDevice();
  DestroyPages();
  BuildPages();  // every element of an absent page is hidden
}

void CKestaACPLUIDlg::OnEndpointActive() {
  if (!m_pendingRescan) return;
  m_pendingRescan = false;
  // The device needs a moment after its endpoint appears; the window stays responsive meanwhile.
  SetTimer(kRescanTimerId, kRescanDelayMs);
}

void CKestaACPLUIDlg::Rescan() {
  const bool matched = MatchDevice();
  if (tess::isEndpointCapable(m_systemClass)) {
    if (!matched) return;
    ProbeCapabilities();
    BuildPages();
    return;
  }
  if (LegacyPresenceCheck()) {
    m_asioAvailable = true;
    BuildPages();
  } else {
    m_asioAvailable = false;
    m_legacyRetry = true;
    m_retryCountdown = 60;
  }
}
