#include "CaFormats.h"

#include <algorithm>
#include <cstring>

namespace tess::vdac::ca {

namespace {

// The wave sub-formats share the tail of KSDATAFORMAT_SUBTYPE_PCM: {tag-0000-0010-8000-00AA00389B71}.
constexpr uint8_t kSubFormatTail[12] = {0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

uint16_t u16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t u32(const uint8_t* p) { return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24; }
void put16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void put32(uint8_t* p, uint32_t v) {
  put16(p, v);
  put16(p + 2, v >> 16);
}

}  // namespace

bool parseWaveFormat(const uint8_t* b, size_t available, WaveFields& out) {
  if (!b || available < 16) return false;
  out = WaveFields{};
  out.tag = u16(b);
  out.channels = u16(b + 2);
  out.rate = u32(b + 4);
  out.bytesPerSecond = u32(b + 8);
  out.blockAlign = u16(b + 12);
  out.containerBits = u16(b + 14);
  out.validBits = out.containerBits;
  if (out.tag != kTagExtensible) return true;
  if (available < 40 || u16(b + 16) < 22) return false;
  if (u16(b + 26) != 0 || std::memcmp(b + 28, kSubFormatTail, sizeof kSubFormatTail) != 0) return false;
  out.extensible = true;
  out.validBits = u16(b + 18);
  out.channelMask = u32(b + 20);
  out.tag = u16(b + 24);
  return true;
}

bool acceptsExclusive(const EndpointFormats& formats, const WaveFields& f) {
  const RangeShape& r = formats.ranges;
  if (f.tag != kTagPcm || f.channels != r.channels || f.channels == 0) return false;
  if (f.blockAlign != f.containerBits / 8 * f.channels || f.bytesPerSecond != uint64_t{f.blockAlign} * f.rate) {
    return false;
  }
  const auto has = [](const std::vector<uint32_t>& list, uint32_t v) {
    return std::find(list.begin(), list.end(), v) != list.end();
  };
  const bool rateInRange = r.rates.empty() ? f.rate >= r.minRate && f.rate <= r.maxRate : has(r.rates, f.rate);
  if (!rateInRange || has(formats.refusedRates, f.rate)) return false;
  // A plain PCM record wider than 16 bits or with more than two channels is ambiguous:
  // the platform wants the extensible form there.
  if (!f.extensible && (f.containerBits > 16 || f.channels > 2)) return false;
  if (f.containerBits == 16 && f.validBits == 16) return has(r.widths, 16);
  if (f.containerBits == 24 && f.validBits == 24) return formats.packed24 && has(r.widths, 24);
  if (f.containerBits == 32 && f.validBits == 24) return formats.accepts24In32 && has(r.widths, 24);
  if (f.containerBits == 32 && f.validBits == 32) return has(r.widths, 32);
  return false;
}

StreamFormat streamFormatOf(const WaveFields& f) {
  StreamFormat s;
  s.channels = f.channels;
  s.bitsPerSample = f.containerBits;
  s.validBits = f.validBits;
  s.sampleRate = f.rate;
  s.blockAlign = f.blockAlign;
  return s;
}

std::vector<uint8_t> extensibleFormat(uint32_t channels, uint32_t rate, uint32_t containerBits, uint32_t validBits,
                                      bool isFloat) {
  std::vector<uint8_t> b(40, 0);
  const uint32_t blockAlign = containerBits / 8 * channels;
  put16(&b[0], kTagExtensible);
  put16(&b[2], channels);
  put32(&b[4], rate);
  put32(&b[8], blockAlign * rate);
  put16(&b[12], blockAlign);
  put16(&b[14], containerBits);
  put16(&b[16], 22);
  put16(&b[18], validBits);
  put32(&b[20], channels == 2 ? 3 : (1u << channels) - 1);
  put16(&b[24], isFloat ? kTagFloat : kTagPcm);
  std::memcpy(&b[28], kSubFormatTail, sizeof kSubFormatTail);
  return b;
}

}  // namespace tess::vdac::ca
