#include "TextRenderer.h"

#include <ft2build.h>
#include FT_FREETYPE_H

#include <cmath>
#include <stdexcept>

namespace skinart {

namespace {
const char* const kFontFiles[] = {"DejaVuSans.ttf", "DejaVuSans-Bold.ttf", "DejaVuSansCondensed.ttf",
                                  "DejaVuSansCondensed-Bold.ttf"};
constexpr int kFontCount = 4;
}  // namespace

struct TextRenderer::Impl {
  FT_Library library = nullptr;
  FT_Face faces[kFontCount] = {};

  ~Impl() {
    for (FT_Face f : faces)
      if (f) FT_Done_Face(f);
    if (library) FT_Done_FreeType(library);
  }

  FT_Face select(const TextStyle& style) {
    FT_Face face = faces[static_cast<int>(style.font)];
    // 26.6 fixed point at 72 dpi: the size is in pixels, fractions allowed.
    if (FT_Set_Char_Size(face, 0, static_cast<FT_F26Dot6>(std::lround(style.pixelSize * 64.0f)), 72, 72))
      throw std::runtime_error("cannot size font");
    return face;
  }

  // Walks the text's glyphs; visit(face, glyph slot, pen x) for each rendered glyph.
  template <typename Visit>
  float layout(const std::string& text, const TextStyle& style, bool render, Visit visit) {
    FT_Face face = select(style);
    float pen = 0.0f;
    FT_UInt previous = 0;
    for (unsigned char ch : text) {
      const FT_UInt glyph = FT_Get_Char_Index(face, ch);
      if (previous && glyph && FT_HAS_KERNING(face)) {
        FT_Vector kern;
        if (!FT_Get_Kerning(face, previous, glyph, FT_KERNING_UNFITTED, &kern)) pen += kern.x / 64.0f;
      }
      const FT_Int32 flags = FT_LOAD_TARGET_LIGHT | (render ? FT_LOAD_RENDER : 0);
      if (FT_Load_Glyph(face, glyph, flags)) throw std::runtime_error("cannot load glyph");
      if (render) visit(face->glyph, pen);
      pen += face->glyph->linearHoriAdvance / 65536.0f + style.letterSpacing;
      previous = glyph;
    }
    return pen - (text.empty() ? 0.0f : style.letterSpacing);
  }
};

TextRenderer::TextRenderer(const std::string& fontDir) : impl_(std::make_unique<Impl>()) {
  if (FT_Init_FreeType(&impl_->library)) throw std::runtime_error("FreeType does not start");
  for (int i = 0; i < kFontCount; ++i) {
    const std::string path = fontDir + "/" + kFontFiles[i];
    if (FT_New_Face(impl_->library, path.c_str(), 0, &impl_->faces[i]))
      throw std::runtime_error("cannot open font " + path);
  }
}

TextRenderer::~TextRenderer() = default;

float TextRenderer::measure(const std::string& text, const TextStyle& style) {
  return impl_->layout(text, style, false, [](FT_GlyphSlot, float) {});
}

float TextRenderer::capHeight(const TextStyle& style) {
  FT_Face face = impl_->select(style);
  if (FT_Load_Char(face, 'H', FT_LOAD_TARGET_LIGHT)) throw std::runtime_error("cannot load glyph");
  return face->glyph->metrics.horiBearingY / 64.0f;
}

void TextRenderer::draw(Canvas& canvas, const std::string& text, float x, float baseline,
                        const TextStyle& style) {
  // Whole-pixel origin keeps hinted stems sharp.
  const int ox = static_cast<int>(std::lround(x));
  const int oy = static_cast<int>(std::lround(baseline));
  impl_->layout(text, style, true, [&](FT_GlyphSlot slot, float pen) {
    const FT_Bitmap& bm = slot->bitmap;
    const int left = ox + static_cast<int>(std::lround(pen)) + slot->bitmap_left;
    const int top = oy - slot->bitmap_top;
    for (unsigned row = 0; row < bm.rows; ++row) {
      for (unsigned col = 0; col < bm.width; ++col) {
        const uint8_t coverage = bm.buffer[row * static_cast<unsigned>(bm.pitch) + col];
        if (coverage) {
          // A light gamma lift keeps small anti-aliased text from looking thin.
          const float a = std::pow(coverage / 255.0f, 0.8f);
          canvas.blend(left + static_cast<int>(col), top + static_cast<int>(row), style.colour, a);
        }
      }
    }
  });
}

void TextRenderer::drawCentred(Canvas& canvas, const std::string& text, const Box& box,
                               const TextStyle& style) {
  const float w = measure(text, style);
  const float baseline = (box.top + box.bottom) / 2 + capHeight(style) / 2;
  draw(canvas, text, (box.left + box.right - w) / 2, std::floor(baseline), style);
}

void TextRenderer::drawLeft(Canvas& canvas, const std::string& text, const Box& box, const TextStyle& style) {
  const float baseline = (box.top + box.bottom) / 2 + capHeight(style) / 2;
  draw(canvas, text, box.left, std::floor(baseline), style);
}

void TextRenderer::drawRight(Canvas& canvas, const std::string& text, const Box& box, const TextStyle& style) {
  const float baseline = (box.top + box.bottom) / 2 + capHeight(style) / 2;
  draw(canvas, text, box.right - measure(text, style), std::floor(baseline), style);
}

}  // namespace skinart
