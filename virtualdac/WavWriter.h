// Writes what the device played into a WAV file. The header's sizes are brought up to
// date at least every 50 ms of audio, at sync() and at close, so the file is complete
// whenever the stream stops, also when the process that holds the device never closes
// it. Portable.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace tess::vdac {

// The 44-byte PCM header (WAVE_FORMAT_PCM up to 16 bits and 2 channels) or the 68-byte
// extensible one, for dataBytes bytes of samples.
std::vector<uint8_t> wavHeader(uint32_t channels, uint32_t bitsPerSample, uint32_t validBits, uint32_t sampleRate,
                               uint32_t dataBytes);

class WavWriter {
 public:
  WavWriter() = default;
  WavWriter(const WavWriter&) = delete;
  WavWriter& operator=(const WavWriter&) = delete;
  ~WavWriter() { close(); }

  // Creates (truncates) the file; false when it cannot be written.
  bool open(const std::string& path, uint32_t channels, uint32_t bitsPerSample, uint32_t validBits,
            uint32_t sampleRate);
  bool append(const void* data, size_t bytes);
  // Header sizes up to date and everything written through to the file.
  bool sync();
  void close();
  bool isOpen() const { return file_ != nullptr; }
  uint32_t dataBytes() const { return dataBytes_; }

 private:
  bool patchSizes();

  std::FILE* file_ = nullptr;
  uint32_t headerBytes_ = 0;
  uint32_t dataBytes_ = 0;
  uint32_t syncedBytes_ = 0;
  uint32_t syncEveryBytes_ = 0;
};

}  // namespace tess::vdac
