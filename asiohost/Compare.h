// What the device played against what the host sent, and the loopback marker's round trip.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "Wav.h"

namespace asiohost {

struct Comparison {
  bool aligned = false;  // the sent stream was found in what was played
  bool bitExact = false;
  size_t offsetFrames = 0;  // played frame where the sent stream begins
  size_t comparedFrames = 0;
  // First difference (when not bit-exact): sent frame index, channel and both values.
  size_t firstDifferentFrame = 0;
  int differentChannel = -1;
  int32_t sentValue = 0, playedValue = 0;
  // Glitches after the start: each place where the played stream departs from the sent
  // one (a gap of silence, frames lost, wrong samples) until it follows it again, and the
  // frames involved.
  size_t glitches = 0, glitchFrames = 0;
  std::string summary() const;
};

// `sent` is interleaved with `channels` columns; column c is compared with played channel
// `playedChannel[c]`. The start of the sent stream is searched among the first
// `maxOffsetFrames` played frames (the device may play priming silence first).
Comparison comparePlayed(const std::vector<int32_t>& sent, int channels, const std::vector<int>& playedChannel,
                         const WavAudio& played, size_t maxOffsetFrames);

struct LoopbackLatency {
  size_t markersSent = 0;
  size_t markersFound = 0;
  int64_t minFrames = 0, maxFrames = 0;
  double medianFrames = 0;
};
// `captured` holds one input channel from the first frame of the stream on; markers were
// sent at markerTiming(rate).
LoopbackLatency measureLoopback(const int32_t* captured, size_t frames, uint32_t rate, size_t sentFrames);

}  // namespace asiohost
