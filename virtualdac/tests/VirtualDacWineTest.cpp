// The virtual DAC behind the device seam, under Wine, driven by raw seam calls: device
// enumeration and registry names, property replies and their size rules, pending
// requests, pin creation and states, streaming on the device clock, loopback, stall,
// removal, reset, the HID face, the WAV file and the release of everything it made.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>

#include "CaKit.h"
#include "SeamIo.h"
#include "VirtualDac.h"

using namespace seamio;
namespace vdac = tess::vdac;
using tess::devices;

namespace {

class VirtualDacTest : public testing::Test {
 protected:
  void use(const vdac::DacConfig& config = vdac::DacConfig{}) { ASSERT_TRUE(vdac::useVirtualDac(config)); }
  void TearDown() override {
    for (HANDLE h : opened_) devices().closeHandle(h);
    vdac::stopUsingVirtualDac();
  }
  HANDLE openDac() {
    const std::string path = dacFilterPath();
    EXPECT_FALSE(path.empty());
    HANDLE h = openFilter(path);
    EXPECT_NE(h, INVALID_HANDLE_VALUE);
    opened_.push_back(h);
    return h;
  }
  HANDLE pin(HANDLE filter, ULONG id, WORD bits = 24, DWORD rate = 48000) {
    HANDLE h = nullptr;
    EXPECT_EQ(createPin(filter, id, 2, bits, rate, h), static_cast<DWORD>(ERROR_SUCCESS));
    opened_.push_back(h);
    return h;
  }
  void close(HANDLE h) {
    opened_.erase(std::remove(opened_.begin(), opened_.end(), h), opened_.end());
    devices().closeHandle(h);
  }
  std::vector<HANDLE> opened_;
};

}  // namespace

