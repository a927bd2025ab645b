#include "Wav.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include "SampleCodec.h"

namespace asiohost {
namespace {

constexpr uint16_t kFormatPcm = 1, kFormatFloat = 3, kFormatExtensible = 0xFFFE;
// Tail of the KSDATAFORMAT_SUBTYPE_* GUIDs after their leading format tag.
constexpr uint8_t kSubtypeTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                      0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}
void put16(std::vector<uint8_t>& v, uint32_t x) {
  v.push_back(static_cast<uint8_t>(x));
  v.push_back(static_cast<uint8_t>(x >> 8));
}
void put32(std::vector<uint8_t>& v, uint32_t x) {
  put16(v, x & 0xFFFF);
  put16(v, x >> 16);
}

struct Fmt {
  uint16_t tag = 0;
  uint16_t channels = 0;
  uint32_t rate = 0;
  uint16_t blockAlign = 0;
  uint16_t bits = 0;
};

bool parseFmt(const uint8_t* p, uint32_t size, Fmt& fmt, std::string& error) {
  if (size < 16) {
    error = "malformed WAV: 'fmt ' chunk of " + std::to_string(size) + " bytes is too short";
    return false;
  }
  fmt.tag = le16(p);
  fmt.channels = le16(p + 2);
  fmt.rate = le32(p + 4);
  fmt.blockAlign = le16(p + 12);
  fmt.bits = le16(p + 14);
  if (fmt.tag == kFormatExtensible) {
    if (size < 40 || le16(p + 16) < 22) {
      error = "malformed WAV: extensible 'fmt ' chunk is too short";
      return false;
    }
    const uint8_t* subformat = p + 24;
    if (std::memcmp(subformat + 2, kSubtypeTail, sizeof kSubtypeTail) != 0) {
      error = "unsupported WAV format: extensible sub-format is neither PCM nor IEEE float";
      return false;
    }
    fmt.tag = le16(subformat);
  }
  return true;
}

}  // namespace

bool parseWav(const uint8_t* data, size_t size, WavAudio& out, std::string& error) {
  if (size < 12 || std::memcmp(data, "RIFF", 4) != 0 || std::memcmp(data + 8, "WAVE", 4) != 0) {
    error = "not a WAV file (no RIFF/WAVE header)";
    return false;
  }
  Fmt fmt;
  bool haveFmt = false;
  const uint8_t* pcm = nullptr;
  size_t pcmBytes = 0;
  size_t pos = 12;
  while (pos + 8 <= size) {
    const uint8_t* chunk = data + pos;
    const uint32_t chunkSize = le32(chunk + 4);
    const size_t bodyAt = pos + 8;
    if (chunkSize > size - bodyAt) {
      error = "malformed WAV: chunk '" + std::string(reinterpret_cast<const char*>(chunk), 4) + "' claims " +
              std::to_string(chunkSize) + " bytes but only " + std::to_string(size - bodyAt) + " remain";
      return false;
    }
    if (std::memcmp(chunk, "fmt ", 4) == 0) {
      if (!parseFmt(data + bodyAt, chunkSize, fmt, error)) return false;
      haveFmt = true;
    } else if (std::memcmp(chunk, "data", 4) == 0) {
      pcm = data + bodyAt;
      pcmBytes = chunkSize;
    }
    pos = bodyAt + chunkSize + (chunkSize & 1);  // chunks are padded to even sizes
  }
  if (!haveFmt) {
    error = "malformed WAV: no 'fmt ' chunk";
    return false;
  }
  if (!pcm) {
    error = "malformed WAV: no 'data' chunk";
    return false;
  }
  const bool isFloat = fmt.tag == kFormatFloat;
  if (fmt.tag != kFormatPcm && !isFloat) {
    error = "unsupported WAV format tag " + std::to_string(fmt.tag) + " (only PCM and IEEE float)";
    return false;
  }
  const bool bitsOk = isFloat ? (fmt.bits == 32 || fmt.bits == 64)
                              : (fmt.bits == 8 || fmt.bits == 16 || fmt.bits == 24 || fmt.bits == 32);
  if (!bitsOk) {
    error = "unsupported WAV sample size: " + std::to_string(fmt.bits) + " bits" + (isFloat ? " float" : " PCM");
    return false;
  }
  if (fmt.channels == 0 || fmt.rate == 0) {
    error = "malformed WAV: zero channels or zero sample rate";
    return false;
  }
  const size_t sampleBytes = fmt.bits / 8;
  if (fmt.blockAlign != sampleBytes * fmt.channels) {
    error = "malformed WAV: block align " + std::to_string(fmt.blockAlign) + " does not match " +
            std::to_string(fmt.channels) + " channels of " + std::to_string(fmt.bits) + " bits";
    return false;
  }
  const size_t frames = pcmBytes / fmt.blockAlign;
  out.rate = fmt.rate;
  out.channels = fmt.channels;
  out.bits = fmt.bits;
  out.isFloat = isFloat;
  out.samples.resize(frames * fmt.channels);
  if (fmt.bits == 8) {  // unsigned with a 128 offset
    for (size_t i = 0; i < out.samples.size(); ++i)
      out.samples[i] = static_cast<int32_t>(static_cast<uint32_t>(pcm[i] ^ 0x80) << 24);
    return true;
  }
  const int32_t type = isFloat ? (fmt.bits == 32 ? 19 : 20) : (fmt.bits == 16 ? 16 : fmt.bits == 24 ? 17 : 18);
  decodePcm(*findSampleFormat(type), pcm, out.samples.data(), static_cast<int>(out.samples.size()));
  return true;
}

