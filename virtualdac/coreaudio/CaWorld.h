// The Core Audio face's view of the virtual DAC: its endpoints with their property
// values, built with the device and guarded by the device's lock. COM objects keep the
// world they were made from; once another device is installed (or none), the world is
// no longer the installed one and their calls report the device as gone.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <mmdeviceapi.h>
#include <audioclient.h>
#include <propsys.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "CaFormats.h"
#include "DacInternal.h"

namespace tess::vdac::ca {

struct PropKey {
  GUID fmtid;
  DWORD pid;
  bool operator<(const PropKey& o) const {
    const int c = std::memcmp(&fmtid, &o.fmtid, sizeof fmtid);
    return c < 0 || (c == 0 && pid < o.pid);
  }
};

// A stored property value: the types endpoints carry.
struct PropValue {
  VARTYPE type = VT_EMPTY;
  std::wstring text;          // VT_LPWSTR
  std::vector<uint8_t> blob;  // VT_BLOB
  uint32_t number = 0;        // VT_UI4
};

struct Endpoint {
  std::wstring id;
  bool render = true;
  int device = -1;  // device node whose removal unplugs it; -1: always present
  int filter = -1;  // filter and pin that carry its stream; -1: it cannot stream
  uint32_t pinId = 0;
  bool isDac = false;
  EndpointFormats formats;
  std::map<PropKey, PropValue> properties;
};

struct World {
  World() = default;
  World(const World&) = delete;
  World& operator=(const World&) = delete;
  ~World();  // releases the notification clients still registered

  CoreAudioShape shape;
  std::vector<Endpoint> endpoints;
  std::vector<IMMNotificationClient*> notificationClients;  // one reference each
};

using WorldRef = std::shared_ptr<World>;

// With the device lock held: the installed device when `world` is still its world.
inline detail::Dac* deviceOf(const World* world) {
  detail::Dac* dac = detail::dacInstance().get();
  return dac && world && dac->coreAudio.get() == world ? dac : nullptr;
}

// DEVICE_STATE_ACTIVE, or DEVICE_STATE_UNPLUGGED once its device was removed.
DWORD endpointState(const detail::Dac& dac, const Endpoint& endpoint);

// Property keys the face fills in.
inline constexpr PROPERTYKEY kKeyHardwarePath{{0xB3F8FA53, 0x0004, 0x438E, {0x90, 0x03, 0x51, 0xA4, 0x6E, 0x13, 0x9B, 0xFC}}, 2};
inline constexpr PROPERTYKEY kKeyDeviceFormat{{0xF19F064D, 0x082C, 0x4E27, {0xBC, 0x73, 0x68, 0x82, 0xA1, 0xBB, 0x8E, 0x4C}}, 0};
inline constexpr PROPERTYKEY kKeyMixFormat{{0xE4870E26, 0x3CC5, 0x4CD2, {0xBA, 0x46, 0xCA, 0x0A, 0x9A, 0x70, 0xED, 0x04}}, 0};
inline PropKey keyOf(const PROPERTYKEY& k) { return {k.fmtid, k.pid}; }

// The COM objects of the face, made by each other.
IMMDeviceEnumerator* newEnumerator(WorldRef world);
IMMDevice* newEndpointDevice(WorldRef world, int endpoint);
IPropertyStore* newPropertyStore(WorldRef world, int endpoint, bool writable);
IAudioClient* newAudioClient(WorldRef world, int endpoint);

}  // namespace tess::vdac::ca
