// Pictures of the feed and browse pages for looking at: every page in the
// dark, light and high-contrast themes at 1280 × 800 and 560 × 800, and at
// display scale 2. Written only when SARN_PAGE_SHOTS names a folder, so the
// suite itself writes nothing; each picture is also checked for having
// drawn something besides the background.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "page_test_support.h"
#include "sarn/app/screens/browse_pages.h"
#include "sarn/app/screens/feed_pages.h"
#include "vorn_ui/color_compat.h"
#include "vorn_ui/offscreen.h"

namespace sarn::screens::test {
namespace {

struct PageScene {
    std::string name;
    Library library;
    // Builds the page for a content width.
    std::function<Scrollable(const PageContext&, double)> page;
};

Library with_playlists(Library library) {
    Playlist a = playlist_record("PLspace", {"vid_black_holes", "vid_donut", "unknown"}, 24);
    a.title = "Space, explained slowly";
    Playlist b = playlist_record("PLsys", {}, 1380);
    b.title = "Systems programming from the ground up, with a title long enough to wrap";
    library.playlists = {a, b};
    return library;
}

std::vector<PageScene> scenes() {
    const Library sample = with_playlists(Library::sample());
    std::vector<PageScene> out;
    auto add = [&](std::string name, Library library, std::function<Scrollable(const PageContext&, double)> page) {
        out.push_back({std::move(name), std::move(library), std::move(page)});
    };
    auto plain = [](Scrollable (*builder)(const PageContext&)) {
        return [builder](const PageContext& cx, double) { return builder(cx); };
    };

    add("home", sample, plain(home_page));
    Library offline;
    offline.status.text = "offline — no live data";
    add("home_offline", offline, plain(home_page));
    Library loading;
    loading.home_loading = true;
    add("home_loading", loading, plain(home_page));
    add("trending", sample, plain(trending_page));
    add("subs", sample, plain(subscriptions_page));
    // The live app before the catalogue arrives: lists without records.
    Library lists_only;
    lists_only.subscriptions = {"UCaaa", "UCbbb", std::string(kPlatformWebPrefix) + "@elsewhere"};
    lists_only.history = {"id1", "id2", "id3", "id4"};
    lists_only.queue = {"id1", "id9"};
    add("subs_unresolved", lists_only, plain(subscriptions_page));
    add("history_unresolved", lists_only, plain(history_page));
    add("queue_unresolved", lists_only, [](const PageContext& cx, double w) { return queue_page(cx, w); });
    Library queued = sample;
    queued.queue = {"vid_donut", "vid_gpu", "gone"};
    add("queue", queued, [](const PageContext& cx, double w) { return queue_page(cx, w); });
    Library history = sample;
    history.history_notice = "Watch history couldn't be opened. The existing local file was preserved.";
    add("history", history, plain(history_page));
    const std::string channel = sample.videos.front().channel_id;
    add("channel", sample, [channel](const PageContext& cx, double) { return channel_page(cx, channel); });
    add("playlist", sample, [](const PageContext& cx, double) { return playlist_page(cx, "PLspace"); });
    add("playlist_loading", sample, [](const PageContext& cx, double) { return playlist_page(cx, "PLsys"); });
    Library searched = sample;
    searched.search_results_query = "space";
    searched.search_result_videos = {"vid_black_holes", "vid_donut", "vid_gpu"};
    searched.search_result_channels = {sample.channels[0].id, sample.channels[1].id};
    searched.search_result_playlists = {"PLspace", "PLsys"};
    add("search", searched, [](const PageContext& cx, double) { return search_page(cx, "space"); });
    Library single = sample;
    single.search_results_query = "donut";
    single.search_result_videos = {"vid_donut"};
    add("search_single", single, [](const PageContext& cx, double) { return search_page(cx, "donut"); });
    Library none = sample;
    add("search_none", none, [](const PageContext& cx, double) { return search_page(cx, "zzzz"); });
    return out;
}

struct Frame {
    const char* theme_name;
    vorn_ui::Theme theme;
    double width;
    double height;
    float scale;
};

// The page's share of the window: beside the 86 rail at scale 1 in a wide
// window, the whole width otherwise; below the 66 top bar.
double content_width(const Frame& f) {
    if (f.scale < 1.5f) return f.width < 760 ? f.width : f.width - 86;
    return f.width < 1760 ? f.width : f.width - 264;
}

TEST(PageShots, DrawEveryPageInEveryTheme) {
    const char* dir = std::getenv("SARN_PAGE_SHOTS");
    if (!dir) GTEST_SKIP() << "set SARN_PAGE_SHOTS to a folder to write the pictures";
    std::filesystem::create_directories(dir);
    const std::vector<Frame> frames = {
        {"dark", vorn_ui::Theme::dark(), 1280, 800, 1.0f},
        {"light", vorn_ui::Theme::light(), 1280, 800, 1.0f},
        {"hc", vorn_ui::Theme::high_contrast(), 1280, 800, 1.0f},
        {"dark", vorn_ui::Theme::dark(), 560, 800, 1.0f},
        {"light", vorn_ui::Theme::light(), 560, 800, 1.0f},
        {"hc", vorn_ui::Theme::high_contrast(), 560, 800, 1.0f},
        {"dark", vorn_ui::Theme::dark(), 1280, 800, 2.0f},
        {"light", vorn_ui::Theme::light(), 560, 800, 2.0f},
        {"dark", vorn_ui::Theme::dark(), 420, 800, 2.0f},
    };
    for (const PageScene& s : scenes()) {
        for (const Frame& f : frames) {
            const double w = content_width(f);
            const double h = f.height - 66;
            ui::widget::Environment env = environment_at(f.scale, f.theme);
            env.viewport = {w, h};
            IntentQueue queue;
            const PageContext cx{s.library, env, queue, std::nullopt};
            Scrollable page = s.page(cx, w);

            ui::layout::LayoutTree tree;
            ui::widget::NodeRegistry registry;
            ui::TextRenderer text;
            ui::widget::LayoutContext lcx{tree, registry, env};
            auto nodes = ui::widget::build_root_layout(page, lcx, {w, h});
            ASSERT_TRUE(nodes.has_value());
            ASSERT_TRUE(ui::widget::solve_root_layout(tree, *nodes, {w, h}, registry, text).has_value());
            page.apply_layout(tree, nodes->root, {0, 0});

            ui::Scene scene;
            ui::widget::PermissionContext permissions;
            ui::widget::DrawContext dcx{env.theme, text, permissions};
            page.draw_with_presence(scene, ui::Affine::scale(f.scale), dcx,
                                    ui::widget::PresenceContext{ui::Rect{0, 0, w, h}});
            const auto px_w = static_cast<std::uint32_t>(w * f.scale);
            const auto px_h = static_cast<std::uint32_t>(h * f.scale);
            auto renderer = ui::offscreen::OffscreenRenderer::create(px_w, px_h);
            ASSERT_TRUE(renderer.has_value());
            auto image = renderer->render_resilient(scene, env.theme.background);
            ASSERT_TRUE(image.has_value());
            std::size_t drawn = 0;
            const std::uint32_t background = image->rgba_at(0, 0);
            for (std::uint32_t y = 0; y < px_h; y += 7)
                for (std::uint32_t x = 0; x < px_w; x += 7) drawn += image->rgba_at(x, y) != background ? 1 : 0;
            EXPECT_GT(drawn, 0u) << s.name;
            auto png = ui::offscreen::encode_png(px_w, px_h, image->rgba);
            ASSERT_TRUE(png.has_value());
            const std::string file = fmt::format("{}/{}_{}_{}x{}@{}.png", dir, s.name, f.theme_name,
                                                 static_cast<int>(f.width), static_cast<int>(f.height), f.scale);
            ASSERT_TRUE(ui::offscreen::write_file_atomically(file, *png).has_value());
        }
    }
}

}  // namespace
}  // namespace sarn::screens::test
