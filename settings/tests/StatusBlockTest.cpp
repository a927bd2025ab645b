// Field rules of the status block, on plain memory: ownership, claim and release,
// owner-only versus any-instance writes, and no access without the magic.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "StatusBlock.h"

using namespace tess;

namespace {

constexpr size_t kGuard = 64;
const Identity kFirst = {{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}};
const Identity kSecond = {{0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7, 0xA8, 0xA9, 0xAA, 0xAB, 0xAC, 0xAD,
                           0xAE, 0xAF}};

// 340 bytes between two guard areas, so any stray access shows.
struct GuardedBlock {
  alignas(8) uint8_t bytes[kGuard + kStatusBlockSize + kGuard];
  GuardedBlock() { std::memset(bytes, 0xCD, sizeof bytes); }
  void* block() { return bytes + kGuard; }
  StatusBlockView view() { return StatusBlockView(block()); }
  bool guardsIntact() const {
    for (size_t i = 0; i < kGuard; ++i)
      if (bytes[i] != 0xCD || bytes[kGuard + kStatusBlockSize + i] != 0xCD) return false;
    return true;
  }
};

struct CreatedBlock : GuardedBlock {
  CreatedBlock() { view().initialiseCreated(); }
};

}  // namespace

TEST(StatusBlock, CreatorZeroesAndWritesMagicInsideTheBlockOnly) {
  CreatedBlock b;
  StatusBlockView v = b.view();
  EXPECT_TRUE(v.valid());
  EXPECT_TRUE(v.free());
  EXPECT_EQ(v.field(0), kStatusBlockMagic);
  for (size_t off = 4; off < kStatusBlockSize; off += 4) EXPECT_EQ(v.field(off), 0u) << off;
  EXPECT_TRUE(b.guardsIntact());
}

TEST(StatusBlock, WithoutMagicNothingIsTouched) {
  GuardedBlock b;  // 0xCD everywhere: no magic
  StatusBlockView v = b.view();
  std::vector<uint8_t> before(b.bytes, b.bytes + sizeof b.bytes);
  BlockSettings s;
  EXPECT_FALSE(v.valid());
  EXPECT_FALSE(v.free());
  EXPECT_FALSE(v.ownedBy(kFirst));
  EXPECT_FALSE(v.loadSettingsOnce(s));
  EXPECT_FALSE(v.readSettings(s));
  EXPECT_FALSE(v.claim(kFirst));
  EXPECT_FALSE(v.release(kFirst));
  EXPECT_FALSE(v.publishDeviceName(kFirst, "x"));
  EXPECT_FALSE(v.publishState(kFirst, kStateRunning));
  EXPECT_FALSE(v.publishInit(kFirst, InitPublication{1, 2, 3, 4, 5}));
  EXPECT_FALSE(v.publishBuffers(kFirst, BuffersPublication{1, true, true, true, true}));
  EXPECT_FALSE(v.publishDisposed(kFirst));
  EXPECT_FALSE(v.publishDopDetected(kFirst, true));
  EXPECT_FALSE(v.takeResetRequest(kFirst));
  EXPECT_FALSE(v.publishRate(48000));
  EXPECT_FALSE(v.publishWidthInUse(32));
  EXPECT_FALSE(v.requestShowPanel());
  EXPECT_FALSE(v.setPanelSettings(30, 24));
  EXPECT_FALSE(v.requestReset());
  EXPECT_FALSE(v.takeChanged());
  EXPECT_FALSE(v.takeShowPanel());
  EXPECT_EQ(v.state(), 0u);
  char name[8] = "junk";
  v.deviceName(name, sizeof name);
  EXPECT_STREQ(name, "");
  EXPECT_EQ(std::memcmp(before.data(), b.bytes, sizeof b.bytes), 0);

  StatusBlockView none;  // no view at all
  EXPECT_FALSE(none.exists());
  EXPECT_FALSE(none.claim(kFirst));
  EXPECT_FALSE(none.publishRate(1));
  EXPECT_EQ(none.field(4), 0u);
}

TEST(StatusBlock, SettingsAreLoadedOnce) {
  CreatedBlock b;
  StatusBlockView v = b.view();
  EXPECT_TRUE(v.loadSettingsOnce(BlockSettings{30, 24, 0x1FF, 0xE}));
  EXPECT_TRUE(v.takeChanged());
  EXPECT_FALSE(v.loadSettingsOnce(BlockSettings{}));
  BlockSettings s;
  ASSERT_TRUE(v.readSettings(s));
  EXPECT_EQ(s.bufferSize, 30u);
  EXPECT_EQ(s.bitsPerSample, 24u);
  EXPECT_EQ(s.supportedRates, 0x1FFu);
  EXPECT_EQ(s.supportedWidths, 0xEu);
  EXPECT_EQ(v.field(8), 1u);
}

