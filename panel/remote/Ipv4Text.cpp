#include "Ipv4Text.h"

#include <cstdio>
#include <cstring>

namespace remote {

NetAddress fromOctets(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
  const uint8_t octets[4] = {a, b, c, d};
  NetAddress address;
  std::memcpy(&address, octets, sizeof address);
  return address;
}

void toOctets(NetAddress address, uint8_t octets[4]) { std::memcpy(octets, &address, sizeof address); }

uint32_t toHostOrder(NetAddress address) {
  uint8_t o[4];
  toOctets(address, o);
  return (uint32_t{o[0]} << 24) | (uint32_t{o[1]} << 16) | (uint32_t{o[2]} << 8) | uint32_t{o[3]};
}

NetAddress fromHostOrder(uint32_t hostOrder) {
  return fromOctets(static_cast<uint8_t>(hostOrder >> 24), static_cast<uint8_t>(hostOrder >> 16),
                    static_cast<uint8_t>(hostOrder >> 8), static_cast<uint8_t>(hostOrder));
}

std::optional<NetAddress> parseDottedQuad(const char* text, std::size_t capacity) {
  if (!text) return std::nullopt;
  const std::size_t length = strnlen(text, capacity);
  uint8_t octets[4] = {};
  std::size_t pos = 0;
  for (int field = 0; field < 4; ++field) {
    if (field > 0) {
      if (pos >= length || text[pos] != '.') return std::nullopt;
      ++pos;
    }
    const std::size_t start = pos;
    unsigned value = 0;
    while (pos < length && text[pos] >= '0' && text[pos] <= '9' && pos - start < 3) {
      value = value * 10 + static_cast<unsigned>(text[pos] - '0');
      ++pos;
    }
    const std::size_t digits = pos - start;
    if (digits == 0 || value > 255 || (digits > 1 && text[start] == '0')) return std::nullopt;
    if (pos < length && text[pos] >= '0' && text[pos] <= '9') return std::nullopt;  // a fourth digit
    octets[field] = static_cast<uint8_t>(value);
  }
  if (pos != length) return std::nullopt;
  return fromOctets(octets[0], octets[1], octets[2], octets[3]);
}

std::string formatDottedQuad(NetAddress address) {
  uint8_t o[4];
  toOctets(address, o);
  char text[16];
  std::snprintf(text, sizeof text, "%d.%d.%d.%d", o[0], o[1], o[2], o[3]);
  return text;
}

std::optional<uint16_t> parsePort(const std::string& text) {
  std::size_t pos = text.find_first_not_of(' ');
  if (pos == std::string::npos) return std::nullopt;
  const std::size_t end = text.find_last_not_of(' ') + 1;
  unsigned long value = 0;
  for (; pos < end; ++pos) {
    const char c = text[pos];
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<unsigned long>(c - '0');
    if (value > 65535) return std::nullopt;
  }
  if (value == 0) return std::nullopt;
  return static_cast<uint16_t>(value);
}

}  // namespace remote
