#include "sarn/main/program.h"

#include <cstdio>
#include <variant>

#include <fmt/format.h>

#include "sarn/main/bench_scroll.h"
#include "sarn/main/launch.h"
#include "sarn/main/test_origin.h"

namespace sarn::entry {

namespace {

MainError not_built(std::string_view what) { return MainError::from_text(fmt::format("{} is not built yet", what)); }

}  // namespace

std::expected<void, MainError> run_developer_mode(const DeveloperMode& mode) {
    return std::visit(
        [](const auto& m) -> std::expected<void, MainError> {
            using M = std::decay_t<decltype(m)>;
            if constexpr (std::is_same_v<M, mode::BenchScroll>) {
                auto done = run_scroll_bench(m, stdout);
                std::fflush(stdout);
                return done;
            } else if constexpr (std::is_same_v<M, mode::ProbeTrending>) {
                return std::unexpected(not_built("the trending probe (--probe-trending)"));
            } else if constexpr (std::is_same_v<M, mode::ProbeEngine>) {
                return std::unexpected(not_built("the media engine probe (--probe-engine)"));
            } else if constexpr (std::is_same_v<M, mode::LiveShots>) {
                return std::unexpected(not_built("the live screenshots mode (--live-shots)"));
            } else if constexpr (std::is_same_v<M, mode::ProbeYtDlp>) {
                return std::unexpected(not_built("the yt-dlp probe (--probe-ytdlp)"));
            } else if constexpr (std::is_same_v<M, mode::ProbeAvatars>) {
                return std::unexpected(not_built("the avatar probe (--probe-avatars)"));
            } else {
                static_assert(std::is_same_v<M, mode::ProbeLive>);
                return std::unexpected(not_built("the live catalogue probe (--probe)"));
            }
        },
        mode);
}

std::expected<void, MainError> run_program(std::span<const std::string> args) {
    if (const auto mode = choose_developer_mode(args)) return run_developer_mode(*mode);
    auto launched = vorn_ui::launch::run(app_launch_spec(app_options_from_environment));
    if (!launched) return std::unexpected(MainError::from_launch(launched.error()));
    return {};
}

}  // namespace sarn::entry
