#include "CAsioSample.h"

#include <windows.h>
#include <mmsystem.h>

#include <cstring>

#include "Module.h"

namespace tess {

CAsioSample::CAsioSample(IUnknown* outer) : CUnknown(outer) {
  // The object arrives zero-filled from the module heap: every field starts at 0.
  ModuleBlock block = moduleStatusBlock(&m_pcmRate);
  m_hStatusMapping = block.mapping;
  m_status = block.view;
}

CAsioSample::~CAsioSample() {
  if (m_timerPeriodBegun) timeEndPeriod(1);
  // A bound object never gets past LOADED yet: streaming teardown joins with the engine.
  m_state = kStateUnload;
  m_status.release(identity());
}

Identity CAsioSample::identity() const {
  Identity id;
  static_assert(sizeof id.bytes == sizeof(CLSID), "identity is a class identifier");
  std::memcpy(id.bytes, &m_identity, sizeof id.bytes);
  return id;
}

HRESULT CAsioSample::bindDevice(REFCLSID identity) {
  m_identity = identity;
  m_state = kStateLoaded;
  m_status.claim(this->identity());
  m_capturePresent = 0;
  // Device discovery is not part of this build: no device can be found, so the factory
  // destroys the object and the host gets E_FAIL.
  return E_FAIL;
}

HRESULT STDMETHODCALLTYPE CAsioSample::QueryInterface(REFIID iid, void** out) {
  return outerUnknown()->QueryInterface(iid, out);
}
ULONG STDMETHODCALLTYPE CAsioSample::AddRef() { return outerUnknown()->AddRef(); }
ULONG STDMETHODCALLTYPE CAsioSample::Release() { return outerUnknown()->Release(); }

HRESULT STDMETHODCALLTYPE CAsioSample::NonDelegatingQueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  // Hosts ask for the interface under the class identifier they created the object with.
  if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, m_identity)) {
    *out = static_cast<IASIO*>(this);
    AddRef();
    return S_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

// The operations below need a bound device, which this build cannot produce (bindDevice
// always fails, so no host ever holds the object). Until device discovery arrives they
// refuse: no device, no channels.
ASIOBool CAsioSample::init(void*) { return ASIOFalse; }
void CAsioSample::getDriverName(char* name) {
  if (name) lstrcpynA(name, m_deviceName[0] ? m_deviceName : kDriverName, 32);
}
int32_t CAsioSample::getDriverVersion() { return 2; }
void CAsioSample::getErrorMessage(char*) {}
ASIOError CAsioSample::start() { return ASE_NotPresent; }
ASIOError CAsioSample::stop() { return ASE_NotPresent; }
ASIOError CAsioSample::getChannels(int32_t* numInputChannels, int32_t* numOutputChannels) {
  if (numInputChannels) *numInputChannels = 0;
  if (numOutputChannels) *numOutputChannels = 0;
  return ASE_NotPresent;
}
ASIOError CAsioSample::getLatencies(int32_t* inputLatency, int32_t* outputLatency) {
  return getChannels(inputLatency, outputLatency);
}
ASIOError CAsioSample::getBufferSize(int32_t*, int32_t*, int32_t*, int32_t*) { return ASE_NotPresent; }
ASIOError CAsioSample::canSampleRate(ASIOSampleRate) { return ASE_NotPresent; }
ASIOError CAsioSample::getSampleRate(ASIOSampleRate*) { return ASE_NotPresent; }
ASIOError CAsioSample::setSampleRate(ASIOSampleRate) { return ASE_NotPresent; }
ASIOError CAsioSample::getClockSources(ASIOClockSource*, int32_t*) { return ASE_NotPresent; }
ASIOError CAsioSample::setClockSource(int32_t) { return ASE_NotPresent; }
ASIOError CAsioSample::getSamplePosition(ASIOSamples*, ASIOTimeStamp*) { return ASE_NotPresent; }
ASIOError CAsioSample::getChannelInfo(ASIOChannelInfo*) { return ASE_NotPresent; }
ASIOError CAsioSample::createBuffers(ASIOBufferInfo*, int32_t, int32_t, ASIOCallbacks*) { return ASE_NotPresent; }
ASIOError CAsioSample::disposeBuffers() { return ASE_NotPresent; }
ASIOError CAsioSample::controlPanel() { return ASE_NotPresent; }
ASIOError CAsioSample::future(int32_t, void*) { return ASE_NotPresent; }
ASIOError CAsioSample::outputReady() { return ASE_NotPresent; }

}  // namespace tess
