#include <gtest/gtest.h>

#include "PanelText.h"

namespace asiohost {
namespace {

TEST(PanelText, StreamLineAndMode) {
  EXPECT_EQ(panelStreamLine(24, 48000, 480), "2 Channel, 24 bits, 48000 Hz, Buffer 10.0 ms");
  EXPECT_EQ(panelStreamLine(32, 88200, 882), "2 Channel, 32 bits, 88200 Hz, Buffer 10.0 ms");  // DSD64 carrier
  EXPECT_EQ(panelStreamLine(16, 44100, 128), "2 Channel, 16 bits, 44100 Hz, Buffer 2.9 ms");
  EXPECT_EQ(panelStreamLine(16, 0, 128), "2 Channel, 16 bits, 0 Hz, Buffer 0.0 ms");
  EXPECT_STREQ(panelMode(0, 1, 1), "PCM");
  EXPECT_STREQ(panelMode(1, 0, 0), "DSD64");
  EXPECT_STREQ(panelMode(1, 1, 1), "DSD128");
  EXPECT_STREQ(panelMode(1, 0, 1), "DSD256");
  EXPECT_STREQ(panelStateWord(4), "RUNNING");
  EXPECT_STREQ(panelStateWord(9), "UNKNOWN");
}

}  // namespace
}  // namespace asiohost
