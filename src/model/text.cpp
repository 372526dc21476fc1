#include "sarn/model/text.h"

#include <algorithm>
#include <array>
#include <cstdint>

namespace sarn {
namespace {

// Every code point with the White_Space property.
constexpr std::array<char32_t, 25> kWhiteSpace = {
    0x0009, 0x000A, 0x000B, 0x000C, 0x000D, 0x0020, 0x0085, 0x00A0, 0x1680, 0x2000, 0x2001, 0x2002, 0x2003,
    0x2004, 0x2005, 0x2006, 0x2007, 0x2008, 0x2009, 0x200A, 0x2028, 0x2029, 0x202F, 0x205F, 0x3000,
};

bool is_white_space(char32_t c) { return std::find(kWhiteSpace.begin(), kWhiteSpace.end(), c) != kWhiteSpace.end(); }

// The length of the white-space sequence at the start of `text`, or 0.
std::size_t white_space_at(std::string_view text) {
    if (text.empty()) return 0;
    const auto b0 = static_cast<std::uint8_t>(text[0]);
    if (b0 < 0x80) return is_white_space(b0) ? 1 : 0;
    std::size_t length = b0 >= 0xE0 && b0 < 0xF0 ? 3 : b0 >= 0xC2 && b0 < 0xE0 ? 2 : 0;
    if (length == 0 || text.size() < length) return 0;
    char32_t c = length == 2 ? b0 & 0x1F : b0 & 0x0F;
    for (std::size_t i = 1; i < length; ++i) {
        const auto b = static_cast<std::uint8_t>(text[i]);
        if ((b & 0xC0) != 0x80) return 0;
        c = c << 6 | (b & 0x3F);
    }
    return is_white_space(c) ? length : 0;
}

}  // namespace

std::string_view trim_white_space(std::string_view text) {
    while (const std::size_t n = white_space_at(text)) text.remove_prefix(n);
    for (;;) {
        // White space is at most three bytes long in UTF-8.
        std::size_t n = 0;
        for (std::size_t length = 1; length <= 3 && length <= text.size(); ++length) {
            if (white_space_at(text.substr(text.size() - length)) == length) {
                n = length;
                break;
            }
        }
        if (n == 0) return text;
        text.remove_suffix(n);
    }
}

}  // namespace sarn
