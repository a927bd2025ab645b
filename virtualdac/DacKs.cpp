// The kernel-streaming face: opening filters by path, property requests on filters and
// pins, pin creation, state changes, reset and stream reads and writes.
#include "AsciiCase.h"
#include "DacInternal.h"

namespace tess::vdac::detail {

namespace {

bool pathEquals(const std::string& a, const char* b) { return equalsIgnoringCase(a.c_str(), b); }

// Which requests pend: state changes and resets by default, all properties if asked.
bool shouldPend(const Dac& dac, bool stateOrReset) {
  return dac.config.pendAllProperties || (stateOrReset && dac.config.pendStateAndReset);
}

// The NT status a pended failure completes with (the caller's GetOverlappedResult turns
// it back into the Win32 error).
ULONG_PTR statusOf(uint32_t error) {
  switch (error) {
    case kErrMoreData: return kStatusBufferOverflow;
    case kErrInsufficientBuffer: return kStatusBufferTooSmall;
    case kErrInvalidParameter: return kStatusInvalidParameter;
    case kErrNotFound: return kStatusNotFound;
    default: return kStatusUnsuccessful;
  }
}

// Finishes a request that was answered at once, or hands it to the device thread to be
// completed a moment later (ERROR_IO_PENDING): successes when pend is set, failures too
// when the device is shaped to pend them.
BOOL finishRequest(Dac& dac, LPOVERLAPPED ov, HANDLE fileEvent, uint32_t error, uint32_t bytes, LPDWORD returned,
                   bool pend) {
  const bool pendFailure = error != kErrSuccess && dac.config.pendFailures;
  if (pend && ov && (error == kErrSuccess || pendFailure)) {
    ov->Internal = kStatusPending;
    ov->InternalHigh = 0;
    const bool carriesBytes = error == kErrSuccess || error == kErrMoreData;
    dac.defer(ov, fileEvent, error == kErrSuccess ? kStatusSuccess : statusOf(error), carriesBytes ? bytes : 0);
    ++dac.counters.pendedRequests;
    return failWith(ERROR_IO_PENDING);
  }
  if (error == kErrSuccess || error == kErrMoreData) {
    if (returned) *returned = bytes;
    if (ov) completeOverlapped(ov, fileEvent, error == kErrSuccess ? kStatusSuccess : kStatusBufferOverflow, bytes);
    return error == kErrSuccess ? TRUE : failWith(error);
  }
  if (returned) *returned = 0;
  return failWith(error);
}

// The DAC shaped to answer size queries "too small" without saying how much is needed.
Reply withoutByteCount(const Dac& dac, bool isDac, DWORD outSize, Reply r) {
  if (isDac && dac.config.sizeQueryWithoutByteCount && outSize == 0 && r.error == kErrMoreData) {
    return {kErrInsufficientBuffer, 0};
  }
  return r;
}

// Properties of a pin handle: its connection state and data format.
Reply pinProperty(Dac& dac, Pin& pin, const void* in, DWORD inSize, void* out, DWORD outSize, bool& stateSet) {
  stateSet = false;
  if (!in || inSize < sizeof(KsProperty)) return {kErrInvalidParameter, 0};
  KsProperty request;
  std::memcpy(&request, in, sizeof request);
  if (request.set != kPropSetConnection) return {kErrSetNotFound, 0};
  if (request.id == kPropertyConnectionState && request.flags == kPropertyTypeGet) {
    std::vector<uint8_t> reply(4);
    std::memcpy(reply.data(), &pin.state, 4);
    return deliverReply(reply, false, out, outSize);
  }
  if (request.id == kPropertyConnectionState && request.flags == kPropertyTypeSet) {
    if (!out || outSize < sizeof(uint32_t)) return {kErrInvalidParameter, 0};
    uint32_t next;
    std::memcpy(&next, out, sizeof next);
    if (next > kStateRun) return {kErrInvalidParameter, 0};
    if (!isSingleStateStep(pin.state, next)) return {kErrBadCommand, 0};
    dac.setPinState(pin, next);
    stateSet = true;
    return {kErrSuccess, 0};
  }
  if (request.id == kPropertyConnectionDataFormat && request.flags == kPropertyTypeGet) {
    return deliverReply(pin.connectFormat, false, out, outSize);
  }
  return {kErrNotFound, 0};
}

BOOL resetRequest(Dac& dac, Pin& pin, const void* in, DWORD inSize, LPDWORD returned, LPOVERLAPPED ov) {
  if (!in || inSize < sizeof(uint32_t)) return finishRequest(dac, ov, pin.handle, kErrInvalidParameter, 0, returned, false);
  uint32_t which;
  std::memcpy(&which, in, sizeof which);
  if (which == kResetBegin) {
    pin.resetting = true;
    dac.cancelQueue(pin, kStatusCancelled);
  } else if (which == kResetEnd) {
    pin.resetting = false;
  } else {
    return finishRequest(dac, ov, pin.handle, kErrInvalidParameter, 0, returned, false);
  }
  return finishRequest(dac, ov, pin.handle, kErrSuccess, 0, returned, shouldPend(dac, true));
}

// Queues one stream header. Returns kErrIoPending when queued.
uint32_t queueStream(Dac& dac, Pin& pin, bool write, void* out, DWORD outSize, LPOVERLAPPED ov) {
  PinRecord* record = pin.record;
  auto reject = [&](uint32_t error) {
    if (record) ++record->stats.requestsRejected;
    return error;
  };
  if (write != pin.render) return reject(kErrInvalidParameter);
  if (!out || outSize < sizeof(KSSTREAM_HEADER)) return reject(kErrInvalidParameter);
  auto* header = static_cast<PKSSTREAM_HEADER>(out);
  // One header per request, of the platform's size.
  if (header->Size != sizeof(KSSTREAM_HEADER) || outSize != header->Size) return reject(kErrInvalidParameter);
  if (pin.state == kStateStop || pin.resetting) return reject(pin.resetting ? kErrNotReady : kErrBadCommand);
  const uint32_t blockAlign = pin.format.blockAlign;
  const uint32_t bytes = write ? header->DataUsed : header->FrameExtent;
  if (write && header->DataUsed > header->FrameExtent) return reject(kErrInvalidParameter);
  if (bytes % blockAlign != 0 || (header->FrameExtent != 0 && header->Data == nullptr)) {
    return reject(kErrInvalidParameter);
  }
  dac.enqueue(pin, header, ov, write, bytes / blockAlign);
  return kErrIoPending;
}

}  // namespace

int64_t nowTicks() {
  static const int64_t frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f.QuadPart;
  }();
  LARGE_INTEGER c;
  QueryPerformanceCounter(&c);
  return (c.QuadPart / frequency) * kTicksPerSecond + (c.QuadPart % frequency) * kTicksPerSecond / frequency;
}

