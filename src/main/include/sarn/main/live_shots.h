#pragma once
// The screenshot mode ("--live-shots DIR [QUERY]"): the real interface fed
// with live data, drawn offscreen into four PNG files of 1280 by 860 pixels
// without a window: a watch page with a playing stream ("watch.png"), a
// search result page ("search.png"), the home page over the same results
// ("home.png") and a playlist page ("playlist.png"). Each root is built for
// its shot from direct backend calls (no fetch worker, no shared document,
// no history file, no device sync); thumbnails and avatars are waited for
// with a limit. A still whose data cannot be had is skipped and said so; the
// watch still falls back to a fixed record of the video when its details
// are missing, but never to sample data or a made-up stream.
//
// Main thread; the image stores and the media engine work on their own
// threads and are only waited for.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "sarn/main/dev_services.h"
#include "sarn/main/error.h"
#include "sarn/model/records.h"
#include "vorn_ui/image_store.h"
#include "vorn_ui/theme.h"
#include "vorn_ui/widget.h"

namespace sarn::entry {

inline constexpr std::string_view kShotVideoId = "aqz-KE-bpKQ";
inline constexpr std::uint32_t kShotWidth = 1280;
inline constexpr std::uint32_t kShotHeight = 860;
inline constexpr std::string_view kShotsThemeVariable = "VORN_SHOTS_THEME";
inline constexpr std::chrono::seconds kWatchAvatarWait{20};
inline constexpr std::chrono::seconds kSearchImagesWait{45};
inline constexpr std::chrono::seconds kPlaylistImagesWait{30};
inline constexpr std::size_t kMissingAvatarLookups = 5;

// The watch still's video when yt-dlp has no details of it: "Big Buck
// Bunny" by "Blender", category "Video", the platform's thumbnail.
Video shot_fallback_video();

// "light" and "high-contrast" (exactly) select those themes; anything
// else, or no value, the dark one.
vorn_ui::Theme shots_theme_from(std::optional<std::string_view> value);
// The theme VORN_SHOTS_THEME names.
vorn_ui::Theme shots_theme();

// Asks the store for every non-empty address, which starts its fetch.
void prewarm_images(const vorn_ui::image_store::ImageStore& store, std::span<const std::string> addresses);

// Syncs, lays out (1280 by 860), syncs again and draws the root in the
// VORN_SHOTS_THEME theme, then writes the PNG atomically and says
// "sarn: wrote shot to {path}".
std::expected<void, MainError> write_shot(vorn_ui::widget::Widget& root, const std::filesystem::path& path,
                                          const ModeOutput& output);

// The whole mode; skipped stills still end with success.
std::expected<void, MainError> live_shots(const DevServices& services, std::string_view directory,
                                          std::string_view search);

}  // namespace sarn::entry
