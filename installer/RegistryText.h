// Registry values the co-installer reads are checked before they are trusted: a string
// value of the wrong type, with text after an embedded NUL, or larger than its limit is
// refused. One NUL (or none) may end the data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace tess::installer {

// Registry value types as the platform numbers them.
inline constexpr uint32_t kRegSz = 1;
inline constexpr uint32_t kRegExpandSz = 2;

std::optional<std::string> registryText(uint32_t type, const uint8_t* data, size_t size, size_t maxBytes);

// An "InfPath": a bare file name of at least 5 bytes with its NUL, no folder part.
std::optional<std::string> infPathText(uint32_t type, const uint8_t* data, size_t size);

}  // namespace tess::installer
