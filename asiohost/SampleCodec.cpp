#include "SampleCodec.h"

#include <cmath>
#include <cstring>

#include "Asio.h"

namespace asiohost {
namespace {

constexpr SampleFormat kFormats[] = {
    {ASIOSTInt16LSB, 2, 16, false, false, false, "Int16LSB"},
    {ASIOSTInt24LSB, 3, 24, false, false, false, "Int24LSB"},
    {ASIOSTInt32LSB, 4, 32, false, false, false, "Int32LSB"},
    {ASIOSTFloat32LSB, 4, 32, true, false, false, "Float32LSB"},
    {ASIOSTFloat64LSB, 8, 64, true, false, false, "Float64LSB"},
    {ASIOSTInt32LSB16, 4, 16, false, false, false, "Int32LSB16"},
    {ASIOSTInt32LSB18, 4, 18, false, false, false, "Int32LSB18"},
    {ASIOSTInt32LSB20, 4, 20, false, false, false, "Int32LSB20"},
    {ASIOSTInt32LSB24, 4, 24, false, false, false, "Int32LSB24"},
    {ASIOSTInt16MSB, 2, 16, false, true, false, "Int16MSB"},
    {ASIOSTInt24MSB, 3, 24, false, true, false, "Int24MSB"},
    {ASIOSTInt32MSB, 4, 32, false, true, false, "Int32MSB"},
    {ASIOSTFloat32MSB, 4, 32, true, true, false, "Float32MSB"},
    {ASIOSTFloat64MSB, 8, 64, true, true, false, "Float64MSB"},
    {ASIOSTInt32MSB16, 4, 16, false, true, false, "Int32MSB16"},
    {ASIOSTInt32MSB18, 4, 18, false, true, false, "Int32MSB18"},
    {ASIOSTInt32MSB20, 4, 20, false, true, false, "Int32MSB20"},
    {ASIOSTInt32MSB24, 4, 24, false, true, false, "Int32MSB24"},
    {ASIOSTDSDInt8MSB1, 0, 1, false, false, true, "DSDInt8MSB1"},
    {ASIOSTDSDInt8LSB1, 0, 1, false, false, true, "DSDInt8LSB1"},
};

constexpr double kFullScale = 2147483648.0;

// Integer container value (right-justified, `bits` significant) from a left-justified sample.
uint64_t toContainer(const SampleFormat& f, int32_t s) {
  if (f.isFloat) {
    const double v = s / kFullScale;
    if (f.bytes == 4) {
      float x = static_cast<float>(v);
      uint32_t u;
      std::memcpy(&u, &x, 4);
      return u;
    }
    uint64_t u;
    std::memcpy(&u, &v, 8);
    return u;
  }
  // Arithmetic shift keeps the sign; the container keeps only its bytes.
  return static_cast<uint64_t>(static_cast<int64_t>(s >> (32 - f.bits)));
}

int32_t fromContainer(const SampleFormat& f, uint64_t u) {
  if (f.isFloat) {
    double v;
    if (f.bytes == 4) {
      uint32_t w = static_cast<uint32_t>(u);
      float x;
      std::memcpy(&x, &w, 4);
      v = x;
    } else {
      std::memcpy(&v, &u, 8);
    }
    if (!(v == v)) return 0;  // NaN
    const double scaled = std::floor(v * kFullScale + 0.5);
    if (scaled >= kFullScale) return INT32_MAX;
    if (scaled <= -kFullScale) return INT32_MIN;
    return static_cast<int32_t>(scaled);
  }
  // Sign-extend the container's significant bits, then left-justify.
  const int shift = 64 - f.bits;
  const int64_t v = static_cast<int64_t>(u << shift) >> shift;
  return static_cast<int32_t>(static_cast<uint32_t>(v) << (32 - f.bits));
}

uint8_t reverseBits(uint8_t b) {
  b = static_cast<uint8_t>((b & 0xF0) >> 4 | (b & 0x0F) << 4);
  b = static_cast<uint8_t>((b & 0xCC) >> 2 | (b & 0x33) << 2);
  return static_cast<uint8_t>((b & 0xAA) >> 1 | (b & 0x55) << 1);
}

}  // namespace

const SampleFormat* findSampleFormat(int32_t type) {
  for (const SampleFormat& f : kFormats)
    if (f.type == type) return &f;
  return nullptr;
}

size_t halfBufferBytes(const SampleFormat& format, int frames) {
  if (frames <= 0) return 0;
  return format.isDsd ? static_cast<size_t>(frames) / 8 : static_cast<size_t>(frames) * format.bytes;
}

void encodePcm(const SampleFormat& f, const int32_t* src, void* dst, int frames) {
  uint8_t* out = static_cast<uint8_t*>(dst);
  for (int i = 0; i < frames; ++i, out += f.bytes) {
    const uint64_t u = toContainer(f, src[i]);
    for (int b = 0; b < f.bytes; ++b) {
      const int byteIndex = f.bigEndian ? f.bytes - 1 - b : b;
      out[byteIndex] = static_cast<uint8_t>(u >> (8 * b));
    }
  }
}

void decodePcm(const SampleFormat& f, const void* src, int32_t* dst, int frames) {
  const uint8_t* in = static_cast<const uint8_t*>(src);
  for (int i = 0; i < frames; ++i, in += f.bytes) {
    uint64_t u = 0;
    for (int b = 0; b < f.bytes; ++b) {
      const int byteIndex = f.bigEndian ? f.bytes - 1 - b : b;
      u |= static_cast<uint64_t>(in[byteIndex]) << (8 * b);
    }
    dst[i] = fromContainer(f, u);
  }
}

void encodeDsd(const SampleFormat& f, const uint8_t* src, void* dst, size_t bytes) {
  uint8_t* out = static_cast<uint8_t*>(dst);
  if (f.type == ASIOSTDSDInt8LSB1) {
    for (size_t i = 0; i < bytes; ++i) out[i] = reverseBits(src[i]);
  } else {
    std::memcpy(out, src, bytes);
  }
}

void decodeDsd(const SampleFormat& f, const void* src, uint8_t* dst, size_t bytes) {
  encodeDsd(f, static_cast<const uint8_t*>(src), dst, bytes);  // the bit order swap is its own inverse
}

double peakOf(const int32_t* samples, int frames) {
  int64_t peak = 0;
  for (int i = 0; i < frames; ++i) {
    const int64_t m = samples[i] < 0 ? -static_cast<int64_t>(samples[i]) : samples[i];
    if (m > peak) peak = m;
  }
  return static_cast<double>(peak) / kFullScale;
}

}  // namespace asiohost
