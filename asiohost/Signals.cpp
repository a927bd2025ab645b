#include "Signals.h"

#include <cmath>
#include <cstring>

namespace asiohost {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kFullScale = 2147483647.0;

int32_t toSample(double v) {  // v in [-1, 1]
  const double s = std::floor(v * kFullScale + 0.5);
  if (s >= kFullScale) return INT32_MAX;
  if (s <= -kFullScale) return -INT32_MAX;
  return static_cast<int32_t>(s);
}

double amplitudeOf(double levelDb) { return std::pow(10.0, levelDb / 20.0); }

class SilenceSignal : public Signal {
 public:
  void renderPcm(int, int32_t* out, int frames) override { std::memset(out, 0, sizeof(int32_t) * frames); }
};

// A rotating phasor per channel (renormalised now and then): far cheaper than sin() per
// sample in the buffer switch, and exact enough for a test tone.
class Phasor {
 public:
  Phasor(double frequency, double rate)
      : cosStep_(std::cos(2.0 * kPi * frequency / rate)), sinStep_(std::sin(2.0 * kPi * frequency / rate)) {}
  double next() {  // the sine of the current phase, then one step on
    const double value = s_;
    const double c = c_ * cosStep_ - s_ * sinStep_;
    s_ = s_ * cosStep_ + c_ * sinStep_;
    c_ = c;
    if (++count_ == 4096) {
      count_ = 0;
      const double r = 1.0 / std::sqrt(c_ * c_ + s_ * s_);
      c_ *= r;
      s_ *= r;
    }
    return value;
  }

 private:
  double cosStep_, sinStep_;
  double c_ = 1.0, s_ = 0.0;
  int count_ = 0;
};

class SineSignal : public Signal {
 public:
  SineSignal(const SignalSpec& s, int channels)
      : amplitude_(amplitudeOf(s.levelDb)), phasors_(channels, Phasor(s.frequency, s.rate)) {}
  void renderPcm(int channel, int32_t* out, int frames) override {
    Phasor& p = phasors_[channel];
    for (int i = 0; i < frames; ++i) out[i] = toSample(amplitude_ * p.next());
  }

 private:
  double amplitude_;
  std::vector<Phasor> phasors_;
};

class WavSignal : public Signal {
 public:
  WavSignal(const WavAudio& wav, int channels) : wav_(wav), position_(channels, 0) {}
  void renderPcm(int channel, int32_t* out, int frames) override {
    // A file with fewer channels than the stream repeats its channels; after its end, silence.
    const size_t source = static_cast<size_t>(channel % wav_.channels);
    size_t& n = position_[channel];
    const size_t total = wav_.frames();
    for (int i = 0; i < frames; ++i, ++n) out[i] = n < total ? wav_.samples[n * wav_.channels + source] : 0;
  }

 private:
  const WavAudio& wav_;
  std::vector<size_t> position_;
};

class MarkerSignal : public Signal {
 public:
  MarkerSignal(uint32_t rate, int channels) : timing_(markerTiming(rate)), position_(channels, 0) {}
  void renderPcm(int channel, int32_t* out, int frames) override {
    uint64_t& n = position_[channel];
    for (int i = 0; i < frames; ++i, ++n)
      out[i] = (n >= timing_.first && (n - timing_.first) % timing_.every == 0) ? 0x40000000 : 0;
  }

 private:
  MarkerTiming timing_;
  std::vector<uint64_t> position_;
};

// One-bit stream of a sine by a first-order sigma-delta modulator.
class SigmaDelta {
 public:
  SigmaDelta(double frequency, uint32_t dsdRate, double amplitude)
      : phasor_(frequency, dsdRate), amplitude_(amplitude) {}
  uint8_t nextByte() {
    uint8_t byte = 0;
    for (int bit = 0; bit < 8; ++bit) {
      integrator_ += amplitude_ * phasor_.next() - last_;
      last_ = integrator_ >= 0.0 ? 1.0 : -1.0;
      byte = static_cast<uint8_t>(byte << 1 | (last_ > 0 ? 1 : 0));
    }
    return byte;
  }