HANDLE settleOverlapped(LPOVERLAPPED ov, HANDLE fileEvent, ULONG_PTR status, ULONG_PTR bytes) {
  ov->InternalHigh = bytes;
  ov->Internal = status;
  return ov->hEvent ? reinterpret_cast<HANDLE>(reinterpret_cast<ULONG_PTR>(ov->hEvent) & ~ULONG_PTR{1}) : fileEvent;
}

void completeOverlapped(LPOVERLAPPED ov, HANDLE fileEvent, ULONG_PTR status, ULONG_PTR bytes) {
  if (HANDLE event = settleOverlapped(ov, fileEvent, status, bytes)) SetEvent(event);
}

HANDLE Dac::newHandle(HandleObject object) {
  // Manual-reset, like a file object's own event that overlapped I/O without an event
  // of its own signals.
  HANDLE h = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (!h) return nullptr;
  if (object.pin) object.pin->handle = h;
  handles.emplace(h, std::move(object));
  counters.openHandles = handles.size();
  return h;
}

HandleObject* Dac::find(HANDLE h, ObjectKind kind) {
  auto it = handles.find(h);
  return it != handles.end() && it->second.kind == kind ? &it->second : nullptr;
}

void Dac::defer(LPOVERLAPPED ov, HANDLE fileEvent, ULONG_PTR status, ULONG_PTR bytes, int64_t due) {
  // Completed by the device thread on its next pass, like a request a driver finishes
  // from its own context (or never, until cancelled).
  deferred.push_back({ov, fileEvent, status, bytes, due == kNever ? kNever : nowTicks(), fileEvent});
  SetEvent(wake);
}

