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

namespace {

bool is_id_character(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
}

bool is_id_text(std::string_view text, std::size_t longest) {
    if (text.empty() || text.size() > longest) return false;
    for (char c : text) {
        if (!is_id_character(c)) return false;
    }
    return true;
}

// The id at the front of `rest`, when what follows it (if anything) starts a
// further path, a query or a fragment.
std::optional<std::string> leading_id(std::string_view rest, std::string_view ends) {
    const std::size_t end = rest.find_first_of(ends);
    const std::string_view id = rest.substr(0, end);
    if (!is_id_text(id, 64)) return std::nullopt;
    return std::string(id);
}

}  // namespace

bool is_channel_id(std::string_view text) { return text.starts_with("UC") && is_id_text(text.substr(2), 62); }

std::optional<std::string> channel_id_in_address(std::string_view text) {
    const auto normalized = normalize_watch_url(text);
    if (!normalized) return std::nullopt;
    std::string_view rest = std::string_view(*normalized).substr(kPlatformBareOrigin.size());
    if (!rest.starts_with("channel/")) return std::nullopt;
    auto id = leading_id(rest.substr(8), "/?#");
    if (!id || !is_channel_id(*id)) return std::nullopt;
    return id;
}

std::optional<std::string> video_id_in_address(std::string_view text) {
    text = trim_unicode(text);
    if (text.starts_with(kPlatformShortOrigin)) return leading_id(text.substr(kPlatformShortOrigin.size()), "/?#&");
    const auto normalized = normalize_watch_url(text);
    if (!normalized) return std::nullopt;
    std::string_view rest = std::string_view(*normalized).substr(kPlatformBareOrigin.size());
    if (rest.starts_with("watch?")) {
        // The v parameter, wherever it stands among the others.
        std::string_view query = rest.substr(6);
        query = query.substr(0, query.find('#'));
        while (!query.empty()) {
            const std::size_t amp = query.find('&');
            const std::string_view pair = query.substr(0, amp);
            if (pair.starts_with("v=")) return leading_id(pair.substr(2), "&#");
            if (amp == std::string_view::npos) break;
            query.remove_prefix(amp + 1);
        }
        return std::nullopt;
    }
    for (std::string_view path : {std::string_view("shorts/"), std::string_view("live/")}) {
        if (rest.starts_with(path)) return leading_id(rest.substr(path.size()), "/?#&");
    }
    return std::nullopt;
}

std::string channel_address_for_peer(std::string_view channel_id) {
    std::string out(kPlatformWwwOrigin);
    out.append("channel/");
    out.append(channel_id);
    return out;
}

std::string www_spelling(std::string_view address) {
    if (!address.starts_with(kPlatformBareOrigin)) return std::string(address);
    std::string out(kPlatformWwwOrigin);
    out.append(address.substr(kPlatformBareOrigin.size()));
    return out;
}

}  // namespace sarn
