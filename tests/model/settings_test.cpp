#include "sarn/model/settings.h"

#include <gtest/gtest.h>

namespace sarn {
namespace {

TEST(SponsorCategoryTable, KeysLabelsColoursAndParsing) {
    struct Row {
        SponsorCategory category;
        const char* key;
        const char* label;
        Rgb colour;
    };
    const Row rows[] = {
        {SponsorCategory::Sponsor, "sponsor", "Sponsor", {0x00, 0xd4, 0x00}},
        {SponsorCategory::SelfPromo, "selfpromo", "Self-promo", {0xff, 0xff, 0x00}},
        {SponsorCategory::Interaction, "interaction", "Interaction reminder", {0xcc, 0x00, 0xff}},
        {SponsorCategory::Intro, "intro", "Intermission / intro", {0x00, 0xff, 0xff}},
        {SponsorCategory::Outro, "outro", "Endcards / outro", {2, 2, 237}},
        {SponsorCategory::Preview, "preview", "Preview / recap", {0x00, 0x8f, 0xd6}},
        {SponsorCategory::MusicOfftopic, "music_offtopic", "Non-music section", {0xff, 0x94, 0x00}},
        {SponsorCategory::Filler, "filler", "Filler tangent", {122, 0, 255}},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(category_key(row.category), row.key);
        EXPECT_EQ(category_label(row.category), row.label);
        EXPECT_EQ(category_colour(row.category), row.colour) << row.key;
        EXPECT_EQ(parse_category(row.key), row.category);
    }
    for (const char* bad : {"Music_offtopic", "", "sponsor ", "musicofftopic", "Sponsor"}) {
        EXPECT_FALSE(parse_category(bad).has_value()) << bad;
    }
}

TEST(PlaybackSettings, DefaultsSkipAllButFillerAndEveryFlagOn) {
    PlaybackSettings settings;
    EXPECT_EQ(settings.preferred_quality, "1080p");
    EXPECT_EQ(settings.sponsor_categories.size(), 8u);
    for (SponsorCategory category : kAllSponsorCategories) {
        SponsorMode expected = category == SponsorCategory::Filler ? SponsorMode::Disabled : SponsorMode::Skip;
        EXPECT_EQ(category_mode(settings, category), expected) << category_key(category);
    }
    for (Setting setting : kAllSettings) EXPECT_TRUE(settings.flag(setting));
    // The map is ordered by key text.
    EXPECT_EQ(settings.sponsor_categories.begin()->first, "filler");
}

TEST(PlaybackSettings, MasterSwitchDisablesEveryCategory) {
    PlaybackSettings settings;
    settings.sponsorblock = false;
    for (SponsorCategory category : kAllSponsorCategories) {
        EXPECT_EQ(category_mode(settings, category), SponsorMode::Disabled);
        EXPECT_FALSE(category_enabled(settings, category));
        EXPECT_FALSE(category_skips(settings, category));
        EXPECT_FALSE(category_shown(settings, category));
    }
}

TEST(PlaybackSettings, CyclingStepsStoredModeAndTreatsAbsentAsSkip) {
    PlaybackSettings settings;
    settings.sponsor_categories.clear();
    for (SponsorCategory category : kAllSponsorCategories) EXPECT_EQ(category_mode(settings, category), SponsorMode::Skip);

    cycle_category_mode(settings, SponsorCategory::Intro);
    EXPECT_EQ(settings.sponsor_categories.at("intro"), SponsorMode::Show);
    EXPECT_TRUE(category_shown(settings, SponsorCategory::Intro));
    cycle_category_mode(settings, SponsorCategory::Intro);
    EXPECT_EQ(settings.sponsor_categories.at("intro"), SponsorMode::Disabled);
    cycle_category_mode(settings, SponsorCategory::Intro);
    EXPECT_EQ(settings.sponsor_categories.at("intro"), SponsorMode::Skip);

    // Cycling works while the master switch is off; the effective mode stays Disabled.
    settings.sponsorblock = false;
    cycle_category_mode(settings, SponsorCategory::Sponsor);
    EXPECT_EQ(settings.sponsor_categories.at("sponsor"), SponsorMode::Show);
    EXPECT_EQ(category_mode(settings, SponsorCategory::Sponsor), SponsorMode::Disabled);
    settings.sponsorblock = true;
    EXPECT_EQ(category_mode(settings, SponsorCategory::Sponsor), SponsorMode::Show);
}

TEST(PlaybackSettings, UnknownKeysStayButAreNeverConsulted) {
    PlaybackSettings settings;
    settings.sponsor_categories["exclusive_access"] = SponsorMode::Disabled;
    EXPECT_EQ(category_mode(settings, SponsorCategory::Sponsor), SponsorMode::Skip);
    EXPECT_EQ(settings.sponsor_categories.size(), 9u);
}

TEST(SettingTable, KeysFlagsAndDocumentTexts) {
    const std::pair<Setting, const char*> keys[] = {
        {Setting::SponsorBlock, "sponsorblock"},  {Setting::DeArrow, "dearrow"},
        {Setting::DeArrowTitles, "dearrow_titles"}, {Setting::DeArrowThumbnails, "dearrow_thumbnails"},
        {Setting::ReturnDislike, "return_dislike"}, {Setting::Autoplay, "autoplay"},
        {Setting::ShowComments, "show_comments"},
    };
    for (auto [setting, key] : keys) {
        EXPECT_EQ(setting_key(setting), key);
        PlaybackSettings settings;
        settings.set_flag(setting, false);
        for (Setting other : kAllSettings) EXPECT_EQ(settings.flag(other), other != setting) << key;
    }
    for (SponsorMode mode : {SponsorMode::Skip, SponsorMode::Show, SponsorMode::Disabled}) {
        EXPECT_EQ(parse_mode_document_text(mode_document_text(mode)), mode);
    }
    EXPECT_FALSE(parse_mode_document_text("Skip").has_value());
    for (const char* quality : {"1080p", "720p", "480p", "auto"}) EXPECT_TRUE(is_accepted_quality(quality));
    for (const char* quality : {"1440p", "", "AUTO"}) EXPECT_FALSE(is_accepted_quality(quality));
}

}  // namespace
}  // namespace sarn
