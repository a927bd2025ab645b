// The signals the host plays. Each one renders its channels one after another from frame 0,
// so a fresh copy regenerates exactly what was sent (for comparison with what was played).
// Rendering allocates nothing: it runs inside the buffer switch.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Wav.h"

namespace asiohost {

enum class SignalKind { Sine, Silence, Wav, Dsd, Dop, Marker };

const char* signalName(SignalKind kind);
bool signalFromName(const std::string& name, SignalKind& kind);

struct SignalSpec {
  SignalKind kind = SignalKind::Sine;
  uint32_t rate = 48000;  // frames per second the driver asks for (DSD: the DSD rate)
  int channels = 2;
  double frequency = 1000.0;  // Hz, sine, DSD and DoP content
  double levelDb = -6.0;      // dBFS (DSD and DoP: relative to full modulation)
  const WavAudio* wav = nullptr;
};

class Signal {
 public:
  virtual ~Signal() = default;
  virtual bool isDsd() const { return false; }
  // Next `frames` left-justified samples of a PCM channel.
  virtual void renderPcm(int channel, int32_t* out, int frames) = 0;
  // Next `bytes` bytes (8 samples each, oldest in the MSB) of a native DSD channel.
  virtual void renderDsd(int channel, uint8_t* out, size_t bytes);
};

// The generator for a signal description, or nullptr with the reason (e.g. DoP at a rate that cannot carry it).
std::unique_ptr<Signal> makeSignal(const SignalSpec& sig, std::string& error);

// DoP markers alternate 0x05 / 0xFA per frame; the carrier rate is the DSD rate / 16.
inline constexpr uint8_t kDopMarkers[2] = {0x05, 0xFA};
bool isDopCarrierRate(uint32_t rate);

// The loopback marker: one half-scale sample every second, the first 0.1 s in.
struct MarkerTiming {
  uint64_t first;
  uint64_t every;
};
MarkerTiming markerTiming(uint32_t rate);

}  // namespace asiohost
