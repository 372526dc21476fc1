// The player host and the card and control leaves: layout through the
// runtime's solver, input by synthetic events, drawing by the recorded scene
// and, for the thumbnail, by a few probed pixels of the offscreen renderer.
#include <gtest/gtest.h>

#include <chrono>

#include "sarn/app/format.h"
#include "sarn/app/widgets/channel_avatar.h"
#include "sarn/app/widgets/flex.h"
#include "sarn/app/widgets/image_box.h"
#include "sarn/app/widgets/large_video_meta.h"
#include "sarn/app/widgets/player_host.h"
#include "sarn/app/widgets/switch.h"
#include "sarn/app/widgets/thumbnail.h"
#include "test_widgets.h"
#include "vorn_ui/color_compat.h"
#include "vorn_ui/offscreen.h"

namespace sarn::widgets {
namespace {

using vorn_ui_test::Harness;
using vorn_ui_test::move;
using vorn_ui_test::press;
using vorn_ui_test::release;
using vorn_ui::widget::video_player::VideoPlayer;
namespace ui = vorn_ui;

// The widget under test alone in a full-width column pinned to the top left.
template <class W>
Flex frame(W widget, float width = 400) {
    return Flex::column().with_width(FlexSize::px(width)).child(std::move(widget));
}
template <class W>
W& only_child(Flex& f) {
    return static_cast<W&>(*f.children_mut()[0]);
}

template <class Command>
std::vector<Command> commands_of(const ui::Scene& scene) {
    std::vector<Command> out;
    for (const auto& c : scene.commands())
        if (const auto* x = std::get_if<Command>(&c)) out.push_back(*x);
    return out;
}

ui::offscreen::RenderedImage render(const ui::Scene& scene, std::uint32_t w, std::uint32_t h) {
    auto r = ui::offscreen::OffscreenRenderer::create(w, h);
    EXPECT_TRUE(r.has_value());
    auto img = r->render_resilient(scene, ui::Color::transparent());
    EXPECT_TRUE(img.has_value());
    return *img;
}

struct Rgba {
    int r, g, b, a;
};
Rgba rgba(std::uint32_t px) {
    return {static_cast<int>(px >> 24), static_cast<int>((px >> 16) & 0xff), static_cast<int>((px >> 8) & 0xff),
            static_cast<int>(px & 0xff)};
}
int brightness(std::uint32_t px) {
    const Rgba c = rgba(px);
    return c.r + c.g + c.b;
}

// An image store whose every address is a small PNG of one colour.
ui::image_store::ImageStore solid_png_store(std::uint32_t w, std::uint32_t h, std::shared_ptr<int> fetches) {
    std::vector<std::uint8_t> pixels(std::size_t{w} * h * 4, 0);
    for (std::size_t i = 0; i < pixels.size(); i += 4) {
        pixels[i] = 200;
        pixels[i + 3] = 255;
    }
    auto png = ui::offscreen::encode_png(w, h, pixels);
    EXPECT_TRUE(png.has_value());
    auto bytes = std::make_shared<std::vector<std::uint8_t>>(*png);
    return ui::image_store::ImageStore::create([bytes, fetches](const std::string&) {
        ++*fetches;
        return std::optional<std::vector<std::uint8_t>>(*bytes);
    });
}

// Syncs until the widget holds its picture (the store decodes in the background).
template <class W>
bool sync_until_image(W& widget, const ui::image_store::ImageStore& store, Harness& h) {
    widget.sync(h.state);
    store.block_until_idle(std::chrono::seconds(30));
    widget.sync(h.state);
    return widget.has_image();
}

// ---- PlayerHost ----

TEST(PlayerHost, IsAFullWidthBoxThatPlacesTheSharedPlayer) {
    auto player = std::make_shared<VideoPlayer>();
    Harness h;
    Flex root = frame(PlayerHost(player, 225), 400);
    h.layout(root, 800, 600);
    const PlayerHost& host = only_child<PlayerHost>(root);
    EXPECT_EQ(host.bounds(), (ui::Rect{0, 0, 400, 225}));
    EXPECT_EQ(player->bounds(), host.bounds());
    EXPECT_TRUE(host.node().has_value());
    EXPECT_EQ(host.widget_id(), "watch_video_surface");
    EXPECT_EQ(host.type_name(), "PlayerHost");
    EXPECT_TRUE(host.is_focusable());
    EXPECT_EQ(host.as_player_host(), static_cast<const ui::widget::PlayerHostAccess*>(&host));
    EXPECT_EQ(host.as_player_host()->value(), (std::pair<std::int64_t, bool>{1, false}));
    EXPECT_FALSE(host.is_layout_dirty());
    EXPECT_FALSE(host.layout_needs_measure());
}

TEST(PlayerHost, TwoHostsShareOnePlayersStateAndRedrawFlag) {
    auto player = std::make_shared<VideoPlayer>();
    PlayerHost a(player, 100);
    PlayerHost b(player, 100);
    EXPECT_EQ(a.state(), std::nullopt);  // never set

    a.mark_drawn();
    EXPECT_FALSE(b.needs_redraw());
    a.set_state(false);  // the stored value: not a change
    EXPECT_EQ(b.state(), std::nullopt);
    EXPECT_FALSE(b.needs_redraw());

    a.as_player_host_mut()->set_state(true);
    EXPECT_EQ(b.state(), true);
    EXPECT_TRUE(b.needs_redraw());
    b.mark_drawn();
    EXPECT_FALSE(a.needs_redraw());
    EXPECT_FALSE(player->redraw_requested());

    a.set_focus(true);
    EXPECT_TRUE(b.has_focus());
    ASSERT_TRUE(b.accessibility().has_value());
    EXPECT_EQ(b.accessibility()->role, player->accessibility()->role);
    EXPECT_TRUE(b.accessibility()->focused);
}

TEST(PlayerHost, WithoutAPlayerNothingIsForwarded) {
    PlayerHost host(nullptr, 50);
    Harness h;
    Flex root = frame(std::move(host));
    h.layout(root, 400, 300);
    PlayerHost& placed = only_child<PlayerHost>(root);
    EXPECT_EQ(placed.bounds(), (ui::Rect{0, 0, 400, 50}));
    EXPECT_TRUE(h.draw(root).commands().empty());
    h.send(root, press(5, 5));
    placed.set_state(true);
    EXPECT_EQ(placed.state(), std::nullopt);
    EXPECT_FALSE(placed.needs_redraw());
    EXPECT_FALSE(placed.accessibility().has_value());
}

// ---- ChannelAvatar ----

TEST(ChannelAvatar, DrawsInitialsUntilThePictureArrives) {
    auto fetches = std::make_shared<int>(0);
    auto store = solid_png_store(20, 10, fetches);
    Harness h;
    Flex root = frame(ChannelAvatar(store, "https://img/a.png", "quiet perimeter radio", 40));
    h.layout(root, 400, 300);
    ChannelAvatar& avatar = only_child<ChannelAvatar>(root);
    EXPECT_EQ(avatar.initials(), "QP");
    EXPECT_EQ(avatar.bounds(), (ui::Rect{0, 0, 40, 40}));
    const auto node = avatar.accessibility();
    ASSERT_TRUE(node.has_value());
    EXPECT_EQ(node->role, ui::Role::Image);
    EXPECT_EQ(node->name, "QP");

    EXPECT_TRUE(commands_of<ui::ImageCommand>(h.draw(root)).empty());
    ASSERT_TRUE(sync_until_image(avatar, store, h));
    EXPECT_TRUE(avatar.needs_redraw());

    // A 20 × 10 picture covers the 40 × 40 circle at scale 4, centred.
    const ui::Scene scene = h.draw(root);
    const auto layers = commands_of<ui::PushLayerCommand>(scene);
    ASSERT_EQ(layers.size(), 1u);
    const auto circle = std::get<ui::Circle>(layers[0].clip);
    EXPECT_EQ(circle.center, (ui::Point{20, 20}));
    EXPECT_EQ(circle.radius, 20);
    const auto images = commands_of<ui::ImageCommand>(scene);
    ASSERT_EQ(images.size(), 1u);
    EXPECT_EQ(images[0].image_transform, (ui::Affine{4, 0, 0, 4, -20, 0}));

    const int before = *fetches;
    avatar.sync(h.state);  // a held picture is not asked for again
    EXPECT_EQ(*fetches, before);
}

TEST(ChannelAvatar, NoStoreOrNoAddressSkipsTheFetch) {
    auto fetches = std::make_shared<int>(0);
    auto store = solid_png_store(4, 4, fetches);
    Harness h;
    ChannelAvatar without_address(store, "", "Name", 36);
    ChannelAvatar without_store(std::nullopt, "https://img/a.png", "", 36);
    without_address.sync(h.state);
    without_store.sync(h.state);
    store.block_until_idle(std::chrono::seconds(30));
    EXPECT_EQ(*fetches, 0);
    EXPECT_EQ(without_store.initials(), "?");
}

// ---- LargeVideoMeta ----

TEST(LargeVideoMeta, MeasuresItsWidthFromTheConstraint) {
    using Space = ui::layout::AvailableSpace;
    ui::TextRenderer text;
    LargeVideoMeta meta("A title", "Channel", "1K views • 2 days ago");
    struct Case {
        ui::layout::MeasureInput input;
        float width;
    } cases[] = {
        {{std::nullopt, std::nullopt, Space::max_content(), Space::max_content()}, 900},
        {{std::nullopt, std::nullopt, Space::min_content(), Space::max_content()}, 1},
        {{std::nullopt, std::nullopt, Space::definite(320), Space::max_content()}, 320},
        {{std::nullopt, std::nullopt, Space::definite(0), Space::max_content()}, 1},
        {{250.0f, std::nullopt, Space::definite(320), Space::max_content()}, 250},
    };
    for (const Case& c : cases) {
        const auto size = meta.measure(c.input, text);
        EXPECT_EQ(size.width, c.width);
        EXPECT_EQ(size.height, meta.measured().height);
        EXPECT_GT(size.height, 38.0f);  // 12 + 8 + 18 of spacing and three lines
    }
}

TEST(LargeVideoMeta, DrawsWithTheStyleItMeasuredAtEveryScale) {
    struct Case {
        float display_scale;
        float text_scale;
    } cases[] = {{1.0f, 1.0f}, {2.0f, 1.0f}, {1.0f, 1.5f}, {1.5f, 1.25f}};
    const std::string title = "A long title that wraps onto a second line at this width for sure";
    for (const Case& c : cases) {
        Harness h;
        h.env.scale = c.display_scale;
        h.env.text_scale = c.text_scale;
        h.env.theme = h.env.theme.with_scale(c.display_scale);
        Flex root = frame(LargeVideoMeta(title, "Channel name", "12K views • 3 days ago"), 300);
        h.layout(root, 800, 600);
        const LargeVideoMeta& meta = only_child<LargeVideoMeta>(root);
        EXPECT_EQ(meta.text_scale(), c.text_scale);

        const auto texts = commands_of<ui::TextCommand>(h.draw(root));
        ASSERT_EQ(texts.size(), 3u);
        const auto style = LargeVideoMeta::title_style(c.text_scale, h.text);
        EXPECT_FLOAT_EQ(style.font_size, 14.5f * c.text_scale);
        // The drawn title is the measured one, and the lines end where the
        // measured height says they do.
        EXPECT_EQ(texts[0].layout->size(), h.text.measure_style(title, style, 300.0));
        EXPECT_EQ(texts[1].origin.y - texts[0].origin.y, meta.measured().channel_offset);
        EXPECT_EQ(texts[2].origin.y - texts[0].origin.y, meta.measured().meta_offset);
        const double bottom = texts[2].origin.y + texts[2].layout->size().height + 18.0 * c.text_scale;
        EXPECT_NEAR(bottom, meta.bounds().y1, 1.0) << c.display_scale << " " << c.text_scale;
        EXPECT_NEAR(meta.bounds().height(), meta.measured().height, 1.0);
    }
}

// ---- Switch ----

struct SwitchFixture : ::testing::Test {
    IntentQueue queue;
    Harness h;
    Flex root = Flex::column();
    void SetUp() override {
        root = frame(Switch(true, intent::ToggleSetting{Setting::Autoplay}, queue)
                         .with_id("switch_autoplay")
                         .with_label("Autoplay next video"));
        h.layout(root, 400, 300);
    }
    Switch& sw() { return only_child<Switch>(root); }
};

TEST_F(SwitchFixture, ReleaseOverTheSwitchEmitsAndAsksForFocus) {
    EXPECT_EQ(sw().bounds(), (ui::Rect{0, 0, 46, 26}));
    h.send(root, move(10, 10));
    EXPECT_TRUE(sw().is_hovered());
    const auto cx = h.send(root, release(10, 10));  // no press needed
    EXPECT_TRUE(cx.handled);
    ASSERT_TRUE(cx.focus_request.has_value());
    const auto taken = take_intents(queue);
    ASSERT_EQ(taken.size(), 1u);
    EXPECT_EQ(taken[0], ControlIntent(intent::ToggleSetting{Setting::Autoplay}));
    EXPECT_TRUE(sw().on());  // the page is rebuilt with the new value

    EXPECT_FALSE(h.send(root, press(10, 10)).handled);
    EXPECT_TRUE(take_intents(queue).empty());
}

TEST_F(SwitchFixture, ReleaseAlreadyHandledOrElsewhereDoesNothing) {
    h.send(root, move(10, 10));
    vorn_ui::widget::EventContext cx{ui::Modifiers{}, h.state, 1.0, h.tree};
    cx.handled = true;
    root.handle_event(release(10, 10), cx, h.nodes.root);
    EXPECT_FALSE(cx.focus_request.has_value());
    EXPECT_TRUE(take_intents(queue).empty());

    // Hovered before, released away from it without a move between.
    EXPECT_FALSE(h.send(root, release(200, 10)).handled);
    EXPECT_FALSE(sw().is_hovered());
    EXPECT_TRUE(take_intents(queue).empty());
}

TEST_F(SwitchFixture, AnswersAsAToggleControl) {
    Switch& s = sw();
    const auto node = s.accessibility();
    ASSERT_TRUE(node.has_value());
    EXPECT_EQ(node->role, ui::Role::Switch);
    EXPECT_EQ(node->name, "Autoplay next video");
    EXPECT_EQ(node->toggled, true);
    EXPECT_EQ(s.widget_id(), "switch_autoplay");
    EXPECT_EQ(s.cursor_shape({45, 25}), ui::CursorShape::Pointer);
    EXPECT_EQ(s.cursor_shape({46, 25}), std::nullopt);

    EXPECT_TRUE(s.perform_action(ui::AccessRequest::Activate));
    EXPECT_TRUE(s.perform_action(ui::AccessRequest::Toggle));
    EXPECT_FALSE(s.perform_action(ui::AccessRequest::Focus));
    EXPECT_EQ(take_intents(queue).size(), 2u);

    s.mark_drawn();
    s.set_focus(true);
    EXPECT_TRUE(s.has_focus());
    EXPECT_TRUE(s.needs_redraw());
    s.mark_drawn();
    s.set_focus(true);
    EXPECT_FALSE(s.needs_redraw());
}

TEST(CardLeaves, NewBoundsRepaintEveryLeafButTheSwitch) {
    IntentQueue queue;
    Harness h;
    Flex root = Flex::column()
                    .with_width(FlexSize::px(300))
                    .child(Flex::row().with_height(FlexSize::px(10)))
                    .child(Thumbnail("s", 10).with_height(50))
                    .child(ImageBox("s", std::nullopt, 40, 8))
                    .child(ChannelAvatar(std::nullopt, "", "A B", 36))
                    .child(Switch(false, intent::GoBack{}, queue));
    h.layout(root, 400, 400);
    for (auto& c : root.children_mut()) EXPECT_FALSE(c->is_layout_dirty()) << c->type_name();
    root.mark_drawn();
    // Move everything down by growing the first row.
    static_cast<Flex&>(*root.children_mut()[0]) = Flex::row().with_height(FlexSize::px(30));
    h.layout(root, 400, 400);
    for (std::size_t i = 1; i < root.children().size(); ++i) {
        const auto& c = *root.children()[i];
        EXPECT_EQ(c.needs_redraw(), c.type_name() != "Switch") << c.type_name();
    }
    EXPECT_TRUE(Thumbnail("s", 1).is_layout_dirty());  // never placed
}

// ---- ImageBox ----

TEST(ImageBox, PlaceholderIsTheSeededGradientUnderADarkVeil) {
    Harness h;
    Flex root = frame(ImageBox("channel-seed", std::nullopt, 120, 14), 300);
    h.layout(root, 400, 300);
    EXPECT_EQ(only_child<ImageBox>(root).bounds(), (ui::Rect{0, 0, 300, 120}));
    const auto fills = commands_of<ui::FillCommand>(h.draw(root));
    ASSERT_EQ(fills.size(), 2u);
    const auto [start, end] = seed_gradient("channel-seed");
    const auto gradient = std::get<ui::LinearGradient>(fills[0].brush);
    EXPECT_EQ(gradient.stops[0].color, start);
    EXPECT_EQ(gradient.stops[1].color, end);
    EXPECT_EQ(gradient.end, (ui::Point{300, 120}));
    EXPECT_EQ(std::get<ui::RoundedRect>(fills[0].shape).radius, 14);
    EXPECT_EQ(std::get<ui::Color>(fills[1].brush), ui::Color::rgba8(0, 0, 0, 30));

    Flex flat = frame(ImageBox("s", std::nullopt, 0, 4), 300);
    h.layout(flat, 400, 300);
    EXPECT_TRUE(h.draw(flat).commands().empty());
}

// ---- Thumbnail ----

TEST(Thumbnail, CornerRadiusIsHalfTheShorterSideUpToTwelve) {
    struct Case {
        float width, height;
        double radius;
    } cases[] = {{100, 20, 10}, {400, 169, 12}, {30, 100, 12}, {16, 100, 8}};
    for (const Case& c : cases) {
        Harness h;
        Flex root = frame(Thumbnail("s", 61).with_height(c.height), c.width);
        h.layout(root, 500, 300);
        const auto fills = commands_of<ui::FillCommand>(h.draw(root));
        ASSERT_FALSE(fills.empty());
        EXPECT_EQ(std::get<ui::RoundedRect>(fills[0].shape).radius, c.radius) << c.width << "x" << c.height;
    }
}

TEST(Thumbnail, ZeroWidthDrawsNothingZeroHeightStillDraws) {
    Harness h;
    Flex narrow = frame(Thumbnail("s", 61), 0);
    h.layout(narrow, 400, 300);
    EXPECT_TRUE(h.draw(narrow).commands().empty());

    Flex flat = frame(Thumbnail("s", 61).with_height(0), 200);
    h.layout(flat, 400, 300);
    EXPECT_FALSE(h.draw(flat).commands().empty());
}

TEST(Thumbnail, BadgeTextFollowsLiveDurationAndTheTimeBadge) {
    EXPECT_EQ(Thumbnail("s", 0).badge_text(), "0:00");
    EXPECT_EQ(Thumbnail("s", 754).badge_text(), "12:34");
    EXPECT_EQ(Thumbnail("s", 754).with_live(true).badge_text(), "LIVE");
    EXPECT_EQ(Thumbnail("s", 0).with_time_badge(false).badge_text(), std::nullopt);
}

struct ThumbnailPixels : ::testing::Test {
    // A 320 × 180 thumbnail drawn alone; answers the picture.
    ui::offscreen::RenderedImage draw(Thumbnail thumbnail) {
        Harness h;
        Flex root = frame(std::move(thumbnail).with_height(180), 320);
        h.layout(root, 320, 180);
        return render(h.draw(root), 320, 180);
    }
};

TEST_F(ThumbnailPixels, PlaceholderShowsThePlayMarkInsideTheRoundedShape) {
    const auto img = draw(Thumbnail("seed-a", 90));
    EXPECT_EQ(rgba(img.rgba_at(0, 0)).a, 0);      // cut off by the corner
    EXPECT_EQ(rgba(img.rgba_at(160, 5)).a, 255);  // the gradient along the top edge
    const Rgba triangle = rgba(img.rgba_at(160, 90));
    EXPECT_GT(triangle.r + triangle.g + triangle.b, 3 * 240);  // white play triangle
    // Inside the dark disc but left of the triangle: darker than the open gradient below it.
    EXPECT_LT(brightness(img.rgba_at(142, 90)), brightness(img.rgba_at(142, 130)));
}

TEST_F(ThumbnailPixels, DurationBadgeOnVideosButNoneOnPlaylistCovers) {
    // Inside the badge's right padding (the badge ends 8 from the right edge,
    // its top is 26 above the bottom), where no glyph is drawn.
    const std::uint32_t x = 320 - 8 - 3, y = 180 - 26 + 4;
    const auto video = draw(Thumbnail("seed-a", 0));
    const auto cover = draw(Thumbnail("seed-a", 0).with_time_badge(false));
    EXPECT_LT(brightness(video.rgba_at(x, y)) + 40, brightness(cover.rgba_at(x, y)));
    // Away from the badge both are the same placeholder.
    EXPECT_EQ(video.rgba_at(40, 40), cover.rgba_at(40, 40));

    const auto live = draw(Thumbnail("seed-a", 0).with_live(true).with_time_badge(false));
    const Rgba red = rgba(live.rgba_at(x, y));
    EXPECT_EQ(red.r, 204);
    EXPECT_EQ(red.g, 0);
}

TEST_F(ThumbnailPixels, ProgressStripFillsTheWatchedShareInRed) {
    const auto img = draw(Thumbnail("seed-a", 90).with_progress(0.25f));
    const Rgba watched = rgba(img.rgba_at(40, 178));
    EXPECT_EQ(watched.r, 255);
    EXPECT_EQ(watched.g, 0);
    EXPECT_EQ(watched.b, 51);
    const auto plain = draw(Thumbnail("seed-a", 90));
    // Beyond the watched share the strip only lightens the placeholder.
    EXPECT_GT(brightness(img.rgba_at(200, 178)), brightness(plain.rgba_at(200, 178)));
    EXPECT_EQ(img.rgba_at(200, 170), plain.rgba_at(200, 170));
}

TEST(Thumbnail, ArrivedPictureReplacesThePlaceholder) {
    auto fetches = std::make_shared<int>(0);
    auto store = solid_png_store(16, 9, fetches);
    Harness h;
    Flex root = frame(Thumbnail("s", 61).with_image(store, "https://img/t.jpg").with_height(90), 160);
    h.layout(root, 400, 300);
    Thumbnail& thumb = only_child<Thumbnail>(root);
    ASSERT_TRUE(sync_until_image(thumb, store, h));
    const ui::Scene scene = h.draw(root);
    EXPECT_EQ(commands_of<ui::ImageCommand>(scene).size(), 1u);
    for (const auto& f : commands_of<ui::FillCommand>(scene))
        EXPECT_FALSE(std::holds_alternative<ui::LinearGradient>(f.brush));
}

}  // namespace
}  // namespace sarn::widgets
