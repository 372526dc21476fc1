// A strict pull reader for JSON documents that decodes straight into typed
// values, with the error texts and positions of the reference JSON library
// the exchanged formats were defined with (a derived, externally tagged
// decoder over a slice of bytes).
//
// The reader mirrors that library step by step, because its positions depend
// on exactly which bytes were consumed when an error was raised:
//
//   position       line and column of the next unread byte; the column counts
//                  the bytes consumed on the current line.
//   peek position  one byte further (capped at the end of the input); used by
//                  errors about the byte just looked at.
//   unpositioned   errors raised by a value's own rules (unknown variant,
//                  missing field, invalid type ...) get the position at the
//                  moment the enclosing read_string / read_bool / read_u64 /
//                  read_unit / read_struct returns. read_enum does not add
//                  one, so a top-level enum error may carry no position.
//
// Shapes:
//   read_enum    "Name" (unit variant) or {"Name": payload}; the payload of a
//                unit variant must be null; a newtype variant takes one value;
//                a struct variant takes its fields as an object or an array.
//   read_struct  {"field": value, ...} in any order, unknown members skipped
//                with their whole value, a repeated field refused, the first
//                absent field in declared order reported; or [v1, v2, ...] in
//                declared order.
//
// Example, a record {"present":bool,"at":u64} decoded as a whole document:
//
//   constexpr std::array<std::string_view, 2> kFields = {"present", "at"};
//   auto record = Reader::decode(bytes, [&](Reader& reader) -> Result<Record> {
//       Record out;
//       auto done = reader.read_struct({"struct Record", kFields}, [&](std::size_t i, Reader& r) -> Result<void> {
//           if (i == 0) { auto v = r.read_bool(); if (!v) return std::unexpected(v.error()); out.present = *v; }
//           else { auto v = r.read_u64(); if (!v) return std::unexpected(v.error()); out.at = *v; }
//           return {};
//       });
//       if (!done) return std::unexpected(done.error());
//       return out;
//   });
//   // for {"present":true}, record.error().text() is
//   // "missing field `at` at line 1 column 16"
//
// A Reader is a plain value over borrowed input: any thread may use one, one
// thread at a time. Nothing here throws; every refusal is an Error value.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

namespace json_reader {

struct Error {
    std::string message;
    std::size_t line = 0;  // 1-based; 0 while the error carries no position
    std::size_t column = 0;

    bool positioned() const { return line != 0; }
    // "message at line L column C", or the message alone without a position.
    std::string text() const;

    static Error custom(std::string message) { return Error{std::move(message), 0, 0}; }
    static Error invalid_type(std::string_view unexpected, std::string_view expected);
    static Error invalid_value(std::string_view unexpected, std::string_view expected);
    static Error invalid_length(std::size_t length, std::string_view expected);
    static Error unknown_variant(std::string_view variant, std::span<const std::string_view> expected);
    static Error missing_field(std::string_view field);
    static Error duplicate_field(std::string_view field);

