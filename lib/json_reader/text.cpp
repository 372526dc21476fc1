#include "json_reader/text.h"

#include <unicode/uchar.h>

#include <array>
#include <charconv>
#include <cstdlib>
#include <optional>
#include <system_error>

namespace json_reader {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Decodes one character at `pos`. On invalid input answers nothing and
// advances past the maximal invalid subsequence (at least one byte), the
// rule lossy conversion uses to place one replacement character.
std::optional<char32_t> next_char(std::string_view s, std::size_t& pos) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    const unsigned char b0 = byte(pos);
    if (b0 < 0x80) {
        ++pos;
        return b0;
    }
    std::size_t need = 0;
    char32_t cp = 0;
    unsigned char lo = 0x80, hi = 0xBF;  // range of the second byte
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        need = 1;
        cp = b0 & 0x1F;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        need = 2;
        cp = b0 & 0x0F;
        if (b0 == 0xE0) lo = 0xA0;
        if (b0 == 0xED) hi = 0x9F;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        need = 3;
        cp = b0 & 0x07;
        if (b0 == 0xF0) lo = 0x90;
        if (b0 == 0xF4) hi = 0x8F;
    } else {
        ++pos;
        return std::nullopt;
    }
    std::size_t i = pos + 1;
    for (std::size_t k = 0; k < need; ++k, ++i) {
        const unsigned char lower = k == 0 ? lo : 0x80;
        const unsigned char upper = k == 0 ? hi : 0xBF;
        if (i >= s.size() || byte(i) < lower || byte(i) > upper) {
            pos = i;
            return std::nullopt;
        }
        cp = (cp << 6) | (byte(i) & 0x3F);
    }
    pos = i;
    return cp;
}


// Printable in the reference language's sense: everything but separators
// other than the space, control, format, surrogate, private-use and
// unassigned characters.
bool is_printable(char32_t cp) {
    if (cp < 0x20) return false;
    if (cp < 0x7F) return true;
    switch (u_charType(static_cast<UChar32>(cp))) {
        case U_SPACE_SEPARATOR:
        case U_LINE_SEPARATOR:
        case U_PARAGRAPH_SEPARATOR:
        case U_CONTROL_CHAR:
        case U_FORMAT_CHAR:
        case U_SURROGATE:
        case U_PRIVATE_USE_CHAR:
        case U_UNASSIGNED:
            return false;
        default:
            return true;
    }
}

bool is_grapheme_extend(char32_t cp) {
    return cp >= 0x300 && u_hasBinaryProperty(static_cast<UChar32>(cp), UCHAR_GRAPHEME_EXTEND);
}

void append_unicode_escape(std::string& out, char32_t cp) {
    static constexpr char kHex[] = "0123456789abcdef";
    out += "\\u{";
    bool started = false;
    for (int shift = 20; shift >= 0; shift -= 4) {
        const unsigned digit = (cp >> shift) & 0xF;
        if (digit != 0 || started || shift == 0) {
            out.push_back(kHex[digit]);
            started = true;
        }
    }
    out.push_back('}');
}

}  // namespace

void append_utf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

bool is_valid_utf8(std::string_view text) {
    std::size_t pos = 0;
    while (pos < text.size()) {
        // Runs of ASCII are the common case.
        while (pos < text.size() && static_cast<unsigned char>(text[pos]) < 0x80) ++pos;
        if (pos == text.size()) break;
        if (!next_char(text, pos)) return false;
    }
    return true;
}

std::string lossy_utf8(std::string_view text) {
    if (is_valid_utf8(text)) return std::string(text);
    std::string out;
    out.reserve(text.size() + 8);
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t begin = pos;
        if (next_char(text, pos)) {
            out.append(text.substr(begin, pos - begin));
        } else {
            append_utf8(out, kReplacement);
        }
    }
    return out;
}

void append_json_string(std::string& out, std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    out.push_back('"');
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t start = pos;
        while (pos < text.size()) {
            const auto c = static_cast<unsigned char>(text[pos]);
            if (c < 0x20 || c == '"' || c == '\\' || c >= 0x80) break;
            ++pos;
        }
        out.append(text.substr(start, pos - start));
        if (pos == text.size()) break;
        const auto c = static_cast<unsigned char>(text[pos]);
        if (c >= 0x80) {
            const std::size_t begin = pos;
            if (next_char(text, pos)) {
                out.append(text.substr(begin, pos - begin));
            } else {
                append_utf8(out, kReplacement);
            }
            continue;
        }
        ++pos;
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\b': out += "\\b"; break;
            case '\f': out += "\\f"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                out += "\\u00";
                out.push_back(kHex[c >> 4]);
                out.push_back(kHex[c & 0xF]);
        }
    }
    out.push_back('"');
}

void append_debug_quoted(std::string& out, std::string_view text) {
    out.push_back('"');
    std::size_t pos = 0;
    while (pos < text.size()) {
        const auto c0 = static_cast<unsigned char>(text[pos]);
        if (c0 >= 0x20 && c0 < 0x7F && c0 != '"' && c0 != '\\') {
            out.push_back(static_cast<char>(c0));
            ++pos;
            continue;
        }
        const std::size_t begin = pos;
        const std::optional<char32_t> decoded = next_char(text, pos);
        const char32_t cp = decoded.value_or(kReplacement);
        switch (cp) {
            case U'\0': out += "\\0"; continue;
            case U'\t': out += "\\t"; continue;
            case U'\r': out += "\\r"; continue;
            case U'\n': out += "\\n"; continue;
            case U'\\': out += "\\\\"; continue;
            case U'"': out += "\\\""; continue;
            default: break;
        }
        if (is_grapheme_extend(cp) || !is_printable(cp)) {
            append_unicode_escape(out, cp);
        } else if (decoded) {
            out.append(text.substr(begin, pos - begin));
        } else {
            append_utf8(out, cp);
        }
    }
    out.push_back('"');
}

std::string debug_quoted(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 2);
    append_debug_quoted(out, text);
    return out;
}

std::string display_float(double value) {
    if (value != value) return "NaN";
    if (value == __builtin_inf()) return "inf";
    if (value == -__builtin_inf()) return "-inf";

    // Shortest digits that read back, from the scientific form d.ddde±x.
    std::array<char, 64> buf{};
    const auto [end, ec] = std::to_chars(buf.data(), buf.data() + buf.size(), value, std::chars_format::scientific);
    if (ec != std::errc()) return "0.0";
    std::string_view sci(buf.data(), static_cast<std::size_t>(end - buf.data()));

    std::string out;
    if (!sci.empty() && sci.front() == '-') {
        out.push_back('-');
        sci.remove_prefix(1);
    }
    const std::size_t e_pos = sci.find('e');
    std::string digits;
    for (char c : sci.substr(0, e_pos)) {
        if (c != '.') digits.push_back(c);
    }
    const int exponent = std::atoi(std::string(sci.substr(e_pos + 1)).c_str());
    while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
    if (digits == "0") {
        out += "0.0";
        return out;
    }
    // value = 0.d1d2d3... x 10^(exponent + 1)
    const long point = static_cast<long>(exponent) + 1;
    const long count = static_cast<long>(digits.size());
    if (point <= 0) {
        out += "0.";
        out.append(static_cast<std::size_t>(-point), '0');
        out += digits;
    } else if (point < count) {
        out.append(digits, 0, static_cast<std::size_t>(point));
        out.push_back('.');
        out.append(digits, static_cast<std::size_t>(point));
    } else {
        out += digits;
        out.append(static_cast<std::size_t>(point - count), '0');
        out += ".0";
    }
    return out;
}

}  // namespace json_reader
