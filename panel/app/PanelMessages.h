// The control panel's private window messages and command identifiers. Their values are
// fixed: the endpoint callbacks, the remote-control receiver, a second instance and the
// tray send them.
#pragma once

#include <windows.h>

inline constexpr UINT WM_CPL_VOLUME_CHANGED = 0x8000;       // endpoint volume or mute changed
inline constexpr UINT WM_CPL_ENDPOINT_ACTIVE = 0x8001;      // an endpoint became active
inline constexpr UINT WM_CPL_PLAY_FORMAT_CHANGED = 0x8002;  // poll: playback format differs
inline constexpr UINT WM_CPL_REC_FORMAT_CHANGED = 0x8003;   // poll: wParam = capture endpoint index
inline constexpr UINT WM_CPL_DATAGRAM = 0x8010;             // remote control: wParam slot, lParam slot address
inline constexpr UINT WM_CPL_TRAY = 0x8020;                 // tray icon callback

inline constexpr UINT ID_TRAY_SHOW = 0x8021;
inline constexpr UINT ID_TRAY_HIDE = 0x8022;
inline constexpr UINT ID_TRAY_EXIT = 0x8023;
inline constexpr UINT ID_CPL_EXIT = 0x8050;
inline constexpr UINT ID_CPL_SHOW_ASIO = 0x8051;
inline constexpr UINT ID_CPL_REFRESH_ASIO = 0x8052;

inline constexpr UINT_PTR kPollTimerId = 5066;
inline constexpr UINT kPollPeriodMs = 1000;
// One-shot: the rescan's wait after an endpoint became active (the window stays responsive).
inline constexpr UINT_PTR kRescanTimerId = 5067;
inline constexpr UINT kRescanDelayMs = 2000;