bool Dac::cancelDeferred(HANDLE h, LPOVERLAPPED ov) {
  bool found = false;
  for (auto it = deferred.begin(); it != deferred.end();) {
    if (it->handle == h && (!ov || it->ov == ov)) {
      completeOverlapped(it->ov, it->fileEvent, kStatusCancelled, 0);
      it = deferred.erase(it);
      found = true;
    } else {
      ++it;
    }
  }
  return found;
}

HANDLE WINAPI createFile(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES sa, DWORD disposition,
                         DWORD flags, HANDLE templ) {
  {
    DacGuard guard;
    Dac* dac = guard.dac();
    if (dac && path) {
      for (const InterfaceEntry& e : dac->interfaces) {
        if (!pathEquals(e.path, path)) continue;
        if (dac->familyRemoved(e.device)) {
          SetLastError(ERROR_FILE_NOT_FOUND);
          return INVALID_HANDLE_VALUE;
        }
        HandleObject object(e.filter >= 0 ? ObjectKind::Filter : ObjectKind::Hid);
        object.filter = e.filter;
        object.hid = e.hid;
        if (e.hid >= 0 && !dac->hids[e.hid].writable && (access & (GENERIC_WRITE | FILE_WRITE_DATA))) {
          SetLastError(ERROR_ACCESS_DENIED);
          return INVALID_HANDLE_VALUE;
        }
        HANDLE h = dac->newHandle(std::move(object));
        return h ? h : INVALID_HANDLE_VALUE;
      }
      if (std::strncmp(path, "\\\\?\\", 4) == 0 || std::strncmp(path, "\\\\.\\", 4) == 0) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
      }
    }
  }
  // Not a device of the virtual DAC: an ordinary file.
  return CreateFileA(path, access, share, sa, disposition, flags, templ);
}