TEST_F(VirtualDacTest, EnumeratesTheDacAndOtherFilters) {
  vdac::DacConfig config;
  vdac::AudioDeviceSpec foreign;  // another maker's device, listed first
  foreign.friendlyName = "Webcam Microphone";
  vdac::AudioDeviceSpec removedAlias;
  removedAlias.vendorId = 0x1209;
  removedAlias.productId = 0x0008;
  removedAlias.renderAlias = vdac::AliasState::Removed;
  removedAlias.listBeforeDac = true;
  vdac::AudioDeviceSpec noAlias;
  noAlias.renderAlias = vdac::AliasState::Missing;
  noAlias.listBeforeDac = false;
  config.otherAudioDevices = {foreign, removedAlias, noAlias};
  use(config);

  std::vector<InterfaceInfo> list = audioInterfaces();
  ASSERT_EQ(list.size(), 4u);
  EXPECT_NE(list[0].path.find("vid_046d&pid_0a44&mi_01"), std::string::npos);
  EXPECT_EQ(list[0].friendlyName, "Webcam Microphone");
  EXPECT_TRUE(list[1].renderAlias);
  EXPECT_EQ(list[1].renderAliasFlags, static_cast<DWORD>(SPINT_REMOVED));
  EXPECT_NE(list[2].path.find("vid_1209&pid_0007&mi_01"), std::string::npos);
  EXPECT_EQ(list[2].renderAliasFlags, static_cast<DWORD>(SPINT_ACTIVE));
  EXPECT_EQ(list[2].friendlyName, "Tessaline USB 2.0 Audio");
  EXPECT_FALSE(list[3].renderAlias);
  EXPECT_EQ(dacFilterPath(), list[2].path);

  // The device node behind the interface: hardware ids and names.
  HDEVINFO set = devices().getClassDevs(&KSCATEGORY_RENDER, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  ASSERT_NE(set, INVALID_HANDLE_VALUE);
  SP_DEVICE_INTERFACE_DATA iface = seamio::sized<SP_DEVICE_INTERFACE_DATA>();
  int dacIndex = -1;
  for (DWORD i = 0; devices().enumDeviceInterfaces(set, nullptr, &KSCATEGORY_RENDER, i, &iface); ++i) {
    SP_DEVINFO_DATA devInfo = seamio::sized<SP_DEVINFO_DATA>();
    char buffer[512];
    auto* detail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_A>(buffer);
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    ASSERT_TRUE(devices().getDeviceInterfaceDetail(set, &iface, detail, sizeof buffer, nullptr, &devInfo));
    if (std::string(detail->DevicePath).find("pid_0007") == std::string::npos) continue;
    dacIndex = static_cast<int>(i);
    EXPECT_NE(std::string(detail->DevicePath).find("{65e8773e-8f56-11d0-a3b9-00a0c9223196}"), std::string::npos);
    DWORD type = 0, needed = 0;
    EXPECT_FALSE(devices().getDeviceRegistryProperty(set, &devInfo, SPDRP_HARDWAREID, &type, nullptr, 0, &needed));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    std::vector<char> ids(needed);
    ASSERT_TRUE(devices().getDeviceRegistryProperty(set, &devInfo, SPDRP_HARDWAREID, &type,
                                                    reinterpret_cast<BYTE*>(ids.data()), needed, nullptr));
    EXPECT_EQ(type, static_cast<DWORD>(REG_MULTI_SZ));
    EXPECT_STREQ(ids.data(), "USB\\VID_1209&PID_0007&REV_0100&MI_01");
    char name[128];
    ASSERT_TRUE(devices().getDeviceRegistryProperty(set, &devInfo, SPDRP_FRIENDLYNAME, &type,
                                                    reinterpret_cast<BYTE*>(name), sizeof name, nullptr));
    EXPECT_STREQ(name, "Tessaline USB 2.0 Audio");
  }
  EXPECT_GE(dacIndex, 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
  EXPECT_TRUE(devices().destroyDeviceInfoList(set));
  EXPECT_FALSE(devices().destroyDeviceInfoList(set));
}

// Selected through the environment, perhaps by accident, the device names itself as not
// the real one wherever a program or a user reads its name.
TEST_F(VirtualDacTest, TheEnvironmentsDeviceSaysItIsVirtual) {
  ASSERT_TRUE(SetEnvironmentVariableA("TESSALINE_VIRTUAL_DEVICE_WAV", "C:\\played.wav"));
  const vdac::DacConfig config = vdac::configFromEnvironment();
  SetEnvironmentVariableA("TESSALINE_VIRTUAL_DEVICE_WAV", nullptr);
  EXPECT_EQ(config.wavPath, "C:\\played.wav");
  use(config);
  const std::string name = vdac::kVirtualDeviceName;
  EXPECT_NE(name.find("virtual"), std::string::npos);
  EXPECT_LE(name.size() + std::strlen("_O_R"), 31u);  // the driver's channel names keep it whole

  std::vector<InterfaceInfo> list = audioInterfaces();
  auto dac = std::find_if(list.begin(), list.end(), [](const InterfaceInfo& i) { return i.path == dacFilterPath(); });
  ASSERT_NE(dac, list.end());
  EXPECT_EQ(dac->friendlyName, name);

  HDEVINFO set = devices().getClassDevs(nullptr, "USB", nullptr, DIGCF_ALLCLASSES | DIGCF_PRESENT);
  ASSERT_NE(set, INVALID_HANDLE_VALUE);
  int dacNodes = 0;
  SP_DEVINFO_DATA devInfo = seamio::sized<SP_DEVINFO_DATA>();
  for (DWORD i = 0; devices().enumDeviceInfo(set, i, &devInfo); ++i) {
    char id[256] = {}, description[128] = {}, friendly[128] = {};
    DWORD type = 0;
    ASSERT_TRUE(devices().getDeviceRegistryProperty(set, &devInfo, SPDRP_HARDWAREID, &type,
                                                    reinterpret_cast<BYTE*>(id), sizeof id, nullptr));
    if (std::string(id).find("PID_0007&REV_0100&MI_01") == std::string::npos) continue;
    ++dacNodes;
    ASSERT_TRUE(devices().getDeviceRegistryProperty(set, &devInfo, SPDRP_DEVICEDESC, &type,
                                                    reinterpret_cast<BYTE*>(description), sizeof description, nullptr));
    ASSERT_TRUE(devices().getDeviceRegistryProperty(set, &devInfo, SPDRP_FRIENDLYNAME, &type,
                                                    reinterpret_cast<BYTE*>(friendly), sizeof friendly, nullptr));
    EXPECT_EQ(description, name);
    EXPECT_EQ(friendly, name);
  }
  EXPECT_EQ(dacNodes, 1);
  EXPECT_TRUE(devices().destroyDeviceInfoList(set));

  ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
  const std::wstring inParentheses = L"(" + std::wstring(name.begin(), name.end()) + L")";
  int dacEndpoints = 0;
  for (const cakit::EndpointInfo& e : cakit::listEndpoints(eAll)) {
    if (e.hardwarePath.find(L"PID_0007") == std::wstring::npos) continue;
    ++dacEndpoints;
    const size_t open = e.friendlyName.find(L'(');
    EXPECT_EQ(open == std::wstring::npos ? std::wstring() : e.friendlyName.substr(open), inParentheses)
        << std::string(e.friendlyName.begin(), e.friendlyName.end());
  }
  EXPECT_EQ(dacEndpoints, 2);  // speakers and the line input
  CoUninitialize();
}

TEST_F(VirtualDacTest, DetailAndAliasFollowSetupApiRules) {
  use();
  HDEVINFO set = devices().getClassDevs(&KSCATEGORY_AUDIO, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  SP_DEVICE_INTERFACE_DATA iface = seamio::sized<SP_DEVICE_INTERFACE_DATA>();
  ASSERT_TRUE(devices().enumDeviceInterfaces(set, nullptr, &KSCATEGORY_AUDIO, 0, &iface));
  DWORD needed = 0;
  EXPECT_FALSE(devices().getDeviceInterfaceDetail(set, &iface, nullptr, 0, &needed, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  std::vector<char> buffer(needed);
  auto* detail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_A>(buffer.data());
  detail->cbSize = 5;  // the fixed part of a 32-bit process: wrong here
  if (sizeof(void*) == 8) {
    EXPECT_FALSE(devices().getDeviceInterfaceDetail(set, &iface, detail, needed, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_USER_BUFFER));
  }
  detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
  EXPECT_FALSE(devices().getDeviceInterfaceDetail(set, &iface, detail, needed - 1, nullptr, nullptr));
  EXPECT_TRUE(devices().getDeviceInterfaceDetail(set, &iface, detail, needed, nullptr, nullptr));
  EXPECT_EQ(std::strlen(detail->DevicePath) + 1 + offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath), needed);

  SP_DEVICE_INTERFACE_DATA alias = seamio::sized<SP_DEVICE_INTERFACE_DATA>();
  EXPECT_TRUE(devices().getDeviceInterfaceAlias(set, &iface, &KSCATEGORY_CAPTURE, &alias));
  GUID other = KSCATEGORY_AUDIO;
  other.Data1 ^= 1;
  EXPECT_FALSE(devices().getDeviceInterfaceAlias(set, &iface, &other, &alias));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_SUCH_DEVICE_INTERFACE));
  EXPECT_FALSE(devices().enumDeviceInterfaces(set, nullptr, &KSCATEGORY_AUDIO, 1, &iface));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
  devices().destroyDeviceInfoList(set);

  // USB devices by enumerator: the DAC's audio function and its composite parent.
  set = devices().getClassDevs(nullptr, "USB", nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES);
  ASSERT_NE(set, INVALID_HANDLE_VALUE);
  int count = 0;
  SP_DEVINFO_DATA devInfo = seamio::sized<SP_DEVINFO_DATA>();
  while (devices().enumDeviceInfo(set, count, &devInfo)) ++count;
  EXPECT_EQ(count, 2);
  devices().destroyDeviceInfoList(set);
}

TEST_F(VirtualDacTest, PropertiesAnswerAsThePlatformDoes) {
  use();
  HANDLE filter = openDac();
  ULONG count = 0;
  IoResult r = pinProperty(filter, 0, KSPROPERTY_PIN_CTYPES, &count, sizeof count);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(count, 5u);
  EXPECT_EQ(r.bytes, 4u);

  r = pinProperty(filter, 0, KSPROPERTY_PIN_DATARANGES, nullptr, 0);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.error, static_cast<DWORD>(ERROR_MORE_DATA));
  const DWORD size = r.bytes;
  EXPECT_EQ(size, sizeof(KSMULTIPLE_ITEM) + 6 * sizeof(KSDATARANGE_AUDIO));
  std::vector<uint8_t> ranges(size);
  r = pinProperty(filter, 0, KSPROPERTY_PIN_DATARANGES, ranges.data(), size - 1);
  EXPECT_EQ(r.error, static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(r.bytes, 0u);
  ranges = pinPropertyMulti(filter, 0, KSPROPERTY_PIN_DATARANGES);
  ASSERT_EQ(ranges.size(), size);
  auto* first = reinterpret_cast<KSDATARANGE_AUDIO*>(ranges.data() + sizeof(KSMULTIPLE_ITEM));
  EXPECT_TRUE(IsEqualGUID(first->DataRange.MajorFormat, KSDATAFORMAT_TYPE_AUDIO));
  EXPECT_EQ(first->MinimumBitsPerSample, 16u);
  EXPECT_EQ(first->MaximumSampleFrequency, 384000u);

  KSPROPERTY unknown{};
  unknown.Set = KSPROPSETID_Audio;
  unknown.Flags = KSPROPERTY_TYPE_GET;
  ULONG value;
  r = ioctl(filter, IOCTL_KS_PROPERTY, &unknown, sizeof unknown, &value, sizeof value);
  EXPECT_EQ(r.error, static_cast<DWORD>(ERROR_SET_NOT_FOUND));

  std::vector<uint8_t> nodes(256);
  KSPROPERTY topology{};
  // MinGW's libksguid carries a wrong KSPROPSETID_Topology; the header's value is right.
  topology.Set = GUID{STATIC_KSPROPSETID_Topology};
  topology.Id = KSPROPERTY_TOPOLOGY_NODES;
  topology.Flags = KSPROPERTY_TYPE_GET;
  r = ioctl(filter, IOCTL_KS_PROPERTY, &topology, sizeof topology, nodes.data(), static_cast<DWORD>(nodes.size()));
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(reinterpret_cast<KSMULTIPLE_ITEM*>(nodes.data())->Count, 6u);

  // Pin names, categories, interfaces and mediums of the render pin.
  wchar_t name[130] = {};
  EXPECT_TRUE(pinProperty(filter, 0, KSPROPERTY_PIN_NAME, name, 259).ok);
  EXPECT_STREQ(name, L"Playback");
  std::vector<uint8_t> interfaces = pinPropertyMulti(filter, 0, KSPROPERTY_PIN_INTERFACES);
  ASSERT_EQ(interfaces.size(), sizeof(KSMULTIPLE_ITEM) + sizeof(KSIDENTIFIER));
  auto* interface0 = reinterpret_cast<KSIDENTIFIER*>(interfaces.data() + sizeof(KSMULTIPLE_ITEM));
  EXPECT_TRUE(IsEqualGUID(interface0->Set, KSINTERFACESETID_Standard));
  EXPECT_EQ(interface0->Id, static_cast<ULONG>(KSINTERFACE_STANDARD_STREAMING));
}

TEST_F(VirtualDacTest, TestsShapeThePinsAndTheirReplies) {
  vdac::DacConfig config;
  config.editFilter = [](vdac::FilterSpec& filter) {
    filter.pins[0].fault = vdac::ReplyFault::RangeSizeBelow88;
    filter.pins[vdac::kCapturePinId].fault = vdac::ReplyFault::NameWithoutTerminator;
    vdac::PinSpec odd = filter.pins[0];
    odd.communication = vdac::kCommunicationNone;
    odd.mediums = {};
    filter.pins.push_back(odd);
    filter.topologyShorterThanCount = true;
  };
  use(config);
  HANDLE filter = openDac();
  ULONG count = 0;
  ASSERT_TRUE(pinProperty(filter, 0, KSPROPERTY_PIN_CTYPES, &count, sizeof count).ok);
  EXPECT_EQ(count, 6u);
  std::vector<uint8_t> ranges = pinPropertyMulti(filter, 0, KSPROPERTY_PIN_DATARANGES);
  ASSERT_EQ(ranges.size(), sizeof(KSMULTIPLE_ITEM) + 5 * sizeof(KSDATARANGE_AUDIO) + sizeof(KSDATARANGE));
  EXPECT_EQ(reinterpret_cast<KSDATARANGE*>(ranges.data() + ranges.size() - sizeof(KSDATARANGE))->FormatSize,
            sizeof(KSDATARANGE));
  uint8_t name[259];
  IoResult r = pinProperty(filter, vdac::kCapturePinId, KSPROPERTY_PIN_NAME, name, sizeof name);
  EXPECT_EQ(r.bytes, 259u);
  EXPECT_EQ(std::count(name, name + sizeof name, 0), 0);
  std::vector<uint8_t> mediums = pinPropertyMulti(filter, 5, KSPROPERTY_PIN_MEDIUMS);
  ASSERT_EQ(mediums.size(), sizeof(KSMULTIPLE_ITEM));
  EXPECT_EQ(reinterpret_cast<KSMULTIPLE_ITEM*>(mediums.data())->Count, 0u);
}

TEST_F(VirtualDacTest, RequestsCanPendAndCompleteOnTheEvent) {
  vdac::DacConfig config;
  config.pendAllProperties = true;
  use(config);
  HANDLE filter = openDac();
  ULONG count = 0;
  IoResult r = pinProperty(filter, 0, KSPROPERTY_PIN_CTYPES, &count, sizeof count);
  EXPECT_TRUE(r.pended);
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(count, 5u);
  EXPECT_EQ(r.bytes, 4u);  // from the overlapped result
  // Size queries fail at once even then: the size needed comes back immediately.
  r = pinProperty(filter, 0, KSPROPERTY_PIN_DATARANGES, nullptr, 0);
  EXPECT_FALSE(r.pended);
  EXPECT_EQ(r.error, static_cast<DWORD>(ERROR_MORE_DATA));
  EXPECT_GT(vdac::counters().pendedRequests, 0u);
}

TEST_F(VirtualDacTest, PinCreationChecksFormatAndInstances) {
  vdac::DacConfig config;
  config.ranges.widths = {16, 24};
  config.ranges.rates = {44100, 48000, 96000};
  use(config);
  HANDLE filter = openDac();
  struct Case {
    ULONG pin;
    WORD bits;
    DWORD rate;
    DWORD expected;
  } cases[] = {
      {0, 16, 44100, ERROR_SUCCESS}, {0, 24, 96000, ERROR_SUCCESS}, {0, 32, 48000, ERROR_NO_MATCH},
      {0, 24, 88200, ERROR_NO_MATCH}, {3, 16, 48000, ERROR_SUCCESS}, {1, 16, 48000, ERROR_NOT_SUPPORTED},
      {4, 16, 48000, ERROR_NOT_SUPPORTED}, {9, 16, 48000, ERROR_INVALID_PARAMETER},
  };
  for (const Case& c : cases) {
    HANDLE h = nullptr;
    EXPECT_EQ(createPin(filter, c.pin, 2, c.bits, c.rate, h), c.expected) << c.pin << " " << c.bits << " " << c.rate;
    if (h) devices().closeHandle(h);
  }
  HANDLE mono = nullptr;
  EXPECT_EQ(createPin(filter, 0, 1, 16, 48000, mono), static_cast<DWORD>(ERROR_NO_MATCH));

  HANDLE first = pin(filter, 0, 16, 48000);
  HANDLE second = nullptr;
  EXPECT_EQ(createPin(filter, 0, 2, 16, 48000, second), static_cast<DWORD>(ERROR_BUSY));
  ULONG instances[2] = {};
  EXPECT_TRUE(pinProperty(filter, 0, KSPROPERTY_PIN_CINSTANCES, instances, sizeof instances).ok);
  EXPECT_EQ(instances[1], 1u);
  close(first);
  EXPECT_EQ(createPin(filter, 0, 2, 16, 48000, second), static_cast<DWORD>(ERROR_SUCCESS));
  devices().closeHandle(second);
  EXPECT_EQ(vdac::pinStats(0).timesCreated, 4u);

  // A looped-streaming connection is not offered by the pin.
  std::vector<uint8_t> record = connectRecord(0, 2, 16, 48000);
  reinterpret_cast<KSPIN_CONNECT*>(record.data())->Interface.Id = KSINTERFACE_STANDARD_LOOPED_STREAMING;
  HANDLE looped = nullptr;
  EXPECT_EQ(devices().ksCreatePin(filter, reinterpret_cast<KSPIN_CONNECT*>(record.data()), GENERIC_WRITE, &looped),
            static_cast<DWORD>(ERROR_NO_MATCH));
}

TEST_F(VirtualDacTest, StatesChangeOneStepAtATime) {
  use();
  HANDLE filter = openDac();
  HANDLE render = pin(filter, 0);
  IoResult r = setState(render, KSSTATE_RUN);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.error, static_cast<DWORD>(ERROR_BAD_COMMAND));
  r = setState(render, KSSTATE_ACQUIRE);
  EXPECT_TRUE(r.ok);
  EXPECT_TRUE(r.pended);  // state changes complete on the event
  EXPECT_TRUE(stepTo(render, KSSTATE_ACQUIRE, KSSTATE_RUN));
  KSSTATE state = KSSTATE_STOP;
  EXPECT_TRUE(getState(render, state).ok);
  EXPECT_EQ(state, KSSTATE_RUN);
  EXPECT_FALSE(setState(render, KSSTATE_ACQUIRE).ok);
  EXPECT_TRUE(stepTo(render, KSSTATE_RUN, KSSTATE_STOP));
  EXPECT_EQ(vdac::pinStats(0).stateHistory, (std::vector<uint32_t>{1, 2, 3, 2, 1, 0}));
  r = reset(render, KSRESET_BEGIN);
  EXPECT_TRUE(r.ok);
  EXPECT_TRUE(reset(render, KSRESET_END).ok);
}

namespace {

// Fills a packet with a recognisable ramp.
void ramp(std::vector<uint8_t>& data, uint8_t seed) {
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(seed + i * 7);
}

}  // namespace

namespace {

// What a pin played against what was submitted: equal, or, when the device counted
// periods without data (a late test thread on a loaded machine), longer by exactly them.
void expectPlayedOrCountedGaps(uint32_t pinId, const std::vector<uint8_t>& submitted, size_t frameBytes,
                               uint64_t missedBefore = 0) {
  const uint64_t missed = vdac::pinStats(pinId).framesMissed - missedBefore;
  const std::vector<uint8_t> played = vdac::playedBytes(pinId);
  if (missed == 0) {
    EXPECT_EQ(played, submitted);
  } else {
    std::printf("the device played %llu frames of silence for late packets\n", static_cast<unsigned long long>(missed));
    EXPECT_EQ(played.size(), submitted.size() + missed * frameBytes);
  }
}

// Streams rounds of packets through a render pin, two queued at all times, and returns
// what it submitted; prints the measured period against the nominal one.
std::vector<uint8_t> streamRender(HANDLE render, WORD bits, DWORD rate, DWORD frames, int count) {
  const size_t bytes = size_t{frames} * 2 * bits / 8;
  constexpr int kRing = 8;
  std::vector<std::unique_ptr<Packet>> packets;
  for (int i = 0; i < kRing; ++i) packets.push_back(std::make_unique<Packet>(bytes, true));
  std::vector<uint8_t> submitted;
  auto submit = [&](int n) {
    Packet& p = *packets[n % kRing];
    ramp(p.data, static_cast<uint8_t>(n));
    submitted.insert(submitted.end(), p.data.begin(), p.data.end());
    return p.submit(render, true);
  };
  EXPECT_TRUE(stepTo(render, KSSTATE_STOP, KSSTATE_PAUSE));
  for (int n = 0; n < 2; ++n) EXPECT_TRUE(submit(n));
  EXPECT_TRUE(setState(render, KSSTATE_RUN).ok);
  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  for (int n = 0; n < count; ++n) {
    DWORD error = 1, got = 0;
    if (!packets[n % kRing]->wait(render, 2000, error, got)) {
      ADD_FAILURE() << "packet " << n << " did not complete";
      break;
    }
    EXPECT_EQ(error, 0u);
    EXPECT_EQ(got, sizeof(KSSTREAM_HEADER));
    if (n + 2 < count) {
      EXPECT_TRUE(submit(n + 2));
    }
  }
  QueryPerformanceCounter(&end);
  const double seconds = double(end.QuadPart - start.QuadPart) / double(frequency.QuadPart);
  const double nominal = 1000.0 * frames / rate;
  std::printf("render %u-bit %lu Hz: %d packets of %lu frames in %.3f s: measured period %.3f ms, nominal %.3f ms\n",
              bits, static_cast<unsigned long>(rate), count, static_cast<unsigned long>(frames), seconds,
              1000.0 * seconds / count, nominal);
  EXPECT_GT(seconds * 1000.0, 0.5 * nominal * count);  // real time, not as fast as it can
  EXPECT_TRUE(stepTo(render, KSSTATE_RUN, KSSTATE_STOP));
  return submitted;
}

}  // namespace

TEST_F(VirtualDacTest, WritesCompleteInOrderOnTheDeviceClock) {
  const std::string wav = testing::TempDir() + "vdac_wine_test.wav";
  vdac::DacConfig config;
  config.wavPath = wav;
  use(config);
  HANDLE filter = openDac();
  HANDLE render = pin(filter, 0, 24, 48000);
  const std::vector<uint8_t> expected = streamRender(render, 24, 48000, 480, 50);
  const vdac::PinStats stats = vdac::pinStats(0);
  EXPECT_EQ(stats.writesCompleted, 50u);
  EXPECT_EQ(stats.format.bitsPerSample, 24u);
  EXPECT_LE(stats.maxQueued, 2u);
  expectPlayedOrCountedGaps(0, expected, 6);
  close(render);

  std::ifstream in(wav, std::ios::binary);
  std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_EQ(file.size(), 68 + expected.size() + vdac::pinStats(0).framesMissed * 6);
  if (vdac::pinStats(0).framesMissed == 0) {
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), file.begin() + 68));
  }
  in.close();
  DeleteFileA(wav.c_str());

  // The highest rate with 1 ms packets: the device's clock resolution is the limit here.
  vdac::clearPlayed();
  render = pin(filter, 0, 32, 384000);
  const uint64_t missedBefore = vdac::pinStats(0).framesMissed;
  const std::vector<uint8_t> fast = streamRender(render, 32, 384000, 384, 300);
  expectPlayedOrCountedGaps(0, fast, 8, missedBefore);
}

