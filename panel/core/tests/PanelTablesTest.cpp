// The panel's vocabularies and rules: volume mapping, buffer buttons, device matching.
#include <gtest/gtest.h>

#include "PanelTables.h"

using namespace panel;

namespace {

TEST(PanelVolume, SliderAndLevelMapBothWays) {
  // A range of -60..0 dB as a USB volume unit reports it.
  EXPECT_FLOAT_EQ(levelFromSlider(0, -60.0f, 0.0f), 0.0f) << "value 0 is the loudest end";
  EXPECT_FLOAT_EQ(levelFromSlider(100, -60.0f, 0.0f), -60.0f);
  EXPECT_FLOAT_EQ(levelFromSlider(50, -60.0f, 0.0f), -30.0f);
  const struct {
    float level;
    int value;
  } cases[] = {
      {0.0f, 0}, {-60.0f, 100}, {-30.0f, 50}, {-0.3f, 1},  // less than 1/100 below the maximum shows as 1
      {-0.6f, 1}, {-0.61f, 2}, {-59.99f, 100},
  };
  for (const auto& c : cases) EXPECT_EQ(sliderFromLevel(c.level, -60.0f, 0.0f), c.value) << c.level;
  for (int v = 0; v <= 100; v += 10) EXPECT_EQ(sliderFromLevel(levelFromSlider(v, -60.0f, 0.0f), -60.0f, 0.0f), v);
  EXPECT_EQ(sliderFromLevel(-10.0f, 0.0f, 0.0f), 0) << "an empty range divides by nothing";
}

TEST(PanelAsio, StoredBufferSizeShowsAtTheNextLongerButton) {
  const struct {
    uint32_t bufferSize;
    int index;
  } cases[] = {
      {0, 0}, {10, 0}, {30, 0}, {31, 1}, {100, 3}, {101, 4}, {1000, 8}, {1001, -1}, {6000, -1}, {6001, -1},
  };
  for (const auto& c : cases) EXPECT_EQ(asioBufferButtonIndex(c.bufferSize), c.index) << c.bufferSize;
}

TEST(PanelTables, RateAndWidthIndices) {
  EXPECT_EQ(panelRateIndex(384000), 0);
  EXPECT_EQ(panelRateIndex(44100), kDefaultRateIndex);
  EXPECT_EQ(panelRateIndex(22050), -1);
  EXPECT_EQ(panelBitsIndex(16), kDefaultBitsIndex);
  EXPECT_EQ(panelBitsIndex(20), -1);
  EXPECT_STREQ(kPlayRateButtons[4], "BTN_P_96K");
  EXPECT_STREQ(kRecordBitButtons[1], "BTN_R_24B");
}

TEST(PanelDeviceMatch, InterfaceNamesEndpointStringsAndFilterPaths) {
  EXPECT_EQ(usbInterfacePattern(0x1209, 0x0007), "USB#VID_1209&PID_0007");
  EXPECT_EQ(endpointPattern(0x1209, 0x0008, 1), "VID_1209&PID_0008&MI_01");
  EXPECT_TRUE(containsIgnoringCase("\\\\?\\usb#vid_1209&pid_0007#5&1a&0&1#{a5dcbf10-6530-11d2-901f-00c04fb951ed}",
                                   usbInterfacePattern(0x1209, 0x0007)));
  EXPECT_TRUE(containsIgnoringCase("{1}.USB\\vid_1209&pid_0007&mi_01\\6&2f&0&0001", endpointPattern(0x1209, 7, 1)))
      << "lower-case instance strings match";
  EXPECT_FALSE(containsIgnoringCase("{1}.USB\\VID_1209&PID_0007&MI_02\\6", endpointPattern(0x1209, 7, 1)));
  FilterIdentity id = filterIdentity("\\\\?\\usb#vid_1209&pid_0008&mi_01#6&2f#{6994ad04-93ef-11d0-a3cc-00a0c9223196}");
  EXPECT_TRUE(id.ok);
  EXPECT_EQ(id.vendorId, 0x1209);
  EXPECT_EQ(id.productId, 0x0008);
  EXPECT_FALSE(filterIdentity("\\\\?\\usb#vid_1209&pid_0008#6&2f").ok) << "no MI_";
  EXPECT_FALSE(filterIdentity("\\\\?\\hdaudio#func_01&ven_10ec").ok);
  EXPECT_FALSE(filterIdentity(nullptr).ok);
}

}  // namespace
