#include <gtest/gtest.h>

#include <cstring>

#include "Wav.h"

namespace asiohost {
namespace {

WavAudio stereo(uint32_t rate, std::vector<int32_t> samples) {
  WavAudio a;
  a.rate = rate;
  a.channels = 2;
  a.samples = std::move(samples);
  return a;
}

TEST(Wav, WrittenFilesParseBackExactly) {
  const WavAudio a = stereo(44100, {0x12345600, -0x12345600, 0x7FFFFF00, INT32_MIN, 0, 256 << 8, 3 << 16, -(3 << 16)});
  for (int bits : {16, 24, 32}) {
    const std::vector<uint8_t> image = buildWav(a, bits);
    WavAudio b;
    std::string error;
    ASSERT_TRUE(parseWav(image.data(), image.size(), b, error)) << bits << ": " << error;
    EXPECT_EQ(b.rate, 44100u);
    EXPECT_EQ(b.channels, 2);
    EXPECT_EQ(b.bits, bits);
    ASSERT_EQ(b.frames(), 4u);
    for (size_t i = 0; i < a.samples.size(); ++i) {
      const int32_t mask = static_cast<int32_t>(0xFFFFFFFFu << (32 - bits));
      EXPECT_EQ(b.samples[i], a.samples[i] & mask) << bits << " bits, sample " << i;
    }
  }
}

TEST(Wav, TheWriterRefusesWhatItsHeaderCannotDescribe) {
  WavAudio wide;
  wide.rate = 48000;
  wide.channels = 16385;  // 16385 x 4 bytes overflows the 16-bit block align
  wide.samples.assign(16385, 0);
  EXPECT_TRUE(buildWav(wide, 32).empty());
  EXPECT_FALSE(buildWav(wide, 16).empty());  // 2 bytes a sample still fit
  WavAudio fast = stereo(0xFFFFFFFFu, {0, 0});
  EXPECT_TRUE(buildWav(fast, 32).empty());  // the byte rate overflows 32 bits
  std::string error;
  EXPECT_FALSE(writeWavFile("never-written.wav", wide, 32, error));
  EXPECT_NE(error.find("too many channels"), std::string::npos) << error;
}

// A file image from a 'fmt ' body and data bytes, with optional extra chunks before them.
std::vector<uint8_t> image(const std::vector<uint8_t>& fmt, const std::vector<uint8_t>& data,
                           const std::vector<uint8_t>& extra = {}) {
  std::vector<uint8_t> v = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E'};
  v.insert(v.end(), extra.begin(), extra.end());
  auto chunk = [&v](const char* id, const std::vector<uint8_t>& body) {
    v.insert(v.end(), id, id + 4);
    const uint32_t n = static_cast<uint32_t>(body.size());
    for (int i = 0; i < 4; ++i) v.push_back(static_cast<uint8_t>(n >> (8 * i)));
    v.insert(v.end(), body.begin(), body.end());
    if (n & 1) v.push_back(0);
  };
  if (!fmt.empty()) chunk("fmt ", fmt);
  chunk("data", data);
  return v;
}

std::vector<uint8_t> fmtBody(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits, uint16_t align = 0) {
  if (!align) align = static_cast<uint16_t>(channels * bits / 8);
  std::vector<uint8_t> f(16);
  auto put = [&f](size_t at, uint32_t v, int n) {
    for (int i = 0; i < n; ++i) f[at + i] = static_cast<uint8_t>(v >> (8 * i));
  };
  put(0, tag, 2);
  put(2, channels, 2);
  put(4, rate, 4);
  put(8, rate * align, 4);
  put(12, align, 2);
  put(14, bits, 2);
  return f;
}

std::vector<uint8_t> extensible(const std::vector<uint8_t>& base, uint16_t subTag) {
  std::vector<uint8_t> f = base;
  f[0] = 0xFE;
  f[1] = 0xFF;
  const uint8_t tail[] = {22,
                          0,
                          f[14],
                          f[15],
                          3,
                          0,
                          0,
                          0,
                          static_cast<uint8_t>(subTag),
                          static_cast<uint8_t>(subTag >> 8),
                          0,
                          0,
                          0,
                          0,
                          0x10,
                          0,
                          0x80,
                          0,
                          0,
                          0xAA,
                          0,
                          0x38,
                          0x9B,
                          0x71};
  f.insert(f.end(), tail, tail + sizeof tail);
  return f;
}

TEST(Wav, AcceptsFloatExtensibleEightBitAndSkipsOtherChunks) {
  const float frames[] = {0.5f, -0.25f};
  std::vector<uint8_t> data(sizeof frames);
  std::memcpy(data.data(), frames, sizeof frames);
  WavAudio a;
  std::string error;
  const std::vector<uint8_t> list = {'L', 'I', 'S', 'T', 3, 0, 0, 0, 1, 2, 3, 0};  // odd size, padded
  auto img = image(extensible(fmtBody(0xFFFE, 2, 96000, 32), 3), data, list);
  ASSERT_TRUE(parseWav(img.data(), img.size(), a, error)) << error;
  EXPECT_TRUE(a.isFloat);
  EXPECT_EQ(a.samples, (std::vector<int32_t>{1 << 30, -(1 << 29)}));

  img = image(fmtBody(1, 1, 8000, 8), {0x80, 0xC0, 0x00});
  ASSERT_TRUE(parseWav(img.data(), img.size(), a, error)) << error;
  EXPECT_EQ(a.samples, (std::vector<int32_t>{0, 1 << 30, INT32_MIN}));
}

TEST(Wav, RejectsMalformedAndOtherFormatsWithAReason) {
  const std::vector<uint8_t> pcm4 = {1, 0, 2, 0};
  std::vector<uint8_t> truncated = image(fmtBody(1, 1, 48000, 16), pcm4);
  truncated.resize(truncated.size() - 2);
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
    const char* reason;
  } cases[] = {
      {"empty", {}, "not a WAV"},
      {"AIFF", {'F', 'O', 'R', 'M', 0, 0, 0, 0, 'A', 'I', 'F', 'F'}, "not a WAV"},
      {"data chunk cut short", truncated, "claims 4 bytes but only 2 remain"},
      {"no fmt", image({}, pcm4), "no 'fmt ' chunk"},
      {"short fmt", image(std::vector<uint8_t>(10, 0), pcm4), "too short"},
      {"ADPCM", image(fmtBody(2, 1, 48000, 4, 1), pcm4), "unsupported WAV format tag 2"},
      {"12-bit", image(fmtBody(1, 1, 48000, 12, 2), pcm4), "12 bits"},
      {"16-bit float", image(fmtBody(3, 1, 48000, 16), pcm4), "16 bits float"},
      {"zero channels", image(fmtBody(1, 0, 48000, 16, 2), pcm4), "zero channels"},
      {"block align", image(fmtBody(1, 2, 48000, 16, 6), pcm4), "block align"},
      {"extensible other", image(extensible(fmtBody(1, 2, 48000, 16), 0x92), pcm4), "format tag 146"},
  };
  for (const Case& c : cases) {
    WavAudio a;
    std::string error;
    EXPECT_FALSE(parseWav(c.bytes.data(), c.bytes.size(), a, error)) << c.what;
    EXPECT_NE(error.find(c.reason), std::string::npos) << c.what << ": " << error;
  }
  // A data chunk missing altogether.
  std::vector<uint8_t> noData = image(fmtBody(1, 1, 48000, 16), {});
  noData.resize(noData.size() - 8);
  WavAudio a;
  std::string error;
  EXPECT_FALSE(parseWav(noData.data(), noData.size(), a, error));
  EXPECT_NE(error.find("no 'data'"), std::string::npos) << error;
  EXPECT_FALSE(readWavFile("/nonexistent/file.wav", a, error));
  EXPECT_NE(error.find("cannot open"), std::string::npos);
}

}  // namespace
}  // namespace asiohost
