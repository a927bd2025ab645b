// Installing, shaping and inspecting the virtual DAC; its device thread; its seam table.
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "DacInternal.h"
#include "coreaudio/CaWorld.h"
#include "EnvironmentFlag.h"
#include "usbtree/UsbTree.h"

#include <mmsystem.h>

namespace tess::vdac {

namespace detail {

// Never destroyed: a device thread may still run while the process exits (a deliverable
// that selected the device through the environment never uninstalls it).
std::mutex& dacLock() {
  static std::mutex* lock = new std::mutex;
  return *lock;
}

std::unique_ptr<Dac>& dacInstance() {
  static auto* instance = new std::unique_ptr<Dac>;
  return *instance;
}

namespace {

// Completes requests as the device's clock reaches them. It sleeps until the next due
// time (millisecond resolution) or until a new request wakes it.
DWORD WINAPI deviceThread(void* param) {
  auto* dac = static_cast<Dac*>(param);
  // The clock's waits need millisecond resolution.
  timeBeginPeriod(1);
  for (;;) {
    int64_t next;
    int64_t now;
    {
      std::lock_guard<std::mutex> lock(dacLock());
      if (dac->stopping) break;
      now = nowTicks();
      next = dac->service(now);
    }
    DWORD timeout = INFINITE;
    if (next != INT64_MAX) {
      const int64_t wait = next - nowTicks();
      timeout = wait <= 0 ? 0 : static_cast<DWORD>((wait + 9999) / 10000);
    }
    WaitForSingleObject(dac->wake, timeout);
  }
  timeEndPeriod(1);
  // The thread holds a reference on the module whose code it runs (a driver DLL may be
  // unloaded by its host while the device lives on); it drops it as it ends.
  FreeLibraryAndExitThread(dac->module, 0);
  return 0;
}

void teardown(std::unique_ptr<Dac> dac) {
  if (!dac) return;
  if (dac->thread) {
    WaitForSingleObject(dac->thread, INFINITE);
    CloseHandle(dac->thread);
    dac->thread = nullptr;
  }
  dac->releaseAll();
}

// Detaches the installed instance under the lock and asks its thread to end.
std::unique_ptr<Dac> detach() {
  std::lock_guard<std::mutex> lock(dacLock());
  std::unique_ptr<Dac> dac = std::move(dacInstance());
  if (dac) {
    dac->stopping = true;
    dac->failEverything();  // nobody waits for a device that is going away
    if (dac->wake) SetEvent(dac->wake);
  }
  return dac;
}

template <typename F>
void withDac(F&& f) {
  std::lock_guard<std::mutex> lock(dacLock());
  if (Dac* dac = dacInstance().get()) f(*dac);
}

// The USB device-tree face (usbtree/) answers device sets of the "USB" enumerator when a
// tree is configured and passes every other set to the DAC's own functions.
const DeviceSeam kVirtualSeam = {
    usbtree::getClassDevs, enumDeviceInterfaces, getDeviceInterfaceAlias, getDeviceInterfaceDetail,
    openDeviceInterfaceRegKey, usbtree::enumDeviceInfo, usbtree::getDeviceRegistryProperty,
    usbtree::destroyDeviceInfoList,
    createFile,       deviceIoControl,      ksCreatePin,             writeFile,
    closeHandle,      cancelIoEx,           hidGetHidGuid,        hidGetAttributes,        hidGetPreparsedData,
    hidFreePreparsedData, hidGetCaps,       coCreateInstance,
    usbtree::callClassInstaller, usbtree::locateDevNode, usbtree::reenumerateDevNode,
    usbtree::initiateShutdown,
    registerDeviceNotification, unregisterDeviceNotification,
};

// A whole number within [low, high] from the environment; false when unset or not one.
bool environmentNumber(const char* name, long low, long high, long& value) {
  char text[32] = {};
  const DWORD n = GetEnvironmentVariableA(name, text, sizeof text);
  if (n == 0 || n >= sizeof text) return false;
  char* end = nullptr;
  errno = 0;
  const long parsed = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || errno == ERANGE || parsed < low || parsed > high) return false;
  value = parsed;
  return true;
}

}  // namespace

}  // namespace detail

using namespace detail;

