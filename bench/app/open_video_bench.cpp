// Opening a video on a slow network: the live root with a real fetch worker
// whose every outside address is a stand-in on 127.0.0.1 that answers each
// request after 150 ms (the innertube client is the primary backend, as
// without yt-dlp). Timed from SarnApp::open_video until the video's details,
// its related videos and its comments are in the Library, frames running
// as the window loop runs them. The baseline is the same road in the same
// run with the sharing of answers turned off in the client's configuration
// (an answer cache capacity of 0), which asks for the watch page three
// times. Prints medians, the ratio and the requests the stand-in received.
// The goal: one watch-page request per opened video, and the two round trips
// that saves off the time to the complete page (at least 1.5 of them).
#include <fmt/format.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "../../tests/innertube/fake_platform.h"
#include "../../tests/support/stand_in_fetch.h"
#include "automerge/document.h"
#include "bench_support.h"

namespace {

using namespace sarn;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using innertube::testing::FakePlatform;
using innertube::testing::project_fixture;

constexpr std::chrono::milliseconds kAnswerDelay{150};
constexpr const char* kVideo = "watchOld001";  // tests/innertube/fixtures/watch-renderer.json

struct Opening {
    double ms = 0;
    int watch_pages = 0;  // "next" requests for the video
};

// The live root driven as the window loop drives it, without drawing: sync,
// then the fetch results taken in.
class LiveRoot {
public:
    LiveRoot(const std::string& origin, std::size_t answer_cache_capacity)
        : m_app(SarnApp::create(options(origin, answer_cache_capacity)).start_live()) {}

    SarnApp& app() { return m_app; }

    void frame() {
        vorn_ui::widget::RuntimeState state;
        state.document = &m_document;
        m_app.sync(state);
        (void)m_app.take_structure_dirty();
    }

    bool frames_until(const std::function<bool()>& done, std::chrono::seconds limit = 30s) {
        const auto deadline = Clock::now() + limit;
        while (!done()) {
            if (Clock::now() > deadline) return false;
            frame();
            std::this_thread::sleep_for(500us);
        }
        return true;
    }

private:
    static SarnAppOptions options(const std::string& origin, std::size_t capacity) {
        SarnAppOptions options = bench::detached_options();
        options.fetch_config = [origin, capacity] { return support::stand_in_fetch_config(origin, capacity); };
        options.image_store = [] {
            return vorn_ui::image_store::ImageStore::create(
                [](const std::string&) -> std::optional<std::vector<std::uint8_t>> { return std::nullopt; });
        };
        return options;
    }

    automerge::Document m_document;
    SarnApp m_app;
};

std::optional<Opening> open_once(FakePlatform& platform, std::size_t capacity, int run) {
    LiveRoot root(platform.origin(), capacity);
    root.frame();
    if (!root.frames_until([&] { return !root.app().library().home_loading; })) return std::nullopt;
    const int asked_before = platform.count(std::string("next:") + kVideo);

    const auto t0 = Clock::now();
    root.app().open_video(kVideo);
    const bool complete = root.frames_until([&] {
        const Library& library = root.app().library();
        const Video* video = library.find_video(kVideo);
        return video != nullptr && !video->title.empty() && library.up_next_for == kVideo && !video->comments.empty();
    });
    if (!complete) return std::nullopt;
    Opening opening{std::chrono::duration<double, std::milli>(Clock::now() - t0).count(),
                    platform.count(std::string("next:") + kVideo) - asked_before};

    // The worker answers in order: once it asks for this playlist, nothing
    // of this run is still on its way to the stand-in.
    const std::string sentinel = "settled" + std::to_string(run);
    root.app().submit_request(FetchRequest::playlist(sentinel));
    if (!root.frames_until([&] { return platform.count("browse:VL" + sentinel) > 0; })) return std::nullopt;
    return opening;
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
    FakePlatform platform;
    if (!platform.started()) {
        fmt::print(stderr, "open video bench: the stand-in server did not start\n");
        return 1;
    }
    platform.answer(std::string("next:") + kVideo, project_fixture("watch-renderer.json"));
    platform.answer("next:comments-token", project_fixture("comments-renderer.json"));
    platform.delay_answers(kAnswerDelay);

    std::vector<double> shared, unshared;
    int shared_pages = 0, unshared_pages = 0;
    for (int i = 0; i < runs; ++i) {
        const auto with = open_once(platform, innertube::ClientConfig{}.answer_cache_capacity, 2 * i);
        const auto without = open_once(platform, 0, 2 * i + 1);
        if (!with || !without) {
            fmt::print(stderr, "open video bench: the video's page did not complete\n");
            return 1;
        }
        shared.push_back(with->ms);
        unshared.push_back(without->ms);
        shared_pages = std::max(shared_pages, with->watch_pages);
        unshared_pages = std::max(unshared_pages, without->watch_pages);
    }
    const double with_ms = bench::median_of(shared);
    const double without_ms = bench::median_of(unshared);
    const double saved_ms = without_ms - with_ms;
    fmt::print("opening a video until its details, related videos and comments are applied, every request answered "
               "after {} ms, {} runs\n",
               kAnswerDelay.count(), runs);
    fmt::print("  answers shared:      median {:.1f} ms; watch-page requests per opening: {}\n", with_ms, shared_pages);
    fmt::print("  sharing turned off:  median {:.1f} ms; watch-page requests per opening: {}\n", without_ms,
               unshared_pages);
    fmt::print("  ratio shared/unshared {:.2f}; saved {:.1f} ms ({:.1f} round trips)\n",
               without_ms > 0 ? with_ms / without_ms : 0.0, saved_ms, saved_ms / kAnswerDelay.count());
    // Two round trips fewer, less a quarter of them for the frames' and the
    // threads' own pace.
    const double goal_ms = 1.5 * static_cast<double>(kAnswerDelay.count());
    const bool met = shared_pages == 1 && saved_ms >= goal_ms;
    fmt::print("  goal, one watch-page request per opening and the two round trips it saves off the time (at least "
               "{:.0f} ms): {}\n",
               goal_ms, met ? "met" : "NOT MET");
    return 0;
}
