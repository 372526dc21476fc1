// What the user keeps, as the real program keeps it across restarts: the
// kept lists' videos and channels without any backend, the files that cannot
// be kept said on screen and left as they are, and two instances on a new
// folder converging on one library map that the official package reads.
#include "node_script.h"
#include "program_window.h"
#include "sarn/actions/kept_records.h"
#include "sarn/actions/library_maps.h"

namespace sarn::entry {
namespace {

using namespace window;

constexpr vorn_ui::Rect kBelowTopBar{0, 66, 1280, 800};

class KeptData : public ProgramWindow {
protected:
    // Every stream the program looks for is found here, at the first
    // Invidious instance it asks, so that none is looked for elsewhere. It
    // does not play: no skip notice comes and goes while the test looks.
    void add_routes(httplib::Server& server) override {
        server.Get("/latest_version", [](const httplib::Request&, httplib::Response& response) {
            response.set_content("not a clip", "video/webm");
        });
    }

    std::filesystem::path records_file() const { return KeptRecordsStore::records_path(m_home.data()); }

    // The shared document on disk, as the program's projection reads it:
    // the value of a key under a library map, any copy of it.
    std::optional<bool> stored_flag(std::string_view map, std::string_view key) {
        std::ifstream in(m_home.shared_document(), std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        auto document = automerge::Document::load(bytes);
        if (!document) return std::nullopt;
        return LibraryMaps::root(*document).child(*document, map).flag(*document, key);
    }
    bool stored(std::string_view map, std::string_view key) {
        return wait_until([&] { return stored_flag(map, key) == std::optional<bool>(true); });
    }

    // A twin that reads what the program keeps, from copies of its files.
    SarnApp twin_of_files(SarnAppOptions options) {
        static int serial = 0;
        const auto copy = m_home.root() / fmt::format("twin-data-{}", serial++);
        std::filesystem::copy(m_home.data(), copy, std::filesystem::copy_options::recursive);
        options.identity.reset();  // the program's own user
        options.history_data_dir = std::optional<std::filesystem::path>(copy);
        return live_twin_app(std::move(options));
    }
    // The twin opens the shared document the program opened.
    std::function<void(test::RootHarness&)> shared_document() {
        return [this](test::RootHarness& harness) {
            std::ifstream in(m_home.shared_document(), std::ios::binary);
            const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            auto document = automerge::Document::load(bytes);
            ASSERT_TRUE(document.has_value());
            harness.document() = std::move(*document);
        };
    }
};

std::string read_file(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

bool names(Twin& twin, std::string_view text) {
    const auto rows = screens::test::dump_tree(twin.harness().app());
    return std::any_of(rows.begin(), rows.end(), [&](const auto& r) { return r.text.find(text) != std::string::npos; });
}

TEST_F(KeptData, LiveListsShowTheirVideosAndChannelsAfterARestartWithoutYtDlp) {
    const std::string origin = m_server.base_url();
    const std::string feed = feed_json(origin, "feed", 30);
    m_home.write_file("trending.json", feed);
    m_home.set_ytdlp_scenario(fmt::format("[when --version]\nstdout 2024.01.01\\n\n"
                                          "[when feed/trending]\nstdout-file {}\n"
                                          "[always]\nexit 1\n",
                                          (m_home.root() / "trending.json").string()));

    // Like two videos, queue one, subscribe to a channel.
    {
        auto running = launch({});
        ASSERT_TRUE(running.has_value());
        ASSERT_TRUE(wait_until([&] { return ran_ytdlp_with(m_home, "feed/trending"); }));
        Twin twin(live_twin_app);
        twin.take(FetchResult{FetchResult::HomeFeed{ytdlp::videos_from_result(
            nlohmann::json::parse(feed), "Trending", ytdlp::today_day_number())}});
        twin.take(FetchResult{FetchResult::Status{"live · trending", true}});
        twin.settle_images();
        ASSERT_TRUE(shows(*running, twin, kBelowTopBar, 0.002));

        click(*running, twin.centre_of("video_card_feed03"));
        twin.run({intent::OpenVideo{"feed03"}});
        twin.take_extras("feed03");
        ASSERT_TRUE(twin.find("like_btn").has_value());
        ASSERT_TRUE(shows(*running, twin, twin.find("like_btn")->rect, 0.002));
        click(*running, twin.centre_of("like_btn"));
        ASSERT_TRUE(stored("likes", "feed03")) << running->process.standard_error();
        twin.run({intent::ToggleLike{"feed03"}});
        click(*running, twin.centre_of("queue_btn_feed03"));
        ASSERT_TRUE(stored("queue", "feed03"));
        twin.harness().apply_shared(action::SetQueueMembership{"feed03", true});
        twin.harness().frame();
        click(*running, twin.centre_of("subscribe_btn"));
        ASSERT_TRUE(stored("subscriptions", "UCone"));
        twin.run({intent::ToggleSubscription{"UCone"}});

        click(*running, twin.centre_of("back_btn"));
        twin.run({intent::GoBack{}});
        twin.settle_images();
        ASSERT_TRUE(shows(*running, twin, kBelowTopBar, 0.002));
        click(*running, twin.centre_of("video_card_feed04"));
        twin.run({intent::OpenVideo{"feed04"}});
        twin.take_extras("feed04");
        ASSERT_TRUE(shows(*running, twin, twin.find("like_btn")->rect, 0.002));
        click(*running, twin.centre_of("like_btn"));
        ASSERT_TRUE(stored("likes", "feed04"));
        close_and_expect_clean_exit(*running);
    }
    const KeptRecordsStore kept = KeptRecordsStore::open_in(m_home.data());
    ASSERT_FALSE(kept.read_error().has_value()) << *kept.read_error();
    std::set<std::string> kept_ids;
    for (const Video& video : kept.records().videos) kept_ids.insert(video.id);
    EXPECT_EQ(kept_ids, (std::set<std::string>{"feed03", "feed04"}));
    ASSERT_EQ(kept.records().channels.size(), 1u);
    EXPECT_EQ(kept.records().channels[0].name, "Channel One");

    // Started again without yt-dlp (it answers as a missing program would:
    // a real one may be installed further along PATH), so offline.
    m_home.set_ytdlp_scenario("[always]\nexit 127\n");
    auto again = launch({});
    ASSERT_TRUE(again.has_value());
    Twin twin([this](SarnAppOptions options) { return twin_of_files(std::move(options)); }, shared_document());
    twin.harness().frame();  // laid out at the window's width
    struct Page {
        const char* nav;
        Route route;
        std::vector<std::string> shown;
    };
    const Page pages[] = {
        {"nav_queue", Route::queue(), {"Feed video 03"}},
        {"nav_history", Route::history(), {"Feed video 03", "Feed video 04"}},
        {"nav_subs", Route::subscriptions(), {"Channel One"}},
    };
    // The sidebar is there before the first click.
    ASSERT_TRUE(shows(*again, twin, {0, 66, 86, 800}));
    for (const Page& page : pages) {
        SCOPED_TRACE(page.nav);
        click(*again, twin.centre_of(page.nav));
        twin.run({intent::Navigate{page.route}});
        twin.settle_images();
        for (const std::string& text : page.shown) EXPECT_TRUE(names(twin, text)) << text;
        EXPECT_FALSE(names(twin, "need metadata"));
        EXPECT_TRUE(shows(*again, twin, kBelowTopBar, 0.002));
    }

    // The liked video, opened from the queue, shows its like.
    click(*again, twin.centre_of("nav_queue"));
    twin.run({intent::Navigate{Route::queue()}});
    twin.settle_images();
    ASSERT_TRUE(shows(*again, twin, kBelowTopBar, 0.002));
    const auto rows = screens::test::dump_tree(twin.harness().app());
    const auto row = screens::test::find_text(rows, "Feed video 03");  // inside its row
    ASSERT_TRUE(row.has_value()) << screens::test::dump_text(rows);
    click(*again, vorn_ui::Point{(row->rect.x0 + row->rect.x1) / 2, (row->rect.y0 + row->rect.y1) / 2});
    twin.run({intent::OpenVideo{"feed03"}});
    twin.take_extras("feed03");
    EXPECT_TRUE(twin.harness().app().library().is_liked("feed03"));
    const auto like = twin.find("like_btn");
    ASSERT_TRUE(like.has_value());
    EXPECT_TRUE(shows(*again, twin, like->rect, 0.002));
    close_and_expect_clean_exit(*again);
}

TEST_F(KeptData, UnreadableRecordsAndLibraryFilesAreSaidAndLeftAsTheyAre) {
    const std::string broken_library = "not an automerge document";
    const std::string broken_records = "{\"version\":1,\"videos\":[";
    std::filesystem::create_directories(m_home.shared_document().parent_path());
    std::ofstream(m_home.shared_document(), std::ios::binary) << broken_library;
    std::filesystem::create_directories(records_file().parent_path());
    std::ofstream(records_file(), std::ios::binary) << broken_records;
    const std::string feed = feed_json(m_server.base_url(), "feed", 4);
    m_home.write_file("trending.json", feed);
    m_home.set_ytdlp_scenario(fmt::format("[when --version]\nstdout 2024.01.01\\n\n"
                                          "[when feed/trending]\nstdout-file {}\n[always]\nexit 1\n",
                                          (m_home.root() / "trending.json").string()));

    auto running = launch({});
    ASSERT_TRUE(running.has_value());
    ASSERT_TRUE(wait_until([&] { return ran_ytdlp_with(m_home, "feed/trending"); }));
    Twin twin([this](SarnAppOptions options) { return twin_of_files(std::move(options)); },
              [](test::RootHarness& harness) { harness.set_document_error("does not load"); });
    twin.harness().frame();  // laid out at the window's width
    twin.take(FetchResult{FetchResult::HomeFeed{ytdlp::videos_from_result(
        nlohmann::json::parse(feed), "Trending", ytdlp::today_day_number())}});
    twin.take(FetchResult{FetchResult::Status{"live · trending", true}});
    ASSERT_TRUE(names(twin, "Library changes are not being saved"));
    ASSERT_TRUE(names(twin, "Saved video details unavailable"));
    const auto notices = twin.find("storage_notices");
    ASSERT_TRUE(notices.has_value());
    EXPECT_TRUE(shows(*running, twin, notices->rect, 0.002));

    // A like, which can be kept in neither file.
    click(*running, twin.centre_of("video_card_feed01"));
    twin.run({intent::OpenVideo{"feed01"}});
    EXPECT_TRUE(shows(*running, twin, twin.find("storage_notices")->rect, 0.002));
    click(*running, twin.centre_of("like_btn"));
    std::this_thread::sleep_for(500ms);
    close_and_expect_clean_exit(*running);
    EXPECT_EQ(read_file(m_home.shared_document()), broken_library);
    EXPECT_EQ(read_file(records_file()), broken_records);
}

TEST_F(KeptData, TwoInstancesOnANewFolderConvergeOnOneLibraryMap) {
    if (auto missing = vorn_test::official_package_missing()) GTEST_SKIP() << *missing;

    // One likes a video, the other subscribes to a channel it does not follow yet.
    const Library sample = Library::sample();
    const Video& liked = sample.videos.at(0);
    const auto unfollowed = std::find_if(sample.videos.begin(), sample.videos.end(),
                                         [&](const Video& v) { return !sample.is_subscribed(v.channel_id); });
    ASSERT_NE(unfollowed, sample.videos.end());
    const Args args_a{"--route", "watch:" + liked.id};
    const Args args_b{"--route", "watch:" + unfollowed->id};

    auto a = launch(args_a);
    ASSERT_TRUE(a.has_value());
    auto b = launch_beside(*a, args_b);
    ASSERT_TRUE(b.has_value()) << "the second instance opened no window";
    Twin twin_a(args_a);
    Twin twin_b(args_b);
    m_x.raise(a->window);
    ASSERT_TRUE(shows(*a, twin_a, kBelowTopBar));
    click(*a, twin_a.centre_of("like_btn"));
    ASSERT_TRUE(stored("likes", liked.id)) << a->process.standard_error();
    m_x.raise(b->window);
    ASSERT_TRUE(shows(*b, twin_b, kBelowTopBar));
    click(*b, twin_b.centre_of("subscribe_btn"));
    ASSERT_TRUE(stored("subscriptions", unfollowed->channel_id)) << b->process.standard_error();

    // What any other reader sees: the winning "sarn" map alone.
    auto read_with_node = [&]() -> nlohmann::json {
        return vorn_test::run_node_script("library_file.cjs", "read", m_home.shared_document())
            .value_or(nlohmann::json(nlohmann::json::value_t::discarded));
    };
    auto both = [&](const nlohmann::json& seen) {
        if (seen.is_discarded() || !seen.contains("sarn") || !seen["sarn"].is_object()) return false;
        const auto& sarn = seen["sarn"];
        return sarn.contains("likes") && sarn["likes"].value(liked.id, false) && sarn.contains("subscriptions") &&
               sarn["subscriptions"].value(unfollowed->channel_id, false);
    };
    // The second to save finds the first's map beside its own and moves what
    // only the losing one holds into the winner.
    EXPECT_TRUE(wait_until([&] { return both(read_with_node()); })) << read_with_node().dump();
    close_and_expect_clean_exit(*b);
    close_and_expect_clean_exit(*a);
    const nlohmann::json seen = read_with_node();
    EXPECT_TRUE(both(seen)) << seen.dump();
    EXPECT_EQ(seen["copies"], 2) << "the two instances did start a map each";
}

}  // namespace
}  // namespace sarn::entry
