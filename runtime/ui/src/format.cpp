#include "vorn_ui/format.h"

#include <fmt/format.h>

namespace vorn_ui::format {

std::string compact_count(std::uint64_t count) {
  struct Unit {
    std::uint64_t size;
    const char* suffix;
  };
  static constexpr Unit units[] = {{1'000'000'000'000ull, "T"}, {1'000'000'000ull, "B"}, {1'000'000ull, "M"}, {1'000ull, "K"}};
  for (const Unit& u : units) {
    if (count < u.size) continue;
    const std::uint64_t whole = count / u.size;
    if (whole < 10) {
      const std::uint64_t tenth = (count % u.size) / (u.size / 10);
      if (tenth == 0) return fmt::format("{}{}", whole, u.suffix);
      return fmt::format("{}.{}{}", whole, tenth, u.suffix);
    }
    return fmt::format("{}{}", whole, u.suffix);
  }
  return fmt::format("{}", count);
}

std::string timecode(std::uint64_t seconds) {
  const std::uint64_t h = seconds / 3600, m = (seconds / 60) % 60, s = seconds % 60;
  if (h > 0) return fmt::format("{}:{:02}:{:02}", h, m, s);
  return fmt::format("{}:{:02}", m, s);
}

std::string relative(std::uint64_t elapsed) {
  struct Step {
    std::uint64_t seconds;
    const char* one;
    const char* many;
  };
  static constexpr Step steps[] = {
      {365ull * 86400, "year", "years"}, {30ull * 86400, "month", "months"}, {7ull * 86400, "week", "weeks"},
      {86400, "day", "days"},            {3600, "hour", "hours"},            {60, "minute", "minutes"},
  };
  for (const Step& s : steps) {
    if (elapsed < s.seconds) continue;
    const std::uint64_t n = elapsed / s.seconds;
    return fmt::format("{} {} ago", n, n == 1 ? s.one : s.many);
  }
  return "just now";
}

}  // namespace vorn_ui::format