TEST_F(VirtualDacTest, APeriodWithoutDataPlaysAsSilenceAndIsCounted) {
  // A real DAC's clock does not wait for a late host: the time without data plays as
  // silence, in whole periods, and the late packet takes the next period.
  use(vdac::DacConfig{});
  HANDLE filter = openDac();
  HANDLE render = pin(filter, 0, 24, 48000);
  const size_t bytes = 480 * 6;
  Packet a(bytes, true), b(bytes, true), late(bytes, true);
  ramp(a.data, 1);
  ramp(b.data, 2);
  ramp(late.data, 3);
  ASSERT_TRUE(stepTo(render, KSSTATE_STOP, KSSTATE_PAUSE));
  ASSERT_TRUE(a.submit(render, true));
  ASSERT_TRUE(b.submit(render, true));
  ASSERT_TRUE(setState(render, KSSTATE_RUN).ok);
  DWORD error = 1, got = 0;
  ASSERT_TRUE(a.wait(render, 2000, error, got));
  ASSERT_TRUE(b.wait(render, 2000, error, got));
  Sleep(35);  // more than three periods of 10 ms with nothing queued
  ASSERT_TRUE(late.submit(render, true));
  ASSERT_TRUE(late.wait(render, 2000, error, got));
  const vdac::PinStats stats = vdac::pinStats(0);
  EXPECT_EQ(stats.periodsMissed, 1u);  // one late request
  ASSERT_GE(stats.framesMissed, 3u * 480);
  EXPECT_EQ(stats.framesMissed % 480, 0u);  // whole periods
  std::vector<uint8_t> expected = a.data;
  expected.insert(expected.end(), b.data.begin(), b.data.end());
  expected.insert(expected.end(), size_t(stats.framesMissed) * 6, 0);
  expected.insert(expected.end(), late.data.begin(), late.data.end());
  EXPECT_EQ(vdac::playedBytes(0), expected);
  EXPECT_TRUE(stepTo(render, KSSTATE_RUN, KSSTATE_STOP));
  close(render);
}

