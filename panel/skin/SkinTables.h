// The skin's element tables: every button, label and slider of the control panel, by name.
// Portable (no Windows header): the records are fixed-width so that they read like resources.
#pragma once

#include <cstddef>
#include <cstdint>

namespace skin {

inline constexpr std::size_t kNameLength = 64;

struct SkinRect {
  int32_t left, top, width, height;
};

struct SkinButtonDef {
  char name[kNameLength];
  uint32_t pageMask;
  SkinRect rect;
  char caption[kNameLength];  // tooltip text
  int32_t checkMode;          // non-zero: two-state look
};

struct SkinLabelDef {
  char name[kNameLength];
  uint32_t pageMask;
  char fontFace[kNameLength];
  int32_t bold;
  int32_t upright;  // 0: italic
  int32_t fontHeight;  // LOGFONT height: negative is the character height in pixels
  uint32_t colour;     // 0x00BBGGRR
  SkinRect rect;
  char text[kNameLength];
  char spareText[kNameLength];  // read with the row, never used
};

struct SkinSliderDef {
  char name[kNameLength];
  uint32_t pageMask;
  int32_t thumbNormal, thumbHeld, thumbDisabled;  // bitmap resource ids
  SkinRect rect;
  int32_t horizontal;
  int32_t initialPosition;
};

inline constexpr std::size_t kSkinButtonCount = 43;
inline constexpr std::size_t kSkinLabelCount = 10;
inline constexpr std::size_t kSkinSliderCount = 4;

extern const SkinButtonDef kSkinButtons[kSkinButtonCount];
extern const SkinLabelDef kSkinLabels[kSkinLabelCount];
extern const SkinSliderDef kSkinSliders[kSkinSliderCount];

}  // namespace skin