namespace {

// A request on one of the virtual DAC's handles. For stream I/O without an OVERLAPPED it
// queues on syncOv and sets waitHere: the caller waits once the lock is released.
BOOL handleRequest(Dac& dac, HandleObject& object, HANDLE h, DWORD code, LPVOID in, DWORD inSize, LPVOID out,
                   DWORD outSize, LPDWORD returned, LPOVERLAPPED ov, OVERLAPPED& syncOv, bool& waitHere) {
  if (object.kind == ObjectKind::Filter) {
    const FilterDevice& filter = dac.filters[object.filter];
    if (object.dead || dac.familyRemoved(filter.device)) return finishRequest(dac, ov, h, kErrDeviceRemoved, 0, returned, false);
    if (code != IOCTL_KS_PROPERTY) return finishRequest(dac, ov, h, kErrInvalidParameter, 0, returned, false);
    ++dac.counters.propertyRequests;
    if (filter.neverAnswers) {
      if (!ov) return finishRequest(dac, ov, h, kErrNotSupported, 0, returned, false);
      ov->Internal = kStatusPending;
      ov->InternalHigh = 0;
      dac.defer(ov, h, kStatusCancelled, 0, kNever);
      ++dac.counters.pendedRequests;
      return failWith(ERROR_IO_PENDING);
    }
    Reply r = withoutByteCount(dac, filter.isDac,  outSize,
                               answerFilterProperty(filter.shape, filter.instances, in, inSize, out, outSize));
    return finishRequest(dac, ov, h, r.error, r.bytes, returned, shouldPend(dac, false));
  }
  if (object.kind != ObjectKind::Pin) return finishRequest(dac, ov, h, kErrInvalidParameter, 0, returned, false);
  Pin& pin = *object.pin;
  if (object.dead || dac.familyRemoved(dac.filters[pin.filter].device)) {
    return finishRequest(dac, ov, h, kErrDeviceRemoved, 0, returned, false);
  }
  if (code == IOCTL_KS_PROPERTY) {
    ++dac.counters.propertyRequests;
    bool stateSet = false;
    Reply r = withoutByteCount(dac, pin.record != nullptr, outSize, pinProperty(dac, pin, in, inSize, out, outSize, stateSet));
    return finishRequest(dac, ov, h, r.error, r.bytes, returned, shouldPend(dac, stateSet));
  }
  if (code == IOCTL_KS_RESET_STATE) return resetRequest(dac, pin, in, inSize, returned, ov);
  if (code != IOCTL_KS_WRITE_STREAM && code != IOCTL_KS_READ_STREAM) {
    return finishRequest(dac, ov, h, kErrInvalidParameter, 0, returned, false);
  }
  // Stream I/O always completes on the device's clock.
  if (!ov) {
    syncOv.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!syncOv.hEvent) return FALSE;
  }
  const uint32_t error = queueStream(dac, pin, code == IOCTL_KS_WRITE_STREAM, out, outSize, ov ? ov : &syncOv);
  if (error != kErrIoPending) {
    if (syncOv.hEvent) CloseHandle(syncOv.hEvent);
    return finishRequest(dac, nullptr, h, error, 0, returned, false);
  }
  if (ov) return failWith(ERROR_IO_PENDING);
  waitHere = true;
  return FALSE;
}

}  // namespace

BOOL WINAPI deviceIoControl(HANDLE h, DWORD code, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize,
                            LPDWORD returned, LPOVERLAPPED ov) {
  OVERLAPPED syncOv{};
  bool waitHere = false;
  BOOL result = FALSE;
  {
    DacGuard guard;
    Dac* dac = guard.dac();
    auto it = dac ? dac->handles.find(h) : decltype(dac->handles.end()){};
    if (!dac || it == dac->handles.end()) {
      guard.unlock();
      return DeviceIoControl(h, code, in, inSize, out, outSize, returned, ov);  // not ours: the system's
    }
    result = handleRequest(*dac, it->second, h, code, in, inSize, out, outSize, returned, ov, syncOv, waitHere);
  }
  if (!waitHere) return result;
  // A synchronous caller waits outside the lock (uninstalling fails the request, so this
  // always returns).
  WaitForSingleObject(syncOv.hEvent, INFINITE);
  CloseHandle(syncOv.hEvent);
  if (returned) *returned = static_cast<DWORD>(syncOv.InternalHigh);
  if (syncOv.Internal == kStatusSuccess) return TRUE;
  return failWith(syncOv.Internal == kStatusDeviceRemoved ? ERROR_DEVICE_REMOVED : ERROR_OPERATION_ABORTED);
}