TEST_F(VirtualDacTest, LoopbackAndShortCapturePackets) {
  vdac::DacConfig config;
  config.loopback = true;
  use(config);
  HANDLE filter = openDac();
  HANDLE capture = pin(filter, vdac::kCapturePinId, 16, 48000);
  HANDLE render = pin(filter, vdac::kRenderPinId, 24, 48000);
  const DWORD frames = 240;
  Packet out(frames * 6, true), in(frames * 4, false);
  ramp(out.data, 3);
  ASSERT_TRUE(stepTo(capture, KSSTATE_STOP, KSSTATE_PAUSE));
  ASSERT_TRUE(stepTo(render, KSSTATE_STOP, KSSTATE_PAUSE));
  ASSERT_TRUE(out.submit(render, true));
  ASSERT_TRUE(in.submit(capture, false));
  ASSERT_TRUE(setState(capture, KSSTATE_RUN).ok);
  ASSERT_TRUE(setState(render, KSSTATE_RUN).ok);
  DWORD error = 1, got = 0;
  ASSERT_TRUE(out.wait(render, 2000, error, got));
  ASSERT_TRUE(in.wait(capture, 2000, error, got));
  EXPECT_EQ(error, 0u);
  ASSERT_EQ(in.header.DataUsed, frames * 4);
  // The captured 16-bit frames are the top two bytes of each played 24-bit sample.
  for (DWORD s = 0; s < frames * 2; ++s) {
    ASSERT_EQ(in.data[2 * s], out.data[3 * s + 1]) << s;
    ASSERT_EQ(in.data[2 * s + 1], out.data[3 * s + 2]) << s;
  }

  vdac::setShortCaptureFrames(10);
  ASSERT_TRUE(in.submit(capture, false));
  ASSERT_TRUE(in.wait(capture, 2000, error, got));
  EXPECT_EQ(in.header.DataUsed, (frames - 10) * 4);
  EXPECT_EQ(vdac::pinStats(vdac::kCapturePinId).readsCompleted, 2u);
}

