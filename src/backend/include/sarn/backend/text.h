// Byte-text helpers shared by the backends. Safe on any thread.
#pragma once

#include <string>
#include <string_view>

#include "sarn/model/text.h"

namespace sarn {

// The bytes as UTF-8, every invalid sequence replaced by U+FFFD.
std::string utf8_lossy(std::string_view bytes);


}  // namespace sarn
