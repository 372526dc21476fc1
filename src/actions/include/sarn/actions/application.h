#pragma once
// The program's reverse-domain application identifier.

#include <string_view>

namespace sarn {

inline constexpr std::string_view kApplicationId = "org.vorn.Sarn";

}  // namespace sarn