TEST_F(VirtualDacTest, StallStopsCompletionsAndRemovalFailsRequests) {
  use();
  HANDLE filter = openDac();
  HANDLE render = pin(filter, 0, 16, 48000);
  Packet a(480 * 4, true), b(480 * 4, true);
  ASSERT_TRUE(stepTo(render, KSSTATE_STOP, KSSTATE_RUN));
  vdac::setStalled(true);
  ASSERT_TRUE(a.submit(render, true));
  DWORD error = 0, got = 0;
  EXPECT_FALSE(a.wait(render, 100, error, got));
  vdac::setStalled(false);
  EXPECT_TRUE(a.wait(render, 1000, error, got));
  EXPECT_EQ(error, 0u);

  ASSERT_TRUE(b.submit(render, true));
  vdac::setRemoved(true);
  ASSERT_TRUE(b.wait(render, 1000, error, got));
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_DEVICE_REMOVED));
  DWORD submitError = 0;
  EXPECT_FALSE(a.submit(render, true, &submitError));
  EXPECT_EQ(submitError, static_cast<DWORD>(ERROR_DEVICE_REMOVED));
  EXPECT_EQ(setState(render, KSSTATE_PAUSE).error, static_cast<DWORD>(ERROR_DEVICE_REMOVED));
  EXPECT_TRUE(dacFilterPath().empty());
  EXPECT_EQ(openFilter(audioInterfaces().empty() ? "\\\\?\\usb#gone" : audioInterfaces()[0].path),
            INVALID_HANDLE_VALUE);
  vdac::setRemoved(false);
  EXPECT_FALSE(dacFilterPath().empty());
  // Handles opened before the removal stay dead; a new open works.
  EXPECT_EQ(setState(render, KSSTATE_PAUSE).error, static_cast<DWORD>(ERROR_DEVICE_REMOVED));
  ULONG count = 0;
  EXPECT_FALSE(pinProperty(filter, 0, KSPROPERTY_PIN_CTYPES, &count, sizeof count).ok);
  HANDLE again = openDac();
  EXPECT_TRUE(pinProperty(again, 0, KSPROPERTY_PIN_CTYPES, &count, sizeof count).ok);
}

