// Packet sizes, and the engine's period timeline replayed through the index arithmetic:
// output of switch m leaves two periods later, capture of period m reaches switch m.
#include <gtest/gtest.h>

#include <vector>

#include "PacketMath.h"

namespace tess::fmt {
namespace {

TEST(PacketMath, SizesAtPcmAndDsdRates) {
  struct Case {
    uint32_t bufferSize, width, rate;
    uint32_t frames;
    uint64_t hostBytes, stereoPacketBytes;
  };
  for (Case c : {Case{512, 16, 44100, 512, 1024, 2048}, Case{441, 24, 44100, 441, 1323, 2646},
                 Case{2048, 32, 384000, 2048, 8192, 16384},
                 Case{2048, 32, kDsd64, 64, 256, 512},  // 2048 DSD samples = 256 host bytes
                 Case{4096, 32, kDsd256, 128, 512, 1024},
                 Case{100, 32, kDsd128, 3, 12, 24},  // not a multiple of 32: whole containers
                 Case{0, 24, 48000, 0, 0, 0}}) {
    uint32_t deviceWidth = isDsdRate(c.rate) ? 32 : c.width;
    EXPECT_EQ(packetFrames(c.bufferSize, c.rate), c.frames) << c.bufferSize << "@" << c.rate;
    EXPECT_EQ(hostHalfBytes(c.bufferSize, c.width, c.rate), c.hostBytes);
    EXPECT_EQ(packetBytes(deviceWidth, 2, c.frames), c.stereoPacketBytes);
    EXPECT_LE(packetBytes(deviceWidth, 1, c.frames), c.hostBytes) << "packet never outruns host";
  }
  EXPECT_EQ(packetBytes(32, 8, 0xFFFFFFFFu), uint64_t{32} * 8 * 0xFFFFFFFFu / 8) << "no overflow";
  EXPECT_EQ(periodIndex(12345, 0), 0u);
}

TEST(PacketMath, TimelineOfOnePumpRun) {
  const uint32_t bs = 256;
  std::vector<int> renderTag(kPacketsPerPin, -1);  // which switch's output a packet holds
  std::vector<int> hostInput(2, -1);               // which period's capture a half holds
  uint64_t pos = 0, switches = 0;
  for (uint32_t j = 0; j < kPeriodsInFlight; ++j) ASSERT_TRUE(isPrimedPacket(j));
  ASSERT_FALSE(isPrimedPacket(kPeriodsInFlight));

  for (int m = 0; m < 40; ++m) {
    const uint32_t completed = static_cast<uint32_t>(m) & 7;
    // What the device plays now was written two switches earlier (primed silence before).
    EXPECT_EQ(renderTag[completed], m >= 2 ? m - 2 : -1) << "period " << m;
    renderTag[completed] = -1;

    // Capture completion, before the step: the completed packet into its own half.
    if (inputCopyDue(static_cast<uint64_t>(m))) hostInput[inputHalf(completed)] = m;
    // Period step.
    if (switches != 0) pos += bs;
    EXPECT_EQ(packetToSubmit(pos, bs), (completed + 2) & 7) << "read queued two ahead";
    const uint32_t half = completed & 1;
    ++switches;
    EXPECT_EQ(pos, uint64_t(m) * bs) << "switch " << m << " reports one buffer more";
    EXPECT_EQ(half, static_cast<uint32_t>(m) & 1);
    EXPECT_EQ(hostInput[half], m >= 2 ? m : -1) << "capture of period m reaches switch m";
    // The host fills the half; outputReady copies it.
    EXPECT_EQ(outputHalf(pos, bs), half);
    renderTag[outputPacket(pos, bs)] = m;
    EXPECT_EQ(packetToSubmit(pos, bs), outputPacket(pos, bs)) << "the write that follows";
    hostInput[half] = -1;
  }
}

TEST(PacketMath, WaitListNumbering) {
  EXPECT_EQ(kWaitHandles, 52u);
  for (uint32_t x = 0; x < kControlEvents; ++x) {
    WaitEntry e = decodeWaitIndex(x);
    EXPECT_EQ(e.kind, WaitEntry::kControl);
    EXPECT_EQ(e.index, x);
  }
  for (uint32_t slot = 0; slot < kPinSlots; ++slot)
    for (uint32_t p = 0; p < kPacketsPerPin; ++p) {
      WaitEntry r = decodeWaitIndex(renderWaitIndex(slot, p));
      EXPECT_EQ(r.kind, WaitEntry::kRender);
      EXPECT_EQ(r.index, slot);
      EXPECT_EQ(r.packet, p);
      EXPECT_EQ(r.half, p & 1);
      WaitEntry c = decodeWaitIndex(captureWaitIndex(slot, p));
      EXPECT_EQ(c.kind, WaitEntry::kCapture);
      EXPECT_EQ(c.index, slot);
      EXPECT_EQ(c.packet, p);
    }
  EXPECT_EQ(renderWaitIndex(0, 0), 4u);
  EXPECT_EQ(captureWaitIndex(0, 0), 28u);
  EXPECT_EQ(decodeWaitIndex(52).kind, WaitEntry::kInvalid);
  EXPECT_EQ(decodeWaitIndex(0xFFFFFFFF).kind, WaitEntry::kInvalid);
}

TEST(PacketMath, PeriodGateWaitsForEveryPinOfEveryDirection) {
  PeriodGate gate;
  gate.reset(/*render*/ 0b101, /*capture*/ 0b001);
  EXPECT_EQ(gate.activeDirections(), 3u);
  EXPECT_FALSE(gate.renderDone(0, 0, true).pinsComplete);
  auto r = gate.renderDone(2, 0, true);
  EXPECT_TRUE(r.pinsComplete);
  EXPECT_FALSE(r.periodDue) << "capture of half 0 still missing";
  EXPECT_FALSE(gate.captureDone(0, 1, true).periodDue) << "other half";
  auto c = gate.captureDone(0, 0, true);
  EXPECT_TRUE(c.pinsComplete);
  EXPECT_TRUE(c.periodDue);

  // Render-only: render completions alone make the period.
  gate.reset(0b001, 0);
  EXPECT_TRUE(gate.renderDone(0, 1, true).periodDue);

  // Completions while not running are counted off but make no period.
  gate.reset(0b001, 0b001);
  auto idle = gate.renderDone(0, 0, false);
  EXPECT_FALSE(idle.pinsComplete || idle.periodDue);
  EXPECT_FALSE(gate.captureDone(0, 0, true).periodDue) << "the idle render did not count";
  EXPECT_TRUE(gate.renderDone(0, 0, true).periodDue);
  EXPECT_FALSE(gate.renderDone(7, 0, true).pinsComplete) << "slot out of range ignored";
}

}  // namespace
}  // namespace tess::fmt