    friend bool operator==(const Error&, const Error&) = default;
};

template <class T>
using Result = std::expected<T, Error>;

// Messages of the syntax errors, as the reference library words them.
namespace message {
inline constexpr std::string_view kEofWhileParsingList = "EOF while parsing a list";
inline constexpr std::string_view kEofWhileParsingObject = "EOF while parsing an object";
inline constexpr std::string_view kEofWhileParsingString = "EOF while parsing a string";
inline constexpr std::string_view kEofWhileParsingValue = "EOF while parsing a value";
inline constexpr std::string_view kExpectedColon = "expected `:`";
inline constexpr std::string_view kExpectedListCommaOrEnd = "expected `,` or `]`";
inline constexpr std::string_view kExpectedObjectCommaOrEnd = "expected `,` or `}`";
inline constexpr std::string_view kExpectedSomeIdent = "expected ident";
inline constexpr std::string_view kExpectedSomeValue = "expected value";
inline constexpr std::string_view kInvalidEscape = "invalid escape";
inline constexpr std::string_view kInvalidNumber = "invalid number";
inline constexpr std::string_view kNumberOutOfRange = "number out of range";
inline constexpr std::string_view kInvalidUnicodeCodePoint = "invalid unicode code point";
inline constexpr std::string_view kControlCharacter =
    "control character (\\u0000-\\u001F) found while parsing a string";
inline constexpr std::string_view kKeyMustBeAString = "key must be a string";
inline constexpr std::string_view kLoneLeadingSurrogate = "lone leading surrogate in hex escape";
inline constexpr std::string_view kTrailingComma = "trailing comma";
inline constexpr std::string_view kTrailingCharacters = "trailing characters";
inline constexpr std::string_view kUnexpectedEndOfHexEscape = "unexpected end of hex escape";
inline constexpr std::string_view kRecursionLimitExceeded = "recursion limit exceeded";
}  // namespace message

// How a struct (or a struct variant) names itself and its fields.
struct StructShape {
    // Text of the expected shape in errors: "struct variant Vocabulary::Name"
    // for a variant, "struct Name" for a plain struct.
    std::string_view expecting;
    std::span<const std::string_view> fields;  // declared order
};

// A parsed JSON number before a target type looks at it.
struct Number {
    enum class Kind : std::uint8_t { Unsigned, Signed, Float };
    Kind kind = Kind::Unsigned;
    std::uint64_t u = 0;
    std::int64_t i = 0;
    double f = 0.0;

    // "integer `5`", "integer `-1`", "floating point `1.5`".
    std::string unexpected() const;
};

class Reader;

// The payload side of one enum variant, handed to the visitor of read_enum.
class VariantAccess {
public:
    // A unit variant: nothing after a bare name, null after an object key.
    Result<void> unit();

    // A newtype variant: `read` decodes the one value of the object form.
    template <class F>
    auto newtype(F&& read) -> std::invoke_result_t<F, Reader&>;

    // A struct variant: see Reader::read_struct.
    template <class F>
    Result<void> struct_fields(const StructShape& shape, F&& read_field);

    // True for {"Name": payload}, false for a bare "Name".
    bool tagged() const { return m_tagged; }

private:
    friend class Reader;
    VariantAccess(Reader& reader, bool tagged) : m_reader(reader), m_tagged(tagged) {}

    Reader& m_reader;
    bool m_tagged;
};

class Reader {
public:
    // Nesting depth at which the reference library gives up.
    static constexpr int kRecursionLimit = 128;

    explicit Reader(std::string_view input) : m_input(input) {}

    // Decodes a whole document: `read(reader)` for the one value, then only
    // white space may follow. Answers what `read` answers.
    template <class F>
    static auto decode(std::string_view input, F&& read) -> std::invoke_result_t<F, Reader&>;

    // Scalar values. Expected texts: "a string", "a boolean", "u64", "usize", "unit".
    Result<std::string> read_string();
    Result<bool> read_bool();
    Result<std::uint64_t> read_u64();
    Result<std::uint64_t> read_usize();
    Result<void> read_unit();
    // Any well-formed value, discarded (no nesting limit, texts not checked).
    Result<void> skip_value();
    // Only white space may remain.
    Result<void> end();

    // An externally tagged enum over `variants` (declared order).
    // visit(std::size_t index, VariantAccess&) -> Result<T>.
    template <class T, class F>
    Result<T> read_enum(std::span<const std::string_view> variants, F&& visit);

    // A struct in object or array form.
    // read_field(std::size_t index, Reader&) -> Result<void> reads field
    // `index` (declared order) from the reader.
    template <class F>
    Result<void> read_struct(const StructShape& shape, F&& read_field);

    // --- Steps of the reference library, for shapes beyond the ones above. ---

    // Skips white space and answers the next byte without consuming it.
    std::optional<unsigned char> peek_after_whitespace();
    void eat() { ++m_index; }
    std::size_t offset() const { return m_index; }

    Error error(std::string_view message) const;       // at the position
    Error peek_error(std::string_view message) const;  // at the peek position
    // Gives an unpositioned error the current position.
    Error fix(Error error) const;
    // The invalid-type error for the value that starts at the next byte
    // (reads a number, string or literal to describe it).
    Error peek_invalid_type(std::string_view expected);