bool readWavFile(const std::string& path, WavAudio& out, std::string& error) {
  std::unique_ptr<FILE, int (*)(FILE*)> f(std::fopen(path.c_str(), "rb"), &std::fclose);
  if (!f) {
    error = "cannot open '" + path + "'";
    return false;
  }
  std::vector<uint8_t> bytes;
  uint8_t block[65536];
  size_t n;
  while ((n = std::fread(block, 1, sizeof block, f.get())) > 0) bytes.insert(bytes.end(), block, block + n);
  if (std::ferror(f.get())) {
    error = "cannot read '" + path + "'";
    return false;
  }
  if (!parseWav(bytes.data(), bytes.size(), out, error)) {
    error = path + ": " + error;
    return false;
  }
  return true;
}

std::vector<uint8_t> buildWav(const WavAudio& audio, int bits) {
  const int32_t type = bits == 16 ? 16 : bits == 24 ? 17 : 18;
  const SampleFormat& f = *findSampleFormat(type);
  // The header's fields must hold what they describe: block align in 16 bits, byte rate
  // and the RIFF size in 32; a file they cannot describe is not written.
  const uint64_t blockAlign = uint64_t(audio.channels > 0 ? audio.channels : 0) * f.bytes;
  const uint64_t byteRate = uint64_t(audio.rate) * blockAlign;
  const uint64_t data64 = uint64_t(audio.samples.size()) * f.bytes;
  if (audio.channels <= 0 || blockAlign > 0xFFFF || byteRate > 0xFFFFFFFFu || data64 > 0xFFFFFFFFu - 45)
    return {};
  const uint32_t dataBytes = static_cast<uint32_t>(data64);
  std::vector<uint8_t> v;
  v.reserve(44 + dataBytes);
  v.insert(v.end(), {'R', 'I', 'F', 'F'});
  put32(v, 36 + dataBytes + (dataBytes & 1));
  v.insert(v.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
  put32(v, 16);
  put16(v, kFormatPcm);
  put16(v, static_cast<uint32_t>(audio.channels));
  put32(v, audio.rate);
  put32(v, audio.rate * audio.channels * f.bytes);
  put16(v, static_cast<uint32_t>(audio.channels * f.bytes));
  put16(v, static_cast<uint32_t>(bits));
  v.insert(v.end(), {'d', 'a', 't', 'a'});
  put32(v, dataBytes);
  const size_t at = v.size();
  v.resize(at + dataBytes);
  encodePcm(f, audio.samples.data(), v.data() + at, static_cast<int>(audio.samples.size()));
  if (dataBytes & 1) v.push_back(0);
  return v;
}

bool writeWavFile(const std::string& path, const WavAudio& audio, int bits, std::string& error) {
  const std::vector<uint8_t> bytes = buildWav(audio, bits);
  if (bytes.empty()) {
    error = "cannot write '" + path + "': too many channels, too high a rate or too long for a WAV file";
    return false;
  }
  std::unique_ptr<FILE, int (*)(FILE*)> f(std::fopen(path.c_str(), "wb"), &std::fclose);
  if (!f || std::fwrite(bytes.data(), 1, bytes.size(), f.get()) != bytes.size() || std::fclose(f.release()) != 0) {
    error = "cannot write '" + path + "'";
    return false;
  }
  return true;
}

}  // namespace asiohost
