// Anti-aliased text on a canvas, rendered by FreeType from the DejaVu fonts.
#pragma once

#include <memory>
#include <string>

#include "Canvas.h"

namespace skinart {

enum class Font { Regular, Bold, Condensed, CondensedBold };

struct TextStyle {
  Font font;
  float pixelSize;        // em size in pixels
  Colour colour;
  float letterSpacing = 0.0f;  // extra pixels after each character
};

class TextRenderer {
 public:
  // Loads the four faces from fontDir; throws std::runtime_error naming what failed.
  explicit TextRenderer(const std::string& fontDir);
  ~TextRenderer();
  TextRenderer(const TextRenderer&) = delete;
  TextRenderer& operator=(const TextRenderer&) = delete;

  float measure(const std::string& text, const TextStyle& style);
  float capHeight(const TextStyle& style);  // height of "H" above the baseline

  // Draws text with its baseline at y, starting at x.
  void draw(Canvas& canvas, const std::string& text, float x, float baseline, const TextStyle& style);
  // Centres text in box, optical centre on the capital height.
  void drawCentred(Canvas& canvas, const std::string& text, const Box& box, const TextStyle& style);
  // Left-aligned, vertically centred in box.
  void drawLeft(Canvas& canvas, const std::string& text, const Box& box, const TextStyle& style);
  void drawRight(Canvas& canvas, const std::string& text, const Box& box, const TextStyle& style);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace skinart
