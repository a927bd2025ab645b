// Inside the virtual DAC: its device nodes, interfaces, filters, pins, HID functions and
// the handles it hands out. One instance at a time, guarded by one lock; the device
// thread completes stream requests on the device's clock.
#pragma once

#include <windows.h>
#include <winioctl.h>
#include <setupapi.h>
#include <ks.h>
#include <hidsdi.h>
#include <hidpi.h>

#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Loopback.h"
#include "PropertyModel.h"
#include "StreamClock.h"
#include "VirtualDac.h"
#include "WavWriter.h"

namespace tess::vdac::ca {
struct World;  // the Core Audio face's endpoints (coreaudio/)
}

namespace tess::vdac::detail {

// NT status values carried in OVERLAPPED::Internal.
inline constexpr ULONG_PTR kStatusSuccess = 0;
inline constexpr ULONG_PTR kStatusPending = 0x103;
inline constexpr ULONG_PTR kStatusBufferOverflow = 0x80000005;
inline constexpr ULONG_PTR kStatusUnsuccessful = 0xC0000001;
inline constexpr ULONG_PTR kStatusInvalidParameter = 0xC000000D;
inline constexpr ULONG_PTR kStatusBufferTooSmall = 0xC0000023;
inline constexpr ULONG_PTR kStatusNotFound = 0xC0000225;
inline constexpr ULONG_PTR kStatusCancelled = 0xC0000120;
inline constexpr ULONG_PTR kStatusDeviceRemoved = 0xC00002B6;

int64_t nowTicks();

struct DeviceNode {
  std::string instanceId;
  Guid setupClass;
  std::string className;
  std::string description;
  std::string friendlyName;
  std::string manufacturer;
  std::vector<std::string> hardwareIds;
  std::vector<std::string> compatibleIds;
  bool isDac = false;
  bool removed = false;
};

// One device interface as registered in one category; the entries of one filter or HID
// function form a family that shares a device and aliases each other.
struct InterfaceEntry {
  int device = -1;
  int family = -1;
  Guid category;
  std::string path;
  AliasState state = AliasState::Enabled;
  int filter = -1;  // index into Dac::filters
  int hid = -1;     // index into Dac::hids
};

struct FilterDevice {
  FilterSpec shape;
  std::vector<uint32_t> instances;  // live pin instances per pin id
  int device = -1;
  std::string interfaceFriendlyName;  // "FriendlyName" in the interface key
  bool isDac = false;
  bool neverAnswers = false;  // property requests pend until cancelled or closed
  uint32_t recordBase = 0;    // inspection id of the pin = its id + this (a separate capture filter)
};

struct HidFunction {
  int device = -1;
  HIDD_ATTRIBUTES attributes{};
  uint16_t inputLength = 0, outputLength = 0;
  bool writable = true;  // a keyboard cannot be opened for writing
  bool isDac = false;
};

struct StreamRequest {
  PKSSTREAM_HEADER header = nullptr;
  LPOVERLAPPED ov = nullptr;
  bool write = false;
  uint32_t frames = 0;  // frames the packet holds (write) or can hold (read)
  bool scheduled = false;
  int64_t arrival = 0;    // when it reached the pin
  int64_t due = 0;        // when its last frame has played (recorded)
  int64_t completes = 0;  // when the device's driver completes it (see CompletionShape)
  uint64_t missedFrames = 0;  // periods without data before it: silence played, or not recorded
};

struct PinRecord;  // inspection record of a DAC pin

struct Pin {
  int filter = -1;
  uint32_t pinId = 0;
  HANDLE handle = nullptr;
  bool render = false;  // data flows into the device
  StreamFormat format;
  std::vector<uint8_t> connectFormat;  // KSDATAFORMAT + wave format as connected
  uint32_t state = kStateStop;
  int64_t runStart = 0;  // when the pin last entered RUN
  bool resetting = false;
  std::deque<StreamRequest> queue;
  PinClock clock;
  WavWriter wav;
  PinRecord* record = nullptr;
};

// Played audio kept for inspection, in chunks so that appending never moves what is
// already kept (the device thread appends under the lock the host's calls wait on).
class PlayedRecord {
 public:
  void append(const uint8_t* data, size_t bytes, size_t limit);
  std::vector<uint8_t> bytes() const;
  void clear() {
    chunks_.clear();
    size_ = 0;
  }

