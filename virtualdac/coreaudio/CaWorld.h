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
#include <devicetopology.h>
#include <endpointvolume.h>

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

// A hardware control of a part, or an endpoint's own volume where the hardware has none.
struct Control {
  enum Kind { Volume, Mute, Selector } kind = Volume;
  float level[2] = {0, 0};  // Volume, per channel, dB
  float minimum = -60, maximum = 0, step = 0.5f;
  bool muted = false;        // Mute
  UINT selection = 0;        // Selector: local id of the selected input part
  std::vector<UINT> inputs;  // Selector: local ids it may select
  int device = -1;           // device node whose removal takes it away
};

// One part of a device topology. Parts link to parts of the same topology; a connector
// may be connected to a connector of another topology.
struct TopoPart {
  bool connector = false;
  std::wstring name;
  UINT localId = 0;
  GUID subtype{};
  DataFlow flow = In;                      // connectors
  ConnectorType type = Physical_External;  // connectors
  int peerTopology = -1, peerPart = -1;    // connectors: what it is connected to
  std::vector<int> incoming, outgoing;     // parts of the same topology
  int control = -1;                        // index into World::controls
};

struct Topology {
  std::wstring deviceId;
  std::vector<TopoPart> parts;
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
  GUID jack{};                  // subtype of the jack it stands for
  bool connected = true;        // its topology's connector leads to the device's jack
  int topology = -1;            // its own topology: one connector
  int volumeControl = -1;       // what its endpoint volume acts on
  int muteControl = -1;
  DWORD announcedState = DEVICE_STATE_ACTIVE;  // last told to notification clients
  std::vector<IAudioEndpointVolumeCallback*> volumeCallbacks;  // one reference each
};

struct World {
  World() = default;
  World(const World&) = delete;
  World& operator=(const World&) = delete;
  ~World();  // releases the callbacks still registered

  CoreAudioShape shape;
  std::vector<Endpoint> endpoints;
  std::vector<Topology> topologies;
  std::vector<Control> controls;
  std::vector<IMMNotificationClient*> notificationClients;  // one reference each
  bool presenceAnnounced = true;  // the DAC's presence as last told to windows
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
inline constexpr GUID kNodeLineConnector{0xDFF21FE3, 0xF70F, 0x11D0, {0xB9, 0x17, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};
inline constexpr GUID kNodeSpdifInterface{0xDFF21FE5, 0xF70F, 0x11D0, {0xB9, 0x17, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};
inline PropKey keyOf(const PROPERTYKEY& k) { return {k.fmtid, k.pid}; }

// The COM objects of the face, made by each other.
IMMDeviceEnumerator* newEnumerator(WorldRef world);
IMMDevice* newEndpointDevice(WorldRef world, int endpoint);
IPropertyStore* newPropertyStore(WorldRef world, int endpoint, bool writable);
IAudioClient* newAudioClient(WorldRef world, int endpoint);
IDeviceTopology* newTopology(WorldRef world, int topology);
IAudioEndpointVolume* newEndpointVolume(WorldRef world, int endpoint);
// The interface a part's control answers to (IAudioVolumeLevel, IAudioMute,
// IAudioInputSelector), or E_NOINTERFACE.
HRESULT activateControl(WorldRef world, int control, REFIID iid, void** out);

// Builds the device topologies of the endpoints built so far.
void buildTopologies(World& world);

// Tells the endpoint-volume callbacks of every endpoint using `control` of its new
// state. Call with no lock held.
void notifyControlChanged(const WorldRef& world, int control, LPCGUID context);
// Tells notification clients of endpoints whose state changed since last told (the
// device's removal or return). Takes the lock itself.
void announceStateChanges();

}  // namespace tess::vdac::ca
