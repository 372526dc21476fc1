#include "sarn/main/program.h"

#include <cstdio>
#include <cstdlib>
#include <variant>

#include <fmt/format.h>

#include "sarn/main/bench_scroll.h"
#include "sarn/main/dev_services.h"
#include "sarn/main/launch.h"
#include "sarn/main/live_shots.h"
#include "sarn/main/probes.h"
#include "sarn/main/test_origin.h"

namespace sarn::entry {

namespace {

// A probe that found nothing ends the process here with its own status,
// after everything it wrote is out.
std::expected<void, MainError> end_mode(const ModeResult& result) {
    if (!result) return std::unexpected(result.error());
    std::fflush(stdout);
    std::fflush(stderr);
    if (*result != ModeExit::Success) std::exit(static_cast<int>(*result));
    return {};
}

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
                return end_mode(probe_trending(dev_services_from_environment()));
            } else if constexpr (std::is_same_v<M, mode::ProbeEngine>) {
                return end_mode(probe_engine(dev_services_from_environment(), m.video_id));
            } else if constexpr (std::is_same_v<M, mode::LiveShots>) {
                return live_shots(dev_services_from_environment(), m.option.directory, m.option.query);
            } else if constexpr (std::is_same_v<M, mode::ProbeYtDlp>) {
                return end_mode(probe_ytdlp(dev_services_from_environment(), m.search));
            } else if constexpr (std::is_same_v<M, mode::ProbeAvatars>) {
                return end_mode(probe_avatars(dev_services_from_environment(), m.search));
            } else {
                static_assert(std::is_same_v<M, mode::ProbeLive>);
                return end_mode(probe_live(dev_services_from_environment(), m.search));
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