DacConfig configFromEnvironment() {
  DacConfig config;
  char path[MAX_PATH] = {};
  DWORD n = GetEnvironmentVariableA("TESSALINE_VIRTUAL_DEVICE_WAV", path, sizeof path);
  if (n > 0 && n < sizeof path) config.wavPath = path;
  config.loopback = environmentFlag("TESSALINE_VIRTUAL_DEVICE_LOOPBACK");
  config.renderOnly = environmentFlag("TESSALINE_VIRTUAL_DEVICE_RENDER_ONLY");
  config.coreAudio.packed24 = !environmentFlag("TESSALINE_VIRTUAL_DEVICE_24IN32");
  long value = 0;
  if (environmentNumber("TESSALINE_VIRTUAL_DEVICE_DRIFT_PPM", -kMaxDriftPpm, kMaxDriftPpm, value)) {
    config.clockDriftPpm = static_cast<int32_t>(value);
  }
  if (environmentNumber("TESSALINE_VIRTUAL_DEVICE_BURST_MS", 0, 1000, value)) {
    config.completion.burstMs = static_cast<uint32_t>(value);
    config.completion.scheduleLeadMs = static_cast<uint32_t>(value);
  }
  char jacks[256] = {};
  n = GetEnvironmentVariableA("TESSALINE_VIRTUAL_DEVICE_CAPTURE_JACKS", jacks, sizeof jacks);
  if (n > 0 && n < sizeof jacks) {
    std::vector<CaptureEndpointShape> endpoints;
    for (const char* p = jacks; *p;) {
      const size_t length = std::strcspn(p, ",");
      const std::string jack(p, length);
      if (jack == "line" || jack == "spdif") {
        CaptureEndpointShape endpoint;
        endpoint.jack = jack == "line" ? CaptureJack::Line : CaptureJack::Spdif;
        endpoints.push_back(endpoint);
      }
      p += length + (p[length] == ',');
    }
    if (!endpoints.empty()) config.coreAudio.captureEndpoints = endpoints;
  }
  // Selected by the environment, perhaps by accident: its name says it is not the device.
  config.friendlyName = kVirtualDeviceName;
  config.deviceDescription = kVirtualDeviceName;
  // In a deliverable nobody reads the in-memory record: keep it small.
  config.playedRecordLimit = 8u << 20;
  return config;
}

bool install(const DacConfig& config) {
  teardown(detach());
  auto dac = std::make_unique<Dac>();
  if (!dac->build(config)) {
    dac->releaseAll();
    return false;
  }
  std::lock_guard<std::mutex> lock(dacLock());
  if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCSTR>(&deviceThread),
                          &dac->module)) {
    dac->releaseAll();
    return false;
  }
  dac->thread = CreateThread(nullptr, 0, deviceThread, dac.get(), CREATE_SUSPENDED, nullptr);
  if (!dac->thread) {
    FreeLibrary(dac->module);
    dac->releaseAll();
    return false;
  }
  SetThreadPriority(dac->thread, THREAD_PRIORITY_TIME_CRITICAL);
  dacInstance() = std::move(dac);
  ResumeThread(dacInstance()->thread);
  return true;
}

void uninstall() { teardown(detach()); }

bool isInstalled() {
  std::lock_guard<std::mutex> lock(dacLock());
  return dacInstance() != nullptr;
}

const DeviceSeam& seam() { return kVirtualSeam; }

void setStalled(bool stalled) {
  withDac([&](Dac& dac) {
    if (dac.stalled && !stalled) {
      // The clock resumes now: what was queued plays from here on.
      const int64_t now = nowTicks();
      for (auto& [handle, object] : dac.handles) {
        if (object.kind != ObjectKind::Pin || object.pin->state != kStateRun) continue;
        for (StreamRequest& r : object.pin->queue) r.scheduled = false;
        object.pin->clock.start(now, dac.config.clockDriftPpm);
        dac.scheduleQueued(*object.pin, now);
      }
    }
    dac.stalled = stalled;
    SetEvent(dac.wake);
  });
}

void setHidAccepting(bool accepting) {
  withDac([&](Dac& dac) { dac.config.hidRefusesReports = !accepting; });
}

void setLoopback(bool on) {
  withDac([&](Dac& dac) {
    dac.config.loopback = on;
    dac.loopback.clear();
  });
}

void setShortCaptureFrames(uint32_t frames) {
  withDac([&](Dac& dac) { dac.config.shortCaptureFrames = frames; });
}

void setWavPath(const std::string& path) {
  withDac([&](Dac& dac) { dac.config.wavPath = path; });
}

PinStats pinStats(uint32_t pinId) {
  PinStats stats;
  withDac([&](Dac& dac) {
    auto it = dac.dacPins.find(pinId);
    if (it == dac.dacPins.end()) return;
    stats = it->second.stats;
    for (auto& [handle, object] : dac.handles) {
      if (object.kind == ObjectKind::Pin && object.pin->record == &it->second) stats.state = object.pin->state;
    }
  });
  return stats;
}

std::vector<uint8_t> playedBytes(uint32_t pinId) {
  std::vector<uint8_t> bytes;
  withDac([&](Dac& dac) {
    auto it = dac.dacPins.find(pinId);
    if (it != dac.dacPins.end()) bytes = it->second.played.bytes();
  });
  return bytes;
}

void clearPlayed() {
  withDac([&](Dac& dac) {
    for (auto& [id, record] : dac.dacPins) record.played.clear();
  });
}

Counters counters() {
  Counters c;
  withDac([&](Dac& dac) {
    c = dac.counters;
    c.deviceHandles = dac.liveDeviceHandles();
  });
  return c;
}

std::vector<std::vector<uint8_t>> hidReports() {
  std::vector<std::vector<uint8_t>> reports;
  withDac([&](Dac& dac) { reports = dac.hidReports; });
  return reports;
}

void clearHidReports() {
  withDac([&](Dac& dac) { dac.hidReports.clear(); });
}

}  // namespace tess::vdac
