#include "Compare.h"

#include <algorithm>
#include <cstdio>

#include "Signals.h"

namespace asiohost {
namespace {

bool windowMatches(const std::vector<int32_t>& sent, int channels, const std::vector<int>& map, const WavAudio& played,
                   size_t offset, size_t window) {
  for (size_t f = 0; f < window; ++f)
    for (int c = 0; c < channels; ++c)
      if (sent[f * channels + c] != played.samples[(offset + f) * played.channels + map[c]]) return false;
  return true;
}

bool framesEqual(const std::vector<int32_t>& sent, int channels, const std::vector<int>& map, const WavAudio& played,
                 size_t s, size_t p) {
  for (int c = 0; c < channels; ++c)
    if (sent[s * channels + c] != played.samples[p * played.channels + map[c]]) return false;
  return true;
}

// Walks both streams from the start found; where they part, looks for where they meet
// again (the device played extra frames, or lost some of what was sent) within a second.
void countGlitches(const std::vector<int32_t>& sent, int channels, const std::vector<int>& map,
                   const WavAudio& played, size_t offset, Comparison& c) {
  const size_t sentFrames = sent.size() / channels, playedFrames = played.frames();
  const size_t reach = std::max<size_t>(played.rate, 1024);
  constexpr size_t kWindow = 16;
  auto meets = [&](size_t s, size_t p) {
    if (s + kWindow > sentFrames || p + kWindow > playedFrames) return false;
    for (size_t k = 0; k < kWindow; ++k)
      if (!framesEqual(sent, channels, map, played, s + k, p + k)) return false;
    return true;
  };
  size_t s = 0, p = offset;
  while (s < sentFrames && p < playedFrames) {
    if (framesEqual(sent, channels, map, played, s, p)) {
      ++s, ++p;
      continue;
    }
    ++c.glitches;
    // The nearest meeting point wins, wrong samples in place first (for a periodic signal
    // a skip is only known modulo its period).
    size_t inPlace = 0, skipPlayed = 0, skipSent = 0;
    for (size_t k = 1; k <= reach && !inPlace && !skipPlayed && !skipSent; ++k) {
      if (meets(s + k, p + k)) inPlace = k;
      else if (meets(s, p + k)) skipPlayed = k;
      else if (meets(s + k, p)) skipSent = k;
    }
    if (!inPlace && !skipPlayed && !skipSent) inPlace = 1;  // no meeting: one frame, then on
    c.glitchFrames += inPlace + skipPlayed + skipSent;
    p += inPlace + skipPlayed;
    s += inPlace + skipSent;
  }
}

}  // namespace

std::string Comparison::summary() const {
  char s[256];
  if (!aligned)
    std::snprintf(s, sizeof s, "the sent stream was not found in what the device played");
  else if (bitExact)
    std::snprintf(s, sizeof s, "bit-exact over %zu frames (device began it at frame %zu)", comparedFrames,
                  offsetFrames);
  else
    std::snprintf(s, sizeof s,
                  "differs at frame %zu channel %d: sent 0x%08x, played 0x%08x (of %zu frames); %zu glitch(es), "
                  "%zu frames",
                  firstDifferentFrame, differentChannel, static_cast<unsigned>(sentValue),
                  static_cast<unsigned>(playedValue), comparedFrames, glitches, glitchFrames);
  return s;
}

Comparison comparePlayed(const std::vector<int32_t>& sent, int channels, const std::vector<int>& map,
                         const WavAudio& played, size_t maxOffsetFrames) {
  Comparison c;
  if (channels <= 0 || map.size() != static_cast<size_t>(channels)) return c;
  for (int m : map)
    if (m < 0 || m >= played.channels) return c;
  const size_t sentFrames = sent.size() / channels, playedFrames = played.frames();
  if (sentFrames == 0 || playedFrames == 0) return c;
  // The window reaches past the first non-silent sent frame so leading silence cannot match alone.
  size_t firstSound = 0;
  while (firstSound < sentFrames &&
         std::all_of(sent.begin() + firstSound * channels, sent.begin() + (firstSound + 1) * channels,
                     [](int32_t v) { return v == 0; }))
    ++firstSound;
  const size_t wantWindow = std::max<size_t>(1024, firstSound == sentFrames ? 0 : firstSound + 16);
  for (size_t offset = 0; offset <= std::min(maxOffsetFrames, playedFrames - 1); ++offset) {
    const size_t window = std::min({wantWindow, sentFrames, playedFrames - offset});
    if (!windowMatches(sent, channels, map, played, offset, window)) continue;
    c.aligned = true;
    c.offsetFrames = offset;
    c.comparedFrames = std::min(sentFrames, playedFrames - offset);
    c.bitExact = true;
    for (size_t f = window; f < c.comparedFrames && c.bitExact; ++f)
      for (int ch = 0; ch < channels; ++ch) {
        const int32_t s = sent[f * channels + ch], p = played.samples[(offset + f) * played.channels + map[ch]];
        if (s != p) {
          c.bitExact = false;
          c.firstDifferentFrame = f;
          c.differentChannel = ch;
          c.sentValue = s;
          c.playedValue = p;
          break;
        }
      }
    if (!c.bitExact) countGlitches(sent, channels, map, played, offset, c);
    return c;
  }
  return c;
}

LoopbackLatency measureLoopback(const int32_t* captured, size_t frames, uint32_t rate, size_t sentFrames) {
  LoopbackLatency l;
  const MarkerTiming t = markerTiming(rate);
  std::vector<int64_t> found;
  for (uint64_t m = t.first; m < sentFrames; m += t.every) {
    ++l.markersSent;
    for (uint64_t i = m; i < frames && i < m + t.every; ++i) {
      const int64_t v = captured[i];
      if (v > 0x20000000 || v < -0x20000000) {
        found.push_back(static_cast<int64_t>(i - m));
        break;
      }
    }
  }
  l.markersFound = found.size();
  if (found.empty()) return l;
  std::sort(found.begin(), found.end());
  l.minFrames = found.front();
  l.maxFrames = found.back();
  const size_t mid = found.size() / 2;
  l.medianFrames = found.size() % 2 ? found[mid] : (found[mid - 1] + found[mid]) / 2.0;
  return l;
}

}  // namespace asiohost
