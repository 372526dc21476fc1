// The screen building blocks: structure (texts, ids, controls, colours by
// theme role) and layout as numbers through the runtime's solver, at display
// scale 1 and at the large-scale 1.5.
#include <gtest/gtest.h>

#include <fmt/format.h>

#include "page_test_support.h"
#include "sarn/app/action_tree.h"
#include "sarn/app/format.h"
#include "sarn/app/screens/blocks.h"
#include "sarn/app/widgets/large_video_meta.h"
#include "test_widgets.h"
#include "vorn_ui/widget/icon_widget.h"

namespace sarn::screens::test {
namespace {

using vorn_ui_test::Harness;
using widgets::ChannelAvatar;
using widgets::FlexAlign;
using widgets::LargeVideoMeta;
using widgets::Thumbnail;
namespace ui = vorn_ui;
using ui::widget::Widget;

ui::Theme theme_at(float scale) { return ui::Theme::dark().with_scale(scale); }

// ---- tree helpers ----

std::size_t controls_in(const Widget& root) {
    std::size_t n = 0;
    walk(root, [&](const Widget& w) {
        if (w.is_focusable()) ++n;
    });
    return n;
}

const Flex& flex_child(const Widget& w, std::size_t i) { return dynamic_cast<const Flex&>(*w.children()[i]); }

// A block laid out alone in a column of the given width.
struct Laid {
    Harness h;
    Flex root = Flex::column();

    Laid(Flex block, float width, float scale = 1.0f) {
        h.env.theme = theme_at(scale);
        h.env.scale = scale;
        root = Flex::column().with_width(FlexSize::px(width)).child(std::move(block));
        h.layout(root, width, 4000);
    }
    const Flex& block() const { return flex_child(root, 0); }
    // The colour each text is drawn in, in drawing order.
    std::vector<ui::Color> text_colors() {
        std::vector<ui::Color> out;
        const ui::Scene scene = h.draw(root);
        for (const auto& c : scene.commands())
            if (const auto* t = std::get_if<ui::TextCommand>(&c)) out.push_back(t->color);
        return out;
    }
};

struct BlocksFixture : ::testing::Test {
    Library library = Library::sample();
    IntentQueue queue;
    ui::Theme theme = theme_at(1.0f);

