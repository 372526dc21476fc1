// The program on a HiDPI screen and in a narrow window, with a stream that
// does not come and a network that cannot be reached, and a window destroyed
// from outside: the real binary in a real window, as in
// program_window_test.cpp.
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "program_window.h"
#include "sarn/app/action_tree.h"
#include "x_window_gone.h"

namespace sarn::entry {
namespace {

using namespace window;

// Room on the X server for a window of 2560 × 1600 device pixels.
class Display : public ProgramWindow {
protected:
    Display() : ProgramWindow("2600x1700x24") {}

    // A live start whose fake yt-dlp answers the trending feed (pictures on
    // the test server) and fails every other run, the stream's after a while
    // when `stream_after` is set.
    std::string serve_feed(std::string_view stream_after = {}) {
        const std::string feed = feed_json(m_server.base_url(), "feed", 30);
        m_home.write_file("trending.json", feed);
        const std::string slow_stream =
            stream_after.empty() ? std::string() : fmt::format("[when best[protocol]\nsleep {}\nexit 1\n", stream_after);
        m_home.set_ytdlp_scenario(fmt::format("[when --version]\nstdout 2024.01.01\\n\n"
                                              "[when feed/trending]\nstdout-file {}\n"
                                              "{}[always]\nexit 1\n",
                                              (m_home.root() / "trending.json").string(), slow_stream));
        return feed;
    }

