// IPv4 addresses and ports as the remote-control page handles them. Portable.
//
// An address is kept the way the system keeps it: a 32-bit value whose four bytes in memory
// are the four octets in written order ("network byte order"). The IP-address control wants
// the other form, first octet in the highest bits ("host order").
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace remote {

using NetAddress = uint32_t;  // network byte order

NetAddress fromOctets(uint8_t a, uint8_t b, uint8_t c, uint8_t d);
// The four octets in written order.
void toOctets(NetAddress address, uint8_t octets[4]);
// First octet in the highest bits, as the IP-address control takes it.
uint32_t toHostOrder(NetAddress address);
NetAddress fromHostOrder(uint32_t hostOrder);

// Strict dotted quad ("192.168.1.20"): four decimal fields 0..255 without leading zeros, nothing
// else. text is a fixed-width field of capacity bytes that need not be terminated; the text ends
// at its first NUL. Anything else (octal, hex, short forms, spaces, 256) is malformed.
std::optional<NetAddress> parseDottedQuad(const char* text, std::size_t capacity);

// "a.b.c.d" with the octets in written order.
std::string formatDottedQuad(NetAddress address);

// The subnet's directed broadcast address: (address AND mask) OR NOT mask.
inline NetAddress directedBroadcast(NetAddress address, NetAddress mask) { return (address & mask) | ~mask; }

// A UDP port written in decimal (1..65535, optional surrounding spaces); anything else is malformed.
std::optional<uint16_t> parsePort(const std::string& text);

}  // namespace remote
