#include "WavWriter.h"

#include <cstring>

namespace tess::vdac {

namespace {

// Little-endian fields at fixed offsets of a pre-sized header.
struct HeaderBytes {
  std::vector<uint8_t>& v;
  size_t at = 0;
  void u16(uint32_t x) {
    v[at++] = static_cast<uint8_t>(x);
    v[at++] = static_cast<uint8_t>(x >> 8);
  }
  void u32(uint32_t x) {
    u16(x & 0xFFFF);
    u16(x >> 16);
  }
  void tag(const char* t) {
    for (int i = 0; i < 4; ++i) v[at++] = static_cast<uint8_t>(t[i]);
  }
};

constexpr uint8_t kPcmSubFormatTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                           0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

}  // namespace

std::vector<uint8_t> wavHeader(uint32_t channels, uint32_t bitsPerSample, uint32_t validBits, uint32_t sampleRate,
                               uint32_t dataBytes) {
  const bool extensible = bitsPerSample > 16 || channels > 2 || validBits != bitsPerSample;
  const uint32_t fmtBytes = extensible ? 40 : 16;
  const uint32_t blockAlign = channels * bitsPerSample / 8;
  std::vector<uint8_t> header(20 + fmtBytes + 8);
  HeaderBytes h{header};
  h.tag("RIFF");
  h.u32(4 + 8 + fmtBytes + 8 + dataBytes);
  h.tag("WAVE");
  h.tag("fmt ");
  h.u32(fmtBytes);
  h.u16(extensible ? 0xFFFE : 1);
  h.u16(channels);
  h.u32(sampleRate);
  h.u32(sampleRate * blockAlign);
  h.u16(blockAlign);
  h.u16(bitsPerSample);
  if (extensible) {
    h.u16(22);
    h.u16(validBits);
    h.u32(channels == 2 ? 0x3 : 0);
    // SubFormat KSDATAFORMAT_SUBTYPE_PCM: first member 1, then the fixed tail.
    h.u16(1);
    for (uint8_t b : kPcmSubFormatTail) header[h.at++] = b;
  }
  h.tag("data");
  h.u32(dataBytes);
  return header;
}

bool WavWriter::open(const std::string& path, uint32_t channels, uint32_t bitsPerSample, uint32_t validBits,
                     uint32_t sampleRate) {
  close();
  file_ = std::fopen(path.c_str(), "wb");
  if (!file_) return false;
  std::vector<uint8_t> header = wavHeader(channels, bitsPerSample, validBits, sampleRate, 0);
  headerBytes_ = static_cast<uint32_t>(header.size());
  dataBytes_ = 0;
  syncedBytes_ = 0;
  syncEveryBytes_ = sampleRate / 20 * (channels * bitsPerSample / 8);
  if (std::fwrite(header.data(), 1, header.size(), file_) != header.size() || std::fflush(file_) != 0) {
    close();
    return false;
  }
  return true;
}

bool WavWriter::append(const void* data, size_t bytes) {
  if (!file_) return false;
  // A WAV file cannot describe more than 4 GiB of samples: stop growing before that.
  if (bytes > 0xFFFFFFF0u - headerBytes_ - dataBytes_) return false;
  if (std::fwrite(data, 1, bytes, file_) != bytes) return false;
  dataBytes_ += static_cast<uint32_t>(bytes);
  return dataBytes_ - syncedBytes_ >= syncEveryBytes_ ? sync() : true;
}

bool WavWriter::sync() {
  if (!file_) return false;
  syncedBytes_ = dataBytes_;
  return patchSizes();
}

bool WavWriter::patchSizes() {
  uint8_t riff[4], data[4];
  const uint32_t riffSize = headerBytes_ - 8 + dataBytes_;
  for (int i = 0; i < 4; ++i) {
    riff[i] = static_cast<uint8_t>(riffSize >> (8 * i));
    data[i] = static_cast<uint8_t>(dataBytes_ >> (8 * i));
  }
  const long end = static_cast<long>(headerBytes_ + dataBytes_);
  bool ok = std::fseek(file_, 4, SEEK_SET) == 0 && std::fwrite(riff, 1, 4, file_) == 4 &&
            std::fseek(file_, static_cast<long>(headerBytes_) - 4, SEEK_SET) == 0 &&
            std::fwrite(data, 1, 4, file_) == 4 && std::fseek(file_, end, SEEK_SET) == 0;
  return std::fflush(file_) == 0 && ok;
}

void WavWriter::close() {
  if (!file_) return;
  sync();
  std::fclose(file_);
  file_ = nullptr;
}

}  // namespace tess::vdac