    Result<void> enter_nesting();  // before consuming `[` or `{`
    void leave_nesting() { ++m_remaining_depth; }

    // After an object key: white space, then `:`.
    Result<void> object_colon();
    // The identifier of a variant: a string matched against `variants`.
    Result<std::size_t> read_variant_identifier(std::span<const std::string_view> variants);
    // Inside an object: is there another key? Handles `,` and `}`.
    Result<bool> has_next_key(bool& first);
    // Reads the key string (the next byte is `"`); answers the field's index,
    // or nothing when no field has that name.
    Result<std::optional<std::size_t>> read_field_key(std::span<const std::string_view> fields);
    // Inside an array: is there another element? Handles `,` and `]`.
    Result<bool> has_next_element(bool& first);
    Result<void> end_map();
    Result<void> end_seq();

private:
    Result<Number> parse_integer(bool positive);
    Result<Number> parse_number(bool positive, std::uint64_t significand);
    Result<double> parse_long_integer(bool positive, std::uint64_t significand);
    Result<double> parse_decimal(bool positive, std::uint64_t significand, std::int32_t exponent);
    Result<double> parse_decimal_overflow(bool positive, std::uint64_t significand, std::int32_t exponent);
    Result<double> parse_exponent(bool positive, std::uint64_t significand, std::int32_t starting_exponent);
    Result<double> parse_exponent_overflow(bool positive, bool zero_significand, bool positive_exponent);
    Result<double> f64_from_parts(bool positive, std::uint64_t significand, std::int32_t exponent);
    Result<Number> parse_any_number();  // the next byte is `-` or a digit
    Result<std::uint64_t> read_unsigned(std::string_view expected);

    // Strings; the opening quote has been consumed. The view points into the
    // input or into the scratch buffer and lives until the next string.
    Result<std::string_view> parse_str();
    Result<void> parse_escape();
    Result<void> parse_unicode_escape();
    Result<std::uint16_t> decode_hex_escape();
    Result<void> ignore_str();
    Result<void> ignore_escape();
    Result<void> ignore_integer();
    Result<void> ignore_decimal();
    Result<void> ignore_exponent();
    Result<void> parse_ident(std::string_view rest);

    std::optional<unsigned char> peek() const {
        if (m_index < m_input.size()) return static_cast<unsigned char>(m_input[m_index]);
        return std::nullopt;
    }
    unsigned char peek_or_null() const { return m_index < m_input.size() ? static_cast<unsigned char>(m_input[m_index]) : 0; }

