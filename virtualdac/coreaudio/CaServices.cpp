// The render and capture services of an audio client: each holds its client and passes
// its calls on.
#include "CaAudioClient.h"

namespace tess::vdac::ca {

namespace {

class RenderService final : public IAudioRenderClient, RefCounted {
 public:
  explicit RenderService(AudioClient* client) : client_(client) {}
  TESS_CA_IUNKNOWN
  HRESULT STDMETHODCALLTYPE GetBuffer(UINT32 frames, BYTE** data) override {
    return client_->renderGetBuffer(frames, data);
  }
  HRESULT STDMETHODCALLTYPE ReleaseBuffer(UINT32 frames, DWORD flags) override {
    return client_->renderReleaseBuffer(frames, flags);
  }

 private:
  void* interfaceFor(REFIID iid) override {
    return iid == IID_IUnknown || iid == __uuidof(IAudioRenderClient) ? static_cast<IAudioRenderClient*>(this)
                                                                       : nullptr;
  }
  Ref<AudioClient> client_;
};

class CaptureService final : public IAudioCaptureClient, RefCounted {
 public:
  explicit CaptureService(AudioClient* client) : client_(client) {}
  TESS_CA_IUNKNOWN
  HRESULT STDMETHODCALLTYPE GetBuffer(BYTE** data, UINT32* frames, DWORD* flags, UINT64* devicePosition,
                                      UINT64* qpcPosition) override {
    return client_->captureGetBuffer(data, frames, flags, devicePosition, qpcPosition);
  }
  HRESULT STDMETHODCALLTYPE ReleaseBuffer(UINT32 frames) override { return client_->captureReleaseBuffer(frames); }
  HRESULT STDMETHODCALLTYPE GetNextPacketSize(UINT32* frames) override {
    return client_->captureNextPacketSize(frames);
  }

 private:
  void* interfaceFor(REFIID iid) override {
    return iid == IID_IUnknown || iid == __uuidof(IAudioCaptureClient) ? static_cast<IAudioCaptureClient*>(this)
                                                                        : nullptr;
  }
  Ref<AudioClient> client_;
};

}  // namespace

IAudioRenderClient* newRenderService(AudioClient* client) { return new (std::nothrow) RenderService(client); }
IAudioCaptureClient* newCaptureService(AudioClient* client) { return new (std::nothrow) CaptureService(client); }

}  // namespace tess::vdac::ca
