#include "Faces.h"

#include <cstring>
#include <stdexcept>
#include <string>

#include "SkinGeometry.h"
#include "SkinMask.h"
#include "SkinTables.h"

namespace skinart {

namespace {

// Palette: a light panel so that the labels' red and blue text reads well.
const Colour kOutline = rgb(0x5E6B7C);
const Colour kBodyTop = rgb(0xE4E9EF);
const Colour kBodyBottom = rgb(0xD2D9E2);
const Colour kHeaderTop = rgb(0x2A4466);
const Colour kHeaderBottom = rgb(0x1B2D46);
const Colour kCard = rgb(0xFBFCFD);  // flat: slider thumbs sit on it
const Colour kCardBorder = rgb(0xC9D1DC);
const Colour kShadow = rgb(0x44526A);
const Colour kHeading = rgb(0x3D4E66);
const Colour kCaption = rgb(0x6A7990);
const Colour kRule = rgb(0xDCE2EA);
const Colour kInset = rgb(0xEEF2F6);
const Colour kInsetBorder = rgb(0xC5CEDA);

// The layout around the element rectangles (which come from the skin's tables).
const Box kHeaderBar{0, 0, kMaskWidth, 33};
const Box kFormatsCard{3, 36, 296, 333};
const Box kAsioCard{3, 338, 296, 549};
const Box kRemoteCard{3, 553, 296, 613};
constexpr float kColumnDivider = 151.0f;

// On the title bar the Hide button is a ring: its fill, ring and glyph strengths per look.
struct HidePaint {
  float fill, ring, glyph;
  bool accentFill;
};

struct ButtonPaint {
  Colour fillTop, fillBottom, border, text, led;
  bool ledGlow;
  HidePaint hide;
};

const ButtonPaint kNormalPaint{rgb(0xFFFFFF), rgb(0xE8ECF1), rgb(0xAAB5C3), rgb(0x2C3849), rgb(0xBAC3CE), false,
                               {0.10f, 0.45f, 0.95f, false}};
const ButtonPaint kHoverPaint{rgb(0xF4F9FF), rgb(0xDCEAFD), rgb(0x3B7DDD), rgb(0x1452B5), rgb(0x8DB3EA), false,
                              {0.28f, 0.75f, 0.95f, false}};
const ButtonPaint kPressedPaint{rgb(0x4D90F2), rgb(0x2962CC), rgb(0x1C4A9E), rgb(0xFFFFFF), rgb(0x7DFFB0), true,
                                {1.0f, 0.0f, 0.95f, true}};
const ButtonPaint kDisabledPaint{rgb(0xF1F3F6), rgb(0xECEFF3), rgb(0xD5DBE3), rgb(0xB0B8C4), rgb(0xDDE1E7), false,
                                 {0.04f, 0.18f, 0.30f, false}};

Box boxOf(const skin::SkinRect& r) {
  return Box{static_cast<float>(r.left), static_cast<float>(r.top), static_cast<float>(r.left + r.width),
             static_cast<float>(r.top + r.height)};
}

bool isRateButton(const char* name) {
  const std::size_t n = std::strlen(name);
  return std::strncmp(name, "BTN_", 4) == 0 && n > 0 && name[n - 1] == 'K';
}

// Shrinks or condenses a caption until it fits the width.
TextStyle fitted(TextRenderer& text, const std::string& caption, TextStyle style, float width) {
  if (text.measure(caption, style) <= width) return style;
  style.font = style.font == Font::Bold ? Font::CondensedBold : Font::Condensed;
  while (text.measure(caption, style) > width && style.pixelSize > 6.0f) style.pixelSize -= 0.25f;
  return style;
}

void drawCard(Canvas& c, const Box& box) {
  c.shadowRoundRect(box.shifted(0, 1), 7, 3, kShadow, 0.10f);
  c.fillRoundRect(box, 7, kCardBorder);
  c.fillRoundRect(box.inset(1), 6, kCard);
}

void drawInset(Canvas& c, const skin::SkinRect& r) {
  const Box box = boxOf(r);
  c.fillRoundRect(box, 4, kInsetBorder);
  c.fillRoundRect(box.inset(1), 3, kInset);
  c.fillRoundRect(Box{box.left + 2, box.top + 1, box.right - 2, box.top + 2}, 0, rgb(0xDDE3EA), 0.8f);
}

const skin::SkinRect& labelRect(const char* name) {
  for (const skin::SkinLabelDef& l : skin::kSkinLabels)
    if (std::strcmp(l.name, name) == 0) return l.rect;
  throw std::logic_error(std::string("no label ") + name);
}

// Under each column, where the volume, mute and gang controls stay hidden: what the buttons
// set, in the card's own quiet style.
void drawFormatNotes(Canvas& c, TextRenderer& text, float left) {
  const Box note{left, 282, left + 132, 326};
  c.fillRoundRect(note, 5, kInsetBorder, 0.6f);
  c.fillRoundRect(note.inset(1), 4, kInset);
  const TextStyle small{Font::Regular, 8.0f, kCaption};
  text.drawLeft(c, "The format Windows uses for", Box{note.left + 8, note.top + 6, note.right - 4, note.top + 20}, small);
  text.drawLeft(c, "this device's shared mode", Box{note.left + 8, note.top + 21, note.right - 4, note.top + 35}, small);
  // The bit-depth column's empty lower part carries a legend of the rate buttons' light.
  const float x = left + 76, y = 176;
  c.fillCircle(x + 4, y + 5, 2.4f, rgb(0x7DFFB0));
  text.drawLeft(c, "in use", Box{x + 10, y - 2, x + 64, y + 12}, small);
}

void drawBackground(Canvas& c, TextRenderer& text) {
  // Outline colour everywhere, the body one pixel inside the window's shape.
  const Box window{0, 0, kMaskWidth, kMaskHeight};
  c.fillRoundRect(Box{0, 0, kFaceWidth, kFaceHeight}, 0, kOutline);
  c.fillRoundRectGradient(window.inset(1), kCornerRadius - 1, kBodyTop, kBodyBottom);

  // Title bar, square at its bottom edge.
  c.fillRoundRectGradient(Box{1, 1, kMaskWidth - 1.0f, kHeaderBar.bottom + 12}, kCornerRadius - 1, kHeaderTop,
                          mix(kHeaderTop, kHeaderBottom, 1.4f));
  c.fillRoundRect(Box{1, kHeaderBar.bottom, kMaskWidth - 1.0f, kHeaderBar.bottom + 13}, 0, kBodyTop);
  c.fillRoundRect(Box{1, kHeaderBar.bottom - 1, kMaskWidth - 1.0f, kHeaderBar.bottom}, 0, rgb(0x0F1B2C));
  c.fillRoundRect(Box{12, 2, kMaskWidth - 12.0f, 3}, 0, rgb(0xFFFFFF), 0.10f);
  const TextStyle brand{Font::Bold, 13.0f, rgb(0xFFFFFF)};
  const TextStyle product{Font::Regular, 12.0f, rgb(0xA8C3EA)};
  text.draw(c, "Tessaline", 13, 21, brand);
  text.draw(c, "USB Audio", 13 + text.measure("Tessaline", brand) + 5, 21, product);

  // Formats: playback and record columns.
  drawCard(c, kFormatsCard);
  c.fillRoundRect(Box{kColumnDivider, 44, kColumnDivider + 1, 326}, 0, kRule);
  const TextStyle heading{Font::Bold, 8.5f, kHeading, 0.9f};
  text.draw(c, "PLAYBACK", 12, 48, heading);
  text.draw(c, "RECORD", 158, 48, heading);
  c.fillCircle(12 + text.measure("PLAYBACK", heading) + 6, 45, 2.2f, rgb(0x3B7DDD));
  c.fillCircle(158 + text.measure("RECORD", heading) + 6, 45, 2.2f, rgb(0xE0443E));

  // ASIO driver.
  drawCard(c, kAsioCard);
  text.draw(c, "ASIO DRIVER", 14, 358, heading);
  c.fillRoundRect(Box{12, 366, 287, 367}, 0, kRule);
  const TextStyle caption{Font::Regular, 8.5f, kCaption};
  text.draw(c, "Buffer and width apply when the driver next starts", 14, 381,
            TextStyle{Font::Regular, 8.0f, rgb(0x8C99AB)});
  text.draw(c, "Device", 27, 401, caption);
  text.draw(c, "State", 189, 401, caption);
  drawInset(c, labelRect("TXT_ASIODEVICE"));
  drawInset(c, labelRect("TXT_ASIOSTATE"));
  text.drawLeft(c, "Sample width", Box{14, 435, 118, 451}, caption);
  // The 3 ms button is never shown: the row's caption takes its place.
  text.drawLeft(c, "Buffer length", Box{14, 459, 178, 473}, caption);
  drawInset(c, labelRect("TXT_ASIOPCM"));
  drawInset(c, labelRect("TXT_ASIOSTATUS"));

  // Remote control.
  drawCard(c, kRemoteCard);
  text.drawLeft(c, "Local IP", Box{14, 559, 92, 575}, caption);
  text.drawLeft(c, "Remote IP", Box{14, 591, 92, 607}, caption);
  drawInset(c, labelRect("TXT_LOCAL_IP"));
  drawInset(c, labelRect("TXT_REMOTE_IP"));
  c.fillRoundRect(Box{12, 582, 287, 583}, 0, kRule);

  // How the window goes and how the program ends: it lives in the tray.
  const TextStyle footer{Font::Regular, 8.0f, rgb(0x7D8BA0)};
  text.drawLeft(c, "Hide keeps it in the tray; Exit is in the tray menu", Box{12, 619, 240, 633}, footer);

  drawFormatNotes(c, text, 12);
  drawFormatNotes(c, text, 157);
}

void drawHideButton(Canvas& c, const Box& box, const ButtonPaint& paint) {
  const float cx = (box.left + box.right) / 2, cy = (box.top + box.bottom) / 2;
  const Colour white = rgb(0xFFFFFF);
  const HidePaint& look = paint.hide;
  c.fillCircle(cx, cy, 9.5f, white, look.ring);
  c.fillCircle(cx, cy, 8.5f, kHeaderTop);
  c.fillCircle(cx, cy, 8.5f, look.accentFill ? paint.fillBottom : white, look.fill);
  c.fillRoundRect(Box{cx - 4.5f, cy + 1.0f, cx + 4.5f, cy + 3.0f}, 1, white, look.glyph);
}

void drawButton(Canvas& c, TextRenderer& text, const skin::SkinButtonDef& def, const ButtonPaint& paint) {
  Box box = boxOf(def.rect);
  if (std::strcmp(def.name, "BTN_HIDE") == 0) {
    drawHideButton(c, box, paint);
    return;
  }
  // The four high rates have wider rectangles; drawn from the same left edge as the others,
  // the column reads as one.
  if (isRateButton(def.name) && def.rect.width > 63) box.left += static_cast<float>(def.rect.width - 63);
  // The server button's checked look is a state (running), not a call to act.
  const bool serverState = std::strcmp(def.name, "BTN_RMCT_START_SVR") == 0 && paint.ledGlow;
  const ButtonPaint& look = serverState ? kNormalPaint : paint;
  const float h = box.height();
  const float radius = h <= 16 ? h / 2 : (h <= 25 ? 5.0f : 9.0f);
  if (look.ledGlow) c.shadowRoundRect(box, radius, 2.5f, look.fillBottom, 0.25f);
  c.fillRoundRect(box, radius, look.border);
  c.fillRoundRectGradient(box.inset(1), radius - 1, look.fillTop, look.fillBottom);
  if (serverState) {
    const float ledX = box.left + 9, ledY = (box.top + box.bottom) / 2;
    c.fillCircle(ledX, ledY, 4.0f, rgb(0x2FBF71), 0.30f);
    c.fillCircle(ledX, ledY, 2.6f, rgb(0x2FBF71));
    text.drawCentred(c, "Server running", Box{box.left + 14, box.top + 2, box.right - 2, box.bottom - 2},
                     TextStyle{Font::Regular, 8.5f, rgb(0x1E6B43)});
    return;
  }

  Box textBox = box.inset(2);
  if (isRateButton(def.name)) {
    const float ledX = box.left + 7.5f, ledY = (box.top + box.bottom) / 2;
    if (paint.ledGlow) c.fillCircle(ledX, ledY, 4.0f, paint.led, 0.35f);
    c.fillCircle(ledX, ledY, 2.4f, paint.led);
    textBox.left = box.left + 12;
  }
  TextStyle style{Font::Regular, h <= 16 ? 8.5f : 10.5f, paint.text};
  if (h > 16) style.font = Font::Bold;
  std::string caption = def.caption;
  const std::size_t khz = caption.find("KHz");
  if (khz != std::string::npos) caption.replace(khz, 3, "kHz");
  if (h >= 40) {
    // Square tiles carry their caption in capitals, one word per line.
    style = TextStyle{Font::Bold, 8.0f, paint.text, 0.4f};
    std::string upper = caption;
    for (char& ch : upper) ch = static_cast<char>(ch >= 'a' && ch <= 'z' ? ch - 32 : ch);
    const std::size_t space = upper.find(' ');
    if (space == std::string::npos) {
      text.drawCentred(c, upper, textBox, style);
    } else {
      const float mid = (box.top + box.bottom) / 2;
      text.drawCentred(c, upper.substr(0, space), Box{textBox.left, mid - 11, textBox.right, mid - 1}, style);
      text.drawCentred(c, upper.substr(space + 1), Box{textBox.left, mid + 1, textBox.right, mid + 11}, style);
    }
    return;
  }
  text.drawCentred(c, caption, textBox, fitted(text, caption, style, textBox.width()));
}

void drawSliderTrack(Canvas& c, const skin::SkinRect& r, bool enabled) {
  const Box box = boxOf(r);
  const float mid = box.top + kThumbHeight / 2.0f;
  const Box groove{box.left + 4, mid - 2, box.right - 4, mid + 2};
  c.fillRoundRect(groove, 2, enabled ? rgb(0xB9C3CF) : rgb(0xE0E4EA));
  c.fillRoundRect(groove.inset(1), 1, enabled ? rgb(0xD3DAE3) : rgb(0xECEFF3));
  for (int i = 0; i <= 10; ++i) {
    const float x = groove.left + 2 + (groove.width() - 4) * i / 10.0f;
    c.fillRoundRect(Box{x - 0.5f, box.bottom - 3, x + 0.5f, box.bottom - 1}, 0,
                    enabled ? rgb(0xB9C3CF) : rgb(0xE3E7EC));
  }
}

}  // namespace

Faces drawFaces(TextRenderer& text) {
  Canvas base(kFaceWidth, kFaceHeight, kOutline);
  drawBackground(base, text);
  Faces faces{base, base, base, base, base};
  for (const skin::SkinButtonDef& def : skin::kSkinButtons) {
    drawButton(faces.normal, text, def, kNormalPaint);
    drawButton(faces.hover, text, def, kHoverPaint);
    drawButton(faces.pressed, text, def, kPressedPaint);
    drawButton(faces.disabled, text, def, kDisabledPaint);
  }
  for (const skin::SkinSliderDef& def : skin::kSkinSliders) {
    drawSliderTrack(faces.normal, def.rect, true);
    drawSliderTrack(faces.disabled, def.rect, false);
  }
  return faces;
}

Canvas drawThumb(ThumbLook look) {
  Canvas thumb(kThumbWidth, kThumbHeight, kCard);
  const Box box{0, 0, kThumbWidth, kThumbHeight};
  Colour top = rgb(0xFFFFFF), bottom = rgb(0xD3DAE3), border = rgb(0x74839A), grip = rgb(0x8F9CAE);
  if (look == ThumbLook::Held) top = rgb(0x5C9CF5), bottom = rgb(0x2A62CB), border = rgb(0x1C4A9E), grip = rgb(0xCFE0FF);
  if (look == ThumbLook::Disabled) top = rgb(0xF3F5F8), bottom = rgb(0xEBEEF2), border = rgb(0xCBD2DB), grip = rgb(0xD5DBE3);
  thumb.fillRoundRect(box, 2.5f, border);
  thumb.fillRoundRectGradient(box.inset(1), 1.5f, top, bottom);
  for (float y : {6.0f, 8.0f, 10.0f}) thumb.fillRoundRect(Box{2, y, 6, y + 1}, 0, grip);
  return thumb;
}

}  // namespace skinart
