// The media engine against a short clip that the suite makes itself with
// gst-launch-1.0, and the synthesized engine. Audio goes to a clocked silent sink
// (CI has no sound device).
#include "media/engine.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include <fmt/core.h>

namespace {

using namespace media::engine;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

fs::path g_dir;
fs::path g_clip;

class EngineTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        char templ[] = "/tmp/vorn-engine-XXXXXX";
        ASSERT_NE(mkdtemp(templ), nullptr);
        g_dir = templ;
        g_clip = g_dir / "clip.webm";
        // Two seconds: a moving test picture in VP8 and a tone in Vorbis.
        const std::string cmd = fmt::format(
            "timeout 60 gst-launch-1.0 -q -e "
            "videotestsrc num-buffers=60 pattern=ball ! video/x-raw,width=320,height=240,framerate=30/1 "
            "! vp8enc deadline=1 ! queue ! webmmux name=mux ! filesink location={} "
            "audiotestsrc num-buffers=86 ! audioconvert ! vorbisenc ! queue ! mux. >/dev/null 2>&1",
            g_clip.string());
        ASSERT_EQ(std::system(cmd.c_str()), 0) << "gst-launch-1.0 could not make the test clip";
        ASSERT_GT(fs::file_size(g_clip), 1000u);
    }

    static void TearDownTestSuite() {
        std::error_code ec;
        fs::remove_all(g_dir, ec);
    }

    static MediaEngine quiet_engine() { return MediaEngine::create(EngineOptions{.audio = AudioOutput::Null}); }

    // Polls the engine until `done` holds or the time runs out; keeps every event.
    bool wait_for(MediaEngine& engine, const std::function<bool()>& done, std::chrono::milliseconds limit = 10s) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < deadline) {
            if (done()) {
                // What the engine queued up to the moment it got there.
                for (auto& e : engine.poll()) events.push_back(std::move(e));
                return true;
            }
            for (auto& e : engine.poll()) events.push_back(std::move(e));
            std::this_thread::sleep_for(10ms);
        }
        for (auto& e : engine.poll()) events.push_back(std::move(e));
        return done();
    }

    template <typename T>
    int count_events() const {
        int n = 0;
        for (const auto& e : events) n += std::holds_alternative<T>(e) ? 1 : 0;
        return n;
    }

    std::vector<EngineEvent> events;
};

TEST_F(EngineTest, OpensPausedWithDurationAndFirstPicture) {
    MediaEngine engine = quiet_engine();
    ASSERT_TRUE(engine.decodes());
    EXPECT_EQ(engine.state(), PlaybackState::Idle);
    engine.open(g_clip.string());
    EXPECT_EQ(engine.state(), PlaybackState::Loading);
    ASSERT_TRUE(wait_for(engine, [&] { return engine.state() == PlaybackState::Paused && engine.latest_frame(); }));
    ASSERT_TRUE(engine.duration_ms().has_value());
    EXPECT_NEAR(static_cast<double>(*engine.duration_ms()), 2000.0, 100.0);
    EXPECT_GE(count_events<DurationKnown>(), 1);
    const auto frame = engine.latest_frame();
    EXPECT_EQ(frame->width, 320u);
    EXPECT_EQ(frame->height, 240u);
    EXPECT_GE(frame->stride, 320u * 4);
    EXPECT_NE(frame->pixels, nullptr);
    EXPECT_FALSE(engine.is_playing());
    EXPECT_EQ(engine.position_ms(), 0u);
}

