#include "sarn/innertube/display_text.h"

#include <array>
#include <limits>

namespace sarn::innertube {
namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_alpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// A separator inside a number: "," "." blank, or the UTF-8 no-break and
// narrow no-break spaces. Returns its length in bytes, 0 when none.
std::size_t separator_at(std::string_view text, std::size_t at) {
    char c = text[at];
    if (c == ',' || c == '.' || c == ' ' || c == '\'') return 1;
    if (text.substr(at).starts_with("\xC2\xA0")) return 2;
    if (text.substr(at).starts_with("\xE2\x80\xAF")) return 3;
    return 0;
}

bool starts_with_word(std::string_view text, std::string_view word) {
    if (text.size() < word.size()) return false;
    for (std::size_t i = 0; i < word.size(); ++i) {
        if (lower(text[i]) != word[i]) return false;
    }
    return text.size() == word.size() || !is_alpha(text[word.size()]);
}

std::uint64_t saturating(long double value) {
    constexpr auto kMax = std::numeric_limits<std::uint64_t>::max();
    if (!(value >= 0)) return 0;
    if (value >= static_cast<long double>(kMax)) return kMax;
    return static_cast<std::uint64_t>(value);
}

}  // namespace

std::optional<std::uint64_t> parse_count(std::string_view text) {
    std::size_t start = 0;
    while (start < text.size() && !is_digit(text[start])) ++start;
    if (start == text.size()) {
        // "No views", "No subscribers": a count of zero written as a word.
        std::string_view rest = text;
        while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
        if (starts_with_word(rest, "no") && rest.size() > 3 && rest[2] == ' ') return 0;
        return std::nullopt;
    }

    // The number runs over digits and single separators between digits.
    std::string digits;       // every digit, separators dropped
    std::size_t decimal_at = std::string::npos;  // digits before the last separator
    std::size_t at = start;
    while (at < text.size()) {
        if (is_digit(text[at])) {
            digits.push_back(text[at]);
            ++at;
            continue;
        }
        std::size_t sep = separator_at(text, at);
        if (sep == 0 || at + sep >= text.size() || !is_digit(text[at + sep])) break;
        if (text[at] == '.' || text[at] == ',') decimal_at = digits.size();
        at += sep;
    }

    std::string_view rest = text.substr(at);
    if (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
    else if (rest.starts_with("\xC2\xA0")) rest.remove_prefix(2);
    // American English writes "K", "M", "B"; British English "K", "M", "bn".
    static constexpr std::array<std::pair<std::string_view, long double>, 7> kScales{{
        {"thousand", 1e3L}, {"million", 1e6L}, {"billion", 1e9L}, {"bn", 1e9L},
        {"k", 1e3L},        {"m", 1e6L},       {"b", 1e9L},
    }};
    long double scale = 0;
    for (const auto& [word, factor] : kScales) {
        if (starts_with_word(rest, word)) {
            scale = factor;
            break;
        }
    }

    if (scale == 0) {
        long double value = 0;
        for (char d : digits) value = value * 10 + (d - '0');
        return saturating(value);
    }
    long double value = 0;
    std::size_t whole = decimal_at == std::string::npos ? digits.size() : decimal_at;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i < whole) {
            value = value * 10 + (digits[i] - '0');
        }
    }
    long double fraction = 0;
    long double unit = 0.1L;
    for (std::size_t i = whole; i < digits.size(); ++i, unit /= 10) fraction += (digits[i] - '0') * unit;
    return saturating((value + fraction) * scale + 0.5L);
}

std::optional<std::uint32_t> parse_duration(std::string_view text) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    if (text.empty()) return std::nullopt;
    std::uint64_t total = 0;
    std::uint64_t group = 0;
    int groups = 1;
    bool digit_in_group = false;
    for (char c : text) {
        if (is_digit(c)) {
            group = group * 10 + static_cast<std::uint64_t>(c - '0');
            if (group > 1'000'000'000ULL) return std::nullopt;
            digit_in_group = true;
        } else if (c == ':') {
            if (!digit_in_group || ++groups > 3) return std::nullopt;
            total = total * 60 + group;
            group = 0;
            digit_in_group = false;
        } else {
            return std::nullopt;
        }
    }
    if (!digit_in_group) return std::nullopt;
    total = total * 60 + group;
    if (total > std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
    return static_cast<std::uint32_t>(total);
}

std::string comment_initials(std::string_view author) {
    // Words are separated by Unicode white space (blanks, tabs, line breaks,
    // no-break and other wide spaces).
    const auto space_at = [&](std::size_t at) -> std::size_t {
        const auto c = static_cast<unsigned char>(author[at]);
        if ((c >= 0x09 && c <= 0x0D) || c == 0x20) return 1;
        std::string_view rest = author.substr(at);
        if (rest.starts_with("\xC2\x85") || rest.starts_with("\xC2\xA0")) return 2;
        if (rest.starts_with("\xE1\x9A\x80") || rest.starts_with("\xE3\x80\x80")) return 3;  // U+1680, U+3000
        if (rest.size() >= 3 && c == 0xE2) {
            const auto b1 = static_cast<unsigned char>(rest[1]);
            const auto b2 = static_cast<unsigned char>(rest[2]);
            if (b1 == 0x80 && (b2 <= 0x8A || b2 == 0xA8 || b2 == 0xA9 || b2 == 0xAF)) return 3;  // U+2000-200A, 2028, 2029, 202F
            if (b1 == 0x81 && b2 == 0x9F) return 3;                                            // U+205F
        }
        return 0;
    };
    std::string out;
    int words = 0;
    std::size_t at = 0;
    while (at < author.size() && words < 2) {
        while (at < author.size()) {
            const std::size_t space = space_at(at);
            if (space == 0) break;
            at += space;
        }
        if (at == author.size()) break;
        std::size_t word_start = at;
        while (at < author.size() && space_at(at) == 0) ++at;
        std::string_view word = author.substr(word_start, at - word_start);
        ++words;
        if (words == 1 && word.size() > 1 && word.front() == '@') word.remove_prefix(1);
        // One whole UTF-8 character.
        auto lead = static_cast<unsigned char>(word.front());
        std::size_t length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : (lead >> 3) == 0x1E ? 4 : 1;
        if (length > word.size()) length = 1;
        std::string first(word.substr(0, length));
        if (first.size() == 1 && first[0] >= 'a' && first[0] <= 'z') first[0] = static_cast<char>(first[0] - 'a' + 'A');
        out += first;
    }
    if (out.empty()) return "?";
    return out;
}

}  // namespace sarn::innertube