    // The home feed as the twin takes it.
    static void take_feed(Twin& twin, const std::string& feed) {
        twin.take(FetchResult{FetchResult::HomeFeed{
            ytdlp::videos_from_result(nlohmann::json::parse(feed), "Trending", ytdlp::today_day_number())}});
        twin.take(FetchResult{FetchResult::Status{"live · trending", true}});
    }
};

// The boxes of the served pictures (one colour) wholly inside the window
// below the top bar, measured through their middle: a run of that colour
// down a column bounded on both ends, and across the row at its middle.
std::vector<vorn_ui::Rect> picture_boxes(const Shot& s, int column, int top) {
    std::vector<vorn_ui::Rect> boxes;
    const auto coloured = [&](int x, int y) { return near(s.at(x, y), kThumbnailColour, 10); };
    int y = top;
    while (y < s.h) {
        if (!coloured(column, y)) {
            ++y;
            continue;
        }
        const int y0 = y;
        while (y < s.h && coloured(column, y)) ++y;
        if (y0 == top || y >= s.h) continue;  // cut by the top bar or the window's edge
        const int mid = (y0 + y) / 2;
        int x0 = column, x1 = column;
        while (x0 > 0 && coloured(x0 - 1, mid)) --x0;
        while (x1 < s.w && coloured(x1, mid)) ++x1;
        boxes.push_back({double(x0), double(y0), double(x1), double(y)});
    }
    return boxes;
}

TEST_F(Display, HomeAtScaleTwoDrawsPicturesInTheirShapeAndOpensTheClickedCard) {
    const std::string feed = serve_feed();
    auto running = launch({}, {{"VORN_UI_SCALE", "2"}});
    ASSERT_TRUE(running.has_value());
    EXPECT_EQ(m_x.window_size(running->window), (std::pair{2560, 1600}));
    ASSERT_TRUE(wait_until([&] { return ran_ytdlp_with(m_home, "feed/trending"); })) << "no home feed was asked for";

    // The window draws at device resolution what the twin draws at scale 2.
    Twin twin(live_twin_app, 2.0f);
    take_feed(twin, feed);
    twin.settle_images();
    EXPECT_TRUE(shows(*running, twin, {0, 0, 2560, 1600}, 0.002));
    const auto cards = screens::test::with_id_prefix(screens::test::dump_tree(twin.harness().app()), "video_card_");
    ASSERT_FALSE(cards.empty());
    const vorn_ui::Rect first = cards.front().rect;
    const int column = static_cast<int>(first.center().x * 2);

    // Every picture seen whole while the page scrolls keeps 16:9.
    std::set<int> heights_seen;
    int measured = 0;
    m_x.move_to(running->window, column, 1200);
    for (int notch = 0; notch < 80 && measured < 3; ++notch) {
        std::this_thread::sleep_for(150ms);
        const auto s = shot(*running);
        ASSERT_TRUE(s.has_value());
        for (const vorn_ui::Rect& box : picture_boxes(*s, column, 66 * 2)) {
            EXPECT_NEAR(box.width() / box.height(), 16.0 / 9.0, 16.0 / 9.0 * 0.02)
                << box.x0 << "," << box.y0 << " " << box.width() << " x " << box.height();
            if (heights_seen.insert(static_cast<int>(box.y0)).second) ++measured;
        }
        m_x.wheel(running->window, column, 1200, true);
    }
    EXPECT_GT(measured, 0) << "no picture was ever wholly in view";

    // Back at the top, a click on the first card opens its video.
    for (int notch = 0; notch < 120; ++notch) m_x.wheel(running->window, column, 1200, false);
    m_x.park_pointer();
    EXPECT_TRUE(shows(*running, twin, {0, 0, 2560, 1600}, 0.002));
    const std::string video_id = cards.front().id.substr(std::string_view("video_card_").size());
    click(*running, {first.center().x * 2, first.center().y * 2});
    EXPECT_TRUE(wait_until([&] {
        const auto history = history_in(m_home);
        return std::find(history.begin(), history.end(), video_id) != history.end();
    })) << "the click did not open " << video_id;
    close_and_expect_clean_exit(*running);
}

TEST_F(Display, NarrowWindowHidesAndShowsItsSidebar) {
    auto running = launch({"--narrow"});
    ASSERT_TRUE(running.has_value());
    EXPECT_EQ(m_x.window_size(running->window), (std::pair{560, 800}));
    Twin twin({"--narrow"}, vorn_ui::Theme::dark(), 560, 800);
    ASSERT_TRUE(shows(*running, twin, {0, 0, 560, 800}));
    const vorn_ui::Point menu = twin.centre_of("nav_toggle");
    const auto toggled = [&] {
        ASSERT_TRUE(twin.harness().app().perform_operation(
            {2, std::string(kOperationKind), encode_json(SarnOperation{operation::ToggleSidebar{}})}).is_handled());
        twin.harness().frame();
    };

    // The menu button hides the sidebar, and shows it again.
    click(*running, menu);
    toggled();
    ASSERT_FALSE(twin.harness().app().sidebar_visible());
    EXPECT_TRUE(shows(*running, twin, {0, 0, 560, 800})) << "the menu button did not hide the sidebar";
    click(*running, menu);
    toggled();
    EXPECT_TRUE(shows(*running, twin, {0, 0, 560, 800})) << "the menu button did not show the sidebar";

    // Escape hides it.
    ASSERT_TRUE(m_x.key(XClient::Key::Escape));
    twin.harness().key(vorn_ui::NamedKey::Escape);
    twin.harness().frame();
    ASSERT_FALSE(twin.harness().app().sidebar_visible());
    EXPECT_TRUE(shows(*running, twin, {0, 0, 560, 800})) << "Escape did not hide the sidebar";
    close_and_expect_clean_exit(*running);

    // An explicit size is the window's; a window that wide is not compact.
    auto sized = launch({"--narrow", "--window-size", "1000x700"});
    ASSERT_TRUE(sized.has_value());
    EXPECT_EQ(m_x.window_size(sized->window), (std::pair{1000, 700}));
    Twin sized_twin({"--narrow", "--window-size", "1000x700"}, vorn_ui::Theme::dark(), 1000, 700);
    EXPECT_TRUE(sized_twin.harness().app().sidebar_visible());
    EXPECT_TRUE(shows(*sized, sized_twin, {0, 0, 1000, 700}));
    close_and_expect_clean_exit(*sized);
}

TEST_F(Display, StreamThatDoesNotComeShowsThePlayersLine) {
    const struct {
        const char* name;  // VORN_UI_THEME
        vorn_ui::Theme theme;
    } themes[] = {{"", vorn_ui::Theme::dark()},
                  {"light", vorn_ui::Theme::light()},
                  {"high-contrast", vorn_ui::Theme::high_contrast()}};
    for (const auto& t : themes) {
        SCOPED_TRACE(t.name);
        // No stream from yt-dlp (the first time only after a while), none from
        // the Invidious here either.
        const bool slow = &t == &themes[0];
        const std::string feed = serve_feed(slow ? "8" : "");
        auto running = launch({}, {{"VORN_UI_THEME", t.name}});
        ASSERT_TRUE(running.has_value());
        ASSERT_TRUE(wait_until([&] { return ran_ytdlp_with(m_home, "feed/trending"); }));
        Twin twin(live_twin_app, 1.0f, 1280, 800, t.theme);
        take_feed(twin, feed);
        twin.settle_images();
        ASSERT_TRUE(shows(*running, twin, {0, 0, 1280, 800}, 0.002));
        const auto cards =
            screens::test::with_id_prefix(screens::test::dump_tree(twin.harness().app()), "video_card_");
        ASSERT_FALSE(cards.empty());
        const std::string video_id = cards.front().id.substr(std::string_view("video_card_").size());

        click(*running, twin.centre_of(cards.front().id));
        twin.run({intent::OpenVideo{video_id}});
        twin.settle_images();
        const auto& standby = twin.harness().app().player()->standby();
        ASSERT_TRUE(standby.has_value());
        if (slow) {
            // While the stream is on its way: the video's picture and the loading mark.
            ASSERT_TRUE(standby->waiting);
            const auto stage = twin.find("watch_video_surface");
            ASSERT_TRUE(stage.has_value());
            EXPECT_TRUE(shows(*running, twin, stage->rect, 0.002)) << "the player does not show the stream coming";
        }
        twin.take(FetchResult{FetchResult::Note{std::string(kNoStreamNote)}});
        EXPECT_EQ(standby->message, kNoStreamNote);
        EXPECT_TRUE(standby->poster) << "the video's picture is the player's poster";
        const auto player = twin.find("watch_video_surface");
        ASSERT_TRUE(player.has_value());
        EXPECT_TRUE(shows(*running, twin, player->rect, 0.002)) << "the player does not say that no stream came";
        // Its outline, on any background.
        const auto s = shot(*running);
        ASSERT_TRUE(s.has_value());
        const int mid = static_cast<int>(player->rect.center().y);
        EXPECT_TRUE(near(s->at(static_cast<int>(player->rect.x0), mid), rgb(t.theme.border), 12))
            << std::hex << s->at(static_cast<int>(player->rect.x0), mid);
        close_and_expect_clean_exit(*running);
    }
}

// A port on this machine that nothing listens on.
int closed_port() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return 0;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        port = ntohs(address.sin_port);
    }
    ::close(fd);
    return port;
}

