#pragma once
// The launch description the program hands the runtime: its switches and
// valued options, the two root factories, the action registration, the
// window size and the store opener.
//
// The factories take the root's options so that tests can build the root
// without touching the user's files; the program passes the options of
// app_options_from_environment (test_origin.h).
//
// Main thread: the runtime calls every callback from inside launch::run.

#include <cstdint>
#include <functional>
#include <string_view>
#include <utility>

#include "sarn/app/sarn_app.h"
#include "vorn_ui/app.h"
#include "vorn_ui/launch.h"
#include "vorn_ui/widget.h"

namespace sarn::entry {

inline constexpr std::string_view kLaunchSwitches[] = {"--narrow", "--palette", "--play-demo",
                                                       "--empty",  "--loading", "--device-sync"};
inline constexpr std::string_view kValuedLaunchOptions[] = {"--route", "--palette-query"};
inline constexpr std::string_view kDefaultPaletteQuery = "rust";

inline constexpr std::pair<std::uint32_t, std::uint32_t> kWindowSize{1280, 800};
inline constexpr std::pair<std::uint32_t, std::uint32_t> kNarrowWindowSize{560, 800};

// The live root: the sample-free Library with its home feed loading, device
// sync and the image store.
SarnApp live_app(SarnAppOptions options = {});
vorn_ui::widget::WidgetPtr build_live_app(SarnAppOptions options = {});

// The root the launch switches describe: the viewport of the window the
// program asks for (an explicit size, else 560 by 800 with "--narrow", else
// 1280 by 800), then the first present of "--empty", "--loading",
// "--device-sync", "--palette" (with "--palette-query", default "rust"),
// "--play-demo", "--narrow"; with none of them the "--route" page. Nothing
// live is started.
SarnApp app_from_args(const vorn_ui::launch::LaunchArgs& args, SarnAppOptions options = {});
vorn_ui::widget::WidgetPtr build_app_from_args(const vorn_ui::launch::LaunchArgs& args, SarnAppOptions options = {});

// 560 by 800 with "--narrow" and no explicit size; 1280 by 800 otherwise (the
// runtime applies an explicit size itself).
std::pair<std::uint32_t, std::uint32_t> initial_window_size(const vorn_ui::launch::LaunchArgs& args);

// Registers the "sarn.action" namespace and its decoder; nothing else.
void register_app_actions(vorn_ui::app::App& app);

// The program's launch description; `options` is asked once per root built.
vorn_ui::launch::LaunchSpec app_launch_spec(std::function<SarnAppOptions()> options);

}  // namespace sarn::entry