 private:
  static constexpr size_t kChunk = 1u << 20;
  std::vector<std::vector<uint8_t>> chunks_;
  size_t size_ = 0;
};

struct PinRecord {
  PinStats stats;
  PlayedRecord played;
};

struct PreparsedData {
  uint32_t magic = 0x56484944;  // "VHID"
  int hid = -1;
};

enum class ObjectKind { DevInfoSet, Filter, Pin, Hid };

struct HandleObject {
  explicit HandleObject(ObjectKind k) : kind(k) {}
  ObjectKind kind;
  // Device-information set: interface entries (interfaceSet) or device indices.
  bool interfaceSet = false;
  std::vector<int> members;
  int filter = -1;
  int hid = -1;
  std::unique_ptr<Pin> pin;
  bool dead = false;  // opened on a device that was removed since
};

// A request that completes later on the device thread (a pended property or reset); one
// due at kNever waits to be cancelled.
struct DeferredCompletion {
  LPOVERLAPPED ov;
  HANDLE fileEvent;
  ULONG_PTR status;
  ULONG_PTR bytes;
  int64_t due;
  HANDLE handle = nullptr;  // the handle the request was made on
};
inline constexpr int64_t kNever = INT64_MAX;

struct Dac {
  DacConfig config;
  std::vector<DeviceNode> devices;
  std::vector<InterfaceEntry> interfaces;
  std::vector<FilterDevice> filters;
  std::vector<HidFunction> hids;
  std::map<HANDLE, HandleObject> handles;
  std::vector<std::unique_ptr<PreparsedData>> preparsed;
  std::deque<DeferredCompletion> deferred;
  // HID writes the device has not taken (hidRefusesReports); fileEvent is the HID handle.
  std::vector<DeferredCompletion> heldReports;
  std::map<uint32_t, PinRecord> dacPins;
  std::map<uint32_t, bool> heldElsewhere;  // DAC pins (inspection ids) another client holds
  bool holdCancelled = false;               // cancelled stream requests complete late
  std::deque<DeferredCompletion> heldCancelled;
  std::vector<std::vector<uint8_t>> hidReports;
  Counters counters;
  LoopbackFifo loopback;
  // While the device thread completes a burst: the events of its requests, signalled once
  // the whole burst is complete.
  std::vector<HANDLE> burstSignals;
  bool inBurst = false;
  bool stalled = false;
  bool stopping = false;
  std::string registryRoot;  // HKCU subkey of this process's interface keys
  HANDLE wake = nullptr;
  HANDLE thread = nullptr;
  std::shared_ptr<ca::World> coreAudio;  // endpoints of the Core Audio face
  HMODULE module = nullptr;  // held by the device thread

  // Building and tearing down.
  bool build(const DacConfig& config);
  void failEverything();  // completes all outstanding requests as cancelled
  void releaseAll();

  HANDLE newHandle(HandleObject object);  // a fresh event stands for the object
  HandleObject* find(HANDLE h, ObjectKind kind);
  void closeObject(HANDLE h);  // as closing the handle does; nothing when it is not ours

  // Pins, whichever face opens them: a pin instance of a filter in STOP (null when no
  // handle can be made), and one state step with what the device does on it.
  HANDLE openPin(int filter, uint32_t pinId, const StreamFormat& format, std::vector<uint8_t> connectFormat);
  void setPinState(Pin& pin, uint32_t next);
  // Queues one stream request of `frames` frames (scheduled at once when the pin runs).
  void enqueue(Pin& pin, PKSSTREAM_HEADER header, LPOVERLAPPED ov, bool write, uint32_t frames);
  bool familyRemoved(int device) const { return device >= 0 && devices[device].removed; }

  // Removal (DacRemoval.cpp): the DAC's nodes leave or come back (leaving fails what its
  // pins had queued and kills every handle opened on it); a new instance id and interface
  // paths for the next arrival; the handles now open on it that still work.
  void markRemoved(bool removed);
  void moveToNewInstance();
  uint32_t liveDeviceHandles() const;
  unsigned instanceGeneration = 0;
  bool captureRunning() const;

  // Streaming (device thread side).
  int64_t service(int64_t now);  // completes what is due; returns the next due time or INT64_MAX
  void scheduleQueued(Pin& pin, int64_t arrival);
  // Puts one request on the pin's clock: its due and completion times.
  void scheduleRequest(Pin& pin, StreamRequest& request, int64_t arrival);
  int64_t sharedOrigin(const Pin& pin, int64_t now) const;
  void completeStream(Pin& pin, StreamRequest& request, ULONG_PTR status);
  void cancelQueue(Pin& pin, ULONG_PTR status);
  void defer(LPOVERLAPPED ov, HANDLE fileEvent, ULONG_PTR status, ULONG_PTR bytes, int64_t due = 0);
  // Completes the handle's pended requests (one, or all for a null ov) as cancelled.
  bool cancelDeferred(HANDLE h, LPOVERLAPPED ov);
};

// The lock around the installed instance and the instance itself (null when none).
std::mutex& dacLock();
std::unique_ptr<Dac>& dacInstance();

// Holds the lock for a seam entry; keeps the entry's last error across the unlock.
class DacGuard {
 public:
  DacGuard() : lock_(dacLock()) {}
  ~DacGuard() {
    if (lock_.owns_lock()) unlock();
  }
  DacGuard(const DacGuard&) = delete;
  DacGuard& operator=(const DacGuard&) = delete;
  Dac* dac() const { return dacInstance().get(); }
  void unlock() {
    const DWORD error = GetLastError();
    lock_.unlock();
    SetLastError(error);
  }