    const Video& video(std::string_view id) { return *library.find_video(id); }
};

// ---- labels, spacers, headers ----

TEST(Blocks, LabelsTakeEveryFormOfText) {
    const std::string owned = "owned";
    const std::string_view slice = "slice";
    EXPECT_EQ(label_text(std::string("moved"), 14).content(), "moved");
    EXPECT_EQ(label_text(owned, 14).content(), "owned");
    EXPECT_EQ(label_text(slice, 14).content(), "slice");
    EXPECT_EQ(label_text("literal", 12.5f).style().font_size, 12.5f);
    EXPECT_EQ(colored_label_text(slice, 11, ui::Color::white()).style(), label_text("x", 11).style());
}

TEST(Blocks, SpacingPrimitivesHaveTheirSizes) {
    const ui::Theme theme = theme_at(1.0f);
    Laid laid(Flex::column()
                  .child(sized_box(30, 12))
                  .child(spacer_row(7))
                  .child(divider(theme))
                  .child(filled_box(FlexSize::percent(0.5f), 11, 4, theme))
                  .child(Flex::row().with_width(FlexSize::px(200)).child(flex_spacer()).child(sized_box(10, 10))),
              400);
    // The column's children take their own widths; the fills reach across the column.
    const Flex& col = laid.block();
    EXPECT_EQ(col.children()[0]->bounds(), (ui::Rect{0, 0, 30, 12}));
    EXPECT_EQ(col.children()[1]->bounds(), (ui::Rect{0, 12, 200, 19}));
    EXPECT_EQ(col.children()[2]->bounds(), (ui::Rect{0, 19, 200, 20}));
    EXPECT_EQ(flex_child(col, 2).background()->fill, theme.border);
    EXPECT_EQ(col.children()[3]->bounds(), (ui::Rect{0, 20, 100, 31}));
    EXPECT_EQ(flex_child(col, 3).background()->fill, theme.control);
    EXPECT_EQ(flex_child(col, 4).children()[1]->bounds().x0, 190);  // pushed to the end
}

TEST(Blocks, PageHeaderDropsItsSubtitleAtLargeScale) {
    struct Case {
        float scale;
        std::vector<std::string> texts;
        double height;
    } cases[] = {
        {1.0f, {"Home", "Recent and popular"}, 0},
        {1.5f, {"Home"}, 38},
        {2.0f, {"Home"}, 38},
    };
    for (const Case& c : cases) {
        Laid laid(page_header(theme_at(c.scale), 27, "Home", "Recent and popular"), 600, c.scale);
        EXPECT_EQ(texts_of(laid.block()), c.texts) << c.scale;
        const Flex& row = c.scale < 1.5f ? laid.block() : flex_child(laid.block(), 0);
        EXPECT_EQ(row.bounds().width(), 600);
        // Below the row of icon and title: nothing, or the 38-high gap.
        EXPECT_EQ(laid.block().bounds().height() - row.bounds().height(), c.height) << c.scale;
        if (c.scale < 1.5f) {
            EXPECT_EQ(row.children().back()->bounds().x1, 600);  // subtitle at the right end
        }
    }
}

TEST(Blocks, EmptyStateCentresItsMarkTitleAndEvenAnEmptyBody) {
    const ui::Theme theme = theme_at(1.0f);
    Laid laid(empty_state(theme, "Video unavailable", ""), 400);
    const Flex& state = laid.block();
    EXPECT_EQ(state.children().size(), 3u);
    EXPECT_EQ(texts_of(state), (std::vector<std::string>{"Video unavailable", ""}));
    const auto mark = state.children()[0]->bounds();
    EXPECT_EQ(mark, (ui::Rect{180, 48, 220, 88}));
    EXPECT_EQ(controls_in(state), 0u);
}

// ---- buttons ----

TEST_F(BlocksFixture, IconButtonIsAFortySquareLabelledByItsIntent) {
    Laid laid(icon_intent_button(theme, queue, 26, intent::Navigate{Route::settings()}, "watch_settings"), 400);
    const Flex& button = laid.block();
    EXPECT_EQ(button.bounds(), (ui::Rect{0, 0, 40, 40}));
    EXPECT_EQ(button.children()[0]->bounds(), (ui::Rect{10, 10, 30, 30}));
    EXPECT_EQ(button.widget_id(), "watch_settings");
    EXPECT_EQ(button.accessibility()->name, "Open settings");
    EXPECT_EQ(button.background()->fill, theme.control);
    EXPECT_EQ(button.hover_background()->fill, theme.control_hover);
    EXPECT_EQ(button.background()->radius, theme.radius_control);
    ASSERT_TRUE(const_cast<Flex&>(button).perform_action(ui::AccessRequest::Activate));
    EXPECT_EQ(take_intents(queue), (std::vector<ControlIntent>{intent::Navigate{Route::settings()}}));
}

TEST_F(BlocksFixture, PillColoursFollowActive) {
    const ui::Color contrast = contrast_text_color(theme.selection);
    struct Case {
        bool active;
        ui::Color fill, hover, content;
        bool border;
    } cases[] = {
        {true, theme.selection, theme.selection, contrast, false},
        {false, theme.control, theme.control_hover, theme.text, true},
    };
    for (const Case& c : cases) {
        Laid laid(pill_button(theme, queue, 62, "1.2K", intent::ToggleLike{"v"}, c.active), 400);
        const Flex& pill = laid.block();
        EXPECT_EQ(pill.background()->fill, c.fill);
        EXPECT_EQ(pill.hover_background()->fill, c.hover);
        EXPECT_EQ(pill.background()->border.has_value(), c.border);
        EXPECT_EQ(pill.hover_background()->border.has_value(), c.border);
        EXPECT_EQ(laid.text_colors(), std::vector<ui::Color>{c.content});
        EXPECT_EQ(pill.accessibility()->name, "1.2K");              // labelled by the text
        EXPECT_EQ(pill.action_label(), "Like or unlike video");  // acting as the intent
        EXPECT_EQ(pill.children().size(), 2u);
    }
    Laid plain(pill_button(theme, queue, std::nullopt, "View", intent::OpenCreator{"c"}, false), 400);
    EXPECT_EQ(plain.block().children().size(), 1u);
    // Padding 16 / 9 around the text.
    const auto text = plain.block().children()[0]->bounds();
    EXPECT_EQ(text.x0, 16);
    EXPECT_EQ(text.y0, 9);
}

TEST_F(BlocksFixture, SettingsButtonDangerFormUsesTheDangerColour) {
    for (const bool danger : {false, true}) {
        Laid laid(settings_button(theme, queue, "grayjay_revoke_x", "Revoke", intent::RevokeDevice{"p"}, danger), 400);
        const Flex& button = laid.block();
        EXPECT_EQ(button.background()->border->color, danger ? theme.danger : theme.border);
        EXPECT_FALSE(button.hover_background()->border.has_value());
        EXPECT_EQ(laid.text_colors(), std::vector<ui::Color>{danger ? theme.danger : theme.text});
        EXPECT_EQ(button.accessibility()->name, "Revoke");
        EXPECT_EQ(button.widget_id(), "grayjay_revoke_x");
    }
}

TEST_F(BlocksFixture, QueueToggleIsBoundToTheVideosQueueAction) {
    library.queue = {"vid_donut"};
    struct Case {
        std::string_view id;
        std::string text;
        ui::Color fill, hover;
    } cases[] = {
        {"vid_donut", "In queue", theme.selection, theme.selection_hover},
        {"vid_gpu", "Add to queue", theme.control, theme.control_hover},
    };
    for (const Case& c : cases) {
        Flex button = queue_toggle_button(library, theme, c.id);
        EXPECT_EQ(texts_of(button), std::vector<std::string>{c.text});
        EXPECT_EQ(button.widget_id(), fmt::format("queue_btn_{}", c.id));
        EXPECT_EQ(button.accessibility()->name, c.text + ": shared watch queue");
        EXPECT_EQ(button.background()->fill, c.fill);
        EXPECT_EQ(button.hover_background()->fill, c.hover);

        ASSERT_NE(button.emitter(), nullptr);
        EXPECT_EQ(button.emitter()->address(), queue_binding(library, c.id)->address());
        EXPECT_TRUE(button.perform_action(ui::AccessRequest::Activate));
        const auto invocation = button.take_control_invocation();
        ASSERT_TRUE(invocation.has_value());
        EXPECT_EQ(invocation->address.resource, fmt::format("sarn.video:{}", c.id));
        EXPECT_EQ(invocation->address.action, "queue");
        EXPECT_EQ(button.control_action_bindings().front().control_id, fmt::format("queue_btn_{}", c.id));
    }
    EXPECT_TRUE(take_intents(queue).empty());
}

TEST_F(BlocksFixture, QueueToggleForAnUnknownVideoShowsButDoesNothing) {
    Laid laid(queue_toggle_button(library, theme, "not_in_library"), 400);
    const Flex& button = laid.block();
    EXPECT_EQ(texts_of(button), std::vector<std::string>{"Add to queue"});
    EXPECT_EQ(button.background()->fill, theme.control);
    EXPECT_FALSE(button.has_action());
    Harness& h = laid.h;
    const auto centre = button.bounds().center();
    h.send(laid.root, vorn_ui_test::move(centre.x, centre.y));
    h.send(laid.root, vorn_ui_test::press(centre.x, centre.y));
    EXPECT_FALSE(h.send(laid.root, vorn_ui_test::release(centre.x, centre.y)).handled);
    EXPECT_FALSE(laid.root.take_control_invocation().has_value());
}

// ---- settings ----

TEST_F(BlocksFixture, SettingsSectionPutsDividersOnlyBetweenRows) {
    for (const std::size_t rows : {0u, 1u, 3u}) {
        std::vector<Flex> list;
        for (std::size_t i = 0; i < rows; ++i) list.push_back(Flex::row().with_id(fmt::format("row{}", i)));
        Flex section = settings_section(theme, "Playback", std::move(list));
        const std::size_t dividers = rows > 1 ? rows - 1 : 0;
        ASSERT_EQ(section.children().size(), 2 + rows + dividers);
        EXPECT_EQ(texts_of(section), std::vector<std::string>{"Playback"});
        for (std::size_t i = 0; i < rows; ++i)
            EXPECT_EQ(section.children()[2 + 2 * i]->widget_id(), fmt::format("row{}", i));
        EXPECT_EQ(section.background()->fill, theme.raised);
        EXPECT_EQ(section.background()->border->color, theme.border);
    }
}

TEST_F(BlocksFixture, SwitchRowGrowsItsTextAndDimsTheTitleOnRequest) {
    for (const bool dimmed : {false, true}) {
        widgets::Switch toggle(true, intent::ToggleSetting{Setting::DeArrowTitles}, queue);
        Laid laid(settings_switch_row(theme, "Replace clickbait titles", "Show community titles.",
                                      std::move(toggle).with_id("switch_dearrow_titles"), dimmed),
                  500);
        const Flex& row = laid.block();
        EXPECT_EQ(row.bounds().width(), 500);
        const auto sw = row.children()[1]->bounds();
        EXPECT_EQ(sw.x1, 500);  // the switch at the right end
        EXPECT_EQ(sw.width(), 46);
        EXPECT_EQ(row.children()[0]->bounds().width(), 500 - 16 - 46);
        EXPECT_EQ(laid.text_colors(),
                  (std::vector<ui::Color>{dimmed ? theme.text_muted : theme.text, theme.text_muted}));
    }
    Flex short_form = settings_switch_row(theme, "T", "D", widgets::Switch(false, intent::GoBack{}, queue));
    EXPECT_EQ(short_form.children().size(), 2u);
}

// ---- videos ----

TEST(Blocks, VideoMetaLineLeavesOutWhatIsMissing) {
    struct Case {
        std::uint64_t views;
        std::string_view published;
        std::string line;
    } cases[] = {
        {0, "   ", ""},
        {0, "", ""},
        {0, " 2 days ago ", "2 days ago"},
        {0, "\u3000\u00a0", ""},  // Unicode white space too
        {1200, "", "1.2K views"},
        {1200, " 2 days ago", "1.2K views • 2 days ago"},
    };
    for (const Case& c : cases) EXPECT_EQ(video_meta_line(c.views, c.published), c.line) << c.views << c.published;
}

TEST_F(BlocksFixture, VideoRowWithoutMetaHasOnlyTwoTexts) {
    Video bare = video("vid_gpu");
    bare.views = 0;
    bare.published = "  ";
    Flex row = video_row(library, theme, queue, std::nullopt, bare);
    EXPECT_EQ(texts_of(row).size(), 2u);
    Flex full = video_row(library, theme, queue, std::nullopt, video("vid_gpu"));
    EXPECT_EQ(texts_of(full).back(), "388K views • 4 days ago");
    EXPECT_EQ(full.accessibility()->name, "Open video: Writing a small GPU driver from scratch");
}

TEST_F(BlocksFixture, OnlyTheLastWatchedVideosCardShowsProgress) {
    // The sample's history starts with vid_black_holes.
    for (const char* id : {"vid_black_holes", "vid_donut", "vid_solar"}) {
        Flex card = video_card(library, theme, queue, std::nullopt, video(id));
        const auto thumbs = all_of<Thumbnail>(card);
        ASSERT_EQ(thumbs.size(), 1u);
        EXPECT_EQ(thumbs[0]->height(), 169);
        EXPECT_EQ(thumbs[0]->progress(), std::string_view(id) == "vid_black_holes" ? std::optional<float>(0.35f)
                                                                                    : std::nullopt)
            << id;
        Flex row = video_row(library, theme, queue, std::nullopt, video(id));
        EXPECT_EQ(all_of<Thumbnail>(row)[0]->progress(), std::nullopt);
        EXPECT_EQ(all_of<Thumbnail>(row)[0]->height(), 90);
    }
}

TEST_F(BlocksFixture, CardTitleIsCrowdSourcedOnlyWithBothSwitchesOn) {
    struct Case {
        bool dearrow, titles;
        std::string title;
    } cases[] = {
        {true, true, "How async and await work in Rust, step by step"},
        {true, false, "Async Rust Is NOT What You Think (Everything Changes)"},
        {false, true, "Async Rust Is NOT What You Think (Everything Changes)"},
    };
    for (const Case& c : cases) {
        library.settings.dearrow = c.dearrow;
        library.settings.dearrow_titles = c.titles;
        Flex card = video_card(library, theme, queue, std::nullopt, video("vid_rust_async"));
        EXPECT_EQ(texts_of(card).front(), c.title);
        EXPECT_EQ(card.accessibility()->name, "Open video: " + c.title);
    }
}

TEST_F(BlocksFixture, VideoCardDetailsAtBothScales) {
    library.channels[1].verified = true;   // Stack Unwound
    library.channels[4].verified = false;  // Cadence Notes
    struct Case {
        const char* id;
        bool verified;
    } cases[] = {{"vid_rust_async", true}, {"vid_synth", false}};
    for (const Case& c : cases) {
        Flex card = video_card(library, theme, queue, std::nullopt, video(c.id));
        EXPECT_EQ(card.widget_id(), fmt::format("video_card_{}", c.id));
        std::size_t verified_marks = 0;
        for (const auto* i : all_of<ui::widget::IconWidget>(card)) verified_marks += i->icon() == kIconVerified;
        EXPECT_EQ(verified_marks, c.verified ? 1u : 0u) << c.id;
        EXPECT_EQ(all_of<ChannelAvatar>(card).size(), 1u);
        EXPECT_TRUE(all_of<LargeVideoMeta>(card).empty());
        EXPECT_TRUE(card.perform_action(ui::AccessRequest::Activate));
        EXPECT_EQ(take_intents(queue), (std::vector<ControlIntent>{intent::OpenVideo{c.id}}));
    }
    Flex large = video_card(library, theme_at(1.5f), queue, std::nullopt, video("vid_synth"));
    const auto metas = all_of<LargeVideoMeta>(large);
    ASSERT_EQ(metas.size(), 1u);
    EXPECT_EQ(metas[0]->title(), "Why Analog Synths Sound Warm");
    EXPECT_EQ(metas[0]->channel(), "Cadence Notes");
    EXPECT_EQ(metas[0]->meta(), "1.1M views • 3 weeks ago");
    EXPECT_TRUE(all_of<ChannelAvatar>(large).empty());
}

TEST_F(BlocksFixture, VideoCardTextBlockTakesTheRestOfTheCard) {
    Laid laid(video_card(library, theme, queue, std::nullopt, video("vid_rust_async")), 320);
    const Flex& card = laid.block();
    EXPECT_EQ(card.bounds().width(), 320);
    EXPECT_EQ(card.children()[0]->bounds(), (ui::Rect{6, 6, 314, 175}));  // the thumbnail inside the padding
    const Flex& details = flex_child(card, 1);
    EXPECT_EQ(details.children()[0]->bounds(), (ui::Rect{6, 184, 42, 220}));  // avatar, 9 below
    const Flex& text_block = flex_child(details, 1);
    EXPECT_EQ(text_block.bounds().x0, 52);
    EXPECT_EQ(text_block.solved_box().x1, 314);
    // The channel line spans the text block, its name on one line before the verified mark.
    const Flex& channel_line = flex_child(text_block, 1);
    EXPECT_EQ(channel_line.solved_box().width(), 314 - 52);
    const auto name = channel_line.children()[0]->children()[0]->bounds();
    EXPECT_NEAR(name.height(), laid.h.text.measure_style("Stack Unwound", ui::TextStyle::sized(12.5f)).height, 1.0);
    EXPECT_EQ(channel_line.children()[1]->bounds().x1, 314);
}

TEST_F(BlocksFixture, VideoGridIsAGridBelowLargeScaleAndAColumnAbove) {
    auto cards = [&](const ui::Theme& t) {
        std::vector<Flex> out;
        for (const char* id : {"vid_rust_async", "vid_donut", "vid_gpu", "vid_solar"})
            out.push_back(video_card(library, t, queue, std::nullopt, video(id)));
        return out;
    };
    Laid small(video_grid(theme, cards(theme)), 1000);
    const Flex& grid = small.block();
    EXPECT_EQ(grid.widget_id(), "video_grid");
    EXPECT_EQ(grid.min_track(), 300.0f);
    // Three columns of (1000 - 2 * 18) / 3 = 321.33, the fourth card below the first.
    EXPECT_EQ(grid.children()[0]->bounds().x0, 0);
    EXPECT_EQ(grid.children()[1]->bounds().x0, 339);
    EXPECT_EQ(grid.children()[2]->bounds().x1, 1000);
    EXPECT_EQ(grid.children()[3]->bounds().x0, 0);
    double first_row_bottom = 0;
    for (std::size_t i = 0; i < 3; ++i) first_row_bottom = std::max(first_row_bottom, grid.children()[i]->bounds().y1);
    EXPECT_EQ(grid.children()[3]->bounds().y0, first_row_bottom + 18);

    const ui::Theme large_theme = theme_at(1.5f);
    Laid large(video_grid(large_theme, "playlist_grid", cards(large_theme)), 500, 1.5f);
    const Flex& column = large.block();
    EXPECT_EQ(column.widget_id(), "playlist_grid");
    EXPECT_FALSE(column.min_track().has_value());
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(column.children()[i]->bounds().width(), 500) << i;
        if (i > 0) {
            EXPECT_EQ(column.children()[i]->bounds().y0, column.children()[i - 1]->bounds().y1 + 24);
        }
    }
}

TEST(Blocks, SkeletonPlaceholdersShowTheirBarsAtBothScales) {
    for (const float scale : {1.0f, 1.5f}) {
        const ui::Theme theme = theme_at(scale);
        Laid laid(skeleton_grid(theme, 12), 1000, scale);
        const Flex& grid = laid.block();
        EXPECT_EQ(grid.widget_id(), "video_grid");
        ASSERT_EQ(grid.children().size(), 12u);
        EXPECT_EQ(controls_in(grid), 0u);
        const Flex& card = flex_child(grid, 0);
        const double inner = card.bounds().width() - 12;
        EXPECT_NEAR(card.children()[0]->bounds().width(), inner, 1.0);
        // One card per line at large scale: the picture's place keeps its 16:9 shape.
        const double picture_height = scale < 1.5f ? 169 : inner * 9 / 16;
        EXPECT_NEAR(card.children()[0]->bounds().height(), picture_height, 1.0) << scale;
        // Avatar 36, gap 10, then the bars at 92 %, 60 % and 40 % of the rest.
        const Flex& bars = flex_child(flex_child(card, 1), 1);
        const double rest = inner - 36 - 10;
        EXPECT_NEAR(bars.solved_box().width(), rest, 1.0) << scale;
        EXPECT_NEAR(bars.children()[0]->bounds().width(), rest * 0.92, 1.0) << scale;
        EXPECT_NEAR(bars.children()[2]->bounds().width(), rest * 0.40, 1.0) << scale;
        EXPECT_EQ(bars.children()[1]->bounds().y0 - bars.children()[0]->bounds().y1, 7);
    }
}

// ---- playlists ----

Playlist sample_playlist() {
    Playlist p;
    p.id = "PL1";
    p.title = "Rust from the ground up, a long playlist title that wraps";
    p.channel_name = "Stack Unwound";
    p.seed = "PL1";
    p.video_count = 1200;
    return p;
}

TEST_F(BlocksFixture, PlaylistCoverHasACountBadgeAndNoTimeBadge) {
    Laid laid(playlist_card(theme, queue, std::nullopt, sample_playlist()), 360);
    const Flex& card = laid.block();
    EXPECT_EQ(card.widget_id(), "playlist_card_PL1");
    EXPECT_EQ(card.accessibility()->name, "Open playlist: " + sample_playlist().title);
    EXPECT_EQ(texts_of(card), (std::vector<std::string>{"1.2K videos", sample_playlist().title,
                                                        "Stack Unwound • Playlist", "1.2K videos"}));
    const auto thumbs = all_of<Thumbnail>(card);
    ASSERT_EQ(thumbs.size(), 1u);
    EXPECT_EQ(thumbs[0]->duration(), 0u);
    EXPECT_EQ(thumbs[0]->badge_text(), std::nullopt);  // no "0:00" on a playlist

    // The count badge sits 8 in from the cover's lower right corner.
    const Flex& cover = flex_child(card, 0);
    EXPECT_EQ(cover.bounds(), (ui::Rect{6, 6, 354, 175}));
    const auto badge = cover.children()[1]->children()[0]->bounds();
    EXPECT_EQ(badge.x1, 354 - 8);
    EXPECT_EQ(badge.y1, 175 - 8);

    ASSERT_TRUE(const_cast<Flex&>(card).perform_action(ui::AccessRequest::Activate));
    EXPECT_EQ(take_intents(queue), (std::vector<ControlIntent>{intent::OpenPlaylist{"PL1"}}));
}

TEST_F(BlocksFixture, PlaylistCardsKeepTheirWidthAtEveryScale) {
    const Playlist p = sample_playlist();
    const std::vector<const Playlist*> list{&p, &p};
    for (const float scale : {1.0f, 1.5f, 2.0f}) {
        const ui::Theme t = theme_at(scale);
        Laid laid(video_grid(t, "playlist_grid", playlist_card(t, queue, std::nullopt, list)), 700, scale);
        const Flex& grid = laid.block();
        ASSERT_EQ(grid.children().size(), 2u);
        // A grid cell of (700 - 18) / 2 = 341, or the whole column at large scale.
        const double expected = scale < 1.5f ? 341 : 700;
        const Flex& card = flex_child(grid, 0);
        EXPECT_EQ(card.bounds().width(), expected) << scale;
        // The text column beside the list icon takes the rest of the card.
        const Flex& details = flex_child(card, 1);
        const double text_width = flex_child(details, 1).solved_box().width();
        EXPECT_EQ(text_width, expected - 12 - 22 - 10) << scale;
    }
}

// ---- what a card shows, at every scale ----

struct Display : BlocksFixture {};

TEST_F(Display, CardMetaLineJoinsOnlyThePartsItHas) {
    struct Case {
        std::uint64_t views;
        const char* published;
        bool live;
        const char* line;  // "" : no meta text at all
    } cases[] = {
        {388'000, "4 days ago", false, "388K views • 4 days ago"},
        {388'000, "", false, "388K views"},        // no separator before a missing date
        {0, "4 days ago", false, "4 days ago"},    // members-only: the answer has no count
        {0, "  ", false, ""},
        {1'071, "", true, "1K watching"},          // a live stream counts its viewers
        {1'071, "Started 2 hours ago", true, "1K watching • Started 2 hours ago"},
    };
    for (const Case& c : cases) {
        Video v = video("vid_gpu");
        v.views = c.views;
        v.published = c.published;
        v.live = c.live;
        EXPECT_EQ(video_meta_line(c.views, c.published, c.live), c.line);
        // The small card: the meta text is the last text, and absent when empty.
        const auto small = texts_of(video_card(library, theme, queue, std::nullopt, v));
        if (*c.line == '\0') {
            EXPECT_EQ(small.size(), 2u) << c.views;  // title and channel
        } else {
            EXPECT_EQ(small.back(), c.line);
        }
        for (const std::string& text : small) {
            EXPECT_FALSE(text.starts_with(" • ") || text.ends_with(" • ")) << text;
            EXPECT_NE(text.find("0 views"), 0u) << text;
        }
        // The large card's meta line, and the row of the lists.
        Flex large = video_card(library, theme_at(2.0f), queue, std::nullopt, v);
        ASSERT_EQ(all_of<LargeVideoMeta>(large).size(), 1u);
        EXPECT_EQ(all_of<LargeVideoMeta>(large)[0]->meta(), c.line);
        const auto row = texts_of(video_row(library, theme, queue, std::nullopt, v));
        if (*c.line != '\0') {
            EXPECT_EQ(row.back(), c.line);
        }
        // A live video's picture carries the LIVE badge.
        const auto thumbs = all_of<Thumbnail>(large);
        ASSERT_EQ(thumbs.size(), 1u);
        EXPECT_EQ(thumbs[0]->live(), c.live);
        if (c.live) {
            EXPECT_EQ(thumbs[0]->badge_text(), std::optional<std::string>("LIVE"));
        }
    }
}

TEST_F(Display, OneCardPerLinePicturesKeepTheirShape) {
    const Playlist p = sample_playlist();
    const std::vector<const Playlist*> lists{&p};
    for (const float scale : {1.0f, 1.5f, 2.0f}) {
        const ui::Theme t = theme_at(scale);
        std::vector<Flex> cards;
        cards.push_back(video_card(library, t, queue, std::nullopt, video("vid_donut")));
        Laid videos(video_grid(t, std::move(cards)), 1232, scale);
        Laid playlists(video_grid(t, "playlist_grid", playlist_card(t, queue, std::nullopt, lists)), 1232, scale);
        for (const Laid* laid : {&videos, &playlists}) {
            const auto thumbs = all_of<Thumbnail>(laid->block());
            ASSERT_EQ(thumbs.size(), 1u);
            const ui::Rect box = thumbs[0]->bounds();
            if (scale < 1.5f) {
                // Grid cells of at least 300: the card's fixed-height picture.
                EXPECT_EQ(box.height(), 169) << scale;
            } else {
                EXPECT_NEAR(box.width(), 1232 - 12, 1.0) << scale;
                EXPECT_NEAR(box.width() / box.height(), 16.0 / 9.0, 16.0 / 9.0 * 0.01) << scale;
            }
        }
        // The playlist's count badge stays in the picture's lower right corner.
        const Flex& cover = flex_child(flex_child(playlists.block(), 0), 0);
        const ui::Rect picture = cover.children()[0]->bounds();
        EXPECT_EQ(cover.bounds(), picture) << scale;
        EXPECT_EQ(cover.children()[1]->children()[0]->bounds().y1, picture.y1 - 8) << scale;
    }
}

// ---- avatars and the player ----

TEST_F(BlocksFixture, ChannelAvatarUsesTheKnownPictureElseInitials) {
    ui::image_store::ImageStore store =
        ui::image_store::ImageStore::create([](const std::string&) { return std::optional<std::vector<std::uint8_t>>(); });
    library.channels[0].avatar_url = "https://img/mesh.png";
    const ChannelAvatar known = channel_avatar_for(library, store, "ch_mesh", "Mesh & Mortar", 48);
    EXPECT_EQ(known.avatar_url(), "https://img/mesh.png");
    EXPECT_EQ(known.initials(), "M&");
    EXPECT_EQ(known.size(), 48);
    const ChannelAvatar no_picture = channel_avatar_for(library, store, "ch_stack", "Stack Unwound", 36);
    EXPECT_EQ(no_picture.avatar_url(), "");
    const ChannelAvatar unknown = channel_avatar_for(library, store, "ch_nobody", "some one", 56);
    EXPECT_EQ(unknown.avatar_url(), "");
    EXPECT_EQ(unknown.initials(), "SO");
    const ChannelAvatar you = small_avatar("You");
    EXPECT_EQ(you.size(), 36);
    EXPECT_EQ(you.initials(), "Y");
}

TEST(Blocks, PlayerSettingClampsTheSelectedIndex) {
    const std::vector<std::string> qualities{"1080p", "720p", "480p", "auto"};
    struct Case {
        std::vector<std::string> options;
        std::size_t selected, expected;
    } cases[] = {
        {{"a", "b", "c"}, 7, 2},
        {{"a", "b", "c"}, 1, 1},
        {{}, 3, 0},
        {qualities, 3, 3},
    };
    for (const Case& c : cases) {
        const auto s = player_setting("resolution", 9, "Resolution", 1, c.options, c.selected);
        EXPECT_EQ(s.selected, c.expected);
        EXPECT_EQ(s.options, c.options);
        EXPECT_EQ(s.id, "resolution");
        EXPECT_EQ(s.kind, 9u);
        EXPECT_EQ(s.value, 1);
    }
}

}  // namespace
}  // namespace sarn::screens::test
