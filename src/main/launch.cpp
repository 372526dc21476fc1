#include "sarn/main/launch.h"

#include "sarn/actions/application.h"
#include "sarn/app/action_tree.h"
#include "sarn/main/options.h"
#include "vorn_ui/persist.h"

namespace sarn::entry {

namespace {

// The viewport the first layout assumes: the size of the window the program
// asks for, so that a narrow start is laid out narrow from its first frame.
std::pair<double, double> initial_viewport(const vorn_ui::launch::LaunchArgs& args) {
    if (const auto explicit_size = args.window_size()) {
        return {static_cast<double>(explicit_size->first), static_cast<double>(explicit_size->second)};
    }
    const auto [width, height] = initial_window_size(args);
    return {static_cast<double>(width), static_cast<double>(height)};
}

}  // namespace

SarnApp live_app(SarnAppOptions options) { return SarnApp::create(std::move(options)).start_live(); }

vorn_ui::widget::WidgetPtr build_live_app(SarnAppOptions options) {
    return std::make_unique<SarnApp>(live_app(std::move(options)));
}

SarnApp app_from_args(const vorn_ui::launch::LaunchArgs& args, SarnAppOptions options) {
    const auto [width, height] = initial_viewport(args);
    SarnApp app = SarnApp::create(std::move(options)).with_viewport_size(width, height);
    if (args.has("--empty")) return std::move(app).with_offline_empty_state();
    if (args.has("--loading")) return std::move(app).with_loading_state();
    if (args.has("--device-sync")) return std::move(app).with_device_sync_demo();
    if (args.has("--palette")) {
        return std::move(app).with_palette(args.value("--palette-query").value_or(std::string(kDefaultPaletteQuery)));
    }
    if (args.has("--play-demo")) return std::move(app).with_play_demo();
    if (args.has("--narrow")) return std::move(app).with_narrow(true);
    if (const auto route = args.value("--route")) return std::move(app).with_route(route_from_value(*route));
    return app;
}

vorn_ui::widget::WidgetPtr build_app_from_args(const vorn_ui::launch::LaunchArgs& args, SarnAppOptions options) {
    return std::make_unique<SarnApp>(app_from_args(args, std::move(options)));
}

std::pair<std::uint32_t, std::uint32_t> initial_window_size(const vorn_ui::launch::LaunchArgs& args) {
    if (args.has("--narrow") && !args.window_size()) return kNarrowWindowSize;
    return kWindowSize;
}

void register_app_actions(vorn_ui::app::App& app) { register_sarn_actions(app.action_registry_mut()); }

vorn_ui::launch::LaunchSpec app_launch_spec(std::function<SarnAppOptions()> options) {
    vorn_ui::launch::LaunchSpec spec;
    spec.application_id = std::string(kApplicationId);
    spec.switches.assign(std::begin(kLaunchSwitches), std::end(kLaunchSwitches));
    spec.valued_options.assign(std::begin(kValuedLaunchOptions), std::end(kValuedLaunchOptions));
    spec.build_root = [options] { return build_live_app(options ? options() : SarnAppOptions{}); };
    spec.build_root_from_args = [options](const vorn_ui::launch::LaunchArgs& args) {
        return build_app_from_args(args, options ? options() : SarnAppOptions{});
    };
    spec.register_actions = register_app_actions;
    spec.window_size = initial_window_size;
    spec.open_store = vorn_ui::persist::open;
    spec.start_fullscreen = false;
    spec.resizable = true;
    spec.high_dpi = true;
    return spec;
}

}  // namespace sarn::entry
