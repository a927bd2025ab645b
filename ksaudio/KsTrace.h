// The trace facility of the kernel-streaming library and the kernel-streaming driver:
// printf-style messages with a level, sent to the debugger output. A message is emitted
// only when its level is at most the process-wide trace level, which the system leaves
// at 0, so in normal operation nothing is emitted.
#pragma once

#include <cstdint>

namespace tess {

// Levels in use.
enum TraceLevelId : int {
  kTraceFailure = 1,       // an operation failed
  kTracePinProperty = 3,   // a pin property could not be read
  kTraceEnumeration = 4,   // failure found while enumerating
  kTraceNotice = 5,        // notice (alias missing, communication type unknown)
  kTraceEnterLeave = 6,    // entry to and exit from an operation
};

// Messages are formatted into 260 characters (longer ones are cut).
inline constexpr int kTraceMessageChars = 260;

#if defined(__GNUC__)
#define TESS_PRINTF_FORMAT(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define TESS_PRINTF_FORMAT(fmt, args)
#endif

void Trace(int level, const char* format, ...) TESS_PRINTF_FORMAT(2, 3);

// "%s Enter" with a name such as "CKsFilter::Instantiate()".
void TraceEnter(const char* qualifiedNameWithParens);
// "%s Leave" with a name followed by "()", for operations without an HRESULT.
void TraceLeave(const char* qualifiedNameWithParens);
// "%s Leave, returning %#08x" with a name without "()".
void TraceLeaveResult(const char* qualifiedName, int32_t result);

int TraceLevel();
// Only tests raise it, to observe the messages.
void SetTraceLevel(int level);

// Where formatted messages go. Null restores the default (OutputDebugStringA on Windows,
// standard error elsewhere). Tests install their own to capture messages.
using TraceSink = void (*)(const char* message);
void SetTraceSink(TraceSink sink);

// The platform's default destination (one definition per platform).
void DefaultTraceSink(const char* message);

}  // namespace tess
