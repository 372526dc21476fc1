#pragma once
// Text helpers shared by the layers above. Pure functions; any thread.

#include <string_view>

namespace sarn {

// Removes white space (the Unicode White_Space property, in UTF-8) at both ends.
// Bytes that are not valid UTF-8 end the trimming on their side.
std::string_view trim_white_space(std::string_view text);

}  // namespace sarn
