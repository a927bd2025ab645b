#include "Loopback.h"

namespace tess::vdac {

void LoopbackFifo::push(const uint8_t* data, size_t frames, const StreamFormat& format) {
  if (format.channels == 0 || format.blockAlign == 0) return;
  if (format.channels != channels_) {
    samples_.clear();
    channels_ = format.channels;
  }
  const uint32_t sampleBytes = format.bitsPerSample / 8;
  // Frames whose time capture has already passed are not heard any more.
  const size_t skipped = owed_ < frames ? owed_ : frames;
  owed_ -= skipped;
  for (size_t f = skipped; f < frames; ++f) {
    const uint8_t* frame = data + f * format.blockAlign;
    for (uint32_t c = 0; c < format.channels; ++c) samples_.push_back(readSample(frame + c * sampleBytes, sampleBytes));
  }
  const size_t held = samples_.size() / channels_;
  if (held > maxFrames_) samples_.erase(samples_.begin(), samples_.begin() + (held - maxFrames_) * channels_);
}

void LoopbackFifo::drop(size_t frames) {
  const size_t n = frames < framesHeld() ? frames : framesHeld();
  samples_.erase(samples_.begin(), samples_.begin() + static_cast<std::ptrdiff_t>(n * channels_));
  owed_ += frames - n;
}

void LoopbackFifo::pop(uint8_t* dst, size_t frames, const StreamFormat& format) {
  const uint32_t sampleBytes = format.bitsPerSample / 8;
  for (size_t f = 0; f < frames; ++f) {
    uint8_t* frame = dst + f * format.blockAlign;
    const bool have = channels_ != 0 && samples_.size() >= channels_;
    for (uint32_t c = 0; c < format.channels; ++c) {
      const int32_t s = have && c < channels_ ? samples_[c] : 0;
      writeSample(frame + c * sampleBytes, sampleBytes, s);
    }
    if (have) samples_.erase(samples_.begin(), samples_.begin() + channels_);
    else ++owed_;
  }
}

}  // namespace tess::vdac