TEST_F(EngineTest, PlaysPausesAndEndsWithEndOfStream) {
    MediaEngine engine = quiet_engine();
    engine.open(g_clip.string());
    engine.play();
    ASSERT_TRUE(wait_for(engine, [&] { return engine.state() == PlaybackState::Playing; }));
    ASSERT_TRUE(wait_for(engine, [&] { return engine.position_ms() >= 400; }));
    const std::uint64_t first_serial = engine.latest_frame()->serial;

    engine.pause();
    EXPECT_EQ(engine.state(), PlaybackState::Paused);
    EXPECT_FALSE(engine.is_playing());
    std::this_thread::sleep_for(300ms);  // let the pipeline settle into pause, even on a busy machine
    const std::uint64_t paused_at = engine.position_ms();
    std::this_thread::sleep_for(300ms);
    EXPECT_LE(engine.position_ms(), paused_at + 60) << "position moved while paused";

    engine.play();
    ASSERT_TRUE(wait_for(engine, [&] { return engine.state() == PlaybackState::Ended; }));
    EXPECT_EQ(count_events<EndOfStream>(), 1);
    EXPECT_GT(engine.latest_frame()->serial, first_serial + 10) << "pictures kept coming while playing";
    EXPECT_EQ(engine.position_ms(), *engine.duration_ms());
    EXPECT_FALSE(engine.is_playing());

    // Playing again after the end starts over.
    engine.play();
    ASSERT_TRUE(wait_for(engine, [&] { return engine.state() == PlaybackState::Playing; }));
    EXPECT_LT(engine.position_ms(), 1500u);
}

