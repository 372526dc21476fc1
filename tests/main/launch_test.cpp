// The launch description and the two root factories: which start state the
// switches give, the viewport and window size they ask for, and the fields
// the runtime receives.
#include "sarn/main/launch.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "root_harness.h"
#include "sarn/actions/application.h"
#include "vorn_ui/persist.h"

namespace sarn::entry {
namespace {

using Args = std::vector<std::string>;
using vorn_ui::launch::LaunchArgs;

LaunchArgs parse(Args argv) {
    argv.insert(argv.begin(), "vorn-sarn");
    const std::vector<std::string> switches(std::begin(kLaunchSwitches), std::end(kLaunchSwitches));
    const std::vector<std::string> valued(std::begin(kValuedLaunchOptions), std::end(kValuedLaunchOptions));
    return LaunchArgs::parse(argv, switches, valued);
}

std::string describe(const Args& args) {
    std::string out;
    for (const auto& a : args) out += "[" + a + "]";
    return out.empty() ? "(none)" : out;
}

TEST(AppFromArgs, FirstPresentSwitchDecidesTheStartState) {
    enum class State { Sample, Empty, Loading, DeviceSync, Palette, PlayDemo };
    const struct {
        Args args;
        State state;
        Route route;
        double width;
        bool narrow = false;
        std::string palette_query = "";
    } cases[] = {
        {{}, State::Sample, Route::home(), 1280},
        {{"--route", "SETTINGS"}, State::Sample, Route::settings(), 1280},
        {{"--route=watch:"}, State::Sample, Route::watch(""), 1280},
        {{"--route", "search:Rust"}, State::Sample, Route::search("Rust"), 1280},
        {{"--route", "Watch:abc"}, State::Sample, Route::search("Watch:abc"), 1280},
        // The narrow flag is set and the route is not applied; the layout is
        // as narrow as the window.
        {{"--narrow", "--route", "settings"}, State::Sample, Route::home(), 560, true},
        {{"--narrow", "--window-size", "900x700"}, State::Sample, Route::home(), 900, true},
        {{"--window-size", "900x700", "--route", "queue"}, State::Sample, Route::queue(), 900},
        // Only the first present switch counts, in the factory's order.
        {{"--palette", "--empty"}, State::Empty, Route::home(), 1280},
        {{"--play-demo", "--loading"}, State::Loading, Route::home(), 1280},
        {{"--narrow", "--device-sync"}, State::DeviceSync, Route::settings(), 560},
        {{"--device-sync"}, State::DeviceSync, Route::settings(), 1280},
        {{"--palette", "--play-demo"}, State::Palette, Route::home(), 1280, false, "rust"},
        {{"--palette-query", "cats", "--palette"}, State::Palette, Route::home(), 1280, false, "cats"},
        {{"--play-demo", "--narrow", "--route", "home"}, State::PlayDemo, Route::home(), 560},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(describe(c.args));
        SarnApp app = app_from_args(parse(c.args), test::quiet_options());
        const Library& lib = app.library();
        EXPECT_EQ(app.bounds().x1 - app.bounds().x0, c.width);
        EXPECT_EQ(app.is_compact(), c.width < 760);
        EXPECT_EQ(app.narrow(), c.narrow);
        EXPECT_EQ(lib.palette_open, c.state == State::Palette);
        EXPECT_EQ(lib.palette_query, c.palette_query);
        EXPECT_EQ(lib.status.text == "offline — network unavailable", c.state == State::Empty);
        EXPECT_EQ(lib.home_loading, c.state == State::Loading);
        EXPECT_EQ(app.device_sync().peers().size(), c.state == State::DeviceSync ? 2u : 0u);
        EXPECT_EQ(app.loaded_video().has_value(), c.state == State::PlayDemo);
        if (c.state == State::PlayDemo) {
            ASSERT_FALSE(lib.videos.empty());
            EXPECT_EQ(lib.route, Route::watch(lib.videos.front().id));
        } else {
            EXPECT_EQ(lib.route, c.route);
            EXPECT_EQ(app.navigation().current, c.route);
        }
        if (c.route.kind == Route::Kind::Search) {
            EXPECT_EQ(app.search_text().text(), c.route.text);
        }
        if (c.state == State::DeviceSync) {
            // The demo's stored settings offset follows the width it was built for.
            const auto offset = app.scroll_offsets().find("settings");
            ASSERT_NE(offset, app.scroll_offsets().end());
            EXPECT_EQ(offset->second->y, c.width < 760 ? 1330.0f : 930.0f);
        }
        // Nothing live: no worker, no image store, no device-sync worker.
        EXPECT_FALSE(app.live());
        EXPECT_FALSE(app.image_store().has_value());
        EXPECT_FALSE(app.device_sync().has_worker());
        EXPECT_FALSE(app.fetch_worker_exists());
    }
}

TEST(AppFromArgs, NarrowStartIsLaidOutNarrowFromTheFirstFrame) {
    // A 560-wide window: the first layout is the compact one, not a
    // 1280-wide layout cut off by the window.
    test::RootHarness h(app_from_args(parse({"--narrow"}), test::quiet_options()), 560, 800);
    EXPECT_TRUE(h.app().is_compact());
    h.frame();
    EXPECT_EQ(h.app().bounds().x1, 560);
    EXPECT_TRUE(h.app().is_compact());
    EXPECT_TRUE(h.app().sidebar_visible()) << "a narrow start opens with its sidebar";
    EXPECT_FALSE(h.frame()) << "the first frame's tree was built for the wrong width";
}

TEST(AppFromArgs, OfflineFramesNeverFetch) {
    test::RootHarness h(app_from_args(parse({"--route", "home"}), test::quiet_options()));
    for (int i = 0; i < 5; ++i) h.frame();
    EXPECT_FALSE(h.app().fetch_worker_exists());
}

TEST(LiveApp, StartsLiveWithAnEmptyLoadingLibrary) {
    SarnApp app = live_app(test::quiet_options());
    EXPECT_TRUE(app.live());
    EXPECT_TRUE(app.image_store().has_value());
    EXPECT_TRUE(app.library().home_loading);
    EXPECT_TRUE(app.library().videos.empty());
    EXPECT_EQ(app.library().route, Route::home());
    EXPECT_EQ(build_live_app(test::quiet_options())->type_name(), "SarnApp");
}

TEST(InitialWindowSize, NarrowOnlyWithoutAnExplicitSize) {
    using Size = std::pair<std::uint32_t, std::uint32_t>;
    const struct {
        Args args;
        Size want;
    } cases[] = {
        {{}, {1280, 800}},
        {{"--narrow"}, {560, 800}},
        {{"--route", "home", "--narrow"}, {560, 800}},
        {{"--narrow", "--window-size", "700x500"}, {1280, 800}},
        {{"--window-size", "700x500"}, {1280, 800}},
        {{"--narrowish"}, {1280, 800}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(describe(c.args));
        EXPECT_EQ(initial_window_size(parse(c.args)), c.want);
    }
}

TEST(LaunchSpec, FieldByField) {
    int options_asked = 0;
    vorn_ui::launch::LaunchSpec spec = app_launch_spec([&] {
        ++options_asked;
        return test::quiet_options();
    });
    EXPECT_EQ(spec.application_id, kApplicationId);
    EXPECT_EQ(spec.switches,
              (std::vector<std::string>{"--narrow", "--palette", "--play-demo", "--empty", "--loading", "--device-sync"}));
    EXPECT_EQ(spec.valued_options, (std::vector<std::string>{"--route", "--palette-query"}));
    EXPECT_TRUE(spec.required_capabilities.empty());
    EXPECT_TRUE(spec.optional_capabilities.empty());
    EXPECT_TRUE(spec.url_schemes.empty());
    EXPECT_FALSE(spec.start_fullscreen);
    EXPECT_TRUE(spec.resizable);
    EXPECT_TRUE(spec.high_dpi);
    EXPECT_FALSE(spec.arguments.has_value());
    EXPECT_TRUE(spec.window_title.empty());

    using OpenStore = std::expected<vorn_ui::persist::DocumentStore, vorn_ui::persist::PersistError> (*)(std::string_view);
    ASSERT_NE(spec.open_store.target<OpenStore>(), nullptr);
    EXPECT_EQ(*spec.open_store.target<OpenStore>(), &vorn_ui::persist::open);
    using WindowSize = std::pair<std::uint32_t, std::uint32_t> (*)(const LaunchArgs&);
    ASSERT_NE(spec.window_size.target<WindowSize>(), nullptr);
    EXPECT_EQ(*spec.window_size.target<WindowSize>(), &initial_window_size);

    ASSERT_TRUE(spec.register_actions);
    vorn_ui::app::App app(spec.application_id);
    spec.register_actions(app);
    EXPECT_TRUE(app.action_registry().has_namespace("sarn.action"));

    ASSERT_TRUE(spec.build_root_from_args);
    auto from_args = spec.build_root_from_args(parse({"--route", "queue"}));
    ASSERT_NE(dynamic_cast<SarnApp*>(from_args.get()), nullptr);
    EXPECT_EQ(dynamic_cast<SarnApp&>(*from_args).library().route, Route::queue());
    EXPECT_FALSE(dynamic_cast<SarnApp&>(*from_args).live());

    ASSERT_TRUE(spec.build_root);
    auto live = spec.build_root();
    ASSERT_NE(dynamic_cast<SarnApp*>(live.get()), nullptr);
    EXPECT_TRUE(dynamic_cast<SarnApp&>(*live).live());
    EXPECT_EQ(options_asked, 2);
}

}  // namespace
}  // namespace sarn::entry
