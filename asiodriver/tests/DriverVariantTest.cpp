// What the two variants do alike at the edges of a run (a start refused before the
// buffers exist, a stop while periods are in progress) and where they differ by design:
// the channel group, and the Core Audio client's own refusals (a buffer other than the
// host's, a rate its capture endpoint refuses).
#include <cstring>
#include <string>

#include <windows.h>

#include "DriverFixture.h"
#include "SampleRates.h"

using namespace tess;
using host::DriverRef;
using host::Harness;
using host::Variant;

namespace {

std::string variantLabel(const ::testing::TestParamInfo<Variant>& info) { return host::variantName(info.param); }

class VariantTest : public DriverTest, public ::testing::WithParamInterface<Variant> {
 protected:
  // init at 48000 Hz, 24 bits.
  void init(DriverRef& d) {
    choose(100, 24);
    ASSERT_EQ(d.created, S_OK);
    ASSERT_EQ(d->init(nullptr), ASIOTrue);
    ASSERT_EQ(d->setSampleRate(48000), ASE_OK);
  }
};

}  // namespace

TEST_P(VariantTest, ChannelGroupIsThePinOrNone) {
  DriverRef d(host::freshClsid(), GetParam());
  init(d);
  for (ASIOBool input : {ASIOFalse, ASIOTrue}) {
    ASIOChannelInfo info{};
    info.isInput = input;
    ASSERT_EQ(d->getChannelInfo(&info), ASE_OK);
    // Through pins the group is the pin's id (render pin 0, capture pin 3); an endpoint has none.
    const int32_t expected = GetParam() == Variant::CoreAudio ? 0 : (input ? int32_t(vdac::kCapturePinId) : 0);
    EXPECT_EQ(info.channelGroup, expected) << int(input);
  }
}

TEST_P(VariantTest, AStartRefusedBeforeTheBuffersExistStartsNothingLater) {
  DriverRef d(host::freshClsid(), GetParam());
  init(d);
  EXPECT_EQ(d->start(), ASE_OK);  // nothing prepared: nothing to start
  Harness h;
  h.makeInfos(2, 2);
  ASSERT_EQ(h.create(d.driver, 480, 480 * 3), ASE_OK);
  // The buffers exist and nobody has started them: no switch may come.
  Sleep(300);
  EXPECT_EQ(h.switchCount.load(), 0u);
  EXPECT_EQ(block().field(offsetof(StatusBlockLayout, state)), uint32_t(kStatePrepared));
  ASSERT_EQ(d->start(), ASE_OK);
  ASSERT_TRUE(h.waitForSwitches(4, 5000));
  ASSERT_EQ(d->stop(), ASE_OK);
  ASSERT_EQ(d->disposeBuffers(), ASE_OK);
}

TEST_P(VariantTest, NoSwitchBeginsAfterStopIsCalled) {
  // A host whose switches take longer than a period: when stop comes, periods have
  // finished meanwhile and wait for the pump. None of them reaches the host.
  DriverRef d(host::freshClsid(), GetParam());
  init(d);
  Harness h;
  h.slowSwitchEvery = 1;
  h.slowSwitchMs = 3;
  h.makeInfos(2, 2);
  ASSERT_EQ(h.create(d.driver, 96, 96 * 3), ASE_OK);
  for (int run = 0; run < 10; ++run) {
    SCOPED_TRACE(run);
    h.stopCalled = false;
    const uint32_t before = h.switchCount.load();
    ASSERT_EQ(d->start(), ASE_OK);
    ASSERT_TRUE(h.waitForSwitches(before + 5, 5000));
    h.stopCalled = true;
    ASSERT_EQ(d->stop(), ASE_OK);
    const uint32_t stopped = h.switchCount.load();
    Sleep(20);
    EXPECT_EQ(h.switchCount.load(), stopped);
  }
  EXPECT_EQ(h.switchesAfterStop.load(), 0u);
  ASSERT_EQ(d->disposeBuffers(), ASE_OK);
}

INSTANTIATE_TEST_SUITE_P(Variants, VariantTest, ::testing::Values(Variant::KernelStreaming, Variant::CoreAudio),
                         variantLabel);

namespace {

// The Core Audio variant against endpoints shaped as the test asks.
class CoreAudioShapeTest : public DriverTest {
 protected:
  vdac::DacConfig dacConfig() override { return config; }
  void SetUp() override {}
  void use() { DriverTest::SetUp(); }
  vdac::DacConfig config;
};

}  // namespace

TEST_F(CoreAudioShapeTest, AClientBufferOtherThanTheHostsFailsCreateBuffersAndLeavesNothingOpen) {
  config.coreAudio.bufferFramesExtra = 16;  // the endpoint rounds the period up to its own size
  use();
  DriverRef d(host::freshClsid(), Variant::CoreAudio);
  choose(100, 24);
  ASSERT_EQ(d.created, S_OK);
  ASSERT_EQ(d->init(nullptr), ASIOTrue);
  const uint32_t handles = vdac::counters().openHandles;
  Harness h;
  h.makeInfos(2, 2);
  EXPECT_EQ(h.create(d.driver, 480, 480 * 3), ASE_InvalidParameter);
  char message[124];
  d->getErrorMessage(message);
  EXPECT_NE(std::strstr(message, "buffer size"), nullptr) << message;
  EXPECT_EQ(vdac::counters().openHandles, handles);  // no stream left open at the device
  EXPECT_EQ(block().field(offsetof(StatusBlockLayout, state)), uint32_t(kStateInitialized));
  EXPECT_EQ(d->start(), ASE_OK);  // not prepared: nothing starts
  EXPECT_EQ(d->disposeBuffers(), ASE_InvalidParameter);
  EXPECT_EQ(h.switchCount.load(), 0u);
}

TEST_F(CoreAudioShapeTest, ARateTheCaptureEndpointRefusesIsNotOffered) {
  config.coreAudio.captureRefusedRates = {88200};
  use();
  DriverRef d(host::freshClsid(), Variant::CoreAudio);
  ASSERT_EQ(d.created, S_OK);
  ASSERT_EQ(d->init(nullptr), ASIOTrue);
  const uint32_t mask = block().field(offsetof(StatusBlockLayout, supportedRates));
  EXPECT_EQ(mask & (1u << rateIndex(88200)), 0u);
  EXPECT_NE(mask & (1u << rateIndex(96000)), 0u);
  EXPECT_NE(mask & (1u << rateIndex(44100)), 0u);
  // Render still takes it: a host may stream output alone there.
  ASSERT_EQ(d->setSampleRate(88200), ASE_OK);
  int32_t inputs = -1, outputs = -1;
  ASSERT_EQ(d->getChannels(&inputs, &outputs), ASE_OK);
  EXPECT_EQ(inputs, 0);
  EXPECT_EQ(outputs, 2);
}

TEST_F(CoreAudioShapeTest, ACaptureEndpointGoneByInitFailsInitAndKeepsNothing) {
  use();
  DriverRef d(host::freshClsid(), Variant::CoreAudio);
  ASSERT_EQ(d.created, S_OK);  // bound with its capture endpoint
  vdac::DacConfig renderOnly;
  renderOnly.renderOnly = true;
  ASSERT_TRUE(vdac::useVirtualDac(renderOnly));  // the device now shows no capture endpoint
  const uint32_t objects = vdac::coreAudioObjects();
  EXPECT_EQ(d->init(nullptr), ASIOFalse);
  EXPECT_EQ(vdac::coreAudioObjects(), objects);  // every endpoint it had kept is released
  EXPECT_EQ(d->init(nullptr), ASIOFalse);        // and a second try finds the same
}
