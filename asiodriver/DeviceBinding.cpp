// Finding the device: the kernel-streaming audio filters whose path names a supported
// USB device and whose pins take 16-, 24- or 32-bit PCM.
#include <windows.h>
#include <mmsystem.h>

#include <cstring>
#include <initializer_list>
#include <new>

#include "CAsioSample.h"
#include "KsAudio.h"

namespace tess {
namespace {

// KSCATEGORY_AUDIO and KSCATEGORY_RENDER.
const GUID kCategoryAudio = {0x6994AD04, 0x93EF, 0x11D0, {0xA3, 0xCC, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};
const GUID kCategoryRender = {0x65E8773E, 0x8F56, 0x11D0, {0xA3, 0xB9, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};

// Width probing: the tag and the width are all that is compared (check mask 4).
WAVEFORMATEX pcmProbe(uint32_t bits) {
  WAVEFORMATEX wfx{};
  wfx.wFormatTag = WAVE_FORMAT_PCM;
  wfx.nChannels = 2;
  wfx.nSamplesPerSec = 44100;
  wfx.wBitsPerSample = static_cast<WORD>(bits);
  wfx.nBlockAlign = static_cast<WORD>(2 * bits / 8);
  wfx.nAvgBytesPerSec = wfx.nSamplesPerSec * wfx.nBlockAlign;
  return wfx;
}

constexpr ULONG kCheckBitsPerSample = 4;

template <typename Filter>
Filter* openFilter(const char* path, const char* name, bool withNodes) {
  HRESULT hr = S_OK;
  Filter* filter = new (std::nothrow) Filter(path, name, &hr);
  if (!filter) return nullptr;
  if (FAILED(hr) || FAILED(filter->Instantiate()) || (withNodes && FAILED(filter->EnumerateNodes())) ||
      FAILED(filter->EnumeratePins())) {
    delete filter;
    return nullptr;
  }
  return filter;
}

}  // namespace

bool CAsioSample::probeDevice(const char* path, const char* name, uint8_t& capabilityMask, bool& capturePresent) {
  CKsAudRenFilter* render = openFilter<CKsAudRenFilter>(path, name, false);
  if (!render) return false;
  CKsAudCapFilter* capture = openFilter<CKsAudCapFilter>(path, name, false);
  capturePresent = capture && !capture->m_listOutSinkPins.IsEmpty();
  capabilityMask = 0;
  for (uint32_t bits : {16u, 24u, 32u}) {
    WAVEFORMATEX wfx = pcmProbe(bits);
    if (render->FindViablePin(&wfx, kCheckBitsPerSample) &&
        (!capturePresent || capture->FindViablePin(&wfx, kCheckBitsPerSample)))
      capabilityMask |= static_cast<uint8_t>(widthBit(bits));
  }
  delete capture;  // init opens them again
  delete render;
  return capabilityMask != 0;
}

HRESULT CAsioSample::bindDevice(REFCLSID identity) {
  m_identity = identity;
  m_state = kStateLoaded;
  // Ownership belongs to this object, not to its class id: two instances of one
  // registration share the id, and only the one that claimed the block may write it.
  m_claimedBlock = m_status.claim(this->identity());
  m_capturePresent = 0;

  bool accepted = false;
  CKsEnumFilters* enumerator = new (std::nothrow) CKsEnumFilters();
  const GUID categories[2] = {kCategoryAudio, kCategoryRender};
  if (enumerator && SUCCEEDED(enumerator->EnumFilters(categories, 2))) {
    for (CKsAudRenFilter* filter : enumerator->m_listFilters) {
      const char* path = filter->GetSymbolicLink();
      uint16_t vendorId = 0, productId = 0;
      if (!drv::matchDevicePath(path, vendorId, productId)) continue;
      lstrcpynA(m_devicePath, path, sizeof m_devicePath);
      const char* friendly = filter->GetFriendlyName();
      lstrcpynA(m_deviceName, friendly && friendly[0] ? friendly : kDriverName, sizeof m_deviceName);
      uint8_t mask = 0;
      bool capture = false;
      if (probeDevice(m_devicePath, m_deviceName, mask, capture)) {
        m_vendorId = vendorId;
        m_productId = productId;
        m_capabilityMask = mask;
        m_capturePresent = capture;
        accepted = true;
        break;
      }
    }
  }
  delete enumerator;
  if (!accepted) {
    m_devicePath[0] = m_deviceName[0] = 0;
    return E_FAIL;
  }
  m_timerPeriodBegun = timeBeginPeriod(1) == TIMERR_NOERROR;
  owned().publishDeviceName(this->identity(), m_deviceName);
  return S_OK;
}

bool CAsioSample::openFilters() {
  deleteFilters();
  m_pRenderFilter = openFilter<CKsAudRenFilter>(m_devicePath, m_deviceName, true);
  if (!m_pRenderFilter) return false;
  if (m_capturePresent) {
    m_pCaptureFilter = openFilter<CKsAudCapFilter>(m_devicePath, m_deviceName, true);
    if (!m_pCaptureFilter) {
      deleteFilters();
      return false;
    }
  }
  return true;
}

void CAsioSample::deleteFilters() {
  delete m_pCaptureFilter;
  delete m_pRenderFilter;
  m_pCaptureFilter = nullptr;
  m_pRenderFilter = nullptr;
}

}  // namespace tess