TEST_F(Display, UnreachableNetworkShowsOfflineAfterTheFirstFailedQuery) {
    const int port = closed_port();
    ASSERT_GT(port, 0);
    const std::string nowhere = fmt::format("http://127.0.0.1:{}", port);
    m_home.set_ytdlp_scenario("[always]\nexit 1\n");  // no yt-dlp: the innertube client, at the closed port
    auto running = launch({}, {{"VORN_SARN_TEST_ORIGIN", nowhere}, {"VORN_SARN_INVIDIOUS", nowhere}});
    ASSERT_TRUE(running.has_value());

    // The statuses as the program took them, without going anywhere (a
    // return to Home would ask for the feed again).
    Twin twin(live_twin_app);
    for (const char* status : {"connecting…", "offline — no live data"}) {
        std::vector<std::string> channels;
        ASSERT_TRUE(twin.harness().app().apply_fetch_result(FetchResult{FetchResult::Status{status, false}}, channels));
        twin.run({intent::CloseActionSearch{}});  // a rebuild that changes nothing else
    }
    ASSERT_FALSE(twin.harness().app().library().home_loading);
    ASSERT_TRUE(screens::test::find_text(screens::test::dump_tree(twin.harness().app()), "Offline").has_value());
    EXPECT_TRUE(shows(*running, twin, {0, 0, 1280, 800})) << "the pill does not read \"Offline\"";
    close_and_expect_clean_exit(*running);
    EXPECT_TRUE(requests().empty()) << "the test server was asked for something";
}

TEST_F(Display, WindowEndedFromOutsideEndsTheProgramWithItsWritesLanded) {
    const Library sample = Library::sample();
    const std::string video_id = sample.videos.front().id;
    bool liked = sample.is_liked(video_id);
    for (const bool kill : {false, true}) {
        SCOPED_TRACE(kill ? "the client killed" : "the window destroyed");
        auto running = launch({"--route", "watch:" + video_id});
        ASSERT_TRUE(running.has_value());
        Twin twin({"--route", "watch:" + video_id});
        twin.harness().apply_shared(action::SetVideoLiked{video_id, liked});
        twin.harness().frame();
        ASSERT_TRUE(shows(*running, twin, {0, 66, 1280, 800}));

        click(*running, twin.centre_of("like_btn"));
        liked = !liked;
        if (kill) {
            // The connection goes once the like shows: whatever was left to
            // write is written before the program ends.
            twin.harness().apply_shared(action::SetVideoLiked{video_id, liked});
            twin.harness().frame();
            ASSERT_TRUE(shows(*running, twin, {0, 66, 1280, 800}));
            ASSERT_TRUE(vorn_test::kill_client_from_outside(running->window));
        } else {
            // The window goes at once, before anything else is drawn.
            (void)m_x.window_size(running->window);  // a round trip: the server has taken the click
            ASSERT_TRUE(vorn_test::destroy_window_from_outside(running->window));
        }
        const auto status = running->process.wait(10s);
        ASSERT_TRUE(status.has_value()) << "the program kept running without its window";
        EXPECT_EQ(*status, 0) << running->process.standard_error();
        const std::string err = running->process.standard_error();
        EXPECT_EQ(err.find("failed with error"), std::string::npos) << err;
        EXPECT_EQ(shared_library_in(m_home).is_liked(video_id), liked) << "the like was lost";
    }
}

}  // namespace
}  // namespace sarn::entry
