// The MPRIS service seen from a second process (gdbus) on a private session bus.
#include "vorn_ui/mpris.h"
#include "vorn_ui/widget/video_player.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>

#include <fmt/core.h>

namespace {

using namespace vorn_ui::mpris;

// Runs a command and answers its standard output (and its exit status).
std::pair<std::string, int> run(const std::string& cmd) {
    std::string out;
    FILE* pipe = popen((cmd + " 2>&1").c_str(), "r");
    if (pipe == nullptr) return {"", -1};
    std::array<char, 4096> buf{};
    while (std::fgets(buf.data(), static_cast<int>(buf.size()), pipe) != nullptr) out += buf.data();
    const int status = pclose(pipe);
    return {out, WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

std::string call(const std::string& dest, const std::string& method, const std::string& args = "") {
    return run(fmt::format("timeout 20 gdbus call --session --dest {} --object-path /org/mpris/MediaPlayer2 "
                           "--method {} {}",
                           dest, method, args))
        .first;
}

std::string get_property(const std::string& dest, const std::string& iface, const std::string& prop) {
    return call(dest, "org.freedesktop.DBus.Properties.Get", iface + " " + prop);
}

class MprisTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::getenv("DBUS_SESSION_BUS_ADDRESS") == nullptr) GTEST_SKIP() << "needs dbus-run-session";
    }
};

