#include <cstddef>
#include <cstdint>
#include <string>

#include "Wav.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  asiohost::WavAudio audio;
  std::string error;
  if (asiohost::parseWav(data, size, audio, error) && audio.samples.size() != audio.frames() * audio.channels)
    __builtin_trap();
  return 0;
}
