// An RGB drawing surface with anti-aliased shapes, the ground of the skin artwork.
#pragma once

#include <cstdint>
#include <vector>

namespace skinart {

struct Colour {
  float r, g, b;  // 0..1
};

Colour rgb(uint32_t hex);  // 0xRRGGBB
Colour mix(Colour a, Colour b, float t);

struct Box {
  float left, top, right, bottom;
  float width() const { return right - left; }
  float height() const { return bottom - top; }
  Box inset(float d) const { return Box{left + d, top + d, right - d, bottom - d}; }
  Box shifted(float dx, float dy) const { return Box{left + dx, top + dy, right + dx, bottom + dy}; }
};

class Canvas {
 public:
  Canvas(int width, int height, Colour fill);

  int width() const { return width_; }
  int height() const { return height_; }
  Colour at(int x, int y) const { return pixels_[index(x, y)]; }

  // Blends colour over pixel (x, y) with coverage alpha (0..1); outside pixels are ignored.
  void blend(int x, int y, Colour c, float alpha);

  void fillRoundRect(const Box& box, float radius, Colour c, float alpha = 1.0f);
  // Vertical gradient from top to bottom colour inside the rounded box.
  void fillRoundRectGradient(const Box& box, float radius, Colour top, Colour bottom, float alpha = 1.0f);
  void strokeRoundRect(const Box& box, float radius, float lineWidth, Colour c, float alpha = 1.0f);
  void fillCircle(float cx, float cy, float radius, Colour c, float alpha = 1.0f);
  // A soft shadow under a rounded box: coverage fades over blur pixels outside it.
  void shadowRoundRect(const Box& box, float radius, float blur, Colour c, float alpha);

  // Copies a region of another canvas of the same size (used to keep one face's pixels).
  void copyFrom(const Canvas& other, const Box& area);

  // Rows from the top, 8 bits per channel, blue-green-red order, pad bytes 0 (a BMP row).
  void bgrRow(int y, int bytesPerPixel, uint8_t* out) const;

 private:
  std::size_t index(int x, int y) const { return static_cast<std::size_t>(y) * width_ + x; }
  template <typename Coverage, typename Shade>
  void paint(const Box& bounds, Coverage coverage, Shade shade, float alpha);

  int width_, height_;
  std::vector<Colour> pixels_;
};

// Signed distance from point (x, y) to a rounded box's outline: negative inside.
float roundRectDistance(const Box& box, float radius, float x, float y);

}  // namespace skinart
