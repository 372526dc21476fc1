#include <gtest/gtest.h>

#include <fmt/format.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "root_harness.h"
#include "vorn_ui/color_compat.h"

namespace sarn {
namespace {

using test::quiet_options;
using test::RootHarness;

struct Theme {
    const char* name;
    vorn_ui::Theme theme;
};

// Every route in every theme, at both widths and scales: the page draws
// something besides the background in its content area, and the shell is
// there (the top bar's chrome across the top).
TEST(RootRender, EveryPageDrawsInEveryTheme) {
    const Library sample = Library::sample();
    const std::vector<std::pair<std::string, Route>> routes = {
        {"home", Route::home()},
        {"trending", Route::trending()},
        {"subs", Route::subscriptions()},
        {"queue", Route::queue()},
        {"watch", Route::watch(sample.videos.front().id)},
        {"channel", Route::channel(sample.channels.front().id)},
        {"playlist", Route::playlist(sample.playlists.empty() ? "none" : sample.playlists.front().id)},
        {"search", Route::search("rust")},
        {"history", Route::history()},
        {"settings", Route::settings()},
        {"palette", Route::home()},
        {"offline", Route::home()},
        {"loading", Route::home()},
    };
    const Theme themes[] = {{"dark", vorn_ui::Theme::dark()},
                            {"light", vorn_ui::Theme::light()},
                            {"contrast", vorn_ui::Theme::high_contrast()}};
    struct Size {
        double width;
        float scale;
    } sizes[] = {{1280, 1.0f}, {560, 1.0f}, {1280, 2.0f}};
    for (const auto& [name, route] : routes) {
        for (const auto& t : themes) {
            for (const auto& size : sizes) {
                SarnApp app = SarnApp::create(quiet_options()).with_viewport_size(size.width, 800).with_route(route);
                if (name == "palette") app = std::move(app).with_palette("mo");
                if (name == "offline") app = std::move(app).with_offline_empty_state();
                if (name == "loading") app = std::move(app).with_loading_state();
                RootHarness h(std::move(app), size.width, 800, size.scale, t.theme);
                h.frame();
                h.frame();
                const auto image = h.render();
                ASSERT_GT(image.width, 0u);
                const auto bg = vorn_ui::color_compat::ColorCompat(t.theme.background);
                const std::uint32_t background = (bg.r() << 24) | (bg.g() << 16) | (bg.b() << 8) | 0xff;
                // The content area below the top bar holds more than the background.
                std::size_t drawn = 0;
                const auto top = static_cast<std::uint32_t>(80 * size.scale);
                for (std::uint32_t y = top; y < image.height; y += 7) {
                    for (std::uint32_t x = image.width / 4; x < image.width; x += 7) {
                        if (image.rgba_at(x, y) != background) ++drawn;
                    }
                }
                EXPECT_GT(drawn, 20u) << name << " " << t.name << " " << size.width << "@" << size.scale;
                h.shoot(fmt::format("{}-{}-{}-{}", name, t.name, size.width, size.scale));
            }
        }
    }
}

// The window's frames while only the page scrolls: the shell around the page
// (top bar, sidebar) leaves the page's viewport to the page, so the renderer
// moves the last picture and draws the strip that came into view, and every
// picture is the one a whole drawing gives.
TEST(RootRender, ScrollingOnlyThePageMovesTheLastPicture) {
    const Library sample = Library::sample();
    struct Case {
        const char* name;
        Route route;
        double width;
        float scale;
        vorn_ui::Theme theme;
        bool paused_player = false;  // a loaded, paused player on the watch page, whose picture must move along
    };
    const std::string watched = sample.videos.front().id;
    const Case cases[] = {
        {"home", Route::home(), 1280, 1.0f, vorn_ui::Theme::dark()},
        {"home light @2", Route::home(), 1280, 2.0f, vorn_ui::Theme::light()},
        {"home narrow", Route::home(), 560, 1.0f, vorn_ui::Theme::high_contrast()},
        {"watch", Route::watch(watched), 1280, 1.0f, vorn_ui::Theme::dark()},
        {"watch, paused player", Route::watch(watched), 1280, 1.0f, vorn_ui::Theme::dark(), true},
        {"watch, paused player @2", Route::watch(watched), 1280, 2.0f, vorn_ui::Theme::light(), true},
        {"watch narrow, paused player", Route::watch(watched), 700, 1.0f, vorn_ui::Theme::high_contrast(), true},
        {"settings @2", Route::settings(), 1280, 2.0f, vorn_ui::Theme::dark()},
    };
    for (const Case& c : cases) {
        SarnApp app = SarnApp::create(quiet_options()).with_viewport_size(c.width, 800).with_route(c.route);
        if (c.paused_player) app = std::move(app).with_demo_player(watched);
        RootHarness h(std::move(app), c.width, 800, c.scale, c.theme);
        h.frame();
        h.frame();
        if (c.paused_player) {
            // The engine may still send the paused picture at the player's size;
            // the scrolling starts once the player has stayed unchanged a while.
            const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
            for (int quiet = 0; quiet < 10 && std::chrono::steady_clock::now() < until;) {
                (void)h.window_frame();
                (void)h.draw();
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
                (void)h.window_frame();
                quiet = h.app().player()->redraw_requested() ? 0 : quiet + 1;
            }
        }
        auto renderer = vorn_ui::offscreen::OffscreenRenderer::create(h.pixel_width(), h.pixel_height());
        auto full = vorn_ui::offscreen::OffscreenRenderer::create(h.pixel_width(), h.pixel_height());
        ASSERT_TRUE(renderer && full);
        const vorn_ui::Color clear = h.env().theme.background;
        EXPECT_FALSE(renderer->render_frame(h.draw(), clear)) << c.name;
        const auto* page = h.app().page_scroller();
        ASSERT_NE(page, nullptr) << c.name;
        const vorn_ui::Rect b = page->bounds();
        const double start = page->offset().y;
        for (int step = 0; step < 8; ++step) {
            vorn_ui::ScrollEvent scroll;
            scroll.delta_y = step == 5 ? 7.0 : -3.0;
            scroll.precise = true;
            scroll.position = {(b.x0 + b.x1) / 2 * c.scale, (b.y0 + b.y1) / 2 * c.scale};
            h.send(scroll);
            const auto hint = h.window_frame();
            ASSERT_TRUE(hint.has_value()) << c.name << " step " << step;
            const vorn_ui::Scene scene = h.draw();
            EXPECT_TRUE(renderer->render_frame(scene, clear, hint)) << c.name << " step " << step;
            full->render_into(scene, clear);
            const auto a = renderer->argb32_pixels();
            const auto w = full->argb32_pixels();
            ASSERT_EQ(a.size(), w.size());
            EXPECT_EQ(std::memcmp(a.data(), w.data(), a.size()), 0) << c.name << " step " << step;
        }
        EXPECT_GT(h.app().page_scroller()->offset().y, start) << c.name;  // the page did scroll
    }
}

}  // namespace
}  // namespace sarn
