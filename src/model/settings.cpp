#include "sarn/model/settings.h"

#include <algorithm>

namespace sarn {
namespace {

struct CategoryRow {
    std::string_view key;
    std::string_view label;
    std::string_view variant;
    Rgb colour;
};

constexpr std::array<CategoryRow, kSponsorCategoryCount> kCategories = {{
    {"sponsor", "Sponsor", "Sponsor", {0x00, 0xd4, 0x00}},
    {"selfpromo", "Self-promo", "SelfPromo", {0xff, 0xff, 0x00}},
    {"interaction", "Interaction reminder", "Interaction", {0xcc, 0x00, 0xff}},
    {"intro", "Intermission / intro", "Intro", {0x00, 0xff, 0xff}},
    {"outro", "Endcards / outro", "Outro", {0x02, 0x02, 0xed}},
    {"preview", "Preview / recap", "Preview", {0x00, 0x8f, 0xd6}},
    {"music_offtopic", "Non-music section", "MusicOfftopic", {0xff, 0x94, 0x00}},
    {"filler", "Filler tangent", "Filler", {0x7a, 0x00, 0xff}},
}};

struct SettingRow {
    std::string_view key;
    std::string_view variant;
    bool PlaybackSettings::*flag;
};

constexpr std::array<SettingRow, kSettingCount> kSettings = {{
    {"sponsorblock", "SponsorBlock", &PlaybackSettings::sponsorblock},
    {"dearrow", "DeArrow", &PlaybackSettings::dearrow},
    {"dearrow_titles", "DeArrowTitles", &PlaybackSettings::dearrow_titles},
    {"dearrow_thumbnails", "DeArrowThumbnails", &PlaybackSettings::dearrow_thumbnails},
    {"return_dislike", "ReturnDislike", &PlaybackSettings::return_dislike},
    {"autoplay", "Autoplay", &PlaybackSettings::autoplay},
    {"show_comments", "ShowComments", &PlaybackSettings::show_comments},
}};

constexpr std::array<std::string_view, 3> kModeVariants = {"Skip", "Show", "Disabled"};
constexpr std::array<std::string_view, 3> kModeTexts = {"skip", "show", "disabled"};

const CategoryRow& row(SponsorCategory category) { return kCategories[static_cast<std::size_t>(category)]; }

}  // namespace

std::string_view category_key(SponsorCategory category) { return row(category).key; }
std::string_view category_label(SponsorCategory category) { return row(category).label; }
Rgb category_colour(SponsorCategory category) { return row(category).colour; }
std::string_view category_variant_name(SponsorCategory category) { return row(category).variant; }

std::optional<SponsorCategory> parse_category(std::string_view key) {
    for (SponsorCategory category : kAllSponsorCategories) {
        if (row(category).key == key) return category;
    }
    return std::nullopt;
}

std::string_view mode_variant_name(SponsorMode mode) { return kModeVariants[static_cast<std::size_t>(mode)]; }
std::string_view mode_document_text(SponsorMode mode) { return kModeTexts[static_cast<std::size_t>(mode)]; }

std::optional<SponsorMode> parse_mode_document_text(std::string_view text) {
    for (std::size_t i = 0; i < kModeTexts.size(); ++i) {
        if (kModeTexts[i] == text) return static_cast<SponsorMode>(i);
    }
    return std::nullopt;
}

std::string_view setting_variant_name(Setting setting) { return kSettings[static_cast<std::size_t>(setting)].variant; }
std::string_view setting_key(Setting setting) { return kSettings[static_cast<std::size_t>(setting)].key; }

bool is_accepted_quality(std::string_view quality) {
    return std::find(kAcceptedQualities.begin(), kAcceptedQualities.end(), quality) != kAcceptedQualities.end();
}

bool PlaybackSettings::flag(Setting setting) const { return this->*kSettings[static_cast<std::size_t>(setting)].flag; }

void PlaybackSettings::set_flag(Setting setting, bool enabled) {
    this->*kSettings[static_cast<std::size_t>(setting)].flag = enabled;
}

std::map<std::string, SponsorMode, std::less<>> PlaybackSettings::default_sponsor_categories() {
    std::map<std::string, SponsorMode, std::less<>> modes;
    for (SponsorCategory category : kAllSponsorCategories) {
        modes.emplace(std::string(category_key(category)),
                      category == SponsorCategory::Filler ? SponsorMode::Disabled : SponsorMode::Skip);
    }
    return modes;
}

SponsorMode category_mode(const PlaybackSettings& settings, SponsorCategory category) {
    if (!settings.sponsorblock) return SponsorMode::Disabled;
    auto found = settings.sponsor_categories.find(category_key(category));
    return found == settings.sponsor_categories.end() ? SponsorMode::Skip : found->second;
}

bool category_enabled(const PlaybackSettings& settings, SponsorCategory category) {
    return category_mode(settings, category) != SponsorMode::Disabled;
}
bool category_skips(const PlaybackSettings& settings, SponsorCategory category) {
    return category_mode(settings, category) == SponsorMode::Skip;
}
bool category_shown(const PlaybackSettings& settings, SponsorCategory category) {
    return category_mode(settings, category) == SponsorMode::Show;
}

void cycle_category_mode(PlaybackSettings& settings, SponsorCategory category) {
    auto key = category_key(category);
    auto found = settings.sponsor_categories.find(key);
    SponsorMode current = found == settings.sponsor_categories.end() ? SponsorMode::Skip : found->second;
    SponsorMode next = current == SponsorMode::Skip   ? SponsorMode::Show
                       : current == SponsorMode::Show ? SponsorMode::Disabled
                                                      : SponsorMode::Skip;
    if (found == settings.sponsor_categories.end()) {
        settings.sponsor_categories.emplace(std::string(key), next);
    } else {
        found->second = next;
    }
}

}  // namespace sarn
