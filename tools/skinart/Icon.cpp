#include "Icon.h"

#include <algorithm>
#include <cmath>

namespace skinart {

namespace {

void put16(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}
void put32(std::vector<uint8_t>& out, uint32_t v) {
  put16(out, v & 0xFFFF);
  put16(out, v >> 16);
}

uint8_t byteOf(float v) { return static_cast<uint8_t>(std::lround(std::clamp(v, 0.0f, 1.0f) * 255.0f)); }

// The image part of an icon entry: header, BGRA rows bottom-up, then the AND mask.
std::vector<uint8_t> iconBitmap(const IconImage& image) {
  const int w = image.colour.width(), h = image.colour.height();
  std::vector<uint8_t> out;
  put32(out, 40);
  put32(out, static_cast<uint32_t>(w));
  put32(out, static_cast<uint32_t>(2 * h));  // colour and mask
  put16(out, 1);
  put16(out, 32);
  for (int i = 0; i < 6; ++i) put32(out, 0);
  for (int y = h - 1; y >= 0; --y) {
    for (int x = 0; x < w; ++x) {
      const Colour c = image.colour.at(x, y);
      out.push_back(byteOf(c.b));
      out.push_back(byteOf(c.g));
      out.push_back(byteOf(c.r));
      out.push_back(byteOf(image.alpha[static_cast<std::size_t>(y) * w + x]));
    }
  }
  const int maskStride = ((w + 31) / 32) * 4;
  for (int y = h - 1; y >= 0; --y) {
    std::vector<uint8_t> row(static_cast<std::size_t>(maskStride), 0);
    for (int x = 0; x < w; ++x)
      if (image.alpha[static_cast<std::size_t>(y) * w + x] < 0.5f) row[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
    out.insert(out.end(), row.begin(), row.end());
  }
  return out;
}

}  // namespace

IconImage drawPanelIcon(int size) {
  const float s = static_cast<float>(size);
  const Colour top = rgb(0x3A6EA8), bottom = rgb(0x1B2D46), mark = rgb(0xFFFFFF), wave = rgb(0x7DFFB0);
  IconImage icon{Canvas(size, size, bottom), std::vector<float>(static_cast<std::size_t>(size) * size, 0.0f)};
  const Box tile{0.5f, 0.5f, s - 0.5f, s - 0.5f};
  const float radius = s * 0.2f;
  icon.colour.fillRoundRectGradient(tile, radius, top, bottom);
  for (int y = 0; y < size; ++y)
    for (int x = 0; x < size; ++x) {
      const float d = roundRectDistance(tile, radius, x + 0.5f, y + 0.5f);
      icon.alpha[static_cast<std::size_t>(y) * size + x] = std::clamp(0.5f - d, 0.0f, 1.0f);
    }
  // Speaker: a small box and a cone.
  const float u = s / 16.0f;
  icon.colour.fillRoundRect(Box{3 * u, 6 * u, 5.5f * u, 10 * u}, 0.4f * u, mark);
  for (int i = 0; i < 4; ++i) {
    const float t = static_cast<float>(i) / 3.0f;
    icon.colour.fillRoundRect(Box{(5 + 1.2f * t) * u, (6 - 2 * t) * u, (6.2f + 1.2f * t) * u, (10 + 2 * t) * u},
                              0.2f * u, mark);
  }
  // Two sound arcs, drawn as rings clipped to the right half.
  for (int arc = 0; arc < 2; ++arc) {
    const float cx = 7.5f * u, cy = 8 * u, r = (3.2f + 2.4f * arc) * u, width = 0.9f * u;
    for (int y = 0; y < size; ++y)
      for (int x = 0; x < size; ++x) {
        const float px = x + 0.5f, py = y + 0.5f;
        if (px < cx + 0.5f * u) continue;
        const float d = std::fabs(std::hypot(px - cx, py - cy) - r) - width / 2;
        const float a = std::clamp(0.5f - d, 0.0f, 1.0f);
        if (a > 0 && std::fabs(py - cy) < r * 0.8f) icon.colour.blend(x, y, wave, a);
      }
  }
  return icon;
}

std::vector<uint8_t> encodeIco(const std::vector<IconImage>& images) {
  std::vector<uint8_t> out;
  put16(out, 0);
  put16(out, 1);
  put16(out, static_cast<uint32_t>(images.size()));
  std::vector<std::vector<uint8_t>> bitmaps;
  for (const IconImage& image : images) bitmaps.push_back(iconBitmap(image));
  uint32_t offset = 6 + 16 * static_cast<uint32_t>(images.size());
  for (std::size_t i = 0; i < images.size(); ++i) {
    const int w = images[i].colour.width(), h = images[i].colour.height();
    out.push_back(static_cast<uint8_t>(w >= 256 ? 0 : w));
    out.push_back(static_cast<uint8_t>(h >= 256 ? 0 : h));
    out.push_back(0);  // no palette
    out.push_back(0);
    put16(out, 1);
    put16(out, 32);
    put32(out, static_cast<uint32_t>(bitmaps[i].size()));
    put32(out, offset);
    offset += static_cast<uint32_t>(bitmaps[i].size());
  }
  for (const auto& b : bitmaps) out.insert(out.end(), b.begin(), b.end());
  return out;
}

}  // namespace skinart
