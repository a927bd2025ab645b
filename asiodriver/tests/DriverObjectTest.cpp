// The driver object against the virtual DAC: binding, the IASIO queries and their
// status-block publications, two instances, calls in the wrong order.
#include <cstring>

#include "DriverFixture.h"
#include "SampleRates.h"

using namespace tess;
using host::DriverRef;

namespace {
constexpr char kDacName[] = "Tessaline USB 2.0 Audio";
constexpr size_t kState = offsetof(StatusBlockLayout, state);
constexpr size_t kRate = offsetof(StatusBlockLayout, rate);
constexpr size_t kWidth = offsetof(StatusBlockLayout, widthInUse);
constexpr size_t kBuffer = offsetof(StatusBlockLayout, buffer);
constexpr size_t kRates = offsetof(StatusBlockLayout, supportedRates);
constexpr size_t kWidths = offsetof(StatusBlockLayout, supportedWidths);
}  // namespace

TEST_F(DriverTest, BindsToTheDeviceAndClaimsTheBlock) {
  CLSID clsid = host::freshClsid();
  {
    DriverRef d(clsid);
    ASSERT_EQ(d.created, S_OK);
    StatusBlockView b = block();
    EXPECT_TRUE(sameIdentity(b.owner(), clsid));
    EXPECT_EQ(b.state(), uint32_t(kStateLoaded));
    char name[64];
    b.deviceName(name, sizeof name);
    EXPECT_STREQ(name, kDacName);
    char driverName[32];
    d->getDriverName(driverName);
    EXPECT_STREQ(driverName, kDacName);
    EXPECT_EQ(d->getDriverVersion(), 2);

    // Hosts query the interface under the class identifier too.
    IASIO* again = nullptr;
    EXPECT_EQ(d->QueryInterface(clsid, reinterpret_cast<void**>(&again)), S_OK);
    ASSERT_NE(again, nullptr);
    again->Release();
    void* other = reinterpret_cast<void*>(1);
    EXPECT_EQ(d->QueryInterface(IID_IClassFactory, &other), E_NOINTERFACE);
    EXPECT_EQ(other, nullptr);

    // Before init: no channels.
    int32_t in = -1, out = -1;
    EXPECT_EQ(d->getChannels(&in, &out), ASE_NotPresent);
    EXPECT_EQ(in, 0);
    EXPECT_EQ(out, 0);
    EXPECT_EQ(d->start(), ASE_NotPresent);
  }
  EXPECT_TRUE(block().free());
  EXPECT_EQ(block().state(), uint32_t(kStateUnload));
}

