#include "KsTrace.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>

namespace tess {
namespace {

std::atomic<int> g_traceLevel{0};
std::atomic<TraceSink> g_traceSink{nullptr};

void emit(const char* message) {
  TraceSink sink = g_traceSink.load(std::memory_order_acquire);
  (sink ? sink : DefaultTraceSink)(message);
}

}  // namespace

void Trace(int level, const char* format, ...) {
  if (level > g_traceLevel.load(std::memory_order_relaxed)) return;
  char message[kTraceMessageChars];
  va_list args;
  va_start(args, format);
  int written = std::vsnprintf(message, sizeof message, format, args);
  va_end(args);
  if (written < 0) return;
  emit(message);
}

void TraceEnter(const char* name) { Trace(kTraceEnterLeave, "%s Enter", name); }
void TraceLeave(const char* name) { Trace(kTraceEnterLeave, "%s Leave", name); }
void TraceLeaveResult(const char* name, int32_t result) {
  Trace(kTraceEnterLeave, "%s Leave, returning %#08x", name, static_cast<unsigned>(result));
}

int TraceLevel() { return g_traceLevel.load(std::memory_order_relaxed); }
void SetTraceLevel(int level) { g_traceLevel.store(level, std::memory_order_relaxed); }
void SetTraceSink(TraceSink sink) { g_traceSink.store(sink, std::memory_order_release); }

}  // namespace tess
