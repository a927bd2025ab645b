// The private message by which the receive thread hands a datagram to the main window:
// wParam = slot index (0..7), lParam = address of the 1024-byte slot, valid while the message
// is handled. Sent, not posted: the receive thread waits until the handler returns.
#pragma once

#include <windows.h>

#ifndef WM_CPL_DATAGRAM
#define WM_CPL_DATAGRAM 0x8010
#endif