TEST_F(VirtualDacTest, ResetAndStopCancelQueuedRequests) {
  use();
  HANDLE filter = openDac();
  HANDLE render = pin(filter, 0, 16, 48000);
  ASSERT_TRUE(stepTo(render, KSSTATE_STOP, KSSTATE_PAUSE));
  Packet a(4800 * 4, true), b(4800 * 4, true);
  ASSERT_TRUE(a.submit(render, true));
  ASSERT_TRUE(reset(render, KSRESET_BEGIN).ok);
  DWORD error = 0, got = 0;
  ASSERT_TRUE(a.wait(render, 1000, error, got));
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_OPERATION_ABORTED));
  DWORD submitError = 0;
  EXPECT_FALSE(b.submit(render, true, &submitError));  // refused until the reset ends
  EXPECT_EQ(submitError, static_cast<DWORD>(ERROR_NOT_READY));
  ASSERT_TRUE(reset(render, KSRESET_END).ok);
  ASSERT_TRUE(b.submit(render, true));
  ASSERT_TRUE(stepTo(render, KSSTATE_PAUSE, KSSTATE_STOP));
  ASSERT_TRUE(b.wait(render, 1000, error, got));
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_OPERATION_ABORTED));
  EXPECT_EQ(vdac::pinStats(0).requestsCancelled, 2u);
}

