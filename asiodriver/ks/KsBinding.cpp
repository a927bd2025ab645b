// Finding the device: the kernel-streaming audio filters whose path names a supported
// USB device and whose pins take 16-, 24- or 32-bit PCM (24 bits packed or in 4-byte
// containers), with its capture filter wherever the device registers it; and which pins
// stream at each table rate.
#include <windows.h>

#include <cstring>
#include <initializer_list>
#include <new>

#include "DriverRules.h"
#include "KsAudio.h"
#include "KsBackend.h"
#include "PcmFormat.h"
#include "SampleFormat.h"
#include "TessConstants.h"

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

DeviceBackend* makeKsBackend() { return new (std::nothrow) KsBackend(); }

KsBackend::~KsBackend() { close(); }

bool KsBackend::probe(const char* path, const char* capturePath, const char* name, DeviceFacts& facts) {
  CKsAudRenFilter* render = openFilter<CKsAudRenFilter>(path, name, false);
  if (!render) return false;
  CKsAudCapFilter* capture = openFilter<CKsAudCapFilter>(capturePath, name, false);
  const bool capturePresent = capture && !capture->m_listOutSinkPins.IsEmpty();
  auto bothTake = [&](const WAVEFORMATEX* wfx) {
    return render->FindViablePin(wfx, ks::kCheckBitsPerSample) &&
           (!capturePresent || capture->FindViablePin(wfx, ks::kCheckBitsPerSample));
  };
  uint8_t capabilityMask = 0;
  bool twentyFourIn32 = false;
  for (uint32_t bits : {16u, 24u, 32u}) {
    WAVEFORMATEX wfx = pcmProbe(bits);
    bool supported = bothTake(&wfx);
    if (!supported && bits == 24) {
      // Most USB audio 2.0 devices carry 24-bit audio only in 4-byte subslots.
      WAVEFORMATEXTENSIBLE inContainers = pcmFormat(2, 32, 24, wfx.nSamplesPerSec);
      supported = twentyFourIn32 = bothTake(&inContainers.Format);
    }
    if (supported) capabilityMask |= static_cast<uint8_t>(widthBit(bits));
  }
  delete capture;  // init opens them again
  delete render;
  facts.capabilityMask = capabilityMask;
  facts.capturePresent = capturePresent;
  facts.twentyFourIn32 = twentyFourIn32;
  return capabilityMask != 0;
}

bool KsBackend::bind(DeviceFacts& facts) {
  bool accepted = false;
  CKsEnumFilters* enumerator = new (std::nothrow) CKsEnumFilters();
  const GUID categories[2] = {kCategoryAudio, kCategoryRender};
  if (enumerator && SUCCEEDED(enumerator->EnumFilters(categories, 2))) {
    for (CKsAudRenFilter* filter : enumerator->m_listFilters) {
      const char* path = filter->GetSymbolicLink();
      uint16_t vendorId = 0, productId = 0;
      if (!drv::matchDevicePath(path, vendorId, productId)) continue;
      lstrcpynA(facts.devicePath, path, sizeof facts.devicePath);
      const char* friendly = filter->GetFriendlyName();
      lstrcpynA(facts.deviceName, friendly && friendly[0] ? friendly : kDriverName, sizeof facts.deviceName);
      // Capture may be a filter of its own, listed only under the capture category.
      if (FAILED(CKsEnumFilters::FindCaptureFilter(path, facts.capturePath, sizeof facts.capturePath)))
        lstrcpynA(facts.capturePath, path, sizeof facts.capturePath);
      if (probe(facts.devicePath, facts.capturePath, facts.deviceName, facts)) {
        facts.vendorId = vendorId;
        facts.productId = productId;
        accepted = true;
        break;
      }
    }
  }
  delete enumerator;
  return accepted;
}

bool KsBackend::open(const DeviceFacts& facts) {
  deleteFilters();
  m_render = openFilter<CKsAudRenFilter>(facts.devicePath, facts.deviceName, true);
  if (!m_render) return false;
  if (facts.capturePresent) {
    m_capture = openFilter<CKsAudCapFilter>(facts.capturePath, facts.deviceName, true);
    if (!m_capture) {
      deleteFilters();
      return false;
    }
  }
  return true;
}

void KsBackend::close() {
  for (Direction dir : {kRender, kCapture})
    for (uint32_t s = 0; s < fmt::kPinSlots; ++s) closeSlot(dir, s);
  deleteFilters();
}

void KsBackend::deleteFilters() {
  delete m_capture;
  delete m_render;
  m_capture = nullptr;
  m_render = nullptr;
  std::memset(m_pins, 0, sizeof m_pins);
}

void KsBackend::buildRateRecords(Direction dir, uint32_t width, const DeviceFacts& facts, RateRecord* records) {
  std::memset(m_pins[dir], 0, sizeof m_pins[dir]);
  if (dir == kRender ? !m_render : !m_capture) return;
  const CKsList<CKsPin>& pins = dir == kRender ? m_render->m_listInSinkPins : m_capture->m_listOutSinkPins;
  for (int i = 0; i < kRateCount; ++i) {
    RateRecord& record = records[i];
    ks::PcmQuery query;
    query.sampleRate = record.rate;
    query.containerBits = fmt::deviceWidth(width, record.rate, facts.twentyFourIn32);
    query.validBits = fmt::deviceValidBits(width, record.rate, facts.twentyFourIn32);
    for (CKsPin* p : pins) {
      if (record.slotCount >= fmt::kPinSlots) break;
      // Every pin of an audio filter is an audio pin.
      CKsAudPin* pin = static_cast<CKsAudPin*>(p);
      const ks::PcmMatch match = pin->MatchPcm(query, ks::kCheckBitsPerSample | ks::kCheckSampleRate);
      if (!match.matched) continue;
      m_pins[dir][i][record.slotCount] = pin;
      // More channels than a record can carry are never opened.
      addSlot(record, match.maxChannels < fmt::kMaxPinChannels ? match.maxChannels : fmt::kMaxPinChannels);
    }
  }
}

}  // namespace tess
