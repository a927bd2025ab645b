// The device's clock: stream requests complete in order per pin when the frames they
// carry have been played (or recorded) in real time.
#include <climits>

#include "DacInternal.h"

namespace tess::vdac::detail {

namespace {

// Within one pass, render packets due this close to a due capture packet complete first,
// so that loopback hands a capture packet the frames played in the same period. Pins of
// one device share a grid, so this only covers the device thread's wake-up; it stays
// below the shortest period so that render never completes a period early.
constexpr int64_t kLoopbackLead = kTicksPerSecond / 1000;  // 1 ms

}  // namespace

void PlayedRecord::append(const uint8_t* data, size_t bytes, size_t limit) {
  if (size_ >= limit) return;
  if (bytes > limit - size_) bytes = limit - size_;
  size_ += bytes;
  while (bytes) {
    if (chunks_.empty() || chunks_.back().size() == kChunk) {
      chunks_.emplace_back();
      chunks_.back().reserve(kChunk);
    }
    std::vector<uint8_t>& chunk = chunks_.back();
    const size_t n = bytes < kChunk - chunk.size() ? bytes : kChunk - chunk.size();
    chunk.insert(chunk.end(), data, data + n);
    data += n;
    bytes -= n;
  }
}

std::vector<uint8_t> PlayedRecord::bytes() const {
  std::vector<uint8_t> out;
  out.reserve(size_);
  for (const std::vector<uint8_t>& chunk : chunks_) out.insert(out.end(), chunk.begin(), chunk.end());
  return out;
}

void Dac::scheduleRequest(Pin& pin, StreamRequest& r, int64_t arrival) {
  r.due = pin.clock.schedule(r.frames, pin.format.sampleRate, arrival, &r.missedFrames);
  r.completes = completionTime(r.due, arrival, r.write, config.completion);
  r.scheduled = true;
}

void Dac::scheduleQueued(Pin& pin, int64_t arrival) {
  for (StreamRequest& r : pin.queue) {
    if (!r.scheduled) scheduleRequest(pin, r, arrival);
  }
}

int64_t Dac::sharedOrigin(const Pin& pin, int64_t now) const {
  constexpr int64_t kTogether = kTicksPerSecond / 20;  // 50 ms
  for (const auto& [handle, object] : handles) {
    const Pin* other = object.pin.get();
    if (object.kind != ObjectKind::Pin || other == &pin || other->filter != pin.filter) continue;
    if (other->state == kStateRun && now - other->runStart < kTogether) return other->clock.origin();
  }
  return now;
}

void Dac::completeStream(Pin& pin, StreamRequest& r, ULONG_PTR status) {
  PKSSTREAM_HEADER header = r.header;
  PinRecord* record = pin.record;
  if (status == kStatusSuccess) {
    const uint32_t blockAlign = pin.format.blockAlign;
    if (r.missedFrames && record) {
      ++record->stats.periodsMissed;
      record->stats.framesMissed += r.missedFrames;
    }
    if (r.write && r.missedFrames) {
      // The device played silence while it had nothing: the WAV and the loopback hear it.
      const std::vector<uint8_t> silence(static_cast<size_t>(r.missedFrames) * blockAlign, 0);
      if (record) {
        record->stats.bytesPlayed += silence.size();
        record->played.append(silence.data(), silence.size(), config.playedRecordLimit);
      }
      if (pin.wav.isOpen()) pin.wav.append(silence.data(), silence.size());
      if (config.loopback && captureRunning()) loopback.push(silence.data(), r.missedFrames, pin.format);
    } else if (!r.write && r.missedFrames && config.loopback) {
      loopback.drop(r.missedFrames);  // played while nothing was recording
    }
    if (r.write) {
      const auto* data = static_cast<const uint8_t*>(header->Data);
      const size_t bytes = size_t{r.frames} * blockAlign;
      if (record) {
        ++record->stats.writesCompleted;
        record->stats.bytesPlayed += bytes;
        record->played.append(data, bytes, config.playedRecordLimit);
      }
      if (pin.wav.isOpen()) pin.wav.append(data, bytes);
      if (config.loopback && captureRunning()) loopback.push(data, r.frames, pin.format);
    } else {
      uint32_t frames = r.frames > config.shortCaptureFrames ? r.frames - config.shortCaptureFrames : 0;
      auto* data = static_cast<uint8_t*>(header->Data);
      if (config.loopback) {
        loopback.pop(data, frames, pin.format);
      } else if (frames) {
        std::memset(data, 0, size_t{frames} * blockAlign);
      }
      header->DataUsed = frames * blockAlign;
      if (record) {
        ++record->stats.readsCompleted;
        record->stats.bytesCaptured += header->DataUsed;
      }
    }
  } else {
    if (record) ++record->stats.requestsCancelled;
    if (holdCancelled && !stopping) {
      heldCancelled.push_back({r.ov, pin.handle, status, 0, kNever, pin.handle});
      return;
    }
  }
  HANDLE event = settleOverlapped(r.ov, pin.handle, status, status == kStatusSuccess ? header->Size : 0);
  if (!event) return;
  if (inBurst) {
    burstSignals.push_back(event);
  } else {
    SetEvent(event);
  }
}

bool Dac::captureRunning() const {
  for (const auto& [handle, object] : handles) {
    if (object.kind == ObjectKind::Pin && !object.pin->render && object.pin->state == kStateRun &&
        filters[object.pin->filter].isDac) {
      return true;
    }
  }
  return false;
}

void Dac::cancelQueue(Pin& pin, ULONG_PTR status) {
  while (!pin.queue.empty()) {
    StreamRequest r = pin.queue.front();
    pin.queue.pop_front();
    completeStream(pin, r, status);
  }
  if (pin.record) pin.record->stats.queued = 0;
}

int64_t Dac::service(int64_t now) {
  int64_t next = INT64_MAX;
  for (auto it = deferred.begin(); it != deferred.end();) {
    if (it->due <= now) {
      completeOverlapped(it->ov, it->fileEvent, it->status, it->bytes);
      it = deferred.erase(it);
    } else {
      next = it->due < next ? it->due : next;
      ++it;
    }
  }
  if (stalled) return next;

  std::vector<Pin*> running;
  bool captureDue = false;
  for (auto& [handle, object] : handles) {
    if (object.kind != ObjectKind::Pin || object.pin->state != kStateRun) continue;
    Pin& pin = *object.pin;
    if (familyRemoved(filters[pin.filter].device)) continue;
    running.push_back(&pin);
    if (!pin.render && !pin.queue.empty() && pin.queue.front().scheduled && pin.queue.front().completes <= now) {
      captureDue = true;
    }
  }
  const int64_t renderLimit = captureDue && config.loopback ? now + kLoopbackLead : now;
  // A burst completes its requests together: every one is complete before any waiter
  // hears of it, and in which order waiters hear is not for them to rely on (a wait on
  // several events reports the lowest index first). The newest are signalled first, so
  // that a driver taking its wake-ups for the order of completion shows it.
  inBurst = config.completion.burstMs != 0;
  burstSignals.clear();
  for (bool renderPass : {true, false}) {
    for (Pin* pin : running) {
      if (pin->render != renderPass) continue;
      const int64_t limit = renderPass ? renderLimit : now;
      while (!pin->queue.empty() && pin->queue.front().scheduled && pin->queue.front().completes <= limit) {
        StreamRequest r = pin->queue.front();
        pin->queue.pop_front();
        completeStream(*pin, r, kStatusSuccess);
      }
      if (pin->record) pin->record->stats.queued = static_cast<uint32_t>(pin->queue.size());
      if (!pin->queue.empty() && pin->queue.front().scheduled && pin->queue.front().completes < next) {
        next = pin->queue.front().completes;
      }
    }
  }
  inBurst = false;
  for (auto event = burstSignals.rbegin(); event != burstSignals.rend(); ++event) SetEvent(*event);
  return next;
}

void Dac::failEverything() {
  for (DeferredCompletion& d : deferred) completeOverlapped(d.ov, d.fileEvent, kStatusCancelled, 0);
  deferred.clear();
  for (DeferredCompletion& d : heldCancelled) completeOverlapped(d.ov, d.fileEvent, d.status, 0);
  heldCancelled.clear();
  for (DeferredCompletion& d : heldReports) completeOverlapped(d.ov, d.fileEvent, kStatusCancelled, 0);
  heldReports.clear();
  for (auto& [handle, object] : handles) {
    if (object.kind == ObjectKind::Pin) cancelQueue(*object.pin, kStatusCancelled);
  }
}

void Dac::releaseAll() {
  failEverything();
  for (auto& [handle, object] : handles) {
    if (object.kind == ObjectKind::Pin) object.pin->wav.close();
    CloseHandle(handle);
  }
  handles.clear();
  counters.openHandles = 0;
  preparsed.clear();
  if (!registryRoot.empty()) RegDeleteTreeA(HKEY_CURRENT_USER, registryRoot.c_str());
  if (wake) CloseHandle(wake);
  wake = nullptr;
}

}  // namespace tess::vdac::detail
