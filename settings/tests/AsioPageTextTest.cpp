// The ASIO page's wording of the status block.
#include <gtest/gtest.h>

#include <cstring>

#include "AsioPageText.h"

using namespace tess;

namespace {

TEST(AsioPageText, StateWordsAndDeviceCaption) {
  const struct {
    uint32_t state;
    const char* word;
    const char* device;
  } cases[] = {
      {0, "UNLOAD", "Not Available"},           {1, "LOADED", "Not Available"},
      {2, "INITIALIZED", "USB Audio Device2"},  {3, "PREPARED", "USB Audio Device2"},
      {4, "RUNNING", "USB Audio Device2"},      {5, "UNLOAD", "Not Available"},
      {0xFFFFFFFF, "UNLOAD", "Not Available"},
  };
  for (const auto& c : cases) {
    EXPECT_STREQ(asioStateWord(c.state), c.word) << c.state;
    EXPECT_STREQ(asioDeviceCaption(c.state), c.device) << c.state;
  }
}

TEST(AsioPageText, StreamLineAndMode) {
  EXPECT_EQ(asioStreamLine(24, 48000, 480), "2 Channel, 24 bits, 48000 Hz, Buffer 10.0 ms");
  EXPECT_EQ(asioStreamLine(32, 88200, 882), "2 Channel, 32 bits, 88200 Hz, Buffer 10.0 ms");  // DSD64 carrier
  EXPECT_EQ(asioStreamLine(16, 44100, 128), "2 Channel, 16 bits, 44100 Hz, Buffer 2.9 ms");
  EXPECT_EQ(asioStreamLine(16, 0, 128), "2 Channel, 16 bits, 0 Hz, Buffer 0.0 ms");
  EXPECT_EQ(asioMode(0, 1, 1), AsioMode::Pcm);
  EXPECT_EQ(asioMode(2, 1, 1), AsioMode::Pcm) << "only 1 means DSD";
  EXPECT_EQ(asioMode(1, 0, 0), AsioMode::Dsd64);
  EXPECT_EQ(asioMode(1, 1, 1), AsioMode::Dsd128) << "DSD128 wins over DSD256";
  EXPECT_EQ(asioMode(1, 0, 1), AsioMode::Dsd256);
  EXPECT_STREQ(asioModeText(AsioMode::Dsd64), "DSD64");
  EXPECT_STREQ(asioModeText(AsioMode::Pcm), "PCM");
}

TEST(AsioPageText, ViewOfABlock) {
  alignas(4) unsigned char memory[kStatusBlockSize] = {};
  StatusBlockView block(memory);
  EXPECT_FALSE(readAsioPageView(block).valid) << "no magic, nothing shown";
  block.initialiseCreated();
  StatusBlockLayout* p = block.raw();
  p->state = kStateRunning;
  p->widthInUse = 24;
  p->rate = 48000;
  p->buffer = 480;
  p->dsd = 1;
  AsioPageView v = readAsioPageView(block);
  EXPECT_TRUE(v.running);
  EXPECT_STREQ(v.stateWord, "RUNNING");
  EXPECT_EQ(v.streamLine, "2 Channel, 24 bits, 48000 Hz, Buffer 10.0 ms");
  EXPECT_EQ(v.mode, AsioMode::Dsd64);
  p->state = kStatePrepared;
  v = readAsioPageView(block);
  EXPECT_FALSE(v.running);
  EXPECT_TRUE(v.streamLine.empty());
  EXPECT_STREQ(v.deviceCaption, "USB Audio Device2");
}

}  // namespace