TEST_F(DriverTest, InitPublishesAndAnswersTheQueries) {
  choose(100, 24);
  CLSID clsid = host::freshClsid();
  DriverRef d(clsid);
  ASSERT_EQ(d.created, S_OK);
  ASSERT_EQ(d->init(nullptr), ASIOTrue);
  StatusBlockView b = block();
  EXPECT_EQ(b.field(kState), uint32_t(kStateInitialized));
  EXPECT_EQ(b.field(kWidth), 24u);
  EXPECT_EQ(b.field(kBuffer), 100u);
  EXPECT_EQ(b.field(kRate), 32000u);  // no saved rate: the first rate both directions take
  EXPECT_EQ(b.field(kRates), 0x1FFu);
  EXPECT_EQ(b.field(kWidths), 0xEu);

  int32_t in = 0, out = 0;
  EXPECT_EQ(d->getChannels(&in, &out), ASE_OK);
  EXPECT_EQ(in, 2);
  EXPECT_EQ(out, 2);
  EXPECT_EQ(d->getChannels(nullptr, nullptr), ASE_OK);
  for (uint32_t rate : kSampleRates) EXPECT_EQ(d->canSampleRate(rate), ASE_OK) << rate;
  EXPECT_EQ(d->canSampleRate(12345), ASE_NotPresent);
  EXPECT_EQ(d->setSampleRate(12345), ASE_NotPresent);
  EXPECT_EQ(d->canSampleRate(44100.5), ASE_NotPresent);

  ASIOSampleRate rate = 0;
  ASSERT_EQ(d->setSampleRate(44100), ASE_OK);
  EXPECT_EQ(d->getSampleRate(&rate), ASE_OK);
  EXPECT_EQ(rate, 44100.0);
  EXPECT_EQ(b.field(kRate), 44100u);
  EXPECT_EQ(d->getSampleRate(nullptr), ASE_OK);

  int32_t mn = 0, mx = 0, pref = 0, gran = 0;
  ASSERT_EQ(d->getBufferSize(&mn, &mx, &pref, &gran), ASE_OK);
  EXPECT_EQ(mn, 88);
  EXPECT_EQ(mx, 26460);
  EXPECT_EQ(pref, 441);  // 10 ms from the block's BufferSize 100
  EXPECT_EQ(gran, 44);
  int32_t li = 0, lo = 0;
  EXPECT_EQ(d->getLatencies(&li, &lo), ASE_OK);
  EXPECT_EQ(li, 441);
  EXPECT_EQ(lo, 441);

  ASIOChannelInfo info{};
  info.channel = 1;
  info.isInput = ASIOFalse;
  ASSERT_EQ(d->getChannelInfo(&info), ASE_OK);
  EXPECT_STREQ(info.name, "Tessaline USB 2.0 Audio_O_R");
  EXPECT_EQ(info.type, ASIOSTInt24LSB);
  EXPECT_EQ(info.isActive, ASIOFalse);
  info.channel = 0;
  info.isInput = ASIOTrue;
  ASSERT_EQ(d->getChannelInfo(&info), ASE_OK);
  EXPECT_STREQ(info.name, "Tessaline USB 2.0 Audio_I_L");
  info.channel = 2;
  EXPECT_EQ(d->getChannelInfo(&info), ASE_InvalidParameter);
  info.channel = -1;
  EXPECT_EQ(d->getChannelInfo(&info), ASE_InvalidParameter);
  EXPECT_EQ(d->getChannelInfo(nullptr), ASE_InvalidParameter);

  ASIOClockSource clocks[2]{};
  int32_t count = 2;
  EXPECT_EQ(d->getClockSources(clocks, &count), ASE_OK);
  EXPECT_EQ(count, 1);
  EXPECT_STREQ(clocks[0].name, "Internal");
  EXPECT_EQ(clocks[0].isCurrentSource, ASIOTrue);
  EXPECT_EQ(clocks[0].associatedChannel, -1);
  EXPECT_EQ(d->setClockSource(0), ASE_OK);
  EXPECT_EQ(d->setClockSource(2), ASE_NotPresent);

  ASIOIoFormat io{};
  io.FormatType = 2;
  EXPECT_EQ(d->future(kAsioSetIoFormat, &io), ASE_NotPresent);
  EXPECT_EQ(io.FormatType, -1);
  EXPECT_EQ(d->future(kAsioCanTimeInfo, nullptr), ASE_SUCCESS);
  EXPECT_EQ(d->future(kAsioEnableTimeCodeRead, nullptr), ASE_NotPresent);
  EXPECT_EQ(d->controlPanel(), ASE_OK);  // no panel, no "ASIOCPL": nothing to start

  // stop in INITIALIZED leaves it so, and start then returns at once.
  EXPECT_EQ(d->stop(), ASE_OK);
  EXPECT_EQ(d->start(), ASE_OK);
  EXPECT_EQ(b.field(kState), uint32_t(kStateInitialized));
}

TEST_F(DriverTest, NativeDsdRatesRideOnTheirCarriers) {
  choose(100, 24);
  DriverRef d(host::freshClsid());
  ASSERT_EQ(d.created, S_OK);
  ASSERT_EQ(d->init(nullptr), ASIOTrue);
  StatusBlockView b = block();
  struct Case {
    uint32_t dsd, carrier;
    int32_t sizes[4];
  } cases[] = {{kDsd64, 88200, {28224, 282240, 28224, 28224}},
               {kDsd128, 176400, {56448, 564480, 56448, 56448}},
               {kDsd256, 352800, {112896, 1128960, 112896, 112896}}};
  for (const Case& c : cases) {
    ASSERT_EQ(d->canSampleRate(c.dsd), ASE_OK);
    ASSERT_EQ(d->setSampleRate(c.dsd), ASE_OK);
    ASIOSampleRate rate = 0;
    EXPECT_EQ(d->getSampleRate(&rate), ASE_OK);
    EXPECT_EQ(rate, double(c.dsd));
    EXPECT_EQ(b.field(kRate), c.carrier);
    int32_t s[4];
    ASSERT_EQ(d->getBufferSize(&s[0], &s[1], &s[2], &s[3]), ASE_OK);
    EXPECT_EQ(std::memcmp(s, c.sizes, sizeof s), 0) << c.dsd;
    // Latencies in the host's units (DSD samples), like the buffer sizes.
    int32_t in = 0, out = 0;
    ASSERT_EQ(d->getLatencies(&in, &out), ASE_OK);
    EXPECT_EQ(in, c.sizes[2]);
    EXPECT_EQ(out, c.sizes[2]);
    ASIOChannelInfo info{};
    ASSERT_EQ(d->getChannelInfo(&info), ASE_OK);
    EXPECT_EQ(info.type, ASIOSTDSDInt8MSB1);
    EXPECT_EQ(b.field(kWidth), 32u);
  }
}

