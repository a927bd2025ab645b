// The notification broadcast to a remote controller: one datagram to the directed broadcast
// address of an adapter's subnet.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "Ipv4Text.h"

// The 16 characters and their NUL: 17 bytes.
inline constexpr char kNotifyText[] = "LumoTechNotifyBC";
inline constexpr std::size_t kNotifyLength = sizeof kNotifyText;

// Sends data once to (address AND mask) OR NOT mask at port (address and mask in network byte
// order), from a broadcast-enabled UDP socket. S_OK, or the failing step's error; no retry.
HRESULT SendNotifyBroadcast(remote::NetAddress mask, remote::NetAddress address, uint16_t port, const void* data,
                            std::size_t length);
