#include "ButtonLook.h"
#include "LabelLayout.h"
#include "SkinPages.h"
#include "SkinTables.h"
#include "SliderScale.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

namespace skin {
namespace {

TEST(SkinTables, RowsAsShipped) {
  std::set<std::string> names;
  for (const SkinButtonDef& b : kSkinButtons) {
    names.insert(b.name);
    EXPECT_EQ(b.pageMask, 1u) << b.name;
    EXPECT_EQ(b.checkMode != 0, std::strcmp(b.name, "BTN_HIDE") != 0) << b.name;
    EXPECT_GT(b.rect.width, 0);
    EXPECT_LE(b.rect.left + b.rect.width, 299) << b.name;
    EXPECT_LE(b.rect.top + b.rect.height, 640) << b.name;
  }
  for (const SkinLabelDef& l : kSkinLabels) {
    names.insert(l.name);
    EXPECT_STREQ(l.fontFace, "Arial");
    EXPECT_EQ(l.bold, 1);
    EXPECT_EQ(l.upright, 0);
  }
  for (const SkinSliderDef& s : kSkinSliders) {
    names.insert(s.name);
    EXPECT_EQ(s.pageMask, 0u);
    EXPECT_EQ(s.initialPosition, 50);
  }
  EXPECT_EQ(names.size(), kSkinButtonCount + kSkinLabelCount + kSkinSliderCount) << "names are unique";

  EXPECT_STREQ(kSkinButtons[0].name, "BTN_HIDE");
  EXPECT_STREQ(kSkinButtons[1].name, "BTN_P_32K");
  EXPECT_STREQ(kSkinButtons[15].name, "BTN_R_32K");
  EXPECT_STREQ(kSkinButtons[42].name, "BTN_RMCT_START_SVR");
  EXPECT_EQ(kSkinButtons[7].rect.top, 205);   // BTN_P_192K
  EXPECT_EQ(kSkinButtons[21].rect.top, 204);  // BTN_R_192K
  EXPECT_STREQ(kSkinButtons[21].name, "BTN_R_192K");
  EXPECT_EQ(kSkinLabels[0].colour, 0x00EF3D10u);
  EXPECT_EQ(kSkinLabels[9].fontHeight, -16);
}

TEST(ButtonLook, TableOfStates) {
  using L = ButtonLook;
  struct Case {
    const char* what;
    ButtonState state;  // checkMode, checked, hover, selected, disabled, shown
    ButtonLook look;
  };
  const Case cases[] = {
      {"push: checked, no hover", {false, true, false, false, false, true}, L::Pressed},
      {"push: checked and hovered is hover", {false, true, true, false, false, true}, L::Hover},
      {"push: selected", {false, false, true, true, false, true}, L::Pressed},
      {"push: hovered (Hide)", {false, false, true, false, false, true}, L::Hover},
      {"push: disabled", {false, false, false, false, true, true}, L::Disabled},
      {"push: plain", {false, false, false, false, false, true}, L::Normal},
      {"push: not shown", {false, false, false, false, false, false}, L::Base},
      {"two-state: not shown beats everything", {true, true, true, true, true, false}, L::Base},
      {"two-state: disabled beats checked", {true, true, false, false, true, true}, L::Disabled},
      {"two-state: checked and hovered is pressed", {true, true, true, false, false, true}, L::Pressed},
      {"two-state: hovered", {true, false, true, false, false, true}, L::Hover},
      {"two-state: selected alone is normal", {true, false, false, true, false, true}, L::Normal},
      {"two-state: plain", {true, false, false, false, false, true}, L::Normal},
  };
  for (const Case& c : cases) EXPECT_EQ(selectButtonLook(c.state), c.look) << c.what;
}

TEST(LabelLayout, VisibleCountAndOverflow) {
  struct Case {
    int clientWidth, textWidth;
    std::size_t length;
    int visible;
    bool overflow;
  };
  const Case cases[] = {
      {84, 30, 4, 4, false},     // fits: all of it, centred
      {84, 84, 14, 14, false},   // exactly fits
      {84, 85, 14, 13, true},    // one pixel too wide scrolls
      {274, 300, 45, 42, true},  // 45 * 274 / 300 = 41, plus one
      {274, 200, 45, 45, false},
      {0, 12, 1, 0, true},
      {90, 0, 20, 20, false},  // a text that measures nothing is taken to fit
      {90, 0, 0, 0, false},
  };
  for (const Case& c : cases) {
    const LabelLayout l = layoutLabel(c.clientWidth, c.textWidth, c.length);
    EXPECT_EQ(l.visibleCount, c.visible) << c.clientWidth << "/" << c.textWidth;
    EXPECT_EQ(l.overflow, c.overflow) << c.clientWidth << "/" << c.textWidth;
  }
}

TEST(LabelLayout, LinesAtOffsets) {
  struct Case {
    const char* text;
    std::size_t offset;
    int visible;
    const char* line;
    bool centred;
  };
  const Case cases[] = {
      {"PCM", 0, 10, "PCM", true},
      {"", 0, 10, "", true},
      {"ABCDEFGH", 0, 8, "ABCDEFGH", true},
      {"ABCDEFGH", 0, 5, "ABCDEFGH", false},  // overflowing, offset 0: as it is
      {"ABCDEFGH", 3, 5, "DEFGH", false},     // enough left: nothing appended
      {"ABCDEFGH", 5, 5, "FGH ** ABCDEFGH", false},
      {"ABCDEFGH", 8, 5, " ** ABCDEFGH", false},
      {"ABCDEFGH", 9, 5, " ** ABCDEFGH", false},  // past the end: only the repeat
      {"ABCDEFGH", 7, 7, "H ** ABCDEFGH", false},
      {"ABC", 2, 0, "C", false},
  };
  for (const Case& c : cases) {
    const LabelLine l = composeLabelLine(c.text, c.offset, c.visible);
    EXPECT_EQ(l.text, c.line) << c.text << " @" << c.offset;
    EXPECT_EQ(l.centred, c.centred) << c.text << " @" << c.offset;
  }
}

TEST(LabelLayout, MarqueeWrapsPastTheEnd) {
  EXPECT_EQ(nextMarqueeOffset(0, 5), 1u);
  EXPECT_EQ(nextMarqueeOffset(4, 5), 5u);
  EXPECT_EQ(nextMarqueeOffset(5, 5), 0u);
  EXPECT_EQ(nextMarqueeOffset(0, 0), 0u);
}

TEST(SliderScale, ValuesAndPositions) {
  struct Case {
    int value, position;
  };
  for (const Case& c : {Case{30, 70}, Case{0, 100}, Case{100, 0}, Case{50, 50}}) {
    EXPECT_EQ(sliderPositionFromValue(c.value), c.position);
    EXPECT_EQ(sliderValueFromPosition(c.position), c.value);
  }
}

TEST(SliderScale, ThumbFollowsTheTrackbarThumb) {
  struct Case {
    bool horizontal;
    PixelRect trackbar;
    PixelRect expected;
  };
  const Case cases[] = {
      {true, {60, 2, 71, 16}, {61, 0, 69, 16}},   // centre 65, bitmap 8 wide
      {true, {0, 2, 4, 16}, {-2, 0, 6, 16}},      // at the start the bitmap may stick out
      {false, {2, 40, 16, 50}, {0, 37, 8, 53}},   // centre 45, bitmap 16 high
      {false, {2, 0, 16, 6}, {0, 0, 8, 16}},      // never above the top
  };
  for (const Case& c : cases) {
    const PixelRect r = sliderThumbRect(c.horizontal, c.trackbar, 8, 16);
    EXPECT_EQ(r.left, c.expected.left);
    EXPECT_EQ(r.top, c.expected.top);
    EXPECT_EQ(r.right, c.expected.right);
    EXPECT_EQ(r.bottom, c.expected.bottom);
  }
}

TEST(SkinPages, OffsetFromLowestPageBit) {
  EXPECT_EQ(pageOffset(0, 641), 0);
  EXPECT_EQ(pageOffset(1, 641), 0);
  EXPECT_EQ(pageOffset(4, 641), 2 * 641);
  EXPECT_EQ(pageOffset(6, 641), 641);
  EXPECT_EQ(pageOffset(0x80000000u, 10), 310);
  EXPECT_TRUE(onFirstPage(1));
  EXPECT_FALSE(onFirstPage(0));
  EXPECT_FALSE(onFirstPage(2));
}

}  // namespace
}  // namespace skin