    std::string_view m_input;
    std::size_t m_index = 0;
    int m_remaining_depth = kRecursionLimit;
    std::string m_scratch;
};

// --- Templates ---

template <class F>
auto Reader::decode(std::string_view input, F&& read) -> std::invoke_result_t<F, Reader&> {
    Reader reader(input);
    auto value = std::forward<F>(read)(reader);
    if (!value) return value;
    if (auto done = reader.end(); !done) return std::unexpected(std::move(done.error()));
    return value;
}

template <class T, class F>
Result<T> Reader::read_enum(std::span<const std::string_view> variants, F&& visit) {
    const auto next = peek_after_whitespace();
    if (!next) return std::unexpected(peek_error(message::kEofWhileParsingValue));
    if (*next == '{') {
        if (auto depth = enter_nesting(); !depth) return std::unexpected(std::move(depth.error()));
        eat();
        auto index = read_variant_identifier(variants);
        if (!index) return std::unexpected(std::move(index.error()));
        if (auto colon = object_colon(); !colon) return std::unexpected(std::move(colon.error()));
        VariantAccess access(*this, true);
        Result<T> value = visit(*index, access);
        if (!value) return value;
        leave_nesting();
        const auto close = peek_after_whitespace();
        if (!close) return std::unexpected(error(message::kEofWhileParsingObject));
        if (*close != '}') return std::unexpected(error(message::kExpectedSomeValue));
        eat();
        return value;
    }
    if (*next == '"') {
        auto index = read_variant_identifier(variants);
        if (!index) return std::unexpected(std::move(index.error()));
        VariantAccess access(*this, false);
        return visit(*index, access);
    }
    return std::unexpected(peek_error(message::kExpectedSomeValue));
}

template <class F>
Result<void> Reader::read_struct(const StructShape& shape, F&& read_field) {
    const auto next = peek_after_whitespace();
    if (!next) return std::unexpected(peek_error(message::kEofWhileParsingValue));

    Result<void> value;
    if (*next == '[') {
        if (auto depth = enter_nesting(); !depth) return depth;
        eat();
        // Elements in declared order; too few is an invalid length, too many
        // fail in end_seq.
        Result<void> ret;
        bool first = true;
        for (std::size_t i = 0; i < shape.fields.size(); ++i) {
            auto more = has_next_element(first);
            if (!more) {
                ret = std::unexpected(std::move(more.error()));
                break;
            }
            if (!*more) {
                const std::size_t n = shape.fields.size();
                std::string expected(shape.expecting);
                expected += " with ";
                expected += std::to_string(n);
                expected += n == 1 ? " element" : " elements";
                ret = std::unexpected(Error::invalid_length(i, expected));
                break;
            }
            ret = read_field(i, *this);
            if (!ret) break;
        }
        leave_nesting();
        auto closed = end_seq();
        value = !ret ? std::move(ret) : std::move(closed);
    } else if (*next == '{') {
        if (auto depth = enter_nesting(); !depth) return depth;
        eat();
        Result<void> ret;
        // Up to 64 fields are tracked in a mask; more use the vector.
        std::uint64_t seen_mask = 0;
        std::vector<bool> seen_big;
        if (shape.fields.size() > 64) seen_big.assign(shape.fields.size(), false);
        auto seen = [&](std::size_t i) { return seen_big.empty() ? ((seen_mask >> i) & 1u) != 0 : bool(seen_big[i]); };
        auto mark = [&](std::size_t i) {
            if (seen_big.empty()) seen_mask |= std::uint64_t{1} << i;
            else seen_big[i] = true;
        };
        bool first = true;
        for (;;) {
            auto more = has_next_key(first);
            if (!more) {
                ret = std::unexpected(std::move(more.error()));
                break;
            }
            if (!*more) break;
            auto key = read_field_key(shape.fields);
            if (!key) {
                ret = std::unexpected(std::move(key.error()));
                break;
            }
            if (*key && seen(**key)) {
                ret = std::unexpected(Error::duplicate_field(shape.fields[**key]));
                break;
            }
            if (auto colon = object_colon(); !colon) {
                ret = std::move(colon);
                break;
            }
            if (*key) {
                mark(**key);
                ret = read_field(**key, *this);
            } else {
                ret = skip_value();
            }
            if (!ret) break;
        }
        if (ret) {
            for (std::size_t i = 0; i < shape.fields.size(); ++i) {
                if (!seen(i)) {
                    ret = std::unexpected(Error::missing_field(shape.fields[i]));
                    break;
                }
            }
        }
        leave_nesting();
        auto closed = end_map();
        value = !ret ? std::move(ret) : std::move(closed);
    } else {
        value = std::unexpected(peek_invalid_type(shape.expecting));
    }
    if (!value) return std::unexpected(fix(std::move(value.error())));
    return value;
}

inline Result<void> VariantAccess::unit() {
    if (!m_tagged) return {};
    return m_reader.read_unit();
}

template <class F>
auto VariantAccess::newtype(F&& read) -> std::invoke_result_t<F, Reader&> {
    if (!m_tagged) return std::unexpected(Error::invalid_type("unit variant", "newtype variant"));
    return std::forward<F>(read)(m_reader);
}

template <class F>
Result<void> VariantAccess::struct_fields(const StructShape& shape, F&& read_field) {
    if (!m_tagged) return std::unexpected(Error::invalid_type("unit variant", "struct variant"));
    return m_reader.read_struct(shape, std::forward<F>(read_field));
}

}  // namespace json_reader
