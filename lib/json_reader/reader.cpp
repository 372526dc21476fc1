#include "json_reader/reader.h"

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <limits>

#include "json_reader/text.h"

namespace json_reader {
namespace {

// 1e0 ... 1e308, each the correctly rounded double of its power of ten.
constexpr std::array<double, 309> kPow10 = {
    1e0,   1e1,   1e2,   1e3,   1e4,   1e5,   1e6,   1e7,   1e8,   1e9,   1e10,  1e11,  1e12,  1e13,  1e14,  1e15,
    1e16,  1e17,  1e18,  1e19,  1e20,  1e21,  1e22,  1e23,  1e24,  1e25,  1e26,  1e27,  1e28,  1e29,  1e30,  1e31,
    1e32,  1e33,  1e34,  1e35,  1e36,  1e37,  1e38,  1e39,  1e40,  1e41,  1e42,  1e43,  1e44,  1e45,  1e46,  1e47,
    1e48,  1e49,  1e50,  1e51,  1e52,  1e53,  1e54,  1e55,  1e56,  1e57,  1e58,  1e59,  1e60,  1e61,  1e62,  1e63,
    1e64,  1e65,  1e66,  1e67,  1e68,  1e69,  1e70,  1e71,  1e72,  1e73,  1e74,  1e75,  1e76,  1e77,  1e78,  1e79,
    1e80,  1e81,  1e82,  1e83,  1e84,  1e85,  1e86,  1e87,  1e88,  1e89,  1e90,  1e91,  1e92,  1e93,  1e94,  1e95,
    1e96,  1e97,  1e98,  1e99,  1e100, 1e101, 1e102, 1e103, 1e104, 1e105, 1e106, 1e107, 1e108, 1e109, 1e110, 1e111,
    1e112, 1e113, 1e114, 1e115, 1e116, 1e117, 1e118, 1e119, 1e120, 1e121, 1e122, 1e123, 1e124, 1e125, 1e126, 1e127,
    1e128, 1e129, 1e130, 1e131, 1e132, 1e133, 1e134, 1e135, 1e136, 1e137, 1e138, 1e139, 1e140, 1e141, 1e142, 1e143,
    1e144, 1e145, 1e146, 1e147, 1e148, 1e149, 1e150, 1e151, 1e152, 1e153, 1e154, 1e155, 1e156, 1e157, 1e158, 1e159,
    1e160, 1e161, 1e162, 1e163, 1e164, 1e165, 1e166, 1e167, 1e168, 1e169, 1e170, 1e171, 1e172, 1e173, 1e174, 1e175,
    1e176, 1e177, 1e178, 1e179, 1e180, 1e181, 1e182, 1e183, 1e184, 1e185, 1e186, 1e187, 1e188, 1e189, 1e190, 1e191,
    1e192, 1e193, 1e194, 1e195, 1e196, 1e197, 1e198, 1e199, 1e200, 1e201, 1e202, 1e203, 1e204, 1e205, 1e206, 1e207,
    1e208, 1e209, 1e210, 1e211, 1e212, 1e213, 1e214, 1e215, 1e216, 1e217, 1e218, 1e219, 1e220, 1e221, 1e222, 1e223,
    1e224, 1e225, 1e226, 1e227, 1e228, 1e229, 1e230, 1e231, 1e232, 1e233, 1e234, 1e235, 1e236, 1e237, 1e238, 1e239,
    1e240, 1e241, 1e242, 1e243, 1e244, 1e245, 1e246, 1e247, 1e248, 1e249, 1e250, 1e251, 1e252, 1e253, 1e254, 1e255,
    1e256, 1e257, 1e258, 1e259, 1e260, 1e261, 1e262, 1e263, 1e264, 1e265, 1e266, 1e267, 1e268, 1e269, 1e270, 1e271,
    1e272, 1e273, 1e274, 1e275, 1e276, 1e277, 1e278, 1e279, 1e280, 1e281, 1e282, 1e283, 1e284, 1e285, 1e286, 1e287,
    1e288, 1e289, 1e290, 1e291, 1e292, 1e293, 1e294, 1e295, 1e296, 1e297, 1e298, 1e299, 1e300, 1e301, 1e302, 1e303,
    1e304, 1e305, 1e306, 1e307, 1e308,
};

struct Position {
    std::size_t line;
    std::size_t column;
};

Position position_of_index(std::string_view input, std::size_t index) {
    const std::string_view before = input.substr(0, index);
    const std::size_t last_newline = before.rfind('\n');
    const std::size_t start_of_line = last_newline == std::string_view::npos ? 0 : last_newline + 1;
    const auto lines = static_cast<std::size_t>(std::count(before.begin(), before.begin() + start_of_line, '\n'));
    return {1 + lines, index - start_of_line};
}

// Multiplying by ten and adding `digit` would pass `limit`.
constexpr bool overflows_u64(std::uint64_t value, std::uint64_t digit) {
    constexpr std::uint64_t limit = std::numeric_limits<std::uint64_t>::max();
    return value >= limit / 10 && (value > limit / 10 || digit > limit % 10);
}
constexpr bool overflows_i32(std::int32_t value, std::int32_t digit) {
    constexpr std::int32_t limit = std::numeric_limits<std::int32_t>::max();
    return value >= limit / 10 && (value > limit / 10 || digit > limit % 10);
}

std::int32_t saturating_add(std::int32_t a, std::int32_t b) {
    const std::int64_t r = std::int64_t{a} + b;
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(r, std::numeric_limits<std::int32_t>::min(),
                                                              std::numeric_limits<std::int32_t>::max()));
}

int hex_value(unsigned char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

void push_code_point(std::string& out, std::uint32_t cp) { append_utf8(out, static_cast<char32_t>(cp)); }

bool is_string_stop(unsigned char c) { return c == '"' || c == '\\' || c < 0x20; }

}  // namespace

// --- Error ---

std::string Error::text() const {
    if (!positioned()) return message;
    return fmt::format("{} at line {} column {}", message, line, column);
}

Error Error::invalid_type(std::string_view unexpected, std::string_view expected) {
    return custom(fmt::format("invalid type: {}, expected {}", unexpected, expected));
}

Error Error::invalid_value(std::string_view unexpected, std::string_view expected) {
    return custom(fmt::format("invalid value: {}, expected {}", unexpected, expected));
}

Error Error::invalid_length(std::size_t length, std::string_view expected) {
    return custom(fmt::format("invalid length {}, expected {}", length, expected));
}

Error Error::unknown_variant(std::string_view variant, std::span<const std::string_view> expected) {
    std::string text = fmt::format("unknown variant `{}`, ", variant);
    if (expected.empty()) {
        text += "there are no variants";
    } else if (expected.size() == 1) {
        text += fmt::format("expected `{}`", expected[0]);
    } else if (expected.size() == 2) {
        text += fmt::format("expected `{}` or `{}`", expected[0], expected[1]);
    } else {
        text += "expected one of ";
        for (std::size_t i = 0; i < expected.size(); ++i) {
            if (i > 0) text += ", ";
            text += fmt::format("`{}`", expected[i]);
        }
    }
    return custom(std::move(text));
}

Error Error::missing_field(std::string_view field) { return custom(fmt::format("missing field `{}`", field)); }

Error Error::duplicate_field(std::string_view field) { return custom(fmt::format("duplicate field `{}`", field)); }

std::string Number::unexpected() const {
    switch (kind) {
        case Kind::Unsigned: return fmt::format("integer `{}`", u);
        case Kind::Signed: return fmt::format("integer `{}`", i);
        case Kind::Float: return fmt::format("floating point `{}`", display_float(f));
    }
    return {};
}

// --- Positions and errors ---

std::optional<unsigned char> Reader::peek_after_whitespace() {
    while (m_index < m_input.size()) {
        const auto c = static_cast<unsigned char>(m_input[m_index]);
        if (c != ' ' && c != '\n' && c != '\t' && c != '\r') return c;
        ++m_index;
    }
    return std::nullopt;
}

Error Reader::error(std::string_view text) const {
    const Position p = position_of_index(m_input, m_index);
    return Error{std::string(text), p.line, p.column};
}

Error Reader::peek_error(std::string_view text) const {
    const Position p = position_of_index(m_input, std::min(m_input.size(), m_index + 1));
    return Error{std::string(text), p.line, p.column};
}

Error Reader::fix(Error err) const {
    if (err.positioned()) return err;
    const Position p = position_of_index(m_input, m_index);
    err.line = p.line;
    err.column = p.column;
    return err;
}

Result<void> Reader::enter_nesting() {
    if (--m_remaining_depth == 0) return std::unexpected(peek_error(message::kRecursionLimitExceeded));
    return {};
}

Error Reader::peek_invalid_type(std::string_view expected) {
    Error err;
    switch (peek_or_null()) {
        case 'n':
            eat();
            if (auto ok = parse_ident("ull"); !ok) return std::move(ok.error());
            err = Error::invalid_type("null", expected);
            break;
        case 't':
            eat();
            if (auto ok = parse_ident("rue"); !ok) return std::move(ok.error());
            err = Error::invalid_type("boolean `true`", expected);
            break;
        case 'f':
            eat();
            if (auto ok = parse_ident("alse"); !ok) return std::move(ok.error());
            err = Error::invalid_type("boolean `false`", expected);
            break;
        case '-':
        case '0': case '1': case '2': case '3': case '4':
        case '5': case '6': case '7': case '8': case '9': {
            auto number = parse_any_number();
            if (!number) return std::move(number.error());
            err = Error::invalid_type(number->unexpected(), expected);
            break;
        }
        case '"': {
            eat();
            auto text = parse_str();
            if (!text) return std::move(text.error());
            err = Error::invalid_type(fmt::format("string {}", debug_quoted(*text)), expected);
            break;
        }
        case '[':
            err = Error::invalid_type("sequence", expected);
            break;
        case '{':
            err = Error::invalid_type("map", expected);
            break;
        default:
            return peek_error(message::kExpectedSomeValue);
    }
    return fix(std::move(err));
}

Result<void> Reader::parse_ident(std::string_view rest) {
    for (char expected : rest) {
        if (m_index >= m_input.size()) return std::unexpected(error(message::kEofWhileParsingValue));
        const char next = m_input[m_index++];
        if (next != expected) return std::unexpected(error(message::kExpectedSomeIdent));
    }
    return {};
}

// --- Scalars ---

Result<std::string> Reader::read_string() {
    const auto next = peek_after_whitespace();
    if (!next) return std::unexpected(peek_error(message::kEofWhileParsingValue));
    if (*next != '"') return std::unexpected(peek_invalid_type("a string"));
    eat();
    auto text = parse_str();
    if (!text) return std::unexpected(std::move(text.error()));
    return std::string(*text);
}

Result<bool> Reader::read_bool() {
    const auto next = peek_after_whitespace();
    if (!next) return std::unexpected(peek_error(message::kEofWhileParsingValue));
    if (*next == 't') {
        eat();
        if (auto ok = parse_ident("rue"); !ok) return std::unexpected(std::move(ok.error()));
        return true;
    }
    if (*next == 'f') {
        eat();
        if (auto ok = parse_ident("alse"); !ok) return std::unexpected(std::move(ok.error()));
        return false;
    }
    return std::unexpected(peek_invalid_type("a boolean"));
}

Result<std::uint64_t> Reader::read_unsigned(std::string_view expected) {
    const auto next = peek_after_whitespace();
    if (!next) return std::unexpected(peek_error(message::kEofWhileParsingValue));
    Result<Number> number = std::unexpected(Error{});
    if (*next == '-') {
        eat();
        number = parse_integer(false);
    } else if (*next >= '0' && *next <= '9') {
        number = parse_integer(true);
    } else {
        return std::unexpected(peek_invalid_type(expected));
    }
    if (!number) return std::unexpected(std::move(number.error()));
    switch (number->kind) {
        case Number::Kind::Unsigned: return number->u;
        case Number::Kind::Signed:
            if (number->i >= 0) return static_cast<std::uint64_t>(number->i);
            return std::unexpected(fix(Error::invalid_value(number->unexpected(), expected)));
        case Number::Kind::Float: break;
    }
    return std::unexpected(fix(Error::invalid_type(number->unexpected(), expected)));
}

Result<std::uint64_t> Reader::read_u64() { return read_unsigned("u64"); }
Result<std::uint64_t> Reader::read_usize() { return read_unsigned("usize"); }

Result<void> Reader::read_unit() {
    const auto next = peek_after_whitespace();
    if (!next) return std::unexpected(peek_error(message::kEofWhileParsingValue));
    if (*next == 'n') {
        eat();
        return parse_ident("ull");
    }
    return std::unexpected(peek_invalid_type("unit"));
}

Result<void> Reader::end() {
    if (peek_after_whitespace()) return std::unexpected(peek_error(message::kTrailingCharacters));
    return {};
}

// --- Numbers ---

Result<Number> Reader::parse_any_number() {
    if (peek_or_null() == '-') {
        eat();
        return parse_integer(false);
    }
    return parse_integer(true);
}

Result<Number> Reader::parse_integer(bool positive) {
    if (m_index >= m_input.size()) return std::unexpected(error(message::kEofWhileParsingValue));
    const auto first = static_cast<unsigned char>(m_input[m_index++]);
    if (first == '0') {
        // Only one leading zero.
        const unsigned char c = peek_or_null();
        if (c >= '0' && c <= '9') return std::unexpected(peek_error(message::kInvalidNumber));
        return parse_number(positive, 0);
    }
    if (first < '1' || first > '9') return std::unexpected(error(message::kInvalidNumber));
    std::uint64_t significand = first - '0';
    for (;;) {
        const unsigned char c = peek_or_null();
        if (c < '0' || c > '9') return parse_number(positive, significand);
        const std::uint64_t digit = c - '0';
        if (overflows_u64(significand, digit)) {
            auto f = parse_long_integer(positive, significand);
            if (!f) return std::unexpected(std::move(f.error()));
            return Number{Number::Kind::Float, 0, 0, *f};
        }
        eat();
        significand = significand * 10 + digit;
    }
}

Result<Number> Reader::parse_number(bool positive, std::uint64_t significand) {
    const unsigned char c = peek_or_null();
    if (c == '.' || c == 'e' || c == 'E') {
        auto f = c == '.' ? parse_decimal(positive, significand, 0) : parse_exponent(positive, significand, 0);
        if (!f) return std::unexpected(std::move(f.error()));
        return Number{Number::Kind::Float, 0, 0, *f};
    }
    if (positive) return Number{Number::Kind::Unsigned, significand, 0, 0.0};
    const auto negated = static_cast<std::int64_t>(0 - significand);
    // -0 and values below the signed range become floats.
    if (negated >= 0) return Number{Number::Kind::Float, 0, 0, -static_cast<double>(significand)};
    return Number{Number::Kind::Signed, 0, negated, 0.0};
}

Result<double> Reader::parse_long_integer(bool positive, std::uint64_t significand) {
    std::int32_t exponent = 0;
    for (;;) {
        const unsigned char c = peek_or_null();
        if (c >= '0' && c <= '9') {
            eat();
            // Digits past the 64-bit range only scale the value.
            exponent = saturating_add(exponent, 1);
        } else if (c == '.') {
            return parse_decimal(positive, significand, exponent);
        } else if (c == 'e' || c == 'E') {
            return parse_exponent(positive, significand, exponent);
        } else {
            return f64_from_parts(positive, significand, exponent);
        }
    }
}

Result<double> Reader::parse_decimal(bool positive, std::uint64_t significand, std::int32_t exponent_before) {
    eat();  // '.'
    std::int32_t exponent_after = 0;
    for (;;) {
        const unsigned char c = peek_or_null();
        if (c < '0' || c > '9') break;
        const std::uint64_t digit = c - '0';
        if (overflows_u64(significand, digit)) {
            return parse_decimal_overflow(positive, significand, saturating_add(exponent_before, exponent_after));
        }
        eat();
        significand = significand * 10 + digit;
        exponent_after = saturating_add(exponent_after, -1);
    }
    if (exponent_after == 0) {
        if (peek()) return std::unexpected(peek_error(message::kInvalidNumber));
        return std::unexpected(peek_error(message::kEofWhileParsingValue));
    }
    const std::int32_t exponent = saturating_add(exponent_before, exponent_after);
    const unsigned char c = peek_or_null();
    if (c == 'e' || c == 'E') return parse_exponent(positive, significand, exponent);
    return f64_from_parts(positive, significand, exponent);
}

Result<double> Reader::parse_decimal_overflow(bool positive, std::uint64_t significand, std::int32_t exponent) {
    // Further digits do not fit; they are read and dropped.
    for (unsigned char c = peek_or_null(); c >= '0' && c <= '9'; c = peek_or_null()) eat();
    const unsigned char c = peek_or_null();
    if (c == 'e' || c == 'E') return parse_exponent(positive, significand, exponent);
    return f64_from_parts(positive, significand, exponent);
}

Result<double> Reader::parse_exponent(bool positive, std::uint64_t significand, std::int32_t starting_exponent) {
    eat();  // 'e' or 'E'
    bool positive_exponent = true;
    if (peek_or_null() == '+') {
        eat();
    } else if (peek_or_null() == '-') {
        eat();
        positive_exponent = false;
    }
    if (m_index >= m_input.size()) return std::unexpected(error(message::kEofWhileParsingValue));
    const auto first = static_cast<unsigned char>(m_input[m_index++]);
    if (first < '0' || first > '9') return std::unexpected(error(message::kInvalidNumber));
    std::int32_t exponent = first - '0';
    for (;;) {
        const unsigned char c = peek_or_null();
        if (c < '0' || c > '9') break;
        eat();
        const std::int32_t digit = c - '0';
        if (overflows_i32(exponent, digit)) return parse_exponent_overflow(positive, significand == 0, positive_exponent);
        exponent = exponent * 10 + digit;
    }
    const std::int32_t final_exponent =
        positive_exponent ? saturating_add(starting_exponent, exponent) : saturating_add(starting_exponent, -exponent);
    return f64_from_parts(positive, significand, final_exponent);
}

Result<double> Reader::parse_exponent_overflow(bool positive, bool zero_significand, bool positive_exponent) {
    if (!zero_significand && positive_exponent) return std::unexpected(error(message::kNumberOutOfRange));
    for (unsigned char c = peek_or_null(); c >= '0' && c <= '9'; c = peek_or_null()) eat();
    return positive ? 0.0 : -0.0;
}

Result<double> Reader::f64_from_parts(bool positive, std::uint64_t significand, std::int32_t exponent) {
    double f = static_cast<double>(significand);
    for (;;) {
        const std::uint64_t magnitude =
            exponent < 0 ? static_cast<std::uint64_t>(-static_cast<std::int64_t>(exponent)) : static_cast<std::uint64_t>(exponent);
        if (magnitude < kPow10.size()) {
            if (exponent >= 0) {
                f *= kPow10[magnitude];
                if (f == std::numeric_limits<double>::infinity()) {
                    return std::unexpected(error(message::kNumberOutOfRange));
                }
            } else {
                f /= kPow10[magnitude];
            }
            break;
        }
        if (f == 0.0) break;
        if (exponent >= 0) return std::unexpected(error(message::kNumberOutOfRange));
        f /= 1e308;
        exponent += 308;
    }
    return positive ? f : -f;
}

// --- Strings ---

Result<std::string_view> Reader::parse_str() {
    m_scratch.clear();
    std::size_t start = m_index;
    for (;;) {
        while (m_index < m_input.size() && !is_string_stop(static_cast<unsigned char>(m_input[m_index]))) ++m_index;
        if (m_index == m_input.size()) return std::unexpected(error(message::kEofWhileParsingString));
        const auto c = static_cast<unsigned char>(m_input[m_index]);
        if (c == '"') {
            std::string_view text;
            if (m_scratch.empty()) {
                text = m_input.substr(start, m_index - start);
            } else {
                m_scratch.append(m_input.substr(start, m_index - start));
                text = m_scratch;
            }
            ++m_index;
            if (!is_valid_utf8(text)) return std::unexpected(error(message::kInvalidUnicodeCodePoint));
            return text;
        }
        if (c == '\\') {
            m_scratch.append(m_input.substr(start, m_index - start));
            ++m_index;
            if (auto ok = parse_escape(); !ok) return std::unexpected(std::move(ok.error()));
            start = m_index;
            continue;
        }
        ++m_index;
        return std::unexpected(error(message::kControlCharacter));
    }
}

Result<void> Reader::parse_escape() {
    if (m_index >= m_input.size()) return std::unexpected(error(message::kEofWhileParsingString));
    const char c = m_input[m_index++];
    switch (c) {
        case '"': m_scratch.push_back('"'); break;
        case '\\': m_scratch.push_back('\\'); break;
        case '/': m_scratch.push_back('/'); break;
        case 'b': m_scratch.push_back('\b'); break;
        case 'f': m_scratch.push_back('\f'); break;
        case 'n': m_scratch.push_back('\n'); break;
        case 'r': m_scratch.push_back('\r'); break;
        case 't': m_scratch.push_back('\t'); break;
        case 'u': return parse_unicode_escape();
        default: return std::unexpected(error(message::kInvalidEscape));
    }
    return {};
}

Result<std::uint16_t> Reader::decode_hex_escape() {
    if (m_input.size() - m_index < 4) {
        m_index = m_input.size();
        return std::unexpected(error(message::kEofWhileParsingString));
    }
    int value = 0;
    bool valid = true;
    for (int k = 0; k < 4; ++k) {
        const int digit = hex_value(static_cast<unsigned char>(m_input[m_index + static_cast<std::size_t>(k)]));
        if (digit < 0) valid = false;
        value = (value << 4) | (digit & 0xF);
    }
    m_index += 4;
    if (!valid) return std::unexpected(error(message::kInvalidEscape));
    return static_cast<std::uint16_t>(value);
}

Result<void> Reader::parse_unicode_escape() {
    auto first = decode_hex_escape();
    if (!first) return std::unexpected(std::move(first.error()));
    const std::uint16_t n1 = *first;
    if (n1 >= 0xDC00 && n1 <= 0xDFFF) return std::unexpected(error(message::kLoneLeadingSurrogate));
    if (n1 < 0xD800 || n1 > 0xDBFF) {
        push_code_point(m_scratch, n1);
        return {};
    }
    // A leading surrogate must be followed by an escaped trailing one.
    for (char expected : {'\\', 'u'}) {
        const auto next = peek();
        if (!next) return std::unexpected(error(message::kEofWhileParsingString));
        eat();
        if (*next != static_cast<unsigned char>(expected)) {
            return std::unexpected(error(message::kUnexpectedEndOfHexEscape));
        }
    }
    auto second = decode_hex_escape();
    if (!second) return std::unexpected(std::move(second.error()));
    const std::uint16_t n2 = *second;
    if (n2 < 0xDC00 || n2 > 0xDFFF) return std::unexpected(error(message::kLoneLeadingSurrogate));
    const std::uint32_t cp = ((static_cast<std::uint32_t>(n1 - 0xD800) << 10) | (n2 - 0xDC00)) + 0x10000;
    push_code_point(m_scratch, cp);
    return {};
}

Result<void> Reader::ignore_str() {
    for (;;) {
        while (m_index < m_input.size() && !is_string_stop(static_cast<unsigned char>(m_input[m_index]))) ++m_index;
        if (m_index == m_input.size()) return std::unexpected(error(message::kEofWhileParsingString));
        const auto c = static_cast<unsigned char>(m_input[m_index]);
        if (c == '"') {
            ++m_index;
            return {};
        }
        if (c == '\\') {
            ++m_index;
            if (auto ok = ignore_escape(); !ok) return ok;
            continue;
        }
        return std::unexpected(error(message::kControlCharacter));
    }
}

Result<void> Reader::ignore_escape() {
    if (m_index >= m_input.size()) return std::unexpected(error(message::kEofWhileParsingString));
    switch (m_input[m_index++]) {
        case '"': case '\\': case '/': case 'b': case 'f': case 'n': case 'r': case 't':
            return {};
        case 'u': {
            // Any four hex digits; whether they make a valid character only
            // matters for a text that is kept.
            auto ok = decode_hex_escape();
            if (!ok) return std::unexpected(std::move(ok.error()));
            return {};
        }
        default:
            return std::unexpected(error(message::kInvalidEscape));
    }
}

// --- Skipping ---

Result<void> Reader::ignore_integer() {
    const unsigned char first = m_index < m_input.size() ? static_cast<unsigned char>(m_input[m_index++]) : 0;
    if (first == '0') {
        const unsigned char c = peek_or_null();
        if (c >= '0' && c <= '9') return std::unexpected(peek_error(message::kInvalidNumber));
    } else if (first >= '1' && first <= '9') {
        for (unsigned char c = peek_or_null(); c >= '0' && c <= '9'; c = peek_or_null()) eat();
    } else {
        return std::unexpected(error(message::kInvalidNumber));
    }
    const unsigned char c = peek_or_null();
    if (c == '.') return ignore_decimal();
    if (c == 'e' || c == 'E') return ignore_exponent();
    return {};
}

Result<void> Reader::ignore_decimal() {
    eat();
    bool any_digit = false;
    for (unsigned char c = peek_or_null(); c >= '0' && c <= '9'; c = peek_or_null()) {
        eat();
        any_digit = true;
    }
    if (!any_digit) return std::unexpected(peek_error(message::kInvalidNumber));
    const unsigned char c = peek_or_null();
    if (c == 'e' || c == 'E') return ignore_exponent();
    return {};
}

Result<void> Reader::ignore_exponent() {
    eat();
    const unsigned char sign = peek_or_null();
    if (sign == '+' || sign == '-') eat();
    const unsigned char first = m_index < m_input.size() ? static_cast<unsigned char>(m_input[m_index++]) : 0;
    if (first < '0' || first > '9') return std::unexpected(error(message::kInvalidNumber));
    for (unsigned char c = peek_or_null(); c >= '0' && c <= '9'; c = peek_or_null()) eat();
    return {};
}

Result<void> Reader::skip_value() {
    // Iterative, with the open brackets kept on a stack: skipped values have
    // no nesting limit and must not exhaust the call stack.
    std::string frames;
    std::optional<char> enclosing;
    for (;;) {
        const auto next = peek_after_whitespace();
        if (!next) return std::unexpected(peek_error(message::kEofWhileParsingValue));
        std::optional<char> opened;
        switch (*next) {
            case 'n':
                eat();
                if (auto ok = parse_ident("ull"); !ok) return ok;
                break;
            case 't':
                eat();
                if (auto ok = parse_ident("rue"); !ok) return ok;
                break;
            case 'f':
                eat();
                if (auto ok = parse_ident("alse"); !ok) return ok;
                break;
            case '-':
                eat();
                if (auto ok = ignore_integer(); !ok) return ok;
                break;
            case '0': case '1': case '2': case '3': case '4':
            case '5': case '6': case '7': case '8': case '9':
                if (auto ok = ignore_integer(); !ok) return ok;
                break;
            case '"':
                eat();
                if (auto ok = ignore_str(); !ok) return ok;
                break;
            case '[':
            case '{':
                if (enclosing) frames.push_back(*enclosing);
                enclosing.reset();
                eat();
                opened = static_cast<char>(*next);
                break;
            default:
                return std::unexpected(peek_error(message::kExpectedSomeValue));
        }

        bool accept_comma = false;
        char frame = 0;
        if (opened) {
            frame = *opened;
        } else if (enclosing) {
            accept_comma = true;
            frame = *enclosing;
            enclosing.reset();
        } else if (!frames.empty()) {
            accept_comma = true;
            frame = frames.back();
            frames.pop_back();
        } else {
            return {};
        }

        // Close every bracket that ends here.
        for (;;) {
            const auto c = peek_after_whitespace();
            if (!c) {
                return std::unexpected(
                    peek_error(frame == '[' ? message::kEofWhileParsingList : message::kEofWhileParsingObject));
            }
            if (*c == ',' && accept_comma) {
                eat();
                break;
            }
            const bool closes = (*c == ']' && frame == '[') || (*c == '}' && frame == '{');
            if (!closes) {
                if (accept_comma) {
                    return std::unexpected(peek_error(frame == '[' ? message::kExpectedListCommaOrEnd
                                                                   : message::kExpectedObjectCommaOrEnd));
                }
                break;
            }
            eat();
            if (frames.empty()) return {};
            frame = frames.back();
            frames.pop_back();
            accept_comma = true;
        }

        if (frame == '{') {
            const auto c = peek_after_whitespace();
            if (!c) return std::unexpected(peek_error(message::kEofWhileParsingObject));
            if (*c != '"') return std::unexpected(peek_error(message::kKeyMustBeAString));
            eat();
            if (auto ok = ignore_str(); !ok) return ok;
            const auto colon = peek_after_whitespace();
            if (!colon) return std::unexpected(peek_error(message::kEofWhileParsingObject));
            if (*colon != ':') return std::unexpected(peek_error(message::kExpectedColon));
            eat();
        }
        if (enclosing) frames.push_back(*enclosing);
        enclosing = frame;
    }
}

// --- Objects, arrays, identifiers ---

Result<void> Reader::object_colon() {
    const auto next = peek_after_whitespace();
    if (!next) return std::unexpected(peek_error(message::kEofWhileParsingObject));
    if (*next != ':') return std::unexpected(peek_error(message::kExpectedColon));
    eat();
    return {};
}

Result<std::size_t> Reader::read_variant_identifier(std::span<const std::string_view> variants) {
    const auto next = peek_after_whitespace();
    if (!next) return std::unexpected(peek_error(message::kEofWhileParsingValue));
    if (*next != '"') return std::unexpected(peek_invalid_type("variant identifier"));
    eat();
    auto name = parse_str();
    if (!name) return std::unexpected(std::move(name.error()));
    for (std::size_t i = 0; i < variants.size(); ++i) {
        if (variants[i] == *name) return i;
    }
    return std::unexpected(fix(Error::unknown_variant(*name, variants)));
}

Result<bool> Reader::has_next_key(bool& first) {
    const auto next = peek_after_whitespace();
    if (!next) return std::unexpected(peek_error(message::kEofWhileParsingObject));
    if (*next == '}') return false;
    if (first) {
        first = false;
        if (*next == '"') return true;
        return std::unexpected(peek_error(message::kKeyMustBeAString));
    }
    if (*next != ',') return std::unexpected(peek_error(message::kExpectedObjectCommaOrEnd));
    eat();
    const auto after = peek_after_whitespace();
    if (!after) return std::unexpected(peek_error(message::kEofWhileParsingValue));
    if (*after == '"') return true;
    if (*after == '}') return std::unexpected(peek_error(message::kTrailingComma));
    return std::unexpected(peek_error(message::kKeyMustBeAString));
}

Result<std::optional<std::size_t>> Reader::read_field_key(std::span<const std::string_view> fields) {
    eat();  // '"'
    auto name = parse_str();
    if (!name) return std::unexpected(std::move(name.error()));
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (fields[i] == *name) return std::optional<std::size_t>(i);
    }
    return std::optional<std::size_t>();
}

