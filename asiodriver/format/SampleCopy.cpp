#include "SampleCopy.h"

#include <cstring>

#include "DopDetect.h"

// Samples are little-endian on the device and on every target of this driver; the word
// tricks below rely on the host being little-endian too.
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "little-endian hosts only");

namespace tess::fmt {

namespace {

bool validSampleBytes(uint32_t s) { return s >= 2 && s <= 4; }

// ---- one channel to or from a frame of any width (the general path) ----

template <uint32_t S>
void scatter(uint8_t* __restrict dst, size_t stride, const uint8_t* __restrict src, size_t frames) {
  for (size_t j = 0; j < frames; ++j) std::memcpy(dst + j * stride, src + j * S, S);
}

template <uint32_t S>
void gather(uint8_t* __restrict dst, const uint8_t* __restrict src, size_t stride, size_t frames) {
  for (size_t j = 0; j < frames; ++j) std::memcpy(dst + j * S, src + j * stride, S);
}

void scatterChannel(uint8_t* dst, size_t stride, const uint8_t* src, size_t frames, uint32_t s) {
  if (stride == s) return void(std::memcpy(dst, src, frames * s));  // mono pin
  switch (s) {
    case 2: scatter<2>(dst, stride, src, frames); break;
    case 3: scatter<3>(dst, stride, src, frames); break;
    default: scatter<4>(dst, stride, src, frames); break;
  }
}

void gatherChannel(uint8_t* dst, const uint8_t* src, size_t stride, size_t frames, uint32_t s) {
  if (stride == s) return void(std::memcpy(dst, src, frames * s));
  switch (s) {
    case 2: gather<2>(dst, src, stride, frames); break;
    case 3: gather<3>(dst, src, stride, frames); break;
    default: gather<4>(dst, src, stride, frames); break;
  }
}

// ---- stereo pins, both channels at once (the common case: one pass over the packet) ----

template <typename T>
void interleave2(uint8_t* __restrict dst, const uint8_t* __restrict left,
                 const uint8_t* __restrict right, size_t frames) {
  for (size_t j = 0; j < frames; ++j) {
    T l, r;
    std::memcpy(&l, left + j * sizeof(T), sizeof(T));
    std::memcpy(&r, right + j * sizeof(T), sizeof(T));
    std::memcpy(dst + (2 * j) * sizeof(T), &l, sizeof(T));
    std::memcpy(dst + (2 * j + 1) * sizeof(T), &r, sizeof(T));
  }
}

template <typename T>
void deinterleave2(uint8_t* __restrict left, uint8_t* __restrict right,
                   const uint8_t* __restrict src, size_t frames) {
  for (size_t j = 0; j < frames; ++j) {
    T l, r;
    std::memcpy(&l, src + (2 * j) * sizeof(T), sizeof(T));
    std::memcpy(&r, src + (2 * j + 1) * sizeof(T), sizeof(T));
    std::memcpy(left + j * sizeof(T), &l, sizeof(T));
    std::memcpy(right + j * sizeof(T), &r, sizeof(T));
  }
}

// Packed 24-bit: a 6-byte frame is built in a 64-bit word and stored whole; the two bytes
// it writes past the frame are rewritten by the next frame. Loads and stores that reach past
// the current sample are used only while a next sample exists, so every access stays inside
// the buffers; the last frame goes byte-exact.
void interleave2x24(uint8_t* __restrict dst, const uint8_t* __restrict left,
                    const uint8_t* __restrict right, size_t frames) {
  if (frames == 0) return;
  for (size_t j = 0; j + 1 < frames; ++j) {
    uint32_t l, r;
    std::memcpy(&l, left + 3 * j, 4);
    std::memcpy(&r, right + 3 * j, 4);
    uint64_t frame = (uint64_t{l} & 0xFFFFFF) | (uint64_t{r} & 0xFFFFFF) << 24;
    std::memcpy(dst + 6 * j, &frame, 8);
  }
  size_t last = frames - 1;
  std::memcpy(dst + 6 * last, left + 3 * last, 3);
  std::memcpy(dst + 6 * last + 3, right + 3 * last, 3);
}

void deinterleave2x24(uint8_t* __restrict left, uint8_t* __restrict right,
                      const uint8_t* __restrict src, size_t frames) {
  if (frames == 0) return;
  for (size_t j = 0; j + 1 < frames; ++j) {
    uint64_t frame;
    std::memcpy(&frame, src + 6 * j, 8);
    uint32_t l = static_cast<uint32_t>(frame & 0xFFFFFF);
    uint32_t r = static_cast<uint32_t>((frame >> 24) & 0xFFFFFF);
    // 4-byte stores; the spare top byte lands on the next sample, written next round.
    std::memcpy(left + 3 * j, &l, 4);
    std::memcpy(right + 3 * j, &r, 4);
  }
  size_t last = frames - 1;
  std::memcpy(left + 3 * last, src + 6 * last, 3);
  std::memcpy(right + 3 * last, src + 6 * last + 3, 3);
}

void interleaveStereo(uint8_t* dst, const uint8_t* left, const uint8_t* right, size_t frames,
                      uint32_t s) {
  switch (s) {
    case 2: interleave2<uint16_t>(dst, left, right, frames); break;
    case 3: interleave2x24(dst, left, right, frames); break;
    default: interleave2<uint32_t>(dst, left, right, frames); break;
  }
}

void deinterleaveStereo(uint8_t* left, uint8_t* right, const uint8_t* src, size_t frames,
                        uint32_t s) {
  switch (s) {
    case 2: deinterleave2<uint16_t>(left, right, src, frames); break;
    case 3: deinterleave2x24(left, right, src, frames); break;
    default: deinterleave2<uint32_t>(left, right, src, frames); break;
  }
}

// Frames of one channel: bounded by the packet and by the host buffer.
size_t channelFrames(size_t packetFrames, size_t hostBytes, uint32_t s) {
  size_t hostFrames = hostBytes / s;
  return hostFrames < packetFrames ? hostFrames : packetFrames;
}

// Index of the left and right host channel when `count` channels cover a stereo pin
// exactly once each; false otherwise.
template <typename Channel>
bool stereoPair(const Channel* channels, size_t count, uint32_t pinChannels, size_t& left,
                size_t& right) {
  if (count != 2 || pinChannels != 2 || !channels[0].data || !channels[1].data) return false;
  if (channels[0].indexInPin == 0 && channels[1].indexInPin == 1) {
    left = 0, right = 1;
    return true;
  }
  if (channels[0].indexInPin == 1 && channels[1].indexInPin == 0) {
    left = 1, right = 0;
    return true;
  }
  return false;
}

}  // namespace

OutputCopy copyOutput(const RenderPacket& packet, uint32_t sampleBytes, const HostOutput* channels,
                      size_t count, bool detectDop) {
  OutputCopy out;
  const uint32_t s = sampleBytes;
  if (!packet.data || !channels || !validSampleBytes(s) || packet.channels == 0 ||
      packet.channels > kMaxPinChannels)
    return out;
  const size_t stride = size_t{packet.channels} * s;
  const size_t packetFrames = packet.bytes / stride;

  size_t li, ri;
  if (stereoPair(channels, count, packet.channels, li, ri)) {
    const HostOutput& l = channels[li];
    const HostOutput& r = channels[ri];
    size_t frames = channelFrames(packetFrames, l.bytes, s);
    if (frames == channelFrames(packetFrames, r.bytes, s)) {
      interleaveStereo(packet.data, static_cast<const uint8_t*>(l.data),
                       static_cast<const uint8_t*>(r.data), frames, s);
      out.frames = frames;
      out.channels = frames ? 2 : 0;
      if (detectDop && frames) {
        out.dopScanned = 2;
        out.dopMarked = (hasDopMarkers(static_cast<const uint8_t*>(l.data), frames, s) ? 1 : 0) +
                        (hasDopMarkers(static_cast<const uint8_t*>(r.data), frames, s) ? 1 : 0);
      }
      return out;
    }
  }

  for (size_t c = 0; c < count; ++c) {
    const HostOutput& ch = channels[c];
    if (!ch.data || ch.indexInPin >= packet.channels) continue;
    const auto* src = static_cast<const uint8_t*>(ch.data);
    size_t frames = channelFrames(packetFrames, ch.bytes, s);
    scatterChannel(packet.data + size_t{ch.indexInPin} * s, stride, src, frames, s);
    if (!frames) continue;
    out.frames = frames > out.frames ? frames : out.frames;
    ++out.channels;
    if (detectDop) {
      ++out.dopScanned;
      if (hasDopMarkers(src, frames, s)) ++out.dopMarked;
    }
  }
  return out;
}

InputCopy copyInput(const CapturePacket& packet, uint32_t sampleBytes, const HostInput* channels,
                    size_t count) {
  InputCopy in;
  const uint32_t s = sampleBytes;
  if (!packet.data || !channels || !validSampleBytes(s) || packet.channels == 0 ||
      packet.channels > kMaxPinChannels)
    return in;
  const size_t stride = size_t{packet.channels} * s;
  const size_t packetFrames = packet.bytes / stride;

  size_t li, ri;
  if (stereoPair(channels, count, packet.channels, li, ri)) {
    const HostInput& l = channels[li];
    const HostInput& r = channels[ri];
    size_t frames = channelFrames(packetFrames, l.bytes, s);
    if (frames == channelFrames(packetFrames, r.bytes, s) && l.data != r.data) {
      deinterleaveStereo(static_cast<uint8_t*>(l.data), static_cast<uint8_t*>(r.data), packet.data,
                         frames, s);
      in.frames = frames;
      in.channels = frames ? 2 : 0;
      return in;
    }
  }

  for (size_t c = 0; c < count; ++c) {
    const HostInput& ch = channels[c];
    if (!ch.data || ch.indexInPin >= packet.channels) continue;
    size_t frames = channelFrames(packetFrames, ch.bytes, s);
    gatherChannel(static_cast<uint8_t*>(ch.data), packet.data + size_t{ch.indexInPin} * s, stride,
                  frames, s);
    if (!frames) continue;
    in.frames = frames > in.frames ? frames : in.frames;
    ++in.channels;
  }
  return in;
}

}  // namespace tess::fmt
