// Playback settings and the enumerations they are made of: skip-segment
// categories, what to do with a category, and the seven on/off switches.
// Plain values; safe to copy across threads.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace sarn {

enum class SponsorCategory : std::uint8_t {
    Sponsor,
    SelfPromo,
    Interaction,
    Intro,
    Outro,
    Preview,
    MusicOfftopic,
    Filler,
};
inline constexpr std::size_t kSponsorCategoryCount = 8;
inline constexpr std::array<SponsorCategory, kSponsorCategoryCount> kAllSponsorCategories = {
    SponsorCategory::Sponsor,  SponsorCategory::SelfPromo, SponsorCategory::Interaction,
    SponsorCategory::Intro,    SponsorCategory::Outro,     SponsorCategory::Preview,
    SponsorCategory::MusicOfftopic, SponsorCategory::Filler,
};

enum class SponsorMode : std::uint8_t { Skip = 0, Show = 1, Disabled = 2 };

enum class Setting : std::uint8_t {
    SponsorBlock,
    DeArrow,
    DeArrowTitles,
    DeArrowThumbnails,
    ReturnDislike,
    Autoplay,
    ShowComments,
};
inline constexpr std::size_t kSettingCount = 7;
inline constexpr std::array<Setting, kSettingCount> kAllSettings = {
    Setting::SponsorBlock, Setting::DeArrow,  Setting::DeArrowTitles, Setting::DeArrowThumbnails,
    Setting::ReturnDislike, Setting::Autoplay, Setting::ShowComments,
};

struct Rgb {
    std::uint8_t r = 0;
    std::uint8_t g = 0;
    std::uint8_t b = 0;
    friend bool operator==(const Rgb&, const Rgb&) = default;
};

// Service key, e.g. "music_offtopic": the category's name at the skip-segment
// service and its key in the settings map and the shared document.
std::string_view category_key(SponsorCategory category);
std::string_view category_label(SponsorCategory category);
Rgb category_colour(SponsorCategory category);
// Exact, case-sensitive match of a whole service key.
std::optional<SponsorCategory> parse_category(std::string_view key);

// Variant names as they appear in JSON ("MusicOfftopic", "Disabled", "SponsorBlock").
std::string_view category_variant_name(SponsorCategory category);
std::string_view mode_variant_name(SponsorMode mode);
std::string_view setting_variant_name(Setting setting);

// Stored text of a mode in the shared document: "skip", "show", "disabled".
std::string_view mode_document_text(SponsorMode mode);
std::optional<SponsorMode> parse_mode_document_text(std::string_view text);

// Key of a switch in the shared document, e.g. "dearrow_titles".
std::string_view setting_key(Setting setting);

inline constexpr std::array<std::string_view, 4> kAcceptedQualities = {"1080p", "720p", "480p", "auto"};
bool is_accepted_quality(std::string_view quality);

struct PlaybackSettings {
    // Ordered by key text. Keys naming no category are kept but never consulted.
    std::map<std::string, SponsorMode, std::less<>> sponsor_categories = default_sponsor_categories();
    std::string preferred_quality = "1080p";
    bool sponsorblock = true;
    bool dearrow = true;
    bool dearrow_titles = true;
    bool dearrow_thumbnails = true;
    bool return_dislike = true;
    bool autoplay = true;
    bool show_comments = true;

    bool flag(Setting setting) const;
    void set_flag(Setting setting, bool enabled);

    static std::map<std::string, SponsorMode, std::less<>> default_sponsor_categories();
    friend bool operator==(const PlaybackSettings&, const PlaybackSettings&) = default;
};

// Effective mode: Disabled for all while the master switch is off, else the
// stored mode, Skip when the category's key is absent.
SponsorMode category_mode(const PlaybackSettings& settings, SponsorCategory category);
bool category_enabled(const PlaybackSettings& settings, SponsorCategory category);
bool category_skips(const PlaybackSettings& settings, SponsorCategory category);
bool category_shown(const PlaybackSettings& settings, SponsorCategory category);

// Steps the stored mode Skip -> Show -> Disabled -> Skip (absent counts as
// Skip), ignoring the master switch. Changes only this local record.
void cycle_category_mode(PlaybackSettings& settings, SponsorCategory category);

}  // namespace sarn
