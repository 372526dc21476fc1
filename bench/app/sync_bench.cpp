// What a frame's sync costs when nothing changed, over a library of 1,000
// videos, 200 subscriptions, 100 likes, 20 queued videos and 50 history
// entries, on the home page. The baseline is the same sync made to project
// both documents every frame, as it did before it knew whether their heads
// had moved; the goal is a median under 20 µs.
#include <fmt/format.h>

#include <cstdlib>
#include <vector>

#include "bench_support.h"
#include "frame_rig.h"
#include "sarn/actions/shared_reducer.h"
#include "vorn_ui/action_host.h"

namespace {

using namespace sarn;

constexpr std::size_t kVideos = 1000;
constexpr std::size_t kSubscriptions = 200;
constexpr std::size_t kLikes = 100;
constexpr std::size_t kQueued = 20;
constexpr std::size_t kHistory = 50;
constexpr double kGoalUs = 20.0;

Library big_library() {
    Library library;
    for (std::size_t c = 0; c < kSubscriptions; ++c) {
        Channel channel;
        channel.id = fmt::format("UCbench{:04}", c);
        channel.name = fmt::format("Channel {}", c);
        channel.handle = fmt::format("@channel{}", c);
        channel.seed = channel.id;
        library.channels.push_back(std::move(channel));
    }
    for (std::size_t i = 0; i < kVideos; ++i) {
        Video video;
        video.id = fmt::format("vid{:08}", i);
        video.title = fmt::format("Video {} of the benchmark library", i);
        const Channel& channel = library.channels[i % library.channels.size()];
        video.channel_id = channel.id;
        video.channel_name = channel.name;
        video.seed = video.id;
        video.duration = 60 + static_cast<std::uint32_t>(i % 900);
        video.views = 1000 * i;
        library.videos.push_back(std::move(video));
    }
    return library;
}

bool dispatch(bench::FrameRig& rig, const SarnAction& action) {
    vorn_ui::bound_dispatch::DispatchState state;
    return static_cast<bool>(vorn_ui::action_host::ActionHost::dispatch_with_context(
        state, rig.document(), kSharedActionKind, TypedSarnAction(action), nullptr));
}

// The library's state written as the user's own actions wrote it.
bool fill(bench::FrameRig& rig) {
    const Library& library = rig.app().library();
    for (std::size_t c = 0; c < kSubscriptions; ++c) {
        if (!dispatch(rig, action::SetSubscription{library.channels[c].id, true})) return false;
    }
    for (std::size_t i = 0; i < kLikes; ++i) {
        if (!dispatch(rig, action::SetVideoLiked{library.videos[i * 7].id, true})) return false;
    }
    for (std::size_t i = 0; i < kQueued; ++i) {
        if (!dispatch(rig, action::SetQueueMembership{library.videos[i * 3].id, true})) return false;
    }
    if (!dispatch(rig, action::SetSetting{Setting::Autoplay, false})) return false;
    for (std::size_t i = 0; i < kHistory; ++i) {
        const std::string op = fmt::format(R"({{"RecordHistory":{{"video_id":"{}"}}}})", library.videos[i * 11].id);
        if (!rig.app().perform_operation({1, "sarn.operation", op}).is_handled()) return false;
    }
    return true;
}

// Median microseconds of `rounds` syncs; `forget` makes each project both documents.
double median_sync_us(bench::FrameRig& rig, int rounds, bool forget) {
    std::vector<double> us;
    us.reserve(static_cast<std::size_t>(rounds));
    for (int i = 0; i < rounds; ++i) {
        if (forget) rig.app().forget_projections();
        const auto t0 = bench::Clock::now();
        rig.sync();
        us.push_back(bench::us_since(t0));
        // Nothing changed: the structure stays as it was.
        if (rig.app().take_structure_dirty()) {
            fmt::print(stderr, "a sync with nothing changed reported a change\n");
            std::exit(1);
        }
    }
    return bench::median_of(us);
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5000;
    bench::FrameRig rig(SarnApp::create(bench::detached_options()).with_library(big_library()), 1280, 800);
    if (!fill(rig) || !rig.frame() || !rig.frame()) {
        fmt::print(stderr, "the benchmark library could not be set up\n");
        return 1;
    }
    const Library& library = rig.app().library();
    if (library.subscriptions.size() != kSubscriptions || library.likes.size() != kLikes ||
        library.history.size() != kHistory) {
        fmt::print(stderr, "the projection did not show the library: {} subscriptions, {} likes, {} history\n",
                   library.subscriptions.size(), library.likes.size(), library.history.size());
        return 1;
    }
    // Warm both paths, then measure them in turns.
    median_sync_us(rig, 200, true);
    median_sync_us(rig, 200, false);
    const double baseline = median_sync_us(rig, rounds, true);
    const double fast = median_sync_us(rig, rounds, false);
    fmt::print("app sync with nothing changed: {} videos, {} subscriptions, {} likes, {} history entries; {} rounds\n",
               kVideos, kSubscriptions, kLikes, kHistory, rounds);
    fmt::print("    baseline (both documents projected every frame) median {:8.2f} µs\n", baseline);
    fmt::print("    sync (projections skipped while nothing moved)  median {:8.2f} µs\n", fast);
    fmt::print("    ratio baseline/sync {:.1f}x; goal, median under {:.0f} µs: {}\n", fast > 0 ? baseline / fast : 0.0,
               kGoalUs, fast < kGoalUs ? "goal met" : "goal not met");
    return 0;
}