DWORD WINAPI ksCreatePin(HANDLE filterHandle, PKSPIN_CONNECT connect, ACCESS_MASK, PHANDLE pinHandle) {
  DacGuard guard;
  Dac* dac = guard.dac();
  HandleObject* object = dac ? dac->find(filterHandle, ObjectKind::Filter) : nullptr;
  if (!object) return ERROR_INVALID_HANDLE;
  FilterDevice& filter = dac->filters[object->filter];
  auto reject = [&](DWORD error) {
    ++dac->counters.pinCreatesRejected;
    return error;
  };
  if (object->dead || dac->familyRemoved(filter.device)) return reject(ERROR_DEVICE_REMOVED);
  if (!connect || !pinHandle) return reject(ERROR_INVALID_PARAMETER);
  if (connect->PinId >= filter.shape.pins.size()) return reject(ERROR_INVALID_PARAMETER);
  const uint32_t pinId = connect->PinId;
  const PinSpec& pinShape = filter.shape.pins[pinId];
  if (!pinShape.creatable) return reject(ERROR_NOT_SUPPORTED);
  if (connect->PinToHandle != nullptr) return reject(ERROR_INVALID_PARAMETER);

  // The interface and medium asked for must be among those the pin offers.
  auto offered = [](const std::vector<KsIdentifier>& list, const KSIDENTIFIER& id) {
    for (const KsIdentifier& x : list) {
      if (x.set == toGuid(id.Set) && x.id == id.Id) return true;
    }
    return false;
  };
  if (!offered(pinShape.interfaces, connect->Interface) || !offered(pinShape.mediums, connect->Medium)) {
    return reject(ERROR_NO_MATCH);
  }
  if (filter.instances[pinId] >= pinShape.instances.possibleCount) return reject(ERROR_BUSY);

  // The data format follows the connect record; its own size says how far it reaches
  // (bounded, as no wave format is larger).
  const auto* format = reinterpret_cast<const uint8_t*>(connect + 1);
  uint32_t formatSize;
  std::memcpy(&formatSize, format, sizeof formatSize);
  if (formatSize > 4096) return reject(ERROR_INVALID_PARAMETER);
  StreamFormat streamFormat;
  const uint32_t error = checkConnectFormat(pinShape, filter.shape.exactChannels, format, formatSize, streamFormat);
  if (error != kErrSuccess) return reject(error);

  HANDLE h = dac->openPin(object->filter, pinId, streamFormat, std::vector<uint8_t>(format, format + formatSize));
  if (!h) return reject(GetLastError());
  *pinHandle = h;
  return ERROR_SUCCESS;
}

void Dac::enqueue(Pin& pin, PKSSTREAM_HEADER header, LPOVERLAPPED ov, bool write, uint32_t frames) {
  StreamRequest r;
  r.header = header;
  r.ov = ov;
  r.write = write;
  r.frames = frames;
  ov->Internal = kStatusPending;
  ov->InternalHigh = 0;
  r.arrival = nowTicks();
  pin.queue.push_back(r);
  if (pin.state == kStateRun) scheduleRequest(pin, pin.queue.back(), r.arrival);
  if (PinRecord* record = pin.record) {
    record->stats.queued = static_cast<uint32_t>(pin.queue.size());
    if (record->stats.queued > record->stats.maxQueued) record->stats.maxQueued = record->stats.queued;
  }
  SetEvent(wake);
}

HANDLE Dac::openPin(int filterIndex, uint32_t pinId, const StreamFormat& streamFormat,
                    std::vector<uint8_t> connectFormat) {
  FilterDevice& filter = filters[filterIndex];
  HandleObject pinObject(ObjectKind::Pin);
  pinObject.pin = std::make_unique<Pin>();
  Pin& pin = *pinObject.pin;
  pin.filter = filterIndex;
  pin.pinId = pinId;
  pin.render = filter.shape.pins[pinId].dataFlow == kDataFlowIn;
  pin.format = streamFormat;
  pin.connectFormat = std::move(connectFormat);
  if (filter.isDac) {
    pin.record = &dacPins[pinId + filter.recordBase];
    PinStats& stats = pin.record->stats;
    stats.open = true;
    stats.state = kStateStop;
    stats.format = streamFormat;
    stats.queued = 0;
    ++stats.timesCreated;
    if (pin.render && !config.wavPath.empty()) {
      // A WAV file that cannot be written does not stop the device from playing.
      pin.wav.open(config.wavPath, streamFormat.channels, streamFormat.bitsPerSample, streamFormat.validBits,
                   streamFormat.sampleRate);
    }
  }
  HANDLE h = newHandle(std::move(pinObject));
  if (!h) return nullptr;
  ++filter.instances[pinId];
  ++counters.pinsCreated;
  return h;
}