TEST_F(EngineTest, SeekShowsInPositionAtOnceAndLands) {
    MediaEngine engine = quiet_engine();
    engine.open(g_clip.string());
    // A seek before the stream is ready waits for it and is answered at once.
    engine.seek(500);
    EXPECT_EQ(engine.position_ms(), 500u);
    ASSERT_TRUE(wait_for(engine, [&] { return count_events<SeekDone>() == 1; }));
    EXPECT_EQ(engine.state(), PlaybackState::Paused);
    EXPECT_NEAR(static_cast<double>(engine.position_ms()), 500.0, 40.0);

    engine.seek(1500);
    EXPECT_EQ(engine.position_ms(), 1500u);
    ASSERT_TRUE(wait_for(engine, [&] { return count_events<SeekDone>() == 2; }));
    EXPECT_NEAR(static_cast<double>(engine.position_ms()), 1500.0, 40.0);
    ASSERT_TRUE(wait_for(engine, [&] {
        auto f = engine.latest_frame();
        return f && f->pts_ms >= 1460;
    })) << "the picture after a paused seek is the one at the target";

    // Past the end clamps to the duration.
    engine.seek(99'000);
    EXPECT_EQ(engine.position_ms(), *engine.duration_ms());
}

TEST_F(EngineTest, BadInputEndsInErrorStateWithoutHanging) {
    const fs::path garbage = g_dir / "garbage.webm";
    {
        std::ofstream out(garbage, std::ios::binary);
        for (int i = 0; i < 20000; ++i) out.put(static_cast<char>((i * 7919) % 251));
    }
    // A clip cut short after its header: the container is recognised, its data is not there.
    const fs::path truncated = g_dir / "truncated.webm";
    {
        std::ifstream in(g_clip, std::ios::binary);
        std::string head(200, '\0');
        in.read(head.data(), static_cast<std::streamsize>(head.size()));
        std::ofstream out(truncated, std::ios::binary);
        out.write(head.data(), static_cast<std::streamsize>(head.size()));
    }
    const struct {
        const char* name;
        std::string address;
    } cases[] = {
        {"missing file", (g_dir / "no-such-file.webm").string()},
        {"garbage bytes", garbage.string()},
        {"truncated container", truncated.string()},
        {"unknown scheme", "nosuchscheme://clip"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        events.clear();
        MediaEngine engine = quiet_engine();
        engine.open(c.address);
        engine.play();
        ASSERT_TRUE(wait_for(engine, [&] { return engine.state() == PlaybackState::Error; }, 10s))
            << "state " << to_string(engine.state());
        ASSERT_TRUE(engine.last_error().has_value());
        EXPECT_FALSE(engine.last_error()->empty());
        EXPECT_EQ(count_events<EngineError>(), 1);
        EXPECT_FALSE(engine.is_playing());
        // Further commands on a failed stream are harmless.
        engine.seek(100);
        engine.play();
        engine.pause();
        EXPECT_EQ(engine.state(), PlaybackState::Error);
        // And the engine opens a good clip afterwards.
        engine.open(g_clip.string());
        ASSERT_TRUE(wait_for(engine, [&] { return engine.state() == PlaybackState::Paused; }));
        EXPECT_FALSE(engine.last_error().has_value());
    }
}

TEST_F(EngineTest, SynthesizedEnginePlaysAGeneratedClip) {
    MediaEngine engine = MediaEngine::create_synthesized(
        EngineOptions{.audio = AudioOutput::Null, .synthesized_duration_ms = 60'000, .synthesized_width = 320,
                      .synthesized_height = 180});
    EXPECT_TRUE(engine.is_synthesized());
    engine.open("https://demo.invalid/clip.mp4");  // ignored
    EXPECT_EQ(engine.duration_ms(), 60'000u);
    engine.seek(45'000);
    EXPECT_EQ(engine.position_ms(), 45'000u);
    engine.play();
    ASSERT_TRUE(wait_for(engine, [&] { return engine.state() == PlaybackState::Playing && count_events<SeekDone>(); }));
    ASSERT_TRUE(wait_for(engine, [&] { return engine.position_ms() >= 45'300; }));
    EXPECT_LT(engine.position_ms(), 50'000u);
    const auto a = engine.latest_frame();
    ASSERT_TRUE(a.has_value());
    EXPECT_EQ(a->width, 320u);
    EXPECT_GE(a->pts_ms, 45'000u);
    ASSERT_TRUE(wait_for(engine, [&] { return engine.latest_frame()->serial > a->serial + 3; }));

    // Near the end it stops at the clip's length.
    engine.seek(59'700);
    ASSERT_TRUE(wait_for(engine, [&] { return engine.state() == PlaybackState::Ended; }));
    EXPECT_EQ(engine.position_ms(), 60'000u);

    engine.stop();
    EXPECT_EQ(engine.state(), PlaybackState::Idle);
    EXPECT_FALSE(engine.latest_frame().has_value());
}

TEST_F(EngineTest, WakeCallbackFiresFromEngineThreads) {
    MediaEngine engine = MediaEngine::create_synthesized(EngineOptions{.audio = AudioOutput::Null});
    std::atomic<int> wakes{0};
    engine.set_wake_callback([&] { wakes.fetch_add(1); });
    engine.open("");
    engine.play();
    ASSERT_TRUE(wait_for(engine, [&] { return wakes.load() > 5; }));
    engine.set_wake_callback(nullptr);
}

// Pictures come in the largest size with square pixels that fits the box, with the
// clip's aspect ratio, whether the box was set before the stream opened or while it
// plays; no box gives the clip's own size again. Every picture is opaque BGRA.
TEST_F(EngineTest, PicturesComeScaledToFitTheBox) {
    MediaEngine engine = MediaEngine::create_synthesized(
        EngineOptions{.audio = AudioOutput::Null, .synthesized_width = 320, .synthesized_height = 180});
    engine.set_picture_box(160, 160);
    engine.open("");
    ASSERT_TRUE(wait_for(engine, [&] { return engine.latest_frame().has_value(); }));
    EXPECT_EQ(engine.latest_frame()->width, 160u);
    EXPECT_EQ(engine.latest_frame()->height, 90u);
    engine.play();

    struct Case {
        std::uint32_t box_w, box_h, want_w, want_h;
    };
    static const Case cases[] = {
        {100, 300, 100, 56},   // narrow: the width decides
        {640, 90, 160, 90},    // flat: the height decides
        {640, 360, 640, 360},  // larger than the clip: scaled up
        {0, 0, 320, 180},      // no box: the clip's own size
        {96, 54, 96, 54},
    };
    for (const Case& c : cases) {
        engine.set_picture_box(c.box_w, c.box_h);
        const bool sized = wait_for(engine, [&] {
            const auto f = engine.latest_frame();
            return f && f->width == c.want_w && f->height == c.want_h;
        });
        ASSERT_TRUE(sized) << "box " << c.box_w << "x" << c.box_h << ": got " << engine.latest_frame()->width << "x"
                           << engine.latest_frame()->height;
        const auto f = engine.latest_frame();
        ASSERT_GE(f->stride, f->width * 4);
        bool opaque = true;
        for (std::uint32_t y = 0; y < f->height; ++y) {
            for (std::uint32_t x = 0; x < f->width; ++x) opaque = opaque && f->pixels.get()[y * f->stride + x * 4 + 3] == 0xff;
        }
        EXPECT_TRUE(opaque) << "box " << c.box_w << "x" << c.box_h;
    }
    EXPECT_EQ(engine.state(), PlaybackState::Playing);

    // A box given while nothing is open is kept for the next stream.
    engine.stop();
    engine.set_picture_box(50, 50);
    engine.set_picture_box(64, 64);
    engine.open("");
    ASSERT_TRUE(wait_for(engine, [&] {
        const auto f = engine.latest_frame();
        return f && f->width == 64u && f->height == 36u;
    }));
}

// Pictures the interface still holds while the stream is flushed by seeks
// make GStreamer complain of nothing: the engine keeps only their buffers,
// never the sink's own sample that it changes in place after a flush.
TEST_F(EngineTest, SeeksWhilePicturesAreHeldRaiseNoGStreamerComplaint) {
    MediaEngine engine = quiet_engine();
    engine.set_picture_box(200, 100);
    engine.open(g_clip.string());
    engine.play();
    testing::internal::CaptureStderr();
    std::vector<VideoFrame> held;
    bool played = wait_for(engine, [&] { return engine.position_ms() >= 300 && engine.latest_frame(); });
    for (const std::uint64_t target : {100u, 900u, 0u}) {
        if (!played) break;
        held.push_back(*engine.latest_frame());
        const std::uint64_t serial = held.back().serial;
        engine.seek(target);
        played = wait_for(engine, [&] { return count_events<SeekDone>() > 0 && engine.latest_frame()->serial > serial + 2; });
        events.clear();
    }
    const std::string complaints = testing::internal::GetCapturedStderr();
    ASSERT_TRUE(played) << "the clip did not play on after a seek";
    EXPECT_EQ(complaints.find("GStreamer-CRITICAL"), std::string::npos) << complaints;
    EXPECT_EQ(complaints.find("GStreamer-WARNING"), std::string::npos) << complaints;
    EXPECT_EQ(held.size(), 3u);
}

// A decoded file is scaled the same way.
TEST_F(EngineTest, DecodedPicturesFitTheBoxToo) {
    MediaEngine engine = quiet_engine();
    engine.set_picture_box(200, 100);
    engine.open(g_clip.string());
    ASSERT_TRUE(wait_for(engine, [&] { return engine.state() == PlaybackState::Paused && engine.latest_frame(); }));
    EXPECT_EQ(engine.latest_frame()->width, 133u);
    EXPECT_EQ(engine.latest_frame()->height, 100u);
    engine.set_picture_box(0, 0);
    engine.play();
    ASSERT_TRUE(wait_for(engine, [&] { return engine.latest_frame()->width == 320u; }));
    EXPECT_EQ(engine.latest_frame()->height, 240u);
}

// The media framework starts with the first open, not with the engine: an engine
// that is made, set up and asked about its state has not started it (a fresh
// home gets no plugin registry). Run in a fresh process, where nothing else has
// started it yet; the exit code says which step failed.
TEST_F(EngineTest, MediaFrameworkStartsWithTheFirstOpen) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const fs::path registry = g_dir / "registry.bin";
    auto run = [&]() -> int {
        setenv("GST_REGISTRY", registry.c_str(), 1);
        MediaEngine engine = quiet_engine();
        MediaEngine synthesized = MediaEngine::create_synthesized(EngineOptions{.audio = AudioOutput::Null});
        engine.set_wake_callback([] {});
        engine.set_volume(0.5);
        engine.set_muted(true);
        engine.seek(100);
        engine.play();
        engine.pause();
        engine.stop();
        if (engine.state() != PlaybackState::Idle || engine.position_ms() != 0 || engine.latest_frame() ||
            !engine.poll().empty() || engine.is_playing()) {
            return 2;
        }
        if (fs::exists(registry)) return 3;
        engine.open(g_clip.string());
        if (!fs::exists(registry)) return 4;
        if (!wait_for(engine, [&] { return engine.state() == PlaybackState::Paused && engine.latest_frame(); })) return 5;
        return engine.decodes() && synthesized.decodes() ? 0 : 6;
    };
    EXPECT_EXIT(std::exit(run()), ::testing::ExitedWithCode(0), "");
}

}  // namespace