 private:
  Phasor phasor_;
  double amplitude_;
  double integrator_ = 0.0, last_ = -1.0;
};

class DsdSignal : public Signal {
 public:
  DsdSignal(const SignalSpec& s, int channels)
      : modulators_(channels, SigmaDelta(s.frequency, s.rate, amplitudeOf(s.levelDb))) {}
  bool isDsd() const override { return true; }
  void renderPcm(int, int32_t* out, int frames) override { std::memset(out, 0, sizeof(int32_t) * frames); }
  void renderDsd(int channel, uint8_t* out, size_t bytes) override {
    SigmaDelta& m = modulators_[channel];
    for (size_t i = 0; i < bytes; ++i) out[i] = m.nextByte();
  }

 private:
  std::vector<SigmaDelta> modulators_;
};

// DSD over PCM: each frame carries 16 DSD samples under a marker byte in the top bits.
class DopSignal : public Signal {
 public:
  DopSignal(const SignalSpec& s, int channels)
      : modulators_(channels, SigmaDelta(s.frequency, s.rate * 16, amplitudeOf(s.levelDb))), position_(channels, 0) {}
  void renderPcm(int channel, int32_t* out, int frames) override {
    SigmaDelta& m = modulators_[channel];
    uint64_t& n = position_[channel];
    for (int i = 0; i < frames; ++i, ++n) {
      const uint32_t first = m.nextByte(), second = m.nextByte();
      out[i] = static_cast<int32_t>(static_cast<uint32_t>(kDopMarkers[n & 1]) << 24 | first << 16 | second << 8);
    }
  }

 private:
  std::vector<SigmaDelta> modulators_;
  std::vector<uint64_t> position_;
};

constexpr struct {
  SignalKind kind;
  const char* name;
} kNames[] = {{SignalKind::Sine, "sine"}, {SignalKind::Silence, "silence"}, {SignalKind::Wav, "wav"},
              {SignalKind::Dsd, "dsd"},   {SignalKind::Dop, "dop"},         {SignalKind::Marker, "marker"}};

}  // namespace

void Signal::renderDsd(int, uint8_t* out, size_t bytes) { std::memset(out, 0x69, bytes); }

const char* signalName(SignalKind kind) {
  for (const auto& n : kNames)
    if (n.kind == kind) return n.name;
  return "?";
}

bool signalFromName(const std::string& name, SignalKind& kind) {
  for (const auto& n : kNames)
    if (name == n.name) {
      kind = n.kind;
      return true;
    }
  return false;
}

bool isDopCarrierRate(uint32_t rate) { return rate == 176400 || rate == 352800; }

MarkerTiming markerTiming(uint32_t rate) { return {rate / 10u, rate ? rate : 1u}; }

std::unique_ptr<Signal> makeSignal(const SignalSpec& sig, std::string& error) {
  if (sig.channels <= 0 || sig.rate == 0) {
    error = "no channel or no rate to play";
    return nullptr;
  }
  const bool needsTone = sig.kind == SignalKind::Sine || sig.kind == SignalKind::Dsd || sig.kind == SignalKind::Dop;
  if (needsTone && !(sig.frequency > 0.0 && sig.frequency < sig.rate / 2.0)) {
    error = "frequency must lie between 0 and half the sample rate";
    return nullptr;
  }
  if (needsTone && !(sig.levelDb <= 0.0)) {
    error = "level must be at most 0 dBFS";
    return nullptr;
  }
  switch (sig.kind) {
    case SignalKind::Silence: return std::make_unique<SilenceSignal>();
    case SignalKind::Sine: return std::make_unique<SineSignal>(sig, sig.channels);
    case SignalKind::Marker: return std::make_unique<MarkerSignal>(sig.rate, sig.channels);
    case SignalKind::Wav:
      if (!sig.wav || sig.wav->channels <= 0) {
        error = "no WAV file to play";
        return nullptr;
      }
      return std::make_unique<WavSignal>(*sig.wav, sig.channels);
    case SignalKind::Dsd:
      if (sig.rate != 2822400 && sig.rate != 5644800 && sig.rate != 11289600) {
        error = "native DSD needs a DSD rate (2822400, 5644800 or 11289600 Hz)";
        return nullptr;
      }
      return std::make_unique<DsdSignal>(sig, sig.channels);
    case SignalKind::Dop:
      if (!isDopCarrierRate(sig.rate)) {
        error = "DoP needs a carrier rate of 176400 or 352800 Hz";
        return nullptr;
      }
      return std::make_unique<DopSignal>(sig, sig.channels);
  }
  error = "unknown signal";
  return nullptr;
}

}  // namespace asiohost
