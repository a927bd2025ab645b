// The private message by which the receive thread hands a datagram to the main window
// (the panel's remote::kDatagramMessage, 0x8010): wParam = slot index (0..7), lParam = address of the
// 1024-byte slot, valid while the message is handled. Sent, not posted: the receive thread
// waits until the handler returns.
#pragma once

#include <windows.h>

namespace remote {
inline constexpr UINT kDatagramMessage = 0x8010;
}  // namespace remote