TEST_F(DriverTest, ASecondInstancePublishesOnlyAnyInstanceFields) {
  choose(100, 32);
  // Both from one registration, as hosts create them: one class id, two objects.
  CLSID first = host::freshClsid(), second = first;
  DriverRef a(first);
  ASSERT_EQ(a.created, S_OK);
  ASSERT_EQ(a->init(nullptr), ASIOTrue);
  ASSERT_EQ(a->setSampleRate(48000), ASE_OK);
  StatusBlockView b = block();
  {
    DriverRef other(second);
    ASSERT_EQ(other.created, S_OK);
    EXPECT_TRUE(sameIdentity(b.owner(), first));
    ASSERT_EQ(other->init(nullptr), ASIOTrue);
    EXPECT_EQ(b.field(kState), uint32_t(kStateInitialized));
    // DSD needs the block: the second instance does not own it.
    EXPECT_EQ(other->canSampleRate(kDsd64), ASE_NoClock);
    ASSERT_EQ(other->setSampleRate(96000), ASE_OK);
    EXPECT_EQ(b.field(kRate), 96000u);  // any instance writes the rate
  }
  EXPECT_TRUE(sameIdentity(b.owner(), first));  // the second's end frees nothing of the first
  EXPECT_EQ(b.field(kState), uint32_t(kStateInitialized));
  EXPECT_EQ(a->canSampleRate(kDsd64), ASE_OK);  // the owner still offers DSD
}

TEST_F(DriverTest, CallsInTheWrongOrderOrWithBadArgumentsAreRefused) {
  choose(100, 32);
  DriverRef d(host::freshClsid());
  ASSERT_EQ(d.created, S_OK);
  host::Harness h;
  h.makeInfos(2, 2);
  EXPECT_EQ(d->createBuffers(h.infos.data(), 4, 480, &h.callbacks), ASE_NotPresent);  // before init
  EXPECT_EQ(d->disposeBuffers(), ASE_NotPresent);
  ASSERT_EQ(d->init(nullptr), ASIOTrue);
  EXPECT_EQ(d->init(nullptr), ASIOTrue);  // again: nothing rebuilt
  ASSERT_EQ(d->setSampleRate(48000), ASE_OK);
  EXPECT_EQ(d->disposeBuffers(), ASE_InvalidParameter);  // no buffers yet

  ASIOBufferInfo beyond[1] = {{ASIOFalse, 2, {nullptr, nullptr}}};
  EXPECT_EQ(d->createBuffers(beyond, 1, 480, &h.callbacks), ASE_InvalidParameter);
  ASIOBufferInfo twice[2] = {{ASIOFalse, 0, {nullptr, nullptr}}, {ASIOFalse, 0, {nullptr, nullptr}}};
  EXPECT_EQ(d->createBuffers(twice, 2, 480, &h.callbacks), ASE_InvalidParameter);
  ASIOBufferInfo negative[1] = {{ASIOTrue, -1, {nullptr, nullptr}}};
  EXPECT_EQ(d->createBuffers(negative, 1, 480, &h.callbacks), ASE_InvalidParameter);
  EXPECT_EQ(d->createBuffers(h.infos.data(), 4, 480, nullptr), ASE_InvalidParameter);
  EXPECT_EQ(d->createBuffers(nullptr, 4, 480, &h.callbacks), ASE_InvalidParameter);
  EXPECT_EQ(d->createBuffers(h.infos.data(), 4, 0, &h.callbacks), ASE_InvalidParameter);
  EXPECT_EQ(d->createBuffers(h.infos.data(), -1, 480, &h.callbacks), ASE_InvalidParameter);
  EXPECT_EQ(block().field(kState), uint32_t(kStateInitialized));

  ASSERT_EQ(h.create(d.driver, 480, 480 * 4), ASE_OK);
  EXPECT_EQ(block().field(kState), uint32_t(kStatePrepared));
  EXPECT_EQ(block().field(kBuffer), 480u);
  EXPECT_EQ(d->createBuffers(h.infos.data(), 4, 480, &h.callbacks), ASE_InvalidParameter);  // twice
  ASIOChannelInfo info{};
  ASSERT_EQ(d->getChannelInfo(&info), ASE_OK);
  EXPECT_EQ(info.isActive, ASIOTrue);
  int32_t li = 0, lo = 0;
  EXPECT_EQ(d->getLatencies(&li, &lo), ASE_OK);
  EXPECT_EQ(li, 480);
  EXPECT_EQ(d->disposeBuffers(), ASE_OK);
  EXPECT_EQ(block().field(kState), uint32_t(kStateInitialized));
}

