#include <gtest/gtest.h>

#include <fmt/format.h>

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

}  // namespace
}  // namespace sarn