TEST(StatusBlock, ClaimOwnershipAndRelease) {
  CreatedBlock b;
  StatusBlockView v = b.view();
  ASSERT_TRUE(v.claim(kFirst));
  EXPECT_EQ(v.state(), uint32_t(kStateLoaded));
  EXPECT_TRUE(v.takeChanged());
  EXPECT_TRUE(v.ownedBy(kFirst));
  EXPECT_FALSE(v.ownedBy(kSecond));
  EXPECT_EQ(std::memcmp(v.owner().bytes, kFirst.bytes, 16), 0);
  EXPECT_EQ(std::memcmp(static_cast<uint8_t*>(b.block()) + 12, kFirst.bytes, 16), 0);

  // A second instance neither claims nor releases nor publishes owner fields.
  EXPECT_FALSE(v.claim(kSecond));
  EXPECT_FALSE(v.publishState(kSecond, kStateRunning));
  EXPECT_FALSE(v.publishInit(kSecond, InitPublication{100, 48000, 24, 0xE, 0x1FF}));
  EXPECT_FALSE(v.release(kSecond));
  EXPECT_FALSE(v.takeChanged());
  // ... but its any-instance writes land.
  EXPECT_TRUE(v.publishRate(96000));
  EXPECT_TRUE(v.publishWidthInUse(32));
  EXPECT_TRUE(v.requestShowPanel());
  EXPECT_EQ(v.field(48), 96000u);
  EXPECT_EQ(v.field(52), 32u);
  EXPECT_TRUE(v.takeShowPanel());
  EXPECT_TRUE(v.takeChanged());
  EXPECT_EQ(v.state(), uint32_t(kStateLoaded));

  ASSERT_TRUE(v.release(kFirst));
  EXPECT_EQ(v.state(), uint32_t(kStateUnload));
  EXPECT_TRUE(v.free());
  EXPECT_TRUE(v.takeChanged());
  EXPECT_TRUE(v.claim(kSecond));  // the next instance can claim it
  EXPECT_TRUE(b.guardsIntact());
}

TEST(StatusBlock, OwnerPublicationsFollowTheLifecycle) {
  CreatedBlock b;
  StatusBlockView v = b.view();
  ASSERT_TRUE(v.claim(kFirst));
  ASSERT_TRUE(v.publishInit(kFirst, InitPublication{100, 44100, 24, 0xFE, 0x1FF}));
  EXPECT_EQ(v.field(4), uint32_t(kStateInitialized));
  EXPECT_EQ(v.field(44), 100u);
  EXPECT_EQ(v.field(48), 44100u);
  EXPECT_EQ(v.field(52), 24u);
  EXPECT_EQ(v.field(56), 0x1FFu);
  EXPECT_EQ(v.field(60), 0xEu);  // low four bits of the capability mask

  ASSERT_TRUE(v.publishBuffers(kFirst, BuffersPublication{88, true, true, true, true}));
  EXPECT_EQ(v.field(4), uint32_t(kStatePrepared));
  EXPECT_EQ(v.field(44), 88u);
  for (size_t off : {320u, 324u, 328u, 332u}) EXPECT_EQ(v.field(off), 1u) << off;

  ASSERT_TRUE(v.publishDisposed(kFirst));
  EXPECT_EQ(v.field(4), uint32_t(kStateInitialized));
  EXPECT_EQ(v.field(320), 0u);
  EXPECT_EQ(v.field(324), 0u);
  EXPECT_EQ(v.field(328), 1u);  // DSD256 is left as it was
  EXPECT_EQ(v.field(332), 0u);

  ASSERT_TRUE(v.publishDopDetected(kFirst, true));
  EXPECT_EQ(v.field(320), 1u);
  EXPECT_EQ(v.field(324), 1u);
}

TEST(StatusBlock, ResetRequestIsTakenOnlyByTheOwnerAndWithoutChangedFlag) {
  CreatedBlock b;
  StatusBlockView v = b.view();
  ASSERT_TRUE(v.claim(kFirst));
  v.takeChanged();
  EXPECT_FALSE(v.takeResetRequest(kFirst));
  ASSERT_TRUE(v.requestReset());
  EXPECT_FALSE(v.takeResetRequest(kSecond));
  EXPECT_TRUE(v.takeResetRequest(kFirst));
  EXPECT_EQ(v.field(336), 0u);
  EXPECT_FALSE(v.takeChanged());
}

TEST(StatusBlock, DeviceNameIsBoundedAndTerminated) {
  CreatedBlock b;
  StatusBlockView v = b.view();
  ASSERT_TRUE(v.claim(kFirst));
  std::string longName(400, 'N');
  ASSERT_TRUE(v.publishDeviceName(kFirst, longName.c_str()));
  char out[300];
  v.deviceName(out, sizeof out);
  EXPECT_EQ(std::strlen(out), 255u);
  EXPECT_EQ(v.field(320), 0u);  // the DSD word after the name is untouched
  EXPECT_TRUE(b.guardsIntact());

  ASSERT_TRUE(v.publishDeviceName(kFirst, "Tessaline USB 2"));
  v.deviceName(out, sizeof out);
  EXPECT_STREQ(out, "Tessaline USB 2");
  char small[5];
  v.deviceName(small, sizeof small);
  EXPECT_STREQ(small, "Tess");
  EXPECT_FALSE(v.publishDeviceName(kSecond, "other"));
}

TEST(StatusBlock, FieldReadsStayInsideTheBlock) {
  CreatedBlock b;
  StatusBlockView v = b.view();
  EXPECT_EQ(v.field(336), 0u);
  EXPECT_EQ(v.field(340), 0u);
  EXPECT_EQ(v.field(2), 0u);
  EXPECT_EQ(v.field(size_t(-4)), 0u);
}
