// Byte-text helpers shared by the backends. Safe on any thread.
#pragma once

#include <string>
#include <string_view>

namespace sarn {

// The bytes as UTF-8, every invalid sequence replaced by U+FFFD.
std::string utf8_lossy(std::string_view bytes);

// The text without white space (the Unicode White_Space characters, e.g.
// blanks, tabs, line breaks, no-break and ideographic spaces) at both ends.
// Expects valid UTF-8.
std::string_view trim_white_space(std::string_view text);

}  // namespace sarn
