// The endpoints of the Core Audio face, built from the device's configuration.
#include "CaWorld.h"

#include "CaCom.h"

#include <cstdio>

namespace tess::vdac::ca {

std::atomic<uint32_t>& liveObjects() {
  static std::atomic<uint32_t> count{0};
  return count;
}

namespace {

constexpr GUID kFmtDevice{0xA45C254E, 0xDF1C, 0x4EFD, {0x80, 0x20, 0x67, 0xD1, 0x46, 0xA8, 0x50, 0xE0}};
constexpr GUID kFmtInterface{0x026E516E, 0xB814, 0x414B, {0x83, 0xCD, 0x85, 0x6D, 0x6F, 0xEF, 0x48, 0x22}};
constexpr GUID kFmtEndpoint{0x1DA5D803, 0xD492, 0x4EDD, {0x8C, 0x23, 0xE0, 0xC0, 0xFF, 0xEE, 0x7F, 0x0E}};
constexpr DWORD kPidFriendlyName = 14, kPidDeviceDesc = 2, kPidInterfaceName = 2;
constexpr DWORD kPidJackSubType = 8, kPidFormFactor = 0, kPidPhysicalSpeakers = 3, kPidFullRangeSpeakers = 6;
constexpr uint32_t kFormSpeakers = 1, kFormLineLevel = 2, kFormMicrophone = 4;

std::wstring widen(const std::string& s) { return std::wstring(s.begin(), s.end()); }

void setText(Endpoint& e, const GUID& fmtid, DWORD pid, const std::wstring& text) {
  PropValue& v = e.properties[{fmtid, pid}];
  v.type = VT_LPWSTR;
  v.text = text;
}
void setNumber(Endpoint& e, const GUID& fmtid, DWORD pid, uint32_t number) {
  PropValue& v = e.properties[{fmtid, pid}];
  v.type = VT_UI4;
  v.number = number;
}
void setBlob(Endpoint& e, const PROPERTYKEY& key, std::vector<uint8_t> blob) {
  PropValue& v = e.properties[keyOf(key)];
  v.type = VT_BLOB;
  v.blob = std::move(blob);
}

int streamingPin(const FilterSpec& shape, uint32_t dataFlow) {
  for (uint32_t id = 0; id < shape.pins.size(); ++id) {
    if (shape.pins[id].creatable && shape.pins[id].dataFlow == dataFlow) return static_cast<int>(id);
  }
  return -1;
}

struct EndpointNames {
  std::wstring description;  // "Speakers", "Line", "Microphone"
  std::wstring adapter;      // the device's own name
  uint32_t formFactor;
};

Endpoint& addEndpoint(World& world, const std::string& instanceId, bool render, const EndpointNames& names,
                      int device, int filter, int pinId, bool isDac, const EndpointFormats& formats,
                      uint32_t formatBits) {
  Endpoint e;
  const unsigned serial = static_cast<unsigned>(world.endpoints.size()) + 1;
  wchar_t id[96];
  std::swprintf(id, 96, L"{0.0.%d.00000000}.{7a1e0c%02x-5d3b-4c2e-9f60-%012x}", render ? 0 : 1, serial, serial);
  e.id = id;
  e.render = render;
  e.device = device;
  e.filter = pinId >= 0 ? filter : -1;
  e.pinId = pinId >= 0 ? static_cast<uint32_t>(pinId) : 0;
  e.isDac = isDac;
  e.formats = formats;
  setText(e, kKeyHardwarePath.fmtid, kKeyHardwarePath.pid, L"{1}." + widen(instanceId));
  setText(e, kFmtDevice, kPidFriendlyName, names.description + L" (" + names.adapter + L")");
  setText(e, kFmtDevice, kPidDeviceDesc, names.description);
  setText(e, kFmtInterface, kPidInterfaceName, names.adapter);
  setNumber(e, kFmtEndpoint, kPidFormFactor, names.formFactor);
  if (render) {
    setNumber(e, kFmtEndpoint, kPidPhysicalSpeakers, 3);
    setNumber(e, kFmtEndpoint, kPidFullRangeSpeakers, 3);
  }
  const uint32_t container = formatBits == 24 && !formats.packed24 ? 32 : formatBits;
  setBlob(e, kKeyDeviceFormat, extensibleFormat(2, 48000, container, formatBits, false));
  setBlob(e, kKeyMixFormat, extensibleFormat(2, 48000, 32, 32, true));
  e.jack = render ? GUID{} : kNodeLineConnector;
  world.endpoints.push_back(std::move(e));
  return world.endpoints.back();
}

std::wstring numbered(const wchar_t* name, size_t index) {
  return index == 0 ? std::wstring(name) : std::wstring(name) + L" " + std::to_wstring(index + 1);
}

}  // namespace

DWORD endpointState(const detail::Dac& dac, const Endpoint& endpoint) {
  return dac.familyRemoved(endpoint.device) ? DEVICE_STATE_UNPLUGGED : DEVICE_STATE_ACTIVE;
}

}  // namespace tess::vdac::ca

