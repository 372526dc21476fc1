#pragma once
// Convenience over the official BLAKE3 C API (blake3.h): the default-length
// digest of a byte string as 64 lower-case hexadecimal digits.
// Pure function; any thread.

#include <string>
#include <string_view>

namespace blake3 {

std::string hex_digest(std::string_view bytes);

}  // namespace blake3
