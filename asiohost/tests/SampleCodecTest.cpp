#include <gtest/gtest.h>

#include <vector>

#include "Asio.h"
#include "SampleCodec.h"

namespace asiohost {
namespace {

TEST(SampleCodec, KnownByteLayouts) {
  struct Case {
    int32_t type;
    std::vector<uint8_t> bytes;  // of the sample 0x12345678
  } cases[] = {
      {ASIOSTInt16LSB, {0x34, 0x12}},
      {ASIOSTInt24LSB, {0x56, 0x34, 0x12}},
      {ASIOSTInt32LSB, {0x78, 0x56, 0x34, 0x12}},
      {ASIOSTInt32LSB24, {0x56, 0x34, 0x12, 0x00}},
      {ASIOSTInt32LSB16, {0x34, 0x12, 0x00, 0x00}},
      {ASIOSTInt16MSB, {0x12, 0x34}},
      {ASIOSTInt24MSB, {0x12, 0x34, 0x56}},
      {ASIOSTInt32MSB, {0x12, 0x34, 0x56, 0x78}},
  };
  for (const Case& c : cases) {
    const SampleFormat* f = findSampleFormat(c.type);
    ASSERT_NE(f, nullptr) << c.type;
    const int32_t s = 0x12345678;
    std::vector<uint8_t> out(f->bytes);
    encodePcm(*f, &s, out.data(), 1);
    EXPECT_EQ(out, c.bytes) << f->name;
  }
}

TEST(SampleCodec, RoundTripKeepsSignificantBitsAndSign) {
  const int32_t samples[] = {0, 1 << 30, -(1 << 30), INT32_MIN, 0x7FFFFF00, -256};
  for (int32_t type : {ASIOSTInt16LSB, ASIOSTInt24LSB, ASIOSTInt32LSB, ASIOSTInt32LSB20, ASIOSTInt24MSB,
                       ASIOSTFloat32LSB, ASIOSTFloat64MSB}) {
    const SampleFormat& f = *findSampleFormat(type);
    std::vector<uint8_t> buf(f.bytes * 6);
    int32_t back[6];
    encodePcm(f, samples, buf.data(), 6);
    decodePcm(f, buf.data(), back, 6);
    for (int i = 0; i < 6; ++i) {
      const int keep = f.isFloat ? 24 : f.bits;  // float32 keeps a 24-bit mantissa
      const int64_t tolerance = int64_t{1} << (32 - keep);
      EXPECT_LE(std::llabs(int64_t{back[i]} - samples[i]), tolerance) << f.name << " sample " << i;
      EXPECT_EQ(back[i] < 0, samples[i] < 0) << f.name << " sample " << i;
    }
  }
}

TEST(SampleCodec, DsdBitOrderAndSizes) {
  const uint8_t src[] = {0x80, 0x69, 0x01};
  uint8_t out[3];
  encodeDsd(*findSampleFormat(ASIOSTDSDInt8LSB1), src, out, 3);
  EXPECT_EQ(out[0], 0x01);
  EXPECT_EQ(out[1], 0x96);
  EXPECT_EQ(out[2], 0x80);
  encodeDsd(*findSampleFormat(ASIOSTDSDInt8MSB1), src, out, 3);
  EXPECT_EQ(out[1], 0x69);
  EXPECT_EQ(halfBufferBytes(*findSampleFormat(ASIOSTDSDInt8MSB1), 28224), 3528u);
  EXPECT_EQ(halfBufferBytes(*findSampleFormat(ASIOSTInt24LSB), 480), 1440u);
  EXPECT_EQ(findSampleFormat(ASIOSTDSDInt8NER8), nullptr);
  EXPECT_EQ(findSampleFormat(12345), nullptr);
}

TEST(SampleCodec, FloatDecodingClampsAndRejectsNan) {
  const SampleFormat& f = *findSampleFormat(ASIOSTFloat32LSB);
  const float in[] = {2.0f, -2.0f, std::numeric_limits<float>::quiet_NaN(), 0.5f};
  int32_t out[4];
  decodePcm(f, in, out, 4);
  EXPECT_EQ(out[0], INT32_MAX);
  EXPECT_EQ(out[1], INT32_MIN);
  EXPECT_EQ(out[2], 0);
  EXPECT_EQ(out[3], 1 << 30);
  EXPECT_DOUBLE_EQ(peakOf(out + 3, 1), 0.5);
}

}  // namespace
}  // namespace asiohost
