#include "sarn/backend/text.h"

#include <utility>

namespace sarn {

std::string utf8_lossy(std::string_view bytes) {
    static constexpr std::string_view kReplacement = "\xEF\xBF\xBD";
    std::string out;
    out.reserve(bytes.size());
    std::size_t i = 0;
    while (i < bytes.size()) {
        const auto b0 = static_cast<unsigned char>(bytes[i]);
        if (b0 < 0x80) {
            out.push_back(static_cast<char>(b0));
            ++i;
            continue;
        }
        std::size_t need = 0;
        unsigned char lo = 0x80, hi = 0xBF;  // bounds of the second byte
        if (b0 >= 0xC2 && b0 <= 0xDF) {
            need = 1;
        } else if (b0 >= 0xE0 && b0 <= 0xEF) {
            need = 2;
            if (b0 == 0xE0) lo = 0xA0;
            if (b0 == 0xED) hi = 0x9F;
        } else if (b0 >= 0xF0 && b0 <= 0xF4) {
            need = 3;
            if (b0 == 0xF0) lo = 0x90;
            if (b0 == 0xF4) hi = 0x8F;
        } else {
            out += kReplacement;
            ++i;
            continue;
        }
        // The longest valid prefix of a broken sequence becomes one U+FFFD.
        std::size_t taken = 1;
        bool valid = true;
        for (std::size_t k = 0; k < need; ++k) {
            if (i + taken >= bytes.size()) {
                valid = false;
                break;
            }
            const auto b = static_cast<unsigned char>(bytes[i + taken]);
            const unsigned char min = k == 0 ? lo : 0x80;
            const unsigned char max = k == 0 ? hi : 0xBF;
            if (b < min || b > max) {
                valid = false;
                break;
            }
            ++taken;
        }
        if (valid) {
            out.append(bytes.substr(i, taken));
        } else {
            out += kReplacement;
        }
        i += taken;
    }
    return out;
}

namespace {

bool is_white_space(char32_t c) {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}

// The code point starting at `at` and its length in bytes; a stray byte
// reads as itself (never white space above 0x7F).
std::pair<char32_t, std::size_t> code_point_at(std::string_view text, std::size_t at) {
    const auto lead = static_cast<unsigned char>(text[at]);
    std::size_t length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : (lead >> 3) == 0x1E ? 4 : 1;
    if (at + length > text.size()) return {0xFFFD, 1};
    char32_t c = length == 1 ? lead : lead & (0x7F >> length);
    for (std::size_t i = 1; i < length; ++i) c = (c << 6) | (static_cast<unsigned char>(text[at + i]) & 0x3F);
    return {c, length};
}

}  // namespace

std::string_view trim_white_space(std::string_view text) {
    while (!text.empty()) {
        const auto [c, length] = code_point_at(text, 0);
        if (!is_white_space(c)) break;
        text.remove_prefix(length);
    }
    while (!text.empty()) {
        // Step back over continuation bytes to the start of the last character.
        std::size_t start = text.size() - 1;
        while (start > 0 && text.size() - start < 4 && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80) --start;
        const auto [c, length] = code_point_at(text, start);
        if (start + length != text.size() || !is_white_space(c)) break;
        text.remove_suffix(length);
    }
    return text;
}

}  // namespace sarn
