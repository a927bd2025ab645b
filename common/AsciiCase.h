// ASCII case folding for device paths, identifiers and names: what Windows treats as
// case-insensitive in them is ASCII (a locale would change nothing but the cost).
#pragma once

#include <cstddef>

namespace tess {

inline char asciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// The first n characters of a and b (or up to a terminator within them) are equal but
// for case.
inline bool equalsIgnoringCase(const char* a, const char* b, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    if (asciiLower(a[i]) != asciiLower(b[i])) return false;
    if (a[i] == '\0') return true;
  }
  return true;
}

inline bool equalsIgnoringCase(const char* a, const char* b) { return equalsIgnoringCase(a, b, static_cast<size_t>(-1)); }

}  // namespace tess
