// WAV files: parsing (PCM 8/16/24/32-bit, IEEE float 32/64-bit, plain or extensible header)
// into left-justified 32-bit samples, and writing integer PCM.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace asiohost {

struct WavAudio {
  uint32_t rate = 0;
  int channels = 0;
  int bits = 0;  // bits per sample in the file
  bool isFloat = false;
  std::vector<int32_t> samples;  // interleaved, left-justified
  size_t frames() const { return channels ? samples.size() / static_cast<size_t>(channels) : 0; }
};

// Parses a whole file image. On failure returns false and says why in `error`.
bool parseWav(const uint8_t* data, size_t size, WavAudio& out, std::string& error);
bool readWavFile(const std::string& path, WavAudio& out, std::string& error);

// The complete file image of integer PCM (`bits` 16, 24 or 32) from left-justified samples.
// Empty when the header cannot describe the audio (channels, rate or length too large).
std::vector<uint8_t> buildWav(const WavAudio& audio, int bits);
bool writeWavFile(const std::string& path, const WavAudio& audio, int bits, std::string& error);

}  // namespace asiohost
