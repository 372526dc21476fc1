// Total readers over parsed JSON: a missing member, a member of the wrong
// type or a value that is not an object reads as the empty value of its
// reader. None of them throws. Safe on any thread.
#pragma once

#include <cstdint>
#include <expected>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace sarn::json_read {

using Json = nlohmann::json;

// The member, or null when `value` is not an object or has no such member.
const Json* member(const Json& value, std::string_view key);
// The member when it is an array, else null.
const Json* array(const Json& value, std::string_view key);
// String value, else empty.
std::string text(const Json& value, std::string_view key);
// First member whose value is a non-empty string, else empty.
std::string first_text(const Json& value, std::initializer_list<std::string_view> keys);
// Non-negative integer value, else 0 (see count_if_present).
std::uint64_t count(const Json& value, std::string_view key);
std::optional<std::uint64_t> count_if_present(const Json& value, std::string_view key);
// Integer value that fits a signed 64-bit count, else 0.
std::int64_t signed_count(const Json& value, std::string_view key);
// Boolean value, else false.
bool flag(const Json& value, std::string_view key);
// Any numeric value as a double, else 0.
double number(const Json& value, std::string_view key);
// The element's numeric value as a double, or none.
std::optional<double> as_number(const Json& value);

// Parses one JSON document. Nesting deeper than 256 levels, bytes after the
// value and malformed text fail with the parser's message.
std::expected<Json, std::string> parse(std::string_view text);

}  // namespace sarn::json_read
