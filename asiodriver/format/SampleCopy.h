// Moving samples between the host's ASIO channel buffers and the device's interleaved
// packets, one pin at a time, with DoP detection on the way out.
//
// A packet frame holds `channels` samples of `sampleBytes` (2, 3 or 4) each, little-endian,
// in the order of the channels' index within the pin. A host half buffer holds the same
// sample bytes back to back for one channel, so the copy is a pure (de)interleave: no
// numeric conversion, bit-exact both ways. Native DSD uses the 4-byte path unchanged: each
// 32-bit container carries four consecutive host DSD bytes in host order.
//
// Contract for the engine (pump thread and outputReady):
//  - no allocation, no lock, no system call; safe to call from a time-critical thread;
//  - every bound is explicit: nothing is read or written outside [data, data + bytes) of the
//    packet and of each host buffer; host buffers must not overlap the packet;
//  - frames moved per channel = min(packet bytes / frame stride, host bytes / sampleBytes);
//    a trailing partial frame is left alone, and so is the rest of a host input buffer when
//    the capture packet is short (its previous content stays);
//  - a channel whose buffer is null, whose index lies outside the pin's frame, or a call
//    with a sampleBytes other than 2, 3 or 4 or zero channels, moves nothing for it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tess::fmt {

// Largest channel count of one pin frame the kernels accept (the device format's channel
// masks go to 8; the bound only keeps the arithmetic far from overflow).
inline constexpr uint32_t kMaxPinChannels = 64;

struct RenderPacket {
  uint8_t* data;      // packet data
  size_t bytes;       // its FrameExtent
  uint32_t channels;  // channels in use on the pin (samples per frame)
};

struct CapturePacket {
  const uint8_t* data;
  size_t bytes;       // valid bytes: validCaptureBytes(DataUsed, FrameExtent)
  uint32_t channels;  // channels in use on the pin
};

// DataUsed comes back from the device: never trust it beyond the packet's own size.
constexpr size_t validCaptureBytes(size_t dataUsed, size_t frameExtent) {
  return dataUsed < frameExtent ? dataUsed : frameExtent;
}

struct HostOutput {
  const void* data;     // host output buffer of the half, or null
  size_t bytes;         // its size in bytes
  uint32_t indexInPin;  // the channel's place in the pin's frame
};

struct HostInput {
  void* data;           // host input buffer of the half, or null
  size_t bytes;
  uint32_t indexInPin;
};

// Outcome of one output copy. DoP counts are per channel: `dopScanned` channels were
// checked (detection requested and at least one frame), `dopMarked` of them carried a valid
// DoP marker pattern through the whole buffer. Fold several pins with `+=`.
struct OutputCopy {
  size_t frames = 0;         // most frames moved for any channel
  uint32_t channels = 0;     // channels that moved at least one frame
  uint32_t dopScanned = 0;
  uint32_t dopMarked = 0;
  OutputCopy& operator+=(const OutputCopy& o) {
    frames = frames > o.frames ? frames : o.frames;
    channels += o.channels;
    dopScanned += o.dopScanned;
    dopMarked += o.dopMarked;
    return *this;
  }
};

struct InputCopy {
  size_t frames = 0;      // most frames moved for any channel
  uint32_t channels = 0;  // channels that moved at least one frame
};

// Host output buffers of one pin -> render packet. With detectDop, each channel's moved
// samples are checked for DoP markers (see DopDetect.h for when detection applies).
OutputCopy copyOutput(const RenderPacket& packet, uint32_t sampleBytes, const HostOutput* channels,
                      size_t count, bool detectDop);

// Capture packet of one pin -> host input buffers.
InputCopy copyInput(const CapturePacket& packet, uint32_t sampleBytes, const HostInput* channels,
                    size_t count);

}  // namespace tess::fmt
