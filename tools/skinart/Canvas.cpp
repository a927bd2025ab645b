#include "Canvas.h"

#include <algorithm>
#include <cmath>

namespace skinart {

Colour rgb(uint32_t hex) {
  return Colour{((hex >> 16) & 0xFF) / 255.0f, ((hex >> 8) & 0xFF) / 255.0f, (hex & 0xFF) / 255.0f};
}

Colour mix(Colour a, Colour b, float t) {
  return Colour{a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

float roundRectDistance(const Box& box, float radius, float x, float y) {
  const float cx = (box.left + box.right) / 2, cy = (box.top + box.bottom) / 2;
  const float hx = box.width() / 2 - radius, hy = box.height() / 2 - radius;
  const float qx = std::fabs(x - cx) - hx, qy = std::fabs(y - cy) - hy;
  const float ox = std::max(qx, 0.0f), oy = std::max(qy, 0.0f);
  return std::sqrt(ox * ox + oy * oy) + std::min(std::max(qx, qy), 0.0f) - radius;
}

Canvas::Canvas(int width, int height, Colour fill)
    : width_(width), height_(height), pixels_(static_cast<std::size_t>(width) * height, fill) {}

void Canvas::blend(int x, int y, Colour c, float alpha) {
  if (x < 0 || y < 0 || x >= width_ || y >= height_ || alpha <= 0.0f) return;
  Colour& p = pixels_[index(x, y)];
  p = mix(p, c, std::min(alpha, 1.0f));
}

template <typename Coverage, typename Shade>
void Canvas::paint(const Box& bounds, Coverage coverage, Shade shade, float alpha) {
  const int x0 = std::max(0, static_cast<int>(std::floor(bounds.left)) - 1);
  const int y0 = std::max(0, static_cast<int>(std::floor(bounds.top)) - 1);
  const int x1 = std::min(width_, static_cast<int>(std::ceil(bounds.right)) + 1);
  const int y1 = std::min(height_, static_cast<int>(std::ceil(bounds.bottom)) + 1);
  for (int y = y0; y < y1; ++y) {
    for (int x = x0; x < x1; ++x) {
      const float a = coverage(x + 0.5f, y + 0.5f);
      if (a > 0.0f) blend(x, y, shade(y + 0.5f), a * alpha);
    }
  }
}

namespace {
// Pixel coverage of a shape from its signed distance at the pixel centre.
inline float coverageOf(float distance) { return std::clamp(0.5f - distance, 0.0f, 1.0f); }
}  // namespace

void Canvas::fillRoundRect(const Box& box, float radius, Colour c, float alpha) {
  paint(
      box, [&](float x, float y) { return coverageOf(roundRectDistance(box, radius, x, y)); },
      [&](float) { return c; }, alpha);
}

void Canvas::fillRoundRectGradient(const Box& box, float radius, Colour top, Colour bottom, float alpha) {
  paint(
      box, [&](float x, float y) { return coverageOf(roundRectDistance(box, radius, x, y)); },
      [&](float y) { return mix(top, bottom, std::clamp((y - box.top) / box.height(), 0.0f, 1.0f)); },
      alpha);
}

void Canvas::strokeRoundRect(const Box& box, float radius, float lineWidth, Colour c, float alpha) {
  const Box inner = box.inset(lineWidth);
  const float innerRadius = std::max(0.0f, radius - lineWidth);
  paint(
      box,
      [&](float x, float y) {
        return coverageOf(roundRectDistance(box, radius, x, y)) -
               coverageOf(roundRectDistance(inner, innerRadius, x, y));
      },
      [&](float) { return c; }, alpha);
}

void Canvas::fillCircle(float cx, float cy, float radius, Colour c, float alpha) {
  const Box box{cx - radius, cy - radius, cx + radius, cy + radius};
  paint(
      box,
      [&](float x, float y) { return coverageOf(std::hypot(x - cx, y - cy) - radius); },
      [&](float) { return c; }, alpha);
}

void Canvas::shadowRoundRect(const Box& box, float radius, float blur, Colour c, float alpha) {
  const Box outer = box.inset(-blur);
  paint(
      outer,
      [&](float x, float y) {
        const float d = roundRectDistance(box, radius, x, y);
        if (d <= 0.0f) return 1.0f;
        const float t = 1.0f - std::min(d / blur, 1.0f);
        return t * t;
      },
      [&](float) { return c; }, alpha);
}

void Canvas::copyFrom(const Canvas& other, const Box& area) {
  const int x0 = std::max(0, static_cast<int>(area.left));
  const int y0 = std::max(0, static_cast<int>(area.top));
  const int x1 = std::min({width_, other.width_, static_cast<int>(area.right)});
  const int y1 = std::min({height_, other.height_, static_cast<int>(area.bottom)});
  for (int y = y0; y < y1; ++y)
    for (int x = x0; x < x1; ++x) pixels_[index(x, y)] = other.pixels_[other.index(x, y)];
}

void Canvas::bgrRow(int y, int bytesPerPixel, uint8_t* out) const {
  auto byte = [](float v) { return static_cast<uint8_t>(std::lround(std::clamp(v, 0.0f, 1.0f) * 255.0f)); };
  for (int x = 0; x < width_; ++x) {
    const Colour& p = pixels_[index(x, y)];
    uint8_t* o = out + static_cast<std::size_t>(x) * bytesPerPixel;
    o[0] = byte(p.b);
    o[1] = byte(p.g);
    o[2] = byte(p.r);
    if (bytesPerPixel == 4) o[3] = 0;
  }
}

}  // namespace skinart
