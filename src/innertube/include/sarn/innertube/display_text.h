// Numbers read back from the platform's display texts ("1,862 views",
// "2.6m views", "1:07:34", "25M subscribers") and the comment initials.
// Pure functions; safe on any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace sarn::innertube {

// The first number in the text, with an optional scale suffix right after it
// (k, m, b, bn, or the words thousand, million, billion; any letter case).
// Without a suffix the separators ",", ".", blanks and no-break spaces between
// digits are dropped ("1,862" is 1862); with one the "." (or a "," followed by
// digits) is the decimal point ("2.6m" is 2600000, "2.3bn" 2300000000). A text
// without digits that starts with the word "No" is 0 ("No views"); any other
// text without digits gives nullopt. Values beyond 64 bits saturate.
std::optional<std::uint64_t> parse_count(std::string_view text);

// A clock text "s", "m:ss" or "h:mm:ss" (surrounding blanks allowed) as
// seconds; anything else ("LIVE", "SHORTS", "") gives nullopt.
std::optional<std::uint32_t> parse_duration(std::string_view text);

// Initials shown on a comment's placeholder avatar: the first character of
// each of the first two white-space-separated words of the author's name, ASCII
// letters upper-cased; a handle's leading "@" is skipped. "?" when nothing
// is left.
std::string comment_initials(std::string_view author);

}  // namespace sarn::innertube
