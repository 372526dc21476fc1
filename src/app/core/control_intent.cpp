#include "sarn/app/control_intent.h"

namespace sarn {

namespace {

std::string_view navigate_label(const Route& route) {
    switch (route.kind) {
        case Route::Kind::Home: return "Open Home";
        case Route::Kind::Trending: return "Open Trending";
        case Route::Kind::Subscriptions: return "Open subscriptions";
        case Route::Kind::History: return "Open watch history";
        case Route::Kind::Settings: return "Open settings";
        default: return "Open view";
    }
}

// Labels of the intents without a route, by variant index.
constexpr std::string_view kLabels[kControlIntentCount] = {
    "",  // Navigate: by route
    "Open video",
    "Clear watch history",
    "Open creator",
    "Open playlist",
    "Toggle result type",
    "Go back",
    "Subscribe or unsubscribe",
    "Seek video",
    "Play or pause",
    "Change segment handling",
    "Skip segment",
    "Change setting",
    "Search",
    "Change playback quality",
    "Like or unlike video",
    "Copy share link",
    "Show or hide navigation",
    "Search Sarn actions",
    "Close action search",
    "Open search result",
    "Pair Grayjay device",
    "Sync approved devices now",
    "Approve device access",
    "Revoke device access",
};

}  // namespace

std::string_view action_palette_label(const ControlIntent& intent) {
    if (const auto* nav = std::get_if<intent::Navigate>(&intent)) return navigate_label(nav->route);
    return kLabels[intent.index()];
}

}  // namespace sarn
