// Readable names of ASIO result codes and selectors for the host's output.
#pragma once

#include <cstdint>
#include <string>

namespace asiohost {

std::string asioErrorName(int32_t code);  // "ASE_OK", "ASE_NotPresent", or the number
std::string futureSelectorName(int32_t selector);
std::string messageSelectorName(int32_t selector);

}  // namespace asiohost
