#include "Bmp.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace skinart {

namespace {
void put16(std::vector<uint8_t>& out, std::size_t at, uint32_t v) {
  out[at] = static_cast<uint8_t>(v);
  out[at + 1] = static_cast<uint8_t>(v >> 8);
}
void put32(std::vector<uint8_t>& out, std::size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) out[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
}  // namespace

std::vector<uint8_t> encodeBmp(const Canvas& canvas, int bitsPerPixel) {
  constexpr std::size_t kFileHeader = 14, kInfoHeader = 40;
  const int bytesPerPixel = bitsPerPixel / 8;
  const std::size_t stride = (static_cast<std::size_t>(canvas.width()) * bytesPerPixel + 3) & ~std::size_t{3};
  const std::size_t imageSize = stride * canvas.height();
  std::vector<uint8_t> out(kFileHeader + kInfoHeader + imageSize, 0);

  out[0] = 'B';
  out[1] = 'M';
  put32(out, 2, static_cast<uint32_t>(out.size()));
  put32(out, 10, kFileHeader + kInfoHeader);
  put32(out, 14, kInfoHeader);
  put32(out, 18, static_cast<uint32_t>(canvas.width()));
  put32(out, 22, static_cast<uint32_t>(canvas.height()));  // positive: bottom-up
  put16(out, 26, 1);
  put16(out, 28, static_cast<uint32_t>(bitsPerPixel));
  put32(out, 30, 0);  // BI_RGB
  put32(out, 34, static_cast<uint32_t>(imageSize));
  put32(out, 38, 2835);  // 72 dpi
  put32(out, 42, 2835);

  uint8_t* pixels = out.data() + kFileHeader + kInfoHeader;
  for (int y = 0; y < canvas.height(); ++y) {
    canvas.bgrRow(y, bytesPerPixel, pixels + stride * (canvas.height() - 1 - y));
  }
  return out;
}

bool writeFile(const std::string& path, const std::vector<uint8_t>& bytes, std::string& error) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) {
    error = path + ": " + std::strerror(errno);
    return false;
  }
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  const int savedErrno = errno;
  const bool closed = std::fclose(f) == 0;
  if (!written || !closed) {
    error = path + ": " + std::strerror(written ? errno : savedErrno);
    return false;
  }
  return true;
}

}  // namespace skinart
