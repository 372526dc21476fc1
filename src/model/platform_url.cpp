#include "sarn/model/platform_url.h"

#include <array>
#include <cstdint>

#include <unicode/uchar.h>
#include <unicode/utf8.h>

namespace sarn {

std::string_view trim_ascii(std::string_view text) {
    auto is_space = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; };
    while (!text.empty() && is_space(text.front())) text.remove_prefix(1);
    while (!text.empty() && is_space(text.back())) text.remove_suffix(1);
    return text;
}

namespace {

// Removes white space (the Unicode White_Space property) at both ends.
std::string_view trim_unicode(std::string_view text) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    const auto length = static_cast<std::int32_t>(text.size());
    std::int32_t start = 0;
    while (start < length) {
        std::int32_t next = start;
        UChar32 c;
        U8_NEXT(bytes, next, length, c);
        if (c < 0 || !u_isUWhiteSpace(c)) break;
        start = next;
    }
    std::int32_t end = length;
    while (end > start) {
        std::int32_t previous = end;
        UChar32 c;
        U8_PREV(bytes, start, previous, c);
        if (c < 0 || !u_isUWhiteSpace(c)) break;
        end = previous;
    }
    return text.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(end - start));
}

// True when the bytes hold a C0 control, DEL, or a C1 control (U+0080-U+009F,
// encoded in UTF-8 as C2 80 .. C2 9F).
bool has_control_character(std::string_view rest) {
    for (std::size_t i = 0; i < rest.size(); ++i) {
        auto byte = static_cast<unsigned char>(rest[i]);
        if (byte < 0x20 || byte == 0x7f) return true;
        if (byte == 0xc2 && i + 1 < rest.size()) {
            auto next = static_cast<unsigned char>(rest[i + 1]);
            if (next >= 0x80 && next <= 0x9f) return true;
        }
    }
    return false;
}

}  // namespace

std::optional<std::string> normalize_watch_url(std::string_view text) {
    text = trim_unicode(text);
    constexpr std::array<std::string_view, 3> origins = {kPlatformBareOrigin, kPlatformWwwOrigin,
                                                         kPlatformMobileOrigin};
    for (std::string_view origin : origins) {
        if (!text.starts_with(origin)) continue;
        std::string_view rest = text.substr(origin.size());
        if (rest.empty() || rest.size() > 232 || has_control_character(rest)) return std::nullopt;
        std::string out(kPlatformBareOrigin);
        out.append(rest);
        return out;
    }
    return std::nullopt;
}

}  // namespace sarn
