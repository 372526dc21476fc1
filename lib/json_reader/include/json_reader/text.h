// Text helpers shared by the reader and by the encoders and debug texts built
// on it. Pure functions; any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace json_reader {

// Whole-text UTF-8 check with the strict rules (no overlong forms, no
// surrogates, nothing above U+10FFFF).
bool is_valid_utf8(std::string_view text);

// Appends one code point (at most U+10FFFF) encoded as UTF-8.
void append_utf8(std::string& out, char32_t code_point);

// `text` with every maximal invalid UTF-8 subsequence replaced by U+FFFD.
std::string lossy_utf8(std::string_view text);

// Appends `text` as a JSON string literal: quotes, `"` and `\` escaped,
// control characters as \b \f \n \r \t or \u00xx, everything else (`/`,
// DEL, non-ASCII) as is. Invalid UTF-8 is written as U+FFFD, one per
// maximal invalid subsequence, so the output is always valid UTF-8.
void append_json_string(std::string& out, std::string_view text);

// The text in double quotes with the debug escapes of the reference
// language: \" \\ \n \r \t \0, and \u{hex} for characters that are not
// printable or that extend a grapheme; invalid UTF-8 as U+FFFD.
std::string debug_quoted(std::string_view text);
void append_debug_quoted(std::string& out, std::string_view text);

// A double the way the reference library shows it in errors: the shortest
// decimal that reads back, never in exponent form, with ".0" added when it
// has no decimal point ("1.5", "1000.0", "-0.0", "0.0000001").
std::string display_float(double value);

}  // namespace json_reader