TEST_F(MprisTest, PublishesPlayerAndMetadataToOtherProcesses) {
    auto service = MprisService::start("vorn-test", "Vorn Test");
    ASSERT_TRUE(service.has_value()) << service.error();
    const std::string name = (*service)->bus_name();
    EXPECT_EQ(name, "org.mpris.MediaPlayer2.vorn-test");
    EXPECT_TRUE((*service)->owns_name());

    const std::string names = run("timeout 20 gdbus call --session --dest org.freedesktop.DBus --object-path "
                                  "/org/freedesktop/DBus --method org.freedesktop.DBus.ListNames")
                                  .first;
    EXPECT_NE(names.find("'org.mpris.MediaPlayer2.vorn-test'"), std::string::npos) << names;

    EXPECT_NE(get_property(name, "org.mpris.MediaPlayer2", "Identity").find("'Vorn Test'"), std::string::npos);
    EXPECT_NE(get_property(name, "org.mpris.MediaPlayer2.Player", "PlaybackStatus").find("'Stopped'"),
              std::string::npos);
    // Nothing claims track navigation until the owner publishes it.
    EXPECT_NE(get_property(name, "org.mpris.MediaPlayer2.Player", "CanGoNext").find("false"), std::string::npos);
    EXPECT_NE(get_property(name, "org.mpris.MediaPlayer2.Player", "CanGoPrevious").find("false"), std::string::npos);

    (*service)->publish_now_playing(NowPlaying{.track_id = "",
                                               .title = "Big Buck Bunny",
                                               .artist = "Blender",
                                               .art_url = "https://img.example/bbb.jpg",
                                               .length_ms = 596'000});
    (*service)->publish_status(PlaybackStatus::Playing);
    (*service)->publish_position(12'500, false);

    const std::string meta = get_property(name, "org.mpris.MediaPlayer2.Player", "Metadata");
    EXPECT_NE(meta.find("'xesam:title': <'Big Buck Bunny'>"), std::string::npos) << meta;
    EXPECT_NE(meta.find("'xesam:artist': <['Blender']>"), std::string::npos) << meta;
    EXPECT_NE(meta.find("'mpris:length': <int64 596000000>"), std::string::npos) << meta;
    EXPECT_NE(meta.find("'mpris:artUrl': <'https://img.example/bbb.jpg'>"), std::string::npos) << meta;
    EXPECT_NE(meta.find("'mpris:trackid': <objectpath '/org/vorn/track/t"), std::string::npos) << meta;
    EXPECT_NE(get_property(name, "org.mpris.MediaPlayer2.Player", "PlaybackStatus").find("'Playing'"),
              std::string::npos);
    EXPECT_NE(get_property(name, "org.mpris.MediaPlayer2.Player", "Position").find("12500000"), std::string::npos);
}

TEST_F(MprisTest, MethodCallsBecomeQueuedCommandsAndWake) {
    auto service = MprisService::start("vorn-commands", "Vorn Test");
    ASSERT_TRUE(service.has_value()) << service.error();
    std::atomic<int> wakes{0};
    (*service)->set_wake_callback([&] { wakes.fetch_add(1); });
    NowPlaying track;
    track.track_id = "/org/vorn/track/abc";
    track.title = "A";
    (*service)->publish_now_playing(track);
    const std::string name = (*service)->bus_name();

    call(name, "org.mpris.MediaPlayer2.Player.PlayPause");
    call(name, "org.mpris.MediaPlayer2.Player.Next");
    call(name, "org.mpris.MediaPlayer2.Player.Seek", "-- -5000000");
    call(name, "org.mpris.MediaPlayer2.Player.SetPosition", "/org/vorn/track/other 1000000");  // another track
    call(name, "org.mpris.MediaPlayer2.Player.SetPosition", "/org/vorn/track/abc 42000000");
    call(name, "org.mpris.MediaPlayer2.Player.Pause");

    const auto cmds = (*service)->take_commands();
    ASSERT_EQ(cmds.size(), 5u);
    EXPECT_EQ(cmds[0].kind, CommandKind::PlayPause);
    EXPECT_EQ(cmds[1].kind, CommandKind::Next);
    EXPECT_EQ(cmds[2].kind, CommandKind::Seek);
    EXPECT_EQ(cmds[2].microseconds, -5'000'000);
    EXPECT_EQ(cmds[3].kind, CommandKind::SetPosition);
    EXPECT_EQ(cmds[3].microseconds, 42'000'000);
    EXPECT_EQ(cmds[4].kind, CommandKind::Pause);
    EXPECT_GE(wakes.load(), 5);
    EXPECT_TRUE((*service)->take_commands().empty());

    // Unsupported calls answer an error and queue nothing.
    const std::string answer = call(name, "org.mpris.MediaPlayer2.Player.OpenUri", "https://x.example/");
    EXPECT_NE(answer.find("NotSupported"), std::string::npos) << answer;
    EXPECT_TRUE((*service)->take_commands().empty());
}

TEST_F(MprisTest, SecondInstanceTakesItsOwnNameAndNamesAreChecked) {
    auto first = MprisService::start("vorn-twice", "One");
    ASSERT_TRUE(first.has_value()) << first.error();
    auto second = MprisService::start("vorn-twice", "Two");
    ASSERT_TRUE(second.has_value()) << second.error();
    EXPECT_NE((*second)->bus_name(), (*first)->bus_name());
    EXPECT_TRUE((*second)->bus_name().starts_with("org.mpris.MediaPlayer2.vorn-twice.instance"));
    EXPECT_NE(get_property((*second)->bus_name(), "org.mpris.MediaPlayer2", "Identity").find("'Two'"),
              std::string::npos);

    for (const char* bad : {"", "has space", "trailing.", "..", "9starts-with-digit.x"}) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(MprisService::start(bad, "Bad").has_value());
    }
    // After the service goes, its name is released.
    first->reset();
    const std::string names = run("timeout 20 gdbus call --session --dest org.freedesktop.DBus --object-path "
                                  "/org/freedesktop/DBus --method org.freedesktop.DBus.ListNames")
                                  .first;
    EXPECT_EQ(names.find("'org.mpris.MediaPlayer2.vorn-twice'"), std::string::npos) << names;
}

}  // namespace

namespace {

using vorn_ui::widget::video_player::NowPlaying;
using vorn_ui::widget::video_player::PlayerStatus;
using vorn_ui::widget::video_player::VideoPlayer;
using vorn_ui::widget::video_player::VideoPlayerState;

TEST_F(MprisTest, MediaKeysReachThePlayerThroughTheBus) {
    namespace eng = media::engine;
    VideoPlayer player = VideoPlayer::with_engine(
        VideoPlayerState{}, eng::MediaEngine::create_synthesized(eng::EngineOptions{.audio = eng::AudioOutput::Null}));
    player.set_now_playing(NowPlaying{"Big Buck Bunny", "Blender", ""});
    player.open("https://demo.invalid/clip.mp4");
    player.play();
    auto ok = player.enable_mpris("vorn-player", "Vorn Player");
    ASSERT_TRUE(ok.has_value()) << ok.error();
    EXPECT_TRUE(player.enable_mpris("vorn-player", "Vorn Player").has_value()) << "a second call keeps the first";
    const std::string name = "org.mpris.MediaPlayer2.vorn-player";
    vorn_ui::widget::RuntimeState state;
    auto pump = [&](const std::function<bool()>& done) {
        for (int i = 0; i < 500 && !done(); ++i) {
            player.sync(state);
            player.pump_media_controls();
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return done();
    };
    ASSERT_TRUE(pump([&] { return player.status() == PlayerStatus::Playing; }));
    EXPECT_NE(get_property(name, "org.mpris.MediaPlayer2.Player", "PlaybackStatus").find("'Playing'"),
              std::string::npos);
    const std::string meta = get_property(name, "org.mpris.MediaPlayer2.Player", "Metadata");
    EXPECT_NE(meta.find("'xesam:title': <'Big Buck Bunny'>"), std::string::npos) << meta;
    EXPECT_NE(meta.find("'mpris:length': <int64 180000000>"), std::string::npos) << meta;

    call(name, "org.mpris.MediaPlayer2.Player.PlayPause");
    ASSERT_TRUE(pump([&] { return player.engine()->state() == media::engine::PlaybackState::Paused; }));
    EXPECT_FALSE(player.is_playing());
    EXPECT_NE(get_property(name, "org.mpris.MediaPlayer2.Player", "PlaybackStatus").find("'Paused'"),
              std::string::npos);

    // Paused, the position stays where the pause left it; the seek moves it
    // by exactly the offset.
    const std::uint64_t paused_at = player.position_ms();
    call(name, "org.mpris.MediaPlayer2.Player.SetPosition",
         "/org/vorn/track/t0 1000000");  // another track: ignored
    call(name, "org.mpris.MediaPlayer2.Player.Seek", "30000000");
    player.pump_media_controls();
    EXPECT_EQ(player.position_ms(), paused_at + 30'000u);

    // No track navigation until the owner says it handles it: the desktop is
    // told so, and its Next and Previous calls go nowhere.
    EXPECT_NE(get_property(name, "org.mpris.MediaPlayer2.Player", "CanGoNext").find("false"), std::string::npos);
    EXPECT_NE(get_property(name, "org.mpris.MediaPlayer2.Player", "CanGoPrevious").find("false"), std::string::npos);
    call(name, "org.mpris.MediaPlayer2.Player.Next");
    call(name, "org.mpris.MediaPlayer2.Player.Previous");
    player.pump_media_controls();
    EXPECT_TRUE(player.take_commands().empty());

    player.set_track_navigation({.next = true, .previous = false});
    player.pump_media_controls();
    EXPECT_NE(get_property(name, "org.mpris.MediaPlayer2.Player", "CanGoNext").find("true"), std::string::npos);
    EXPECT_NE(get_property(name, "org.mpris.MediaPlayer2.Player", "CanGoPrevious").find("false"), std::string::npos);
    call(name, "org.mpris.MediaPlayer2.Player.Next");
    call(name, "org.mpris.MediaPlayer2.Player.Previous");
    player.pump_media_controls();
    const auto cmds = player.take_commands();
    ASSERT_EQ(cmds.size(), 1u);
    EXPECT_EQ(cmds[0].kind, vorn_ui::widget::video_player::PlayerCommand::Kind::Next);

    call(name, "org.mpris.MediaPlayer2.Player.Play");
    ASSERT_TRUE(pump([&] { return player.engine()->state() == media::engine::PlaybackState::Playing; }));
}

}  // namespace
