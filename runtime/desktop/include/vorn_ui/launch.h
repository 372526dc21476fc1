// The launcher: opens the window, runs the frame and event loop around the program's
// root widget until the window closes, and answers how it ended.
//
// Frame order: sync, (build_layout when the root's structure changed), solve,
// apply_layout, draw_with_presence, mark_drawn. A frame is made only when something
// asks for one: input, a wake-up from another thread (`vorn_ui::wake`), the root's
// redraw or structure flags, an animation frame, or an idle sync (at most
// `kIdleSyncHz` times a second while the root `needs_idle_sync`).
//
// The window's theme comes from the environment variable VORN_UI_THEME: "light" or
// "high-contrast" (compared exactly) select those themes; anything else, or no
// value, the dark theme.
//
// `run` is called on the process's main thread; `request_quit` from any thread.
#pragma once

#include <cstdint>
#include <expected>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "vorn_ui/app.h"
#include "vorn_ui/persist.h"
#include "vorn_ui/theme.h"
#include "vorn_ui/widget.h"

namespace vorn_ui::launch {

inline constexpr int kIdleSyncHz = 30;
inline constexpr const char* kThemeVariable = "VORN_UI_THEME";

// The theme VORN_UI_THEME names (see above). Any thread.
Theme theme_from_environment();

// The command line as the launcher understood it.
class LaunchArgs {
public:
    // Reads `args` (argument 0 is the program) against the declared switches and
    // valued options ("--name value" or "--name=value"). "--window-size WxH" gives an
    // explicit window size. Anything else is ignored.
    static LaunchArgs parse(std::span<const std::string> args, std::span<const std::string> switches,
                            std::span<const std::string> valued_options);

    bool has(std::string_view flag) const;
    std::optional<std::string> value(std::string_view option) const;
    std::optional<std::pair<std::uint32_t, std::uint32_t>> window_size() const { return m_window_size; }
    // Whether any declared switch or valued option was given.
    bool any_given() const { return !m_switches.empty() || !m_values.empty(); }

private:
    std::vector<std::string> m_switches;
    std::vector<std::pair<std::string, std::string>> m_values;
    std::optional<std::pair<std::uint32_t, std::uint32_t>> m_window_size;
};

using RootFactory = std::function<widget::WidgetPtr()>;
using RootFactoryWithArgs = std::function<widget::WidgetPtr(const LaunchArgs&)>;
using RegisterActions = std::function<void(app::App&)>;
using WindowSize = std::function<std::pair<std::uint32_t, std::uint32_t>(const LaunchArgs&)>;
using StoreOpener = std::function<std::expected<persist::DocumentStore, persist::PersistError>(std::string_view)>;

// The launch description.
struct LaunchSpec {
    std::string application_id;
    std::vector<std::string> switches;
    std::vector<std::string> valued_options;
    std::vector<std::string> required_capabilities;
    std::vector<std::string> optional_capabilities;
    std::vector<std::string> url_schemes;
    // Without launch switches the live factory builds the root; with any, the
    // factory taking the arguments (falling back to the other when one is missing).
    RootFactory build_root;
    RootFactoryWithArgs build_root_from_args;
    RegisterActions register_actions;
    WindowSize window_size;
    StoreOpener open_store;
    bool start_fullscreen = false;
    bool resizable = true;
    bool high_dpi = true;

    // Runtime extras the program leaves empty.
    std::optional<std::vector<std::string>> arguments;  // default: the process's own
    std::string window_title;                          // default: the application identifier
};

struct LaunchError {
    std::string message;
};

std::expected<void, LaunchError> run(LaunchSpec spec);

// Ends the running loop after the current frame. Any thread.
void request_quit();

}  // namespace vorn_ui::launch