void Dac::setPinState(Pin& pin, uint32_t next) {
  const uint32_t previous = pin.state;
  pin.state = next;
  if (pin.record) pin.record->stats.stateHistory.push_back(next);
  const int64_t now = nowTicks();
  if (next == kStateRun && previous != kStateRun) {
    // A loopback capture hears what is played from now on.
    if (!pin.render && !captureRunning()) loopback.clear();
    // Pins started together share the device's clock: one that starts right after
    // another (as a host starts capture, then render) joins its packet grid.
    const int64_t origin = sharedOrigin(pin, now);
    pin.runStart = now;
    pin.clock.start(origin, config.clockDriftPpm);
    scheduleQueued(pin, origin);
  } else if (previous == kStateRun && next != kStateRun) {
    for (StreamRequest& r : pin.queue) r.scheduled = false;
  } else if (next == kStateStop) {
    cancelQueue(pin, kStatusCancelled);
    pin.wav.sync();
  }
  SetEvent(wake);
}

BOOL WINAPI closeHandle(HANDLE h) {
  {
    DacGuard guard;
    Dac* dac = guard.dac();
    auto it = dac ? dac->handles.find(h) : decltype(dac->handles.end()){};
    if (dac && it != dac->handles.end()) {
      dac->closeObject(h);
      return TRUE;
    }
  }
  return CloseHandle(h);
}

void Dac::closeObject(HANDLE h) {
  auto it = handles.find(h);
  if (it == handles.end()) return;
  // Closing cancels what waits for ever.
  for (auto d = deferred.begin(); d != deferred.end();) {
    if (d->handle == h && d->due == kNever) {
      completeOverlapped(d->ov, d->fileEvent, kStatusCancelled, 0);
      d = deferred.erase(d);
    } else {
      ++d;
    }
  }
  // Closing a HID handle cancels the reports still waiting on it.
  for (auto held = heldReports.begin(); held != heldReports.end();) {
    if (held->fileEvent != h) {
      ++held;
      continue;
    }
    completeOverlapped(held->ov, nullptr, kStatusCancelled, 0);
    held = heldReports.erase(held);
  }
  if (it->second.kind == ObjectKind::Pin) {
    Pin& pin = *it->second.pin;
    cancelQueue(pin, kStatusCancelled);
    pin.wav.close();
    FilterDevice& filter = filters[pin.filter];
    if (!it->second.dead && filter.instances[pin.pinId] > 0) --filter.instances[pin.pinId];  // else freed at removal
    if (pin.record) {
      pin.record->stats.open = false;
      pin.record->stats.state = kStateStop;
    }
  }
  // A completion still to come (pended, or cancelled by this close and held) that would
  // signal this handle's own event signals nothing.
  for (auto* list : {&deferred, &heldCancelled}) {
    for (DeferredCompletion& d : *list) {
      if (d.fileEvent == h) d.fileEvent = nullptr;
    }
  }
  handles.erase(it);
  counters.openHandles = handles.size();
  CloseHandle(h);
}

BOOL WINAPI cancelIoEx(HANDLE h, LPOVERLAPPED ov) {
  {
    DacGuard guard;
    Dac* dac = guard.dac();
    auto it = dac ? dac->handles.find(h) : decltype(dac->handles.end()){};
    if (dac && it != dac->handles.end()) {
      bool found = dac->cancelDeferred(h, ov);
      if (it->second.kind == ObjectKind::Pin) {
        Pin& pin = *it->second.pin;
        for (auto r = pin.queue.begin(); r != pin.queue.end();) {
          if (!ov || r->ov == ov) {
            StreamRequest request = *r;
            r = pin.queue.erase(r);
            dac->completeStream(pin, request, kStatusCancelled);
            found = true;
          } else {
            ++r;
          }
        }
        if (pin.record) pin.record->stats.queued = static_cast<uint32_t>(pin.queue.size());
      }
      return found ? TRUE : failWith(ERROR_NOT_FOUND);
    }
  }
  return systemDevices().cancelIoEx(h, ov);  // not ours: the system's
}

}  // namespace tess::vdac::detail
