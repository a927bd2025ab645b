// Any file image through the WAV reader: it either refuses with a reason or yields whole
// frames; what it yields survives the writer and a second reading unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "Wav.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The image in a buffer of its exact size, so that any read past it is caught.
  const std::vector<uint8_t> image(data, data + size);
  asiohost::WavAudio audio;
  std::string error;
  if (!asiohost::parseWav(image.data(), image.size(), audio, error)) {
    if (error.empty()) std::abort();
    return 0;
  }
  if (audio.channels <= 0 || audio.rate == 0 || audio.samples.size() != audio.frames() * audio.channels)
    std::abort();

  // Integer PCM at 32 bits holds every left-justified sample exactly. Its header's 16-bit
  // block align describes at most 16383 channels of 4 bytes: the writer refuses wider ones.
  // Its byte rate must fit 32 bits too: the writer refuses what its header cannot describe.
  const std::vector<uint8_t> written = asiohost::buildWav(audio, 32);
  const uint64_t blockAlign = uint64_t(audio.channels) * 4;
  const bool describable = blockAlign <= 0xFFFF && uint64_t(audio.rate) * blockAlign <= 0xFFFFFFFFu;
  if (written.empty() != !describable) std::abort();
  if (!describable) return 0;
  asiohost::WavAudio again;
  if (!asiohost::parseWav(written.data(), written.size(), again, error) || again.rate != audio.rate ||
      again.channels != audio.channels || again.bits != 32 || again.isFloat || again.samples != audio.samples)
    std::abort();
  return 0;
}
