#include "sarn/app/screens/watch_page.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "sarn/app/format.h"
#include "sarn/app/screens/blocks.h"
#include "sarn/app/screens/shell.h"
#include "sarn/app/widgets/player_host.h"
#include "sarn/app/widgets/switch.h"
#include "vorn_ui/format.h"
#include "vorn_ui/icons.h"

namespace sarn::screens {

using vorn_ui::Color;
using vorn_ui::Theme;
using vorn_ui::widget::video_player::SponsorMark;
using vorn_ui::widget::video_player::VideoPlayer;
using widgets::Background;
using widgets::FlexAlign;

namespace {

namespace icons = vorn_ui::icons;

constexpr std::uint16_t kIconSettings = icons::code(icons::Icon::Settings);   // 26
constexpr std::uint16_t kIconShare = icons::code(icons::Icon::ArrowUpRight);  // 42
constexpr std::uint16_t kIconHeart = icons::code(icons::Icon::Heart);         // 62
constexpr std::uint16_t kIconDislike = icons::code(icons::Icon::ThumbsDown);  // 63
constexpr std::uint16_t kIconSubscribed = icons::code(icons::Icon::Check);    // 73
constexpr std::uint16_t kIconSkip = icons::code(icons::Icon::SkipForward);    // 95

// The up-next column sits beside the main column once the padded body is
// at least this wide.
constexpr double kWideBodyWidth = 900.0;
constexpr double kBodyPadding = 20.0;
constexpr float kUpNextWidth = 360.0f;
constexpr std::size_t kUpNextCount = 6;
constexpr std::size_t kNoticesShown = 4;
// The player takes 65 % of the window height at 16 : 9, never wider than the content.
constexpr double kPlayerHeightShare = 0.65;

// The player's quality setting: its options in the order the player cycles them.
constexpr std::string_view kQualityOptions[] = {"1080p", "720p", "480p", "auto"};
constexpr std::uint32_t kResolutionSettingKind = 9;
constexpr std::int64_t kResolutionSettingValue = 1;

const Color kWhite = Color::white();

// min and max that ignore an operand that is not a number.
double min_defined(double a, double b) {
    if (std::isnan(b)) return a;
    if (std::isnan(a)) return b;
    return std::min(a, b);
}
double max_defined(double a, double b) {
    if (std::isnan(b)) return a;
    if (std::isnan(a)) return b;
    return std::max(a, b);
}

struct PlayerSize {
    float width;
    float height;
};

PlayerSize player_size(double content_width, double viewport_height) {
    const double width =
        max_defined(min_defined(viewport_height * kPlayerHeightShare * 16.0 / 9.0, content_width), 1.0);
    const double height = max_defined(width * 9.0 * 0.0625, 1.0);
    return {static_cast<float>(width), static_cast<float>(height)};
}

// The marks of the video's shown and skipped segments as fractions of its
// length. A video without a known length (a live stream) gets none: its
// segments have nothing to be a fraction of.
std::vector<SponsorMark> skip_marks(const PlaybackSettings& settings, const Video& video) {
    std::vector<SponsorMark> marks;
    if (!settings.sponsorblock || video.duration == 0) return marks;
    const double length = video.duration;
    for (const Segment& segment : video.sponsor) {
        if (!category_enabled(settings, segment.category)) continue;
        const Rgb c = category_colour(segment.category);
        marks.push_back(SponsorMark{static_cast<float>(segment.start / length),
                                    static_cast<float>(segment.end / length), Color::rgba8(c.r, c.g, c.b)});
    }
    return marks;
}

// The shown segment the playback position is inside, which the skip button
// offers to jump past. Skipping needs a known length, so a video without one
// offers none.
const Segment* active_segment(const Library& library, const Video& video) {
    if (video.duration == 0) return nullptr;
    for (const Segment& segment : video.sponsor) {
        if (category_shown(library.settings, segment.category) && segment.start <= library.position &&
            library.position < segment.end)
            return &segment;
    }
    return nullptr;
}

std::size_t quality_index(std::string_view preferred) {
    const auto* found = std::find(std::begin(kQualityOptions), std::end(kQualityOptions), preferred);
    return found == std::end(kQualityOptions) ? 0 : static_cast<std::size_t>(found - std::begin(kQualityOptions));
}

void configure_player(VideoPlayer& player, const Library& library, std::vector<SponsorMark> marks) {
    player.set_sponsor_marks(std::move(marks));
    std::vector<std::string> options(std::begin(kQualityOptions), std::end(kQualityOptions));
    player.set_setting(player_setting("resolution", kResolutionSettingKind, "Resolution", kResolutionSettingValue,
                                      std::move(options), quality_index(library.settings.preferred_quality)));
}

Flex skip_overlay(const PageContext& cx, const Segment& segment) {
    const Theme& theme = cx.theme();
    const std::string text = fmt::format("Skip {}", category_label(segment.category));
    Flex button = Flex::row()
                      .with_id("sb_skip_btn")
                      .with_gap(6)
                      .with_padding_xy(13, 8)
                      .with_cross_align(FlexAlign::Center)
                      .with_main_align(FlexAlign::Center)
                      .with_background(Background::filled(Color::rgba8(0, 0, 0, 200), theme.radius_control)
                                           .with_border(1, Color::rgba8(255, 255, 255, 40)))
                      .with_hover_background(Background::filled(theme.accent, theme.radius_control))
                      .with_intent(cx.intents, intent::SkipSegment{segment.end})
                      .with_label(text)
                      .child(colored_label_text(text, 13, kWhite))
                      .child(icon(kIconSkip, 14, kWhite));
    return Flex::column()
        .with_overlay(true)
        .with_width(FlexSize::fill())
        .with_height(FlexSize::fill())
        .with_padding_edges(0, 0, 16, 52)
        .with_main_align(FlexAlign::End)
        .with_cross_align(FlexAlign::End)
        .child(std::move(button));
}

Flex player_stage(const PageContext& cx, const std::shared_ptr<VideoPlayer>& player, PlayerSize size,
                  const Segment* active, bool marked) {
    Flex box = Flex::column()
                   .with_width(FlexSize::px(size.width))
                   .with_height(FlexSize::px(size.height))
                   .child(widgets::PlayerHost(player, size.height));
    if (active) box = std::move(box).child(skip_overlay(cx, *active));
    Flex stage = Flex::column().with_width(FlexSize::fill());
    if (marked) stage = std::move(stage).with_id("sb_timeline");
    return std::move(stage).child(
        Flex::row().with_width(FlexSize::fill()).with_main_align(FlexAlign::Center).child(std::move(box)));
}

Flex settings_row(const PageContext& cx) {
    return Flex::row()
        .with_width(FlexSize::fill())
        .with_gap(12)
        .with_cross_align(FlexAlign::Center)
        .child(flex_spacer())
        .child(icon_intent_button(cx.theme(), cx.intents, kIconSettings, intent::Navigate{Route::settings()},
                                  "watch_settings"));
}

Flex notices(const PageContext& cx) {
    const Theme& theme = cx.theme();
    Flex column = Flex::column().with_id("notices").with_width(FlexSize::fill()).with_gap(6);
    const std::size_t shown = std::min(cx.library.notices.size(), kNoticesShown);
    for (std::size_t i = 0; i < shown; ++i) {
        column = std::move(column).child(Flex::row()
                                             .with_width(FlexSize::fill())
                                             .with_gap(8)
                                             .with_padding_xy(12, 8)
                                             .with_cross_align(FlexAlign::Center)
                                             .with_background(Background::filled(theme.control, theme.radius_control))
                                             .child(icon(kIconSkip, 14, theme.accent))
                                             .child(colored_label_text(cx.library.notices[i], 12.5f, theme.text)));
    }
    return column;
}

Flex dislike_pill(const PageContext& cx, const Video& video) {
    const Theme& theme = cx.theme();
    const std::optional<std::uint64_t> count = cx.library.dislike_count(video.id);
    return Flex::row()
        .with_id("dislike_pill")
        .with_gap(8)
        .with_padding_xy(16, 9)
        .with_cross_align(FlexAlign::Center)
        .with_background(Background::filled(theme.control, theme.radius_control).with_border(1, theme.border))
        .child(icon(kIconDislike, 16, theme.text))
        .child(colored_label_text(count ? vorn_ui::format::compact_count(*count) : std::string("—"), 14, theme.text));
}

Flex meta_and_actions(const PageContext& cx, const Video& video) {
    const Theme& theme = cx.theme();
    const Library& library = cx.library;
    const bool liked = library.is_liked(video.id);
    Flex row = Flex::row()
                   .with_width(FlexSize::fill())
                   .with_gap(12)
                   .with_wrap(true)
                   .with_cross_align(FlexAlign::Center)
                   .child(colored_label_text(video_meta_line(video.views, video.published, video.live), 13,
                                             theme.text_muted))
                   .child(flex_spacer())
                   .child(pill_button(theme, cx.intents, kIconHeart,
                                      vorn_ui::format::compact_count(library.count_with_own(video)),
                                      intent::ToggleLike{video.id}, liked)
                              .with_id("like_btn"));
    if (library.settings.return_dislike) row = std::move(row).child(dislike_pill(cx, video));
    return std::move(row)
        .child(queue_toggle_button(library, theme, video.id))
        .child(pill_button(theme, cx.intents, kIconShare, "Share", intent::CopyShareLink{video.id}, false)
                   .with_id("share_btn"));
}

Flex channel_row(const PageContext& cx, const Video& video) {
    const Theme& theme = cx.theme();
    const Library& library = cx.library;
    Flex names = Flex::column()
                     .with_grow(1)
                     .with_gap(2)
                     .with_intent(cx.intents, intent::OpenCreator{video.channel_id})
                     .with_label(fmt::format("Open creator: {}", video.channel_name))
                     .child(label_text(video.channel_name, 15));
    if (const Channel* channel = library.find_channel(video.channel_id)) {
        if (auto subscribers = subscriber_count_text(channel->subscribers))
            names = std::move(names).child(colored_label_text(std::move(*subscribers), 12, theme.text_muted));
    }
    const intent::ToggleSubscription toggle{video.channel_id};
    Flex subscribe = library.is_subscribed(video.channel_id)
                         ? pill_button(theme, cx.intents, kIconSubscribed, "Subscribed", toggle, false)
                         : pill_button(theme, cx.intents, std::nullopt, "Subscribe", toggle, true);
    return Flex::row()
        .with_width(FlexSize::fill())
        .with_gap(12)
        .with_cross_align(FlexAlign::Center)
        .child(channel_avatar_for(library, cx.images, video.channel_id, video.channel_name, 48))
        .child(std::move(names))
        .child(std::move(subscribe).with_id("subscribe_btn"));
}

Flex description_box(const Theme& theme, const Video& video) {
    return Flex::column()
        .with_width(FlexSize::fill())
        .with_gap(6)
        .with_padding(14)
        .with_background(Background::filled(theme.raised, theme.radius).with_border(1, theme.border))
        .child(colored_label_text(video.description, 13.5f, theme.text_muted));
}

Flex comment_row(const Theme& theme, const Comment& comment) {
    Flex header = Flex::row().with_gap(8).with_cross_align(FlexAlign::Center);
    if (comment.pinned) {
        header = std::move(header).child(Flex::row()
                                             .with_padding_xy(6, 2)
                                             .with_cross_align(FlexAlign::Center)
                                             .with_background(Background::filled(theme.control, 4))
                                             .child(colored_label_text("Pinned", 10.5f, theme.text_muted)));
    }
    header = std::move(header)
                 .child(colored_label_text(comment.author, 13, theme.text))
                 .child(colored_label_text(comment.time_ago, 11.5f, theme.text_muted))
                 .child_if(comment.hearted, icon(kIconHeart, 12, theme.danger));
    Flex counters =
        Flex::row()
            .with_gap(6)
            .with_cross_align(FlexAlign::Center)
            .child(icon(kIconHeart, 13, theme.text_muted))
            .child(colored_label_text(vorn_ui::format::compact_count(comment.likes), 11.5f, theme.text_muted))
            .child(sized_box(8, 1));
    if (comment.replies != 0)
        counters = std::move(counters).child(
            colored_label_text(fmt::format("{} replies", comment.replies), 11.5f, theme.text_muted));
    return Flex::row()
        .with_width(FlexSize::fill())
        .with_gap(12)
        .with_cross_align(FlexAlign::Start)
        .child(small_avatar(comment.author))
        .child(Flex::column()
                   .with_grow(1)
                   .with_gap(4)
                   .child(std::move(header))
                   .child(label_text(comment.text, 13.5f))
                   .child(std::move(counters)));
}

Flex comments(const PageContext& cx, const Video& video) {
    const Theme& theme = cx.theme();
    Flex column =
        Flex::column()
            .with_width(FlexSize::fill())
            .with_gap(14)
            .child(Flex::row()
                       .with_gap(10)
                       .with_cross_align(FlexAlign::Center)
                       .child(label_text(
                           fmt::format("{} Comments", vorn_ui::format::compact_count(video.comments.size())), 17)));
    if (!cx.library.settings.show_comments)
        return std::move(column).child(
            colored_label_text("Comments hidden (enable in settings).", 13, theme.text_muted));
    for (const Comment& comment : video.comments) column = std::move(column).child(comment_row(theme, comment));
    return column;
}

Flex main_column(const PageContext& cx, const Video& video, std::string title) {
    const Theme& theme = cx.theme();
    Flex column = Flex::column().with_gap(14).child(settings_row(cx));
    if (!cx.library.notices.empty()) column = std::move(column).child(notices(cx));
    return std::move(column)
        .child(label_text(std::move(title), 22))
        .child(meta_and_actions(cx, video))
        .child(divider(theme))
        .child(channel_row(cx, video))
        .child(description_box(theme, video))
        .child(divider(theme))
        .child(comments(cx, video));
}

Flex up_next_column(const PageContext& cx, const Video& video) {
    const Library& library = cx.library;
    const Theme& theme = cx.theme();
    Flex column = Flex::column()
                      .with_width(FlexSize::fill())
                      .with_gap(10)
                      .child(Flex::row()
                                 .with_width(FlexSize::fill())
                                 .with_gap(10)
                                 .with_cross_align(FlexAlign::Center)
                                 .child(label_text("Up next", 16))
                                 .child(flex_spacer())
                                 .child(Flex::row()
                                            .with_gap(8)
                                            .with_cross_align(FlexAlign::Center)
                                            .child(colored_label_text("Autoplay", 12.5f, theme.text_muted))
                                            .child(widgets::Switch(library.settings.autoplay,
                                                                   intent::ToggleSetting{Setting::Autoplay}, cx.intents)
                                                       .with_label("Autoplay"))));
    const std::vector<const Video*> next = library.up_next_videos(video.id);
    const std::size_t shown = std::min(next.size(), kUpNextCount);
    for (std::size_t i = 0; i < shown; ++i)
        column = std::move(column).child(video_row(library, theme, cx.intents, cx.images, *next[i]));
    return column;
}

Flex body(const PageContext& cx, const Video& video, std::string title, double content_width) {
    Flex main = main_column(cx, video, std::move(title));
    Flex up_next = up_next_column(cx, video);
    if (std::max(content_width - 2 * kBodyPadding, 0.0) >= kWideBodyWidth) {
        return Flex::row()
            .with_width(FlexSize::fill())
            .with_gap(24)
            .with_cross_align(FlexAlign::Start)
            .child(std::move(main).with_grow(1))
            .child(std::move(up_next).with_width(FlexSize::px(kUpNextWidth)));
    }
    return Flex::column()
        .with_width(FlexSize::fill())
        .with_gap(24)
        .child(std::move(main).with_width(FlexSize::fill()))
        .child(std::move(up_next));
}

}  // namespace

vorn_ui::widget::scrollable::Scrollable watch_page(const PageContext& cx, std::string_view video_id,
                                                   const std::shared_ptr<VideoPlayer>& player, double content_width,
                                                   double viewport_height) {
    const Library& library = cx.library;
    const Video* video = library.find_video(video_id);
    if (!video) {
        return scroll_page(Flex::column().with_padding(24).child(empty_state(cx.theme(), "Video unavailable", "")));
    }

    const bool crowd_title = library.settings.dearrow && library.settings.dearrow_titles;
    std::string title = Library::display_title(*video, crowd_title);

    std::vector<SponsorMark> marks = skip_marks(library.settings, *video);
    const bool marked = !marks.empty();
    if (player) configure_player(*player, library, std::move(marks));
    const PlayerSize size = player_size(content_width, max_defined(viewport_height, 1.0));

    return scroll_page(Flex::column()
                           .with_width(FlexSize::fill())
                           .child(player_stage(cx, player, size, active_segment(library, *video), marked))
                           .child(Flex::column()
                                      .with_width(FlexSize::fill())
                                      .with_padding(static_cast<float>(kBodyPadding))
                                      .child(body(cx, *video, std::move(title), content_width))));
}

}  // namespace sarn::screens
