// Shared pieces of the library's Wine tests: the virtual DAC installed per test, trace
// capture, and the DAC's filter found through the enumeration.
#pragma once

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "KsAudio.h"

#include <ksmedia.h>

#include "DeviceTable.h"
#include "VirtualDac.h"

namespace kstest {

inline std::mutex g_traceMutex;
inline std::vector<std::string> g_traces;

inline void CaptureTrace(const char* message) {
  std::lock_guard<std::mutex> lock(g_traceMutex);
  g_traces.emplace_back(message);
}

inline const GUID kAudioAndRender[2] = {ToGuid(tess::ks::kCategoryAudio), ToGuid(tess::ks::kCategoryRender)};

class KsWineTest : public ::testing::Test {
 protected:
  void TearDown() override {
    tess::SetTraceLevel(0);
    tess::SetTraceSink(nullptr);
    tess::vdac::stopUsingVirtualDac();
  }

  void Use(const tess::vdac::DacConfig& config = tess::vdac::DacConfig{}) {
    ASSERT_TRUE(tess::vdac::useVirtualDac(config));
  }

  // Messages up to this level are kept (entry and exit traces are left out below 6).
  void CaptureTraces(int level = tess::kTraceNotice) {
    {
      std::lock_guard<std::mutex> lock(g_traceMutex);
      g_traces.clear();
    }
    tess::SetTraceSink(CaptureTrace);
    tess::SetTraceLevel(level);
  }

  static bool Traced(const std::string& message) {
    std::lock_guard<std::mutex> lock(g_traceMutex);
    for (const std::string& t : g_traces)
      if (t == message) return true;
    return false;
  }

  static std::string AllTraces() {
    std::lock_guard<std::mutex> lock(g_traceMutex);
    std::string all;
    for (const std::string& t : g_traces) all += "  " + t + "\n";
    return all;
  }

  static bool IsSupportedPath(const char* path) {
    tess::UsbIdentity id = tess::parseUsbIdentity(path);
    return id.hasVendor && id.hasProduct && id.hasInterface &&
           tess::findSupportedInterface(id.vendorId, id.productId, id.interfaceNumber) != nullptr;
  }

  // The DAC's device path and friendly name, as the driver finds them.
  static bool FindDac(std::string* path, std::string* name = nullptr) {
    CKsEnumFilters enumerator;
    if (FAILED(enumerator.EnumFilters(kAudioAndRender, 2))) return false;
    for (CKsAudRenFilter* filter : enumerator.m_listFilters) {
      if (IsSupportedPath(filter->GetSymbolicLink())) {
        *path = filter->GetSymbolicLink();
        if (name) *name = filter->GetFriendlyName();
        return true;
      }
    }
    return false;
  }
};

// An opened audio filter of the DAC with its pins enumerated.
template <typename Filter>
struct OpenFilter {
  Filter* filter = nullptr;
  HRESULT hr = E_FAIL;

  explicit OpenFilter(const std::string& path) {
    filter = new Filter(path.c_str(), "DAC", &hr);
    if (SUCCEEDED(hr)) hr = filter->Instantiate();
    if (SUCCEEDED(hr)) hr = filter->EnumeratePins();
  }
  ~OpenFilter() { delete filter; }
  Filter* operator->() const { return filter; }
};

inline std::vector<ULONG> PinIds(const CKsList<CKsPin>& list) {
  std::vector<ULONG> ids;
  for (CKsPin* pin : list) ids.push_back(pin->GetId());
  return ids;
}

inline WAVEFORMATEX PcmFormat(WORD channels, WORD bits, DWORD rate) {
  WAVEFORMATEX f = {};
  f.wFormatTag = WAVE_FORMAT_PCM;
  f.nChannels = channels;
  f.nSamplesPerSec = rate;
  f.wBitsPerSample = bits;
  f.nBlockAlign = static_cast<WORD>(channels * bits / 8);
  f.nAvgBytesPerSec = rate * f.nBlockAlign;
  return f;
}

inline WAVEFORMATEXTENSIBLE ExtensibleFormat(WORD channels, WORD bits, DWORD rate) {
  WAVEFORMATEXTENSIBLE f = {};
  f.Format = PcmFormat(channels, bits, rate);
  f.Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
  f.Format.cbSize = sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX);
  f.Samples.wValidBitsPerSample = bits;
  f.dwChannelMask = SPEAKER_FRONT_LEFT | SPEAKER_FRONT_RIGHT;
  f.SubFormat = ToGuid(tess::ks::kDataFormatSubtypePcm);
  return f;
}

}  // namespace kstest
