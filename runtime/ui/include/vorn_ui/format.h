// Count, duration and relative-time texts. Pure functions; any thread.
#pragma once

#include <cstdint>
#include <string>

namespace vorn_ui::format {

// "999", "1.2K", "12K", "1.5M", "2B": one decimal below ten of a unit,
// truncated (never rounded up past what the count reached).
std::string compact_count(std::uint64_t count);
// "0:05", "12:34", "1:02:03".
std::string timecode(std::uint64_t seconds);
// "just now", "1 minute ago", "3 hours ago", "2 days ago", "5 weeks ago",
// "4 months ago", "2 years ago".
std::string relative(std::uint64_t elapsed_seconds);

}  // namespace vorn_ui::format
