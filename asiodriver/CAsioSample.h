// The ASIO driver object that hosts obtain through the class factory.
#pragma once

#include "Asio.h"
#include "CUnknown.h"
#include "StatusBlock.h"
#include "TessConstants.h"

namespace tess {

class CAsioSample : public IASIO, public CUnknown {
 public:
  // Attaches the status block (loading the settings when this object created it).
  explicit CAsioSample(IUnknown* outer);
  ~CAsioSample() override;

  // Records `identity`, claims the status block if free, and finds the device.
  // E_FAIL when no supported device is found.
  HRESULT bindDevice(REFCLSID identity);

  // IUnknown: forwarded to the controlling unknown.
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  // IUnknown and the object's own class identifier yield IASIO.
  HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID iid, void** out) override;

  // IASIO
  ASIOBool init(void* sysHandle) override;
  void getDriverName(char* name) override;
  int32_t getDriverVersion() override;
  void getErrorMessage(char* string) override;
  ASIOError start() override;
  ASIOError stop() override;
  ASIOError getChannels(int32_t* numInputChannels, int32_t* numOutputChannels) override;
  ASIOError getLatencies(int32_t* inputLatency, int32_t* outputLatency) override;
  ASIOError getBufferSize(int32_t* minSize, int32_t* maxSize, int32_t* preferredSize,
                          int32_t* granularity) override;
  ASIOError canSampleRate(ASIOSampleRate sampleRate) override;
  ASIOError getSampleRate(ASIOSampleRate* sampleRate) override;
  ASIOError setSampleRate(ASIOSampleRate sampleRate) override;
  ASIOError getClockSources(ASIOClockSource* clocks, int32_t* numSources) override;
  ASIOError setClockSource(int32_t reference) override;
  ASIOError getSamplePosition(ASIOSamples* sPos, ASIOTimeStamp* tStamp) override;
  ASIOError getChannelInfo(ASIOChannelInfo* info) override;
  ASIOError createBuffers(ASIOBufferInfo* bufferInfos, int32_t numChannels, int32_t bufferSize,
                          ASIOCallbacks* callbacks) override;
  ASIOError disposeBuffers() override;
  ASIOError controlPanel() override;
  ASIOError future(int32_t selector, void* opt) override;
  ASIOError outputReady() override;

 private:
  Identity identity() const;

  CLSID m_identity;
  uint8_t m_capabilityMask;  // bit 1: 16-bit, bit 2: 24-bit, bit 3: 32-bit samples
  char m_devicePath[260];
  char m_deviceName[260];
  uint32_t m_state;  // DriverState
  uint32_t m_capturePresent;
  uint32_t m_widthInUse;
  uint32_t m_pcmRate;   // the rate the device streams at (the carrier rate for DSD)
  uint32_t m_asioRate;  // the rate the host set
  uint32_t m_configuredWidth;
  uint64_t m_preferredDuration;  // 100 ns units
  uint32_t m_bufferSize;         // frames
  uint32_t m_ioFormat;           // 0 PCM, 1 DSD
  HANDLE m_hStatusMapping;       // shared by the module, not owned
  StatusBlockView m_status;
  uint16_t m_vendorId;
  uint16_t m_productId;
  bool m_timerPeriodBegun;  // timeBeginPeriod(1) taken at a successful bind
};

}  // namespace tess