Result<bool> Reader::has_next_element(bool& first) {
    const auto next = peek_after_whitespace();
    if (!next) return std::unexpected(peek_error(message::kEofWhileParsingList));
    if (*next == ']') return false;
    if (first) {
        first = false;
        return true;
    }
    if (*next != ',') return std::unexpected(peek_error(message::kExpectedListCommaOrEnd));
    eat();
    const auto after = peek_after_whitespace();
    if (!after) return std::unexpected(peek_error(message::kEofWhileParsingValue));
    if (*after == ']') return std::unexpected(peek_error(message::kTrailingComma));
    return true;
}

Result<void> Reader::end_map() {
    const auto next = peek_after_whitespace();
    if (!next) return std::unexpected(peek_error(message::kEofWhileParsingObject));
    if (*next == '}') {
        eat();
        return {};
    }
    if (*next == ',') return std::unexpected(peek_error(message::kTrailingComma));
    return std::unexpected(peek_error(message::kTrailingCharacters));
}

Result<void> Reader::end_seq() {
    const auto next = peek_after_whitespace();
    if (!next) return std::unexpected(peek_error(message::kEofWhileParsingList));
    if (*next == ']') {
        eat();
        return {};
    }
    if (*next == ',') {
        eat();
        const auto after = peek_after_whitespace();
        if (after && *after == ']') return std::unexpected(peek_error(message::kTrailingComma));
        return std::unexpected(peek_error(message::kTrailingCharacters));
    }
    return std::unexpected(peek_error(message::kTrailingCharacters));
}

}  // namespace json_reader
