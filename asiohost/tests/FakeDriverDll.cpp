// The in-test driver as an in-process COM server, for running the host program end to end
// through the registry. Faults come from ASIOHOST_FAKE_FAULTS; when ASIOHOST_FAKE_PLAYED
// names a file, the driver writes what it played there when it is released.
#include <objbase.h>
#include <windows.h>

#include <cstdlib>
#include <new>
#include <string>

#include "FakeDriver.h"

namespace {

std::string environment(const char* name) {
  char value[1024];
  const DWORD n = GetEnvironmentVariableA(name, value, sizeof value);
  return n > 0 && n < sizeof value ? std::string(value, n) : std::string();
}

class PlayedWritingDriver : public asiohost::FakeAsioDriver {
 public:
  using FakeAsioDriver::FakeAsioDriver;
  ~PlayedWritingDriver() override {
    disposeBuffers();
    const std::string path = environment("ASIOHOST_FAKE_PLAYED");
    if (!path.empty()) writePlayed(path);
  }
};

class Factory final : public IClassFactory {
 public:
  explicit Factory(const CLSID& clsid) : clsid_(clsid) {}
  virtual ~Factory() = default;
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    if (!object) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
      *object = this;
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&refs_); }
  ULONG STDMETHODCALLTYPE Release() override {
    const LONG n = InterlockedDecrement(&refs_);
    if (n == 0) delete this;
    return static_cast<ULONG>(n);
  }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** object) override {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    auto* driver =
        new (std::nothrow) PlayedWritingDriver(asiohost::parseFakeFaults(environment("ASIOHOST_FAKE_FAULTS")), clsid_);
    if (!driver) return E_OUTOFMEMORY;
    const HRESULT hr = driver->QueryInterface(riid, object);
    driver->Release();
    return hr;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

 private:
  CLSID clsid_;
  LONG refs_ = 1;
};

}  // namespace

extern "C" __declspec(dllexport) HRESULT __stdcall DllGetClassObject(REFCLSID clsid, REFIID riid, void** object) {
  if (!object) return E_POINTER;
  auto* factory = new (std::nothrow) Factory(clsid);
  if (!factory) return E_OUTOFMEMORY;
  const HRESULT hr = factory->QueryInterface(riid, object);
  factory->Release();
  return hr;
}

// Test drivers stay loaded for the life of the process.
extern "C" __declspec(dllexport) HRESULT __stdcall DllCanUnloadNow() { return S_FALSE; }