class RenderOnlyDriverTest : public DriverTest {
  tess::vdac::DacConfig dacConfig() override {
    tess::vdac::DacConfig c;
    c.renderOnly = true;
    return c;
  }
};

TEST_F(RenderOnlyDriverTest, ReportsNoInputsAndEveryRenderRate) {
  DriverRef d(host::freshClsid());
  ASSERT_EQ(d.created, S_OK);
  ASSERT_EQ(d->init(nullptr), ASIOTrue);
  int32_t in = -1, out = -1;
  EXPECT_EQ(d->getChannels(&in, &out), ASE_OK);
  EXPECT_EQ(in, 0);
  EXPECT_EQ(out, 2);
  for (uint32_t rate : kSampleRates) EXPECT_EQ(d->canSampleRate(rate), ASE_OK) << rate;
}

class NoDeviceDriverTest : public DriverTest {
  tess::vdac::DacConfig dacConfig() override {
    tess::vdac::DacConfig c;
    c.productId = 0x0009;  // not in the supported-device table
    return c;
  }
};

TEST_F(NoDeviceDriverTest, CreationFailsAndLeavesTheBlockFree) {
  DriverRef d(host::freshClsid());
  EXPECT_EQ(d.created, E_FAIL);
  EXPECT_EQ(d.driver, nullptr);
  EXPECT_TRUE(block().free());
  EXPECT_EQ(DllCanUnloadNow(), S_OK);
}

TEST_F(DriverTest, ControlPanelRaisesTheShowFlagWhenThePanelRuns) {
  DriverRef d(host::freshClsid());
  ASSERT_EQ(d.created, S_OK);
  block().takeShowPanel();
  ASSERT_EQ(d->controlPanel(), ASE_OK);
  EXPECT_FALSE(block().takeShowPanel());  // no panel window, no "ASIOCPL"
  HWND panel = CreateWindowExA(0, "STATIC", kPanelWindowTitle, WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(panel, nullptr);
  block().takeChanged();
  EXPECT_EQ(d->controlPanel(), ASE_OK);
  EXPECT_TRUE(block().takeShowPanel());
  EXPECT_TRUE(block().takeChanged());
  DestroyWindow(panel);
}

class NoHidDriverTest : public DriverTest {
  tess::vdac::DacConfig dacConfig() override {
    tess::vdac::DacConfig c;
    c.hid = false;
    return c;
  }
};

TEST_F(NoHidDriverTest, DsdModeCommandsAreDroppedSilently) {
  choose(100, 32);
  DriverRef d(host::freshClsid());
  ASSERT_EQ(d.created, S_OK);
  ASSERT_EQ(d->init(nullptr), ASIOTrue);
  ASSERT_EQ(d->setSampleRate(kDsd64), ASE_OK);
  host::Harness h;
  h.makeInfos(2, 0);
  ASSERT_EQ(h.create(d.driver, 28224, 28224 / 8), ASE_OK);
  EXPECT_TRUE(tess::vdac::hidReports().empty());
  ASSERT_EQ(d->start(), ASE_OK);
  EXPECT_TRUE(h.waitForSwitches(3, 5000));
  EXPECT_EQ(d->stop(), ASE_OK);
  EXPECT_EQ(d->disposeBuffers(), ASE_OK);
}