 private:
  std::unique_lock<std::mutex> lock_;
};

// Completes an OVERLAPPED as the I/O manager does: status and byte count first, then the
// caller's event (its lowest bit only asks not to post to a completion port) or, without
// one, the handle's own event.
void completeOverlapped(LPOVERLAPPED ov, HANDLE fileEvent, ULONG_PTR status, ULONG_PTR bytes);
// The same without the signal: returns the event to set (null: none).
HANDLE settleOverlapped(LPOVERLAPPED ov, HANDLE fileEvent, ULONG_PTR status, ULONG_PTR bytes);

// The seam entries, one file per face.
HDEVINFO WINAPI getClassDevs(const GUID*, PCSTR, HWND, DWORD);
BOOL WINAPI enumDeviceInterfaces(HDEVINFO, PSP_DEVINFO_DATA, const GUID*, DWORD, PSP_DEVICE_INTERFACE_DATA);
BOOL WINAPI getDeviceInterfaceAlias(HDEVINFO, PSP_DEVICE_INTERFACE_DATA, const GUID*, PSP_DEVICE_INTERFACE_DATA);
BOOL WINAPI getDeviceInterfaceDetail(HDEVINFO, PSP_DEVICE_INTERFACE_DATA, PSP_DEVICE_INTERFACE_DETAIL_DATA_A, DWORD,
                                     PDWORD, PSP_DEVINFO_DATA);
HKEY WINAPI openDeviceInterfaceRegKey(HDEVINFO, PSP_DEVICE_INTERFACE_DATA, DWORD, REGSAM);
BOOL WINAPI enumDeviceInfo(HDEVINFO, DWORD, PSP_DEVINFO_DATA);
BOOL WINAPI getDeviceRegistryProperty(HDEVINFO, PSP_DEVINFO_DATA, DWORD, PDWORD, PBYTE, DWORD, PDWORD);
BOOL WINAPI destroyDeviceInfoList(HDEVINFO);
HANDLE WINAPI createFile(LPCSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);
BOOL WINAPI deviceIoControl(HANDLE, DWORD, LPVOID, DWORD, LPVOID, DWORD, LPDWORD, LPOVERLAPPED);
DWORD WINAPI ksCreatePin(HANDLE, PKSPIN_CONNECT, ACCESS_MASK, PHANDLE);
BOOL WINAPI writeFile(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED);
BOOL WINAPI closeHandle(HANDLE);
BOOL WINAPI cancelIoEx(HANDLE, LPOVERLAPPED);
void WINAPI hidGetHidGuid(LPGUID);
BOOLEAN WINAPI hidGetAttributes(HANDLE, PHIDD_ATTRIBUTES);
BOOLEAN WINAPI hidGetPreparsedData(HANDLE, PHIDP_PREPARSED_DATA*);
BOOLEAN WINAPI hidFreePreparsedData(PHIDP_PREPARSED_DATA);
NTSTATUS WINAPI hidGetCaps(PHIDP_PREPARSED_DATA, PHIDP_CAPS);
HRESULT WINAPI coCreateInstance(REFCLSID, LPUNKNOWN, DWORD, REFIID, LPVOID*);
HDEVNOTIFY WINAPI registerDeviceNotification(HANDLE, LPVOID, DWORD);
BOOL WINAPI unregisterDeviceNotification(HDEVNOTIFY);
// Sends WM_DEVICECHANGE to the windows registered for the DAC's device interfaces when
// its presence changed since last told (DacNotify.cpp). Call with no lock held.
void announceDeviceChange();

// The Core Audio face's endpoints for a device just built (coreaudio/CaWorld.cpp).
std::shared_ptr<ca::World> buildCoreAudio(const Dac& dac);

// The HID device-interface class the DAC's control function registers under.
inline constexpr Guid kHidInterfaceClass{0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

// Building blocks shared by the faces.
std::string guidText(const Guid& g, bool upper);
Guid toGuid(const GUID& g);
GUID toWinGuid(const Guid& g);
BOOL failWith(DWORD error);

}  // namespace tess::vdac::detail
