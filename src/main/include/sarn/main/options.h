#pragma once
// The program's command line: the developer modes, how each is recognised
// and how its value is taken, and the "--route" value as a page address.
//
// The argument list holds argument 0 (the program path). Scans that take a
// value start at argument 1; plain "is it there" tests look at every
// argument. Values are never rejected: a missing or unusable value gives the
// option's default.
//
// Main thread (pure functions; any thread may call them).

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>

#include "sarn/model/route.h"

namespace sarn::entry {

inline constexpr std::string_view kDefaultProbeVideoId = "aqz-KE-bpKQ";
inline constexpr std::string_view kDefaultProbeSearch = "blender open movie";
inline constexpr std::string_view kDefaultLiveQuery = "rust programming";
inline constexpr std::size_t kDefaultBenchFrames = 90;

// Whether any argument equals `flag` (argument 0 included).
bool has_argument(std::span<const std::string> args, std::string_view flag);

// The value of a valued developer option, or none when it is absent. The
// first argument from argument 1 on that is the flag or starts with the flag
// and "=" decides: "FLAG VALUE" takes VALUE unless it is missing or starts
// with "--"; "FLAG=VALUE" takes VALUE unless it is empty; otherwise the
// default.
std::optional<std::string> flag_value_or(std::span<const std::string> args, std::string_view flag,
                                         std::string_view default_value);

// "--live-shots DIR [QUERY]" or "--live-shots=DIR [QUERY]". The directory
// after the bare flag is taken as it is, even when it starts with "--"; the
// bare flag as the last argument counts as absent. The query is the next
// argument unless it is missing or starts with "--".
struct LiveShotsOption {
    std::string directory;  // empty: the current directory
    std::string query;
    friend bool operator==(const LiveShotsOption&, const LiveShotsOption&) = default;
};
std::optional<LiveShotsOption> live_shots_option(std::span<const std::string> args);

// "--probe [TEXT]" or "--probe=TEXT"; longer options ("--probe-ytdlp") match
// neither form.
std::optional<std::string> probe_option(std::span<const std::string> args);

// "--bench-scroll N" or "--bench-scroll=N": an unsigned decimal count (a
// leading "+" allowed); anything else gives kDefaultBenchFrames.
std::optional<std::size_t> bench_scroll_option(std::span<const std::string> args);

// The developer modes, each with the value its option gave.
namespace mode {
struct ProbeTrending {
    friend bool operator==(const ProbeTrending&, const ProbeTrending&) = default;
};
struct ProbeEngine {
    std::string video_id;
    friend bool operator==(const ProbeEngine&, const ProbeEngine&) = default;
};
struct LiveShots {
    LiveShotsOption option;
    friend bool operator==(const LiveShots&, const LiveShots&) = default;
};
struct ProbeYtDlp {
    std::string search;
    friend bool operator==(const ProbeYtDlp&, const ProbeYtDlp&) = default;
};
struct ProbeAvatars {
    std::string search;
    friend bool operator==(const ProbeAvatars&, const ProbeAvatars&) = default;
};
struct ProbeLive {
    std::string search;
    friend bool operator==(const ProbeLive&, const ProbeLive&) = default;
};
struct BenchScroll {
    std::size_t frames = kDefaultBenchFrames;
    bool watch = false;
    bool loaded = false;
    friend bool operator==(const BenchScroll&, const BenchScroll&) = default;
};
}  // namespace mode

using DeveloperMode = std::variant<mode::ProbeTrending, mode::ProbeEngine, mode::LiveShots, mode::ProbeYtDlp,
                                   mode::ProbeAvatars, mode::ProbeLive, mode::BenchScroll>;

// The first developer mode present, tested in this order: "--probe-trending";
// "--probe-engine"; "--probe-play", "--probe-stream", "--probe-gst";
// "--live-shots"; "--probe-ytdlp"; "--probe-avatars"; "--probe";
// "--bench-scroll". None: the application is launched.
std::optional<DeveloperMode> choose_developer_mode(std::span<const std::string> args);

// The page a "--route" value names: "home", "trending", "subs" or
// "subscriptions", "queue", "history", "settings" in any ASCII letter case;
// "watch:ID" and "search:QUERY" (prefixes in lower case only); any other
// value is a search for the whole value.
Route route_from_value(std::string_view value);

}  // namespace sarn::entry
