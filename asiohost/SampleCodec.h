// ASIO sample types: their layout, and conversion between host buffers and the host's own
// sample representation (PCM as left-justified 32-bit integers; DSD as bytes, MSB first).
#pragma once

#include <cstddef>
#include <cstdint>

namespace asiohost {

struct SampleFormat {
  int32_t type;  // ASIOST* value
  int bytes;     // container bytes per sample (0 for one-bit DSD)
  int bits;      // significant bits (1 for DSD)
  bool isFloat;
  bool bigEndian;
  bool isDsd;
  const char* name;
};

// The format of an ASIO sample type, or nullptr when the host does not know it.
const SampleFormat* findSampleFormat(int32_t type);

// Bytes of one channel's half buffer of `frames` samples (DSD: one bit per sample).
size_t halfBufferBytes(const SampleFormat& format, int frames);

// Left-justified 32-bit PCM to and from a host buffer of the given (PCM) format.
void encodePcm(const SampleFormat& format, const int32_t* src, void* dst, int frames);
void decodePcm(const SampleFormat& format, const void* src, int32_t* dst, int frames);

// DSD bytes (oldest sample in the most significant bit) into a one-bit DSD host buffer.
void encodeDsd(const SampleFormat& format, const uint8_t* src, void* dst, size_t bytes);
void decodeDsd(const SampleFormat& format, const void* src, uint8_t* dst, size_t bytes);

// Largest magnitude of left-justified samples, as a fraction of full scale (0..1).
double peakOf(const int32_t* samples, int frames);

}  // namespace asiohost
