// The device topologies behind the endpoints: one per endpoint (a single connector) and
// one per device, with a chain of parts for each of its endpoints, laid out as a USB
// audio device's are.
#include "CaWorld.h"

#include <cwctype>

namespace tess::vdac::ca {

namespace {

constexpr GUID kNodeMute{0x02B223C0, 0xC557, 0x11D0, {0x8A, 0x2B, 0x00, 0xA0, 0xC9, 0x25, 0x5A, 0xC1}};
constexpr GUID kNodeVolume{0x3A5ACC00, 0xC557, 0x11D0, {0x8A, 0x2B, 0x00, 0xA0, 0xC9, 0x25, 0x5A, 0xC1}};
constexpr GUID kNodePeakMeter{0xA085651E, 0x5F0D, 0x4B36, {0xA8, 0x69, 0xD1, 0x95, 0xD6, 0xAB, 0x4B, 0x9E}};
constexpr GUID kNodeMux{0x2CEAF780, 0xC556, 0x11D0, {0x8A, 0x2B, 0x00, 0xA0, 0xC9, 0x25, 0x5A, 0xC1}};
constexpr GUID kNodeSpeaker{0xDFF21CE1, 0xF70F, 0x11D0, {0xB9, 0x17, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};
constexpr GUID kNodeUsbStreaming{0xDFF21FF0, 0xF70F, 0x11D0, {0xB9, 0x17, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};

class Builder {
 public:
  Builder(World& world, Topology& topology) : world_(world), topology_(topology) {}

  int connector(const wchar_t* name, const GUID& subtype, DataFlow flow, ConnectorType type) {
    TopoPart p;
    p.connector = true;
    p.name = name;
    p.subtype = subtype;
    p.flow = flow;
    p.type = type;
    p.localId = 0x10000 | connectors_++;
    return add(std::move(p));
  }
  int subunit(const wchar_t* name, const GUID& subtype, int control = -1) {
    TopoPart p;
    p.name = name;
    p.subtype = subtype;
    p.control = control;
    p.localId = 0x20000 | subunits_++;
    return add(std::move(p));
  }
  // Signal flows from `from` to `to`.
  void link(int from, int to) {
    topology_.parts[from].outgoing.push_back(to);
    topology_.parts[to].incoming.push_back(from);
  }
  int control(Control::Kind kind) {
    Control c;
    c.kind = kind;
    c.minimum = world_.shape.minimumLevelDb;
    c.maximum = world_.shape.maximumLevelDb;
    c.step = world_.shape.levelStepDb;
    world_.controls.push_back(c);
    return static_cast<int>(world_.controls.size()) - 1;
  }

 private:
  int add(TopoPart p) {
    topology_.parts.push_back(std::move(p));
    return static_cast<int>(topology_.parts.size()) - 1;
  }
  World& world_;
  Topology& topology_;
  UINT connectors_ = 0, subunits_ = 0;
};

std::wstring hardwarePath(const Endpoint& e) {
  auto it = e.properties.find(keyOf(kKeyHardwarePath));
  return it != e.properties.end() ? it->second.text : std::wstring();
}

// The endpoint's own topology: one connector, joined to the device's jack part.
void joinEndpoint(World& world, int endpoint, int adapter, int jack) {
  Endpoint& e = world.endpoints[endpoint];
  Topology own;
  own.deviceId = e.id;
  TopoPart c;
  c.connector = true;
  c.name = e.render ? L"Speakers" : L"Input";
  c.flow = e.render ? In : Out;
  c.type = Physical_External;
  c.localId = 0x10000;
  world.topologies.push_back(std::move(own));
  e.topology = static_cast<int>(world.topologies.size()) - 1;
  world.topologies[e.topology].parts.push_back(std::move(c));
  if (!e.connected) return;
  world.topologies[e.topology].parts[0].peerTopology = adapter;
  world.topologies[e.topology].parts[0].peerPart = jack;
  world.topologies[adapter].parts[jack].peerTopology = e.topology;
  world.topologies[adapter].parts[jack].peerPart = 0;
}

void buildDevice(World& world, const std::wstring& path, const std::vector<int>& members) {
  world.topologies.emplace_back();
  const int adapter = static_cast<int>(world.topologies.size()) - 1;
  std::wstring id = L"{2}.\\\\?\\";
  for (wchar_t c : path.substr(path.find(L'.') + 1)) id += c == L'\\' ? L'#' : static_cast<wchar_t>(std::towlower(c));
  world.topologies[adapter].deviceId = id + L"#{6994ad04-93ef-11d0-a3cc-00a0c9223196}\\global";

  const size_t firstControl = world.controls.size();
  std::vector<std::pair<int, int>> jacks;  // endpoint, jack part
  int mux = -1;
  for (int member : members) {
    Topology& t = world.topologies[adapter];
    Builder b(world, t);
    Endpoint& e = world.endpoints[member];
    if (e.render) {
      const int stream = b.connector(L"Playback Streaming", kNodeUsbStreaming, In, Software_IO);
      const int mute = b.subunit(L"Mute", kNodeMute, b.control(Control::Mute));
      const int volume = b.subunit(L"Volume", kNodeVolume, b.control(Control::Volume));
      const int meter = b.subunit(L"Peakmeter", kNodePeakMeter);
      const int jack = b.connector(L"Speakers", kNodeSpeaker, Out, Physical_External);
      b.link(stream, mute);
      b.link(mute, volume);
      b.link(volume, meter);
      b.link(meter, jack);
      e.volumeControl = t.parts[volume].control;
      e.muteControl = t.parts[mute].control;
      jacks.push_back({member, jack});
      continue;
    }
    if (mux < 0) {
      mux = b.subunit(L"Input Select", kNodeMux, b.control(Control::Selector));
      const int stream = b.connector(L"Capture Streaming", kNodeUsbStreaming, Out, Software_IO);
      b.link(mux, stream);
    }
    const bool line = e.jack == kNodeLineConnector;
    const int jack = b.connector(line ? L"Line In" : L"SPDIF In", e.jack, In, Physical_External);
    const int meter = b.subunit(L"Peakmeter", kNodePeakMeter);
    const int mute = b.subunit(L"Mute", kNodeMute, b.control(Control::Mute));
    b.link(jack, meter);
    b.link(meter, mute);
    int last = mute;
    if (line) {
      last = b.subunit(L"Volume", kNodeVolume, b.control(Control::Volume));
      b.link(mute, last);
      e.volumeControl = t.parts[last].control;
    } else {
      e.volumeControl = b.control(Control::Volume);  // no hardware volume: the endpoint's own
    }
    e.muteControl = t.parts[mute].control;
    b.link(last, mux);
    Control& selector = world.controls[t.parts[mux].control];
    selector.inputs.push_back(t.parts[last].localId);
    if (selector.inputs.size() == 1) selector.selection = t.parts[last].localId;
    jacks.push_back({member, jack});
  }
  for (const auto& [member, jack] : jacks) joinEndpoint(world, member, adapter, jack);
  for (size_t c = firstControl; c < world.controls.size(); ++c) world.controls[c].device = world.endpoints[members[0]].device;
}

}  // namespace

void buildTopologies(World& world) {
  // Endpoints of one device (one hardware path) share the device's topology.
  std::vector<bool> done(world.endpoints.size(), false);
  for (size_t i = 0; i < world.endpoints.size(); ++i) {
    if (done[i]) continue;
    const std::wstring path = hardwarePath(world.endpoints[i]);
    std::vector<int> members;
    for (size_t j = i; j < world.endpoints.size(); ++j) {
      if (!done[j] && hardwarePath(world.endpoints[j]) == path) {
        members.push_back(static_cast<int>(j));
        done[j] = true;
      }
    }
    buildDevice(world, path, members);
  }
}

}  // namespace tess::vdac::ca