namespace tess::vdac::detail {

std::shared_ptr<ca::World> buildCoreAudio(const Dac& dac) {
  using namespace ca;
  auto world = std::make_shared<World>();
  const CoreAudioShape& shape = dac.config.coreAudio;
  world->shape = shape;

  EndpointFormats plain;  // other makers' devices: the usual 16 and 24 bits
  plain.ranges.widths = {16, 24};
  if (shape.onboardEndpoints) {
    const std::string codec = "HDAUDIO\\FUNC_01&VEN_10EC&DEV_0892&SUBSYS_10438436&REV_1003\\4&2A6A1B4C&0&0001";
    addEndpoint(*world, codec, true, {L"Speakers", L"High Definition Audio Device", kFormSpeakers}, -1, -1, -1, false,
                plain, 16);
    addEndpoint(*world, codec, false, {L"Microphone", L"High Definition Audio Device", kFormMicrophone}, -1, -1, -1,
                false, plain, 16);
  }

  for (size_t f = 0; f < dac.filters.size(); ++f) {
    const FilterDevice& filter = dac.filters[f];
    if (filter.isDac && !shape.endpoints) continue;
    const DeviceNode& node = dac.devices[filter.device];
    auto registered = [&](const Guid& category) {
      for (const InterfaceEntry& e : dac.interfaces) {
        if (e.filter == static_cast<int>(f) && e.category == category) return e.state == AliasState::Enabled;
      }
      return false;
    };
    EndpointFormats formats = plain;
    std::wstring adapter = widen(filter.interfaceFriendlyName.empty() ? node.description : filter.interfaceFriendlyName);
    if (filter.isDac) {
      formats.ranges = dac.config.ranges;
      formats.packed24 = shape.packed24;
      formats.accepts24In32 = shape.accepts24In32;
    }
    const int device = filter.device;
    const int index = static_cast<int>(f);
    const int renderPin = streamingPin(filter.shape, kDataFlowIn), capturePin = streamingPin(filter.shape, kDataFlowOut);
    if (!filter.isDac) {
      if (registered(kCategoryRender)) {
        addEndpoint(*world, node.instanceId, true, {L"Speakers", adapter, kFormSpeakers}, device, index, renderPin,
                    false, formats, 16);
      }
      if (registered(kCategoryCapture)) {
        addEndpoint(*world, node.instanceId, false, {L"Microphone", adapter, kFormMicrophone}, device, index,
                    capturePin, false, formats, 16);
      }
      continue;
    }
    // The DAC: its render endpoints, then its capture endpoints, each jack one endpoint;
    // they all stream through the filter's one render or capture pin.
    for (size_t r = 0; registered(kCategoryRender) && r < shape.renderEndpoints.size(); ++r) {
      Endpoint& e = addEndpoint(*world, node.instanceId, true, {numbered(L"Speakers", r), adapter, kFormSpeakers},
                                device, index, renderPin, true, formats, 24);
      e.connected = shape.renderEndpoints[r] == TopologyShape::Usual;
    }
    EndpointFormats capture = formats;
    capture.refusedRates = shape.captureRefusedRates;
    for (size_t c = 0; registered(kCategoryCapture) && c < shape.captureEndpoints.size(); ++c) {
      const CaptureEndpointShape& wanted = shape.captureEndpoints[c];
      const bool line = wanted.jack == CaptureJack::Line;
      Endpoint& e = addEndpoint(*world, node.instanceId, false,
                                {numbered(line ? L"Line" : L"SPDIF Interface", c), adapter, kFormLineLevel}, device,
                                index, capturePin, true, capture, 24);
      e.jack = line ? kNodeLineConnector : kNodeSpdifInterface;
      e.connected = wanted.topology == TopologyShape::Usual;
    }
  }
  for (Endpoint& e : world->endpoints) {
    if (e.render) continue;
    wchar_t jack[40];
    if (StringFromGUID2(e.jack, jack, 40)) setText(e, kFmtEndpoint, kPidJackSubType, jack);
  }
  buildTopologies(*world);
  return world;
}

}  // namespace tess::vdac::detail

namespace tess::vdac {

uint32_t coreAudioObjects() { return ca::liveObjects().load(); }

}  // namespace tess::vdac
