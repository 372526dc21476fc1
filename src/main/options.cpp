#include "sarn/main/options.h"

#include <algorithm>
#include <charconv>

namespace sarn::entry {

namespace {

bool starts_with_dashes(std::string_view text) { return text.starts_with("--"); }

// An unsigned decimal count with an optional leading "+"; none for anything else.
std::optional<std::size_t> parse_count(std::string_view text) {
    if (text.starts_with('+')) text.remove_prefix(1);
    if (text.empty()) return std::nullopt;
    std::size_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size()) return std::nullopt;
    return value;
}

}  // namespace

bool has_argument(std::span<const std::string> args, std::string_view flag) {
    return std::find(args.begin(), args.end(), flag) != args.end();
}

std::optional<std::string> flag_value_or(std::span<const std::string> args, std::string_view flag,
                                         std::string_view default_value) {
    const std::string joined = std::string(flag) + "=";
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == flag) {
            if (i + 1 < args.size() && !starts_with_dashes(args[i + 1])) return args[i + 1];
            return std::string(default_value);
        }
        if (arg.starts_with(joined)) {
            std::string rest = arg.substr(joined.size());
            if (rest.empty()) return std::string(default_value);
            return rest;
        }
    }
    return std::nullopt;
}

std::optional<LiveShotsOption> live_shots_option(std::span<const std::string> args) {
    constexpr std::string_view kFlag = "--live-shots";
    constexpr std::string_view kJoined = "--live-shots=";
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        std::optional<std::string> directory;
        std::size_t next = i + 1;
        if (arg == kFlag) {
            if (i + 1 >= args.size()) continue;  // no directory: as if absent
            directory = args[i + 1];
            next = i + 2;
        } else if (arg.starts_with(kJoined)) {
            directory = arg.substr(kJoined.size());
        } else {
            continue;
        }
        LiveShotsOption option{std::move(*directory), std::string(kDefaultLiveQuery)};
        if (next < args.size() && !starts_with_dashes(args[next])) option.query = args[next];
        return option;
    }
    return std::nullopt;
}

std::optional<std::string> probe_option(std::span<const std::string> args) {
    constexpr std::string_view kFlag = "--probe";
    constexpr std::string_view kJoined = "--probe=";
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == kFlag) {
            if (i + 1 < args.size() && !starts_with_dashes(args[i + 1])) return args[i + 1];
            return std::string(kDefaultLiveQuery);
        }
        if (arg.starts_with(kJoined)) {
            std::string rest = arg.substr(kJoined.size());
            return rest.empty() ? std::string(kDefaultLiveQuery) : rest;
        }
    }
    return std::nullopt;
}

std::optional<std::size_t> bench_scroll_option(std::span<const std::string> args) {
    constexpr std::string_view kFlag = "--bench-scroll";
    const std::string joined = std::string(kFlag) + "=";
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == kFlag) {
            if (i + 1 < args.size()) return parse_count(args[i + 1]).value_or(kDefaultBenchFrames);
            return kDefaultBenchFrames;
        }
        if (arg.starts_with(joined)) return parse_count(std::string_view(arg).substr(joined.size())).value_or(kDefaultBenchFrames);
    }
    return std::nullopt;
}

std::optional<DeveloperMode> choose_developer_mode(std::span<const std::string> args) {
    if (has_argument(args, "--probe-trending")) return mode::ProbeTrending{};
    if (auto id = flag_value_or(args, "--probe-engine", kDefaultProbeVideoId)) return mode::ProbeEngine{std::move(*id)};
    for (std::string_view alias : {"--probe-play", "--probe-stream", "--probe-gst"}) {
        if (auto id = flag_value_or(args, alias, kDefaultProbeVideoId)) return mode::ProbeEngine{std::move(*id)};
    }
    if (auto shots = live_shots_option(args)) return mode::LiveShots{std::move(*shots)};
    if (auto search = flag_value_or(args, "--probe-ytdlp", kDefaultProbeSearch)) return mode::ProbeYtDlp{std::move(*search)};
    if (auto search = flag_value_or(args, "--probe-avatars", kDefaultProbeSearch)) {
        return mode::ProbeAvatars{std::move(*search)};
    }
    if (auto search = probe_option(args)) return mode::ProbeLive{std::move(*search)};
    if (auto frames = bench_scroll_option(args)) {
        return mode::BenchScroll{*frames, has_argument(args, "--watch"), has_argument(args, "--loaded")};
    }
    return std::nullopt;
}

Route route_from_value(std::string_view value) {
    std::string lower(value);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
    if (lower == "home") return Route::home();
    if (lower == "trending") return Route::trending();
    if (lower == "subs" || lower == "subscriptions") return Route::subscriptions();
    if (lower == "queue") return Route::queue();
    if (lower == "history") return Route::history();
    if (lower == "settings") return Route::settings();
    if (value.starts_with("watch:")) return Route::watch(std::string(value.substr(6)));
    if (value.starts_with("search:")) return Route::search(std::string(value.substr(7)));
    return Route::search(std::string(value));
}

}  // namespace sarn::entry
