// Removal as the platform does it: a surprise removal with handles still open, the device
// coming back under the instance it had or under a new one (plugged into another port),
// and a safe removal that open handles refuse.
#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "DacInternal.h"
#include "coreaudio/CaWorld.h"

namespace tess::vdac {

namespace detail {

namespace {

// The instance part of a device instance id on another port: "6&2C4A6E5B&0&0001" (hub
// hash, port) becomes "6&2D4B6F5C&0&0002" for the next generation; ids without that form
// get a suffix. VID, PID and MI (the parts before) are kept by the caller.
std::string instancePartOnAnotherPort(const std::string& part, unsigned generation) {
  unsigned level = 0, hash = 0, zero = 0, port = 0;
  char tail = 0;
  int portDigits = 0;
  const size_t lastAmp = part.rfind('&');
  if (lastAmp != std::string::npos) portDigits = static_cast<int>(part.size() - lastAmp - 1);
  if (std::sscanf(part.c_str(), "%u&%x&%u&%x%c", &level, &hash, &zero, &port, &tail) != 4) {
    return part + "&" + std::to_string(generation);
  }
  char text[48];
  std::snprintf(text, sizeof text, "%u&%08X&%u&%0*X", level, hash + 0x01010101u * generation, zero, portDigits,
                port + generation);
  return text;
}

// An interface path carries its device's instance id, lower case, with '#' for '\'.
std::string mangled(const std::string& instanceId) {
  std::string s = instanceId;
  for (char& c : s) {
    if (c == '\\') c = '#';
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return s;
}

bool isDeviceHandle(const Dac& dac, const HandleObject& object) {
  switch (object.kind) {
    case ObjectKind::Filter: return dac.filters[object.filter].isDac;
    case ObjectKind::Pin: return dac.filters[object.pin->filter].isDac;
    case ObjectKind::Hid: return dac.hids[object.hid].isDac;
    default: return false;
  }
}

}  // namespace

uint32_t Dac::liveDeviceHandles() const {
  uint32_t n = 0;
  for (const auto& [handle, object] : handles) {
    if (!object.dead && isDeviceHandle(*this, object)) ++n;
  }
  return n;
}

void Dac::markRemoved(bool removed) {
  for (DeviceNode& node : devices) {
    if (node.isDac) node.removed = removed;
  }
  if (!removed) return;
  // Surprise removal: whatever the DAC's pins had queued fails, and the handles opened
  // on it stay dead even if it comes back.
  for (auto& [handle, object] : handles) {
    if (!isDeviceHandle(*this, object) || object.dead) continue;
    object.dead = true;
    if (object.kind != ObjectKind::Pin) continue;
    Pin& pin = *object.pin;
    cancelQueue(pin, kStatusDeviceRemoved);
    // The pin went with the device: its instance is free for the device that comes back
    // (a new device object), and its record no longer follows this handle.
    pin.state = kStateStop;
    if (filters[pin.filter].instances[pin.pinId] > 0) --filters[pin.filter].instances[pin.pinId];
    if (pin.record) {
      pin.record->stats.open = false;
      pin.record->stats.state = kStateStop;
      pin.record = nullptr;
    }
  }
}

void Dac::moveToNewInstance() {
  ++instanceGeneration;
  for (size_t d = 0; d < devices.size(); ++d) {
    DeviceNode& node = devices[d];
    if (!node.isDac) continue;
    const size_t cut = node.instanceId.rfind('\\');
    if (cut == std::string::npos) continue;
    const std::string before = mangled(node.instanceId);
    node.instanceId = node.instanceId.substr(0, cut + 1) +
                      instancePartOnAnotherPort(node.instanceId.substr(cut + 1), instanceGeneration);
    const std::string after = mangled(node.instanceId);
    for (InterfaceEntry& e : interfaces) {
      if (e.device != static_cast<int>(d)) continue;
      const size_t at = e.path.find(before);
      if (at != std::string::npos) e.path.replace(at, before.size(), after);
    }
  }
}

}  // namespace detail

using namespace detail;

namespace {

// Tells those listening that the DAC came or went, as the platform orders it: on arrival
// the device interfaces first and the endpoints after, on removal the other way round.
// Call with no lock held.
void announcePresence(bool removed) {
  if (!removed) announceDeviceChange();
  ca::announceStateChanges();
  if (removed) announceDeviceChange();
}

}  // namespace

void setRemoved(bool removed) {
  {
    std::lock_guard<std::mutex> lock(dacLock());
    Dac* dac = dacInstance().get();
    if (!dac) return;
    dac->markRemoved(removed);
  }
  announcePresence(removed);
}

void returnAsNewInstance() {
  bool wasPresent = false;
  {
    std::lock_guard<std::mutex> lock(dacLock());
    Dac* dac = dacInstance().get();
    if (!dac) return;
    wasPresent = std::none_of(dac->devices.begin(), dac->devices.end(),
                              [](const DeviceNode& n) { return n.isDac && n.removed; });
    if (wasPresent) dac->markRemoved(true);
  }
  if (wasPresent) announcePresence(true);  // pulled out first
  {
    std::lock_guard<std::mutex> lock(dacLock());
    Dac* dac = dacInstance().get();
    if (!dac) return;
    dac->moveToNewInstance();
    dac->markRemoved(false);
  }
  announcePresence(false);
}

std::string dacInstanceId() {
  std::lock_guard<std::mutex> lock(dacLock());
  const Dac* dac = dacInstance().get();
  if (!dac) return {};
  for (const DeviceNode& node : dac->devices) {
    if (node.isDac && node.className == "MEDIA") return node.instanceId;
  }
  return {};
}

bool requestSafeRemoval() {
  {
    std::lock_guard<std::mutex> lock(dacLock());
    Dac* dac = dacInstance().get();
    if (!dac) return false;
    if (dac->liveDeviceHandles() > 0) {
      ++dac->counters.safeRemovalsRefused;
      return false;
    }
    dac->markRemoved(true);
  }
  announcePresence(true);
  return true;
}

}  // namespace tess::vdac