TEST_F(VirtualDacTest, HidInterfaceRecordsOutputReports) {
  use();
  GUID hidGuid;
  devices().hidGetHidGuid(&hidGuid);
  HDEVINFO set = devices().getClassDevs(&hidGuid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  ASSERT_NE(set, INVALID_HANDLE_VALUE);
  HANDLE dacHid = INVALID_HANDLE_VALUE;
  int keyboardsRefused = 0;
  SP_DEVICE_INTERFACE_DATA iface = seamio::sized<SP_DEVICE_INTERFACE_DATA>();
  for (DWORD i = 0; devices().enumDeviceInterfaces(set, nullptr, &hidGuid, i, &iface); ++i) {
    char buffer[512];
    auto* detail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_A>(buffer);
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    ASSERT_TRUE(devices().getDeviceInterfaceDetail(set, &iface, detail, sizeof buffer, nullptr, nullptr));
    HANDLE h = devices().createFile(detail->DevicePath, GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      ++keyboardsRefused;
      continue;
    }
    HIDD_ATTRIBUTES attributes{};
    attributes.Size = sizeof attributes;
    ASSERT_TRUE(devices().hidGetAttributes(h, &attributes));
    if (attributes.VendorID == 0x1209 && attributes.ProductID == 0x0007) {
      dacHid = h;
    } else {
      devices().closeHandle(h);
    }
  }
  devices().destroyDeviceInfoList(set);
  EXPECT_EQ(keyboardsRefused, 1);
  ASSERT_NE(dacHid, INVALID_HANDLE_VALUE);
  PHIDP_PREPARSED_DATA preparsed = nullptr;
  ASSERT_TRUE(devices().hidGetPreparsedData(dacHid, &preparsed));
  HIDP_CAPS caps{};
  EXPECT_EQ(devices().hidGetCaps(preparsed, &caps), HIDP_STATUS_SUCCESS);
  EXPECT_EQ(caps.OutputReportByteLength, 64);
  EXPECT_TRUE(devices().hidFreePreparsedData(preparsed));
  EXPECT_NE(devices().hidGetCaps(preparsed, &caps), HIDP_STATUS_SUCCESS);

  uint8_t on[64] = {0, 0xF5, 0x21, 0x32, 0x2E}, off[64] = {0, 0xF5, 0x21, 0x32, 0x08};
  DWORD written = 0;
  EXPECT_TRUE(devices().writeFile(dacHid, on, 64, &written, nullptr));
  EXPECT_EQ(written, 64u);
  EXPECT_FALSE(devices().writeFile(dacHid, on, 10, &written, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_TRUE(devices().writeFile(dacHid, off, 64, &written, nullptr));
  std::vector<std::vector<uint8_t>> reports = vdac::hidReports();
  ASSERT_EQ(reports.size(), 2u);
  EXPECT_EQ(reports[0], std::vector<uint8_t>(on, on + 64));
  EXPECT_EQ(reports[1], std::vector<uint8_t>(off, off + 64));
  EXPECT_TRUE(devices().closeHandle(dacHid));
}

TEST(VirtualDacLifetime, UninstallReleasesEverything) {
  DWORD before = 0, after = 0;
  GetProcessHandleCount(GetCurrentProcess(), &before);
  for (int cycle = 0; cycle < 3; ++cycle) {
    ASSERT_TRUE(vdac::useVirtualDac());
    HANDLE filter = openFilter(dacFilterPath());
    ASSERT_NE(filter, INVALID_HANDLE_VALUE);
    HANDLE render = nullptr;
    ASSERT_EQ(createPin(filter, 0, 2, 16, 48000, render), static_cast<DWORD>(ERROR_SUCCESS));
    ASSERT_TRUE(stepTo(render, KSSTATE_STOP, KSSTATE_RUN));
    auto packet = std::make_unique<Packet>(48000 * 4, true);  // one second: still queued at uninstall
    ASSERT_TRUE(packet->submit(render, true));
    EXPECT_GE(vdac::counters().openHandles, 2u);
    // Left open on purpose: uninstalling fails the request and releases the handles.
    vdac::stopUsingVirtualDac();
    DWORD error = 0, got = 0;
    ASSERT_TRUE(packet->wait(render, 1000, error, got));
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_OPERATION_ABORTED));
  }
  GetProcessHandleCount(GetCurrentProcess(), &after);
  EXPECT_EQ(after, before);
  HKEY key;
  EXPECT_NE(RegOpenKeyExA(HKEY_CURRENT_USER, ("Software\\Tessaline\\VirtualDac\\" +
                                              std::to_string(GetCurrentProcessId())).c_str(), 0, KEY_READ, &key),
            ERROR_SUCCESS);
}
