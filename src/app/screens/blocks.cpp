#include "sarn/app/screens/blocks.h"

#include <algorithm>

#include <fmt/format.h>

#include "sarn/app/action_tree.h"
#include "sarn/app/format.h"
#include "sarn/app/widgets/large_video_meta.h"
#include "sarn/model/text.h"
#include "vorn_ui/format.h"
#include "vorn_ui/widget/icon_widget.h"

namespace sarn::screens {

using vorn_ui::Color;
using vorn_ui::Theme;
using vorn_ui::widget::IconWidget;
using widgets::Background;
using widgets::ChannelAvatar;
using widgets::FlexAlign;
using widgets::LargeVideoMeta;
using widgets::Thumbnail;

namespace {

constexpr float kLargeScale = 1.5f;
constexpr float kCardThumbnailHeight = 169.0f;
constexpr float kRowThumbnailHeight = 90.0f;
constexpr float kWatchedProgress = 0.35f;
// One card per line (the large-scale grid) would stretch a fixed-height
// picture into a strip as wide as the page: there pictures keep their shape.
constexpr float kPictureAspect = 16.0f / 9.0f;

bool crowd_titles(const Library& library) {
    return library.settings.dearrow && library.settings.dearrow_titles;
}

// The picture of a video as the cards show it: its seed, duration and live
// flag, and the (possibly crowd-sourced) thumbnail address.
Thumbnail video_thumbnail(const Library& library, const ImageStoreHandle& store, const Video& video, float height) {
    return Thumbnail(video.seed, video.duration)
        .with_height(height)
        .with_live(video.live)
        .with_image(store, library.thumbnail_for(video));
}

// Selected controls take `selection` and its contrast colour for their contents.
Color selection_text(const Theme& theme) { return contrast_text_color(theme.selection); }

}  // namespace

bool is_large_scale(const Theme& theme) { return theme.scale >= kLargeScale; }

// ---- text labels ----

Text label_text(std::string content, float size) { return Text(std::move(content)).with_size(size); }
Text label_text(std::string_view content, float size) { return label_text(std::string(content), size); }
Text label_text(const char* content, float size) { return label_text(std::string(content), size); }

Text colored_label_text(std::string content, float size, Color color) {
    return Text(std::move(content)).with_size(size).with_color(color);
}
Text colored_label_text(std::string_view content, float size, Color color) {
    return colored_label_text(std::string(content), size, color);
}
Text colored_label_text(const char* content, float size, Color color) {
    return colored_label_text(std::string(content), size, color);
}

// ---- icons ----

IconWidget icon(std::uint16_t number, float size, Color color) { return IconWidget::make(number, size, 1.5f, color); }

// ---- spacing ----

Flex flex_spacer() { return Flex::row().with_grow(1); }

Flex sized_box(float width, float height) {
    return Flex::row().with_width(FlexSize::px(width)).with_height(FlexSize::px(height));
}

Flex spacer_row(float height) { return Flex::row().with_width(FlexSize::fill()).with_height(FlexSize::px(height)); }

Flex filled_box(FlexSize width, float height, double radius, const Theme& theme) {
    return Flex::row()
        .with_width(width)
        .with_height(FlexSize::px(height))
        .with_background(Background::filled(theme.control, radius));
}

Flex divider(const Theme& theme) {
    return Flex::row()
        .with_width(FlexSize::fill())
        .with_height(FlexSize::px(1))
        .with_background(Background::filled(theme.border));
}

// ---- headers and states ----

Flex page_header(const Theme& theme, std::uint16_t icon_number, std::string_view title, std::string_view subtitle) {
    Flex row = Flex::row()
                   .with_width(FlexSize::fill())
                   .with_gap(10)
                   .with_cross_align(FlexAlign::Center)
                   .child(icon(icon_number, 22, theme.accent))
                   .child(label_text(title, 21));
    if (!is_large_scale(theme)) {
        return std::move(row).child(flex_spacer()).child(colored_label_text(subtitle, 13, theme.text_muted));
    }
    return Flex::column().with_width(FlexSize::fill()).child(std::move(row)).child(sized_box(1, 38));
}

Flex empty_state(const Theme& theme, std::string_view title, std::string_view body) {
    return Flex::column()
        .with_width(FlexSize::fill())
        .with_gap(8)
        .with_padding(48)
        .with_cross_align(FlexAlign::Center)
        .with_main_align(FlexAlign::Center)
        .child(icon(kIconEmpty, 40, theme.text_muted))
        .child(label_text(title, 18))
        .child(colored_label_text(body, 13, theme.text_muted));
}

// ---- buttons ----

Flex icon_intent_button(const Theme& theme, const IntentQueue& queue, std::uint16_t icon_number, ControlIntent intent,
                        std::string id) {
    return Flex::row()
        .with_width(FlexSize::px(40))
        .with_height(FlexSize::px(40))
        .with_cross_align(FlexAlign::Center)
        .with_main_align(FlexAlign::Center)
        .with_background(Background::filled(theme.control, theme.radius_control))
        .with_hover_background(Background::filled(theme.control_hover, theme.radius_control))
        .with_id(std::move(id))
        .with_intent(queue, std::move(intent))
        .child(icon(icon_number, 20, theme.text));
}

Flex pill_button(const Theme& theme, const IntentQueue& queue, std::optional<std::uint16_t> icon_number,
                 std::string_view text, ControlIntent intent, bool active) {
    Flex pill = Flex::row().with_gap(8).with_padding_xy(16, 9).with_cross_align(FlexAlign::Center);
    Color content = theme.text;
    if (active) {
        content = selection_text(theme);
        pill = std::move(pill)
                   .with_background(Background::filled(theme.selection, theme.radius_control))
                   .with_hover_background(Background::filled(theme.selection, theme.radius_control));
    } else {
        pill = std::move(pill)
                   .with_background(Background::filled(theme.control, theme.radius_control).with_border(1, theme.border))
                   .with_hover_background(
                       Background::filled(theme.control_hover, theme.radius_control).with_border(1, theme.border));
    }
    if (icon_number) pill = std::move(pill).child(icon(*icon_number, 16, content));
    return std::move(pill)
        .child(colored_label_text(text, 14, content))
        .with_intent(queue, std::move(intent))
        .with_label(std::string(text));
}

Flex settings_button(const Theme& theme, const IntentQueue& queue, std::string id, std::string_view text,
                     ControlIntent intent, bool danger) {
    const Color accent = danger ? theme.danger : theme.border;
    return Flex::row()
        .with_id(std::move(id))
        .with_padding_xy(13, 8)
        .with_cross_align(FlexAlign::Center)
        .with_main_align(FlexAlign::Center)
        .with_background(Background::filled(theme.control, theme.radius_control).with_border(1, accent))
        .with_hover_background(Background::filled(theme.control_hover, theme.radius_control))
        .with_intent(queue, std::move(intent))
        .with_label(std::string(text))
        .child(colored_label_text(text, 12.5f, danger ? theme.danger : theme.text));
}

Flex queue_toggle_button(const Library& library, const Theme& theme, std::string_view video_id) {
    return queue_toggle_button(library, theme, video_id, queue_binding(library, video_id));
}

Flex queue_toggle_button(const Library& library, const Theme& theme, std::string_view video_id,
                         std::optional<vorn_actions::resource::ActionBinding> binding) {
    const bool queued = library.is_queued(video_id);
    const std::string_view text = queued ? "In queue" : "Add to queue";
    Color content = theme.text;
    Flex button = Flex::row()
                      .with_id(fmt::format("queue_btn_{}", video_id))
                      .with_gap(6)
                      .with_padding_xy(12, 8)
                      .with_cross_align(FlexAlign::Center)
                      .with_label(fmt::format("{}: shared watch queue", text));
    if (queued) {
        content = selection_text(theme);
        button = std::move(button)
                     .with_background(Background::filled(theme.selection, theme.radius_control))
                     .with_hover_background(Background::filled(theme.selection_hover, theme.radius_control));
    } else {
        button =
            std::move(button)
                .with_background(Background::filled(theme.control, theme.radius_control).with_border(1, theme.border))
                .with_hover_background(
                    Background::filled(theme.control_hover, theme.radius_control).with_border(1, theme.border));
    }
    button = std::move(button).child(icon(kIconQueue, 15, content)).child(colored_label_text(text, 12.5f, content));
    if (binding) button = std::move(button).with_binding(std::move(*binding));
    return button;
}

// ---- settings ----

Flex settings_section(const Theme& theme, std::string_view title, std::vector<Flex> rows) {
    Flex section = Flex::column()
                       .with_width(FlexSize::fill())
                       .with_gap(2)
                       .with_padding_xy(20, 16)
                       .with_background(Background::filled(theme.raised, theme.radius).with_border(1, theme.border))
                       .child(label_text(title, 16.5f))
                       .child(sized_box(1, 8));
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (i > 0) section = std::move(section).child(divider(theme));
        section = std::move(section).child(std::move(rows[i]));
    }
    return section;
}

Flex settings_row(const Theme& theme, std::string_view title, std::string_view description,
                  vorn_ui::widget::WidgetPtr trailing, bool dimmed) {
    return Flex::row()
        .with_width(FlexSize::fill())
        .with_padding_xy(0, 10)
        .with_gap(16)
        .with_cross_align(FlexAlign::Center)
        .child(Flex::column()
                   .with_grow(1)
                   .with_gap(3)
                   .child(colored_label_text(title, 14.5f, dimmed ? theme.text_muted : theme.text))
                   .child(colored_label_text(description, 12.5f, theme.text_muted)))
        .child(std::move(trailing));
}

Flex settings_switch_row(const Theme& theme, std::string_view title, std::string_view description,
                         widgets::Switch toggle, bool dimmed) {
    return settings_row(theme, title, description, std::move(toggle), dimmed);
}

Flex settings_switch_row(const Theme& theme, std::string_view title, std::string_view description,
                         widgets::Switch toggle) {
    return settings_switch_row(theme, title, description, std::move(toggle), false);
}

// ---- videos ----

std::string video_meta_line(std::uint64_t views, std::string_view published, bool live) {
    std::vector<std::string> parts;
    if (views != 0) parts.push_back(live ? watching_count_text(views) : view_count_text(views));
    if (const std::string_view date = trim_white_space(published); !date.empty()) parts.emplace_back(date);
    return fmt::format("{}", fmt::join(parts, " • "));
}

Flex video_card(const Library& library, const Theme& theme, const IntentQueue& queue, const ImageStoreHandle& store,
                const Video& video) {
    const std::string& title = Library::display_title(video, crowd_titles(library));
    const bool watched_last = !library.history.empty() && library.history.front() == video.id;
    Thumbnail thumbnail = video_thumbnail(library, store, video, kCardThumbnailHeight)
                              .with_progress(watched_last ? std::optional<float>(kWatchedProgress) : std::nullopt);
    if (is_large_scale(theme)) thumbnail = std::move(thumbnail).with_aspect_ratio(kPictureAspect);
    std::string meta = video_meta_line(video.views, video.published, video.live);
    const bool has_meta = !meta.empty();

    Flex details = Flex::column();
    if (is_large_scale(theme)) {
        details = Flex::column()
                      .with_width(FlexSize::fill())
                      .child(LargeVideoMeta(title, video.channel_name, std::move(meta)));
    } else {
        const Channel* channel = library.find_channel(video.channel_id);
        const bool verified = channel && channel->verified;
        // Full width, so that the growing name row has the text block's room.
        Flex channel_line = Flex::row()
                                .with_width(FlexSize::fill())
                                .with_gap(5)
                                .with_cross_align(FlexAlign::Center)
                                .child(Flex::row().with_grow(1).child(
                                    colored_label_text(video.channel_name, 12.5f, theme.text_muted)))
                                .child_if(verified, icon(kIconVerified, 12, theme.text_muted));
        details = Flex::row()
                      .with_width(FlexSize::fill())
                      .with_gap(10)
                      .with_cross_align(FlexAlign::Start)
                      .child(channel_avatar_for(library, store, video.channel_id, video.channel_name, 36))
                      .child(Flex::column()
                                 .with_grow(1)
                                 .with_gap(3)
                                 .child(label_text(title, 14.5f))
                                 .child(std::move(channel_line))
                                 .child_if(has_meta, colored_label_text(std::move(meta), 12.5f, theme.text_muted)));
    }
    return Flex::column()
        .with_id(fmt::format("video_card_{}", video.id))
        .with_width(FlexSize::fill())
        .with_gap(9)
        .with_padding(6)
        .with_hover_background(Background::filled(theme.control_hover, theme.radius))
        .with_intent(queue, intent::OpenVideo{video.id})
        .with_label(fmt::format("Open video: {}", title))
        .child(std::move(thumbnail))
        .child(std::move(details));
}

std::vector<Flex> video_card(const Library& library, const Theme& theme, const IntentQueue& queue,
                             const ImageStoreHandle& store, std::span<const Video* const> videos) {
    std::vector<Flex> cards;
    cards.reserve(videos.size());
    for (const Video* video : videos) cards.push_back(video_card(library, theme, queue, store, *video));
    return cards;
}

Flex video_row(const Library& library, const Theme& theme, const IntentQueue& queue, const ImageStoreHandle& store,
               const Video& video) {
    const std::string& title = Library::display_title(video, crowd_titles(library));
    std::string meta = video_meta_line(video.views, video.published, video.live);
    const bool has_meta = !meta.empty();
    return Flex::row()
        .with_width(FlexSize::fill())
        .with_gap(10)
        .with_padding(6)
        .with_cross_align(FlexAlign::Start)
        .with_hover_background(Background::filled(theme.control_hover, theme.radius_input))
        .with_intent(queue, intent::OpenVideo{video.id})
        .with_label(fmt::format("Open video: {}", title))
        .child(Flex::column()
                   .with_width(FlexSize::px(160))
                   .child(video_thumbnail(library, store, video, kRowThumbnailHeight)))
        .child(Flex::column()
                   .with_grow(1)
                   .with_gap(4)
                   .child(label_text(title, 13))
                   .child(colored_label_text(video.channel_name, 12, theme.text_muted))
                   .child_if(has_meta, colored_label_text(std::move(meta), 11.5f, theme.text_muted)));
}

Flex video_grid(const Theme& theme, std::string id, std::vector<Flex> cards) {
    if (is_large_scale(theme)) {
        return Flex::column()
            .with_id(std::move(id))
            .with_width(FlexSize::fill())
            .with_gap(24)
            .children_from(std::move(cards));
    }
    return Flex::row()
        .with_id(std::move(id))
        .with_width(FlexSize::fill())
        .with_min_track(300)
        .with_gap(18)
        .with_cross_align(FlexAlign::Start)
        .children_from(std::move(cards));
}

Flex video_grid(const Theme& theme, std::vector<Flex> cards) { return video_grid(theme, "video_grid", std::move(cards)); }

Flex skeleton_grid(const Theme& theme, std::size_t count) {
    std::vector<Flex> cards;
    cards.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        cards.push_back(Flex::column()
                            .with_width(FlexSize::fill())
                            .with_gap(9)
                            .with_padding(6)
                            .child(is_large_scale(theme)
                                       ? filled_box(FlexSize::fill(), 169, theme.radius, theme)
                                             .with_height(FlexSize::automatic())
                                             .with_aspect_ratio(kPictureAspect)
                                       : filled_box(FlexSize::fill(), 169, theme.radius, theme))
                            .child(Flex::row()
                                       // Full width, so that the growing column of bars has room.
                                       .with_width(FlexSize::fill())
                                       .with_gap(10)
                                       .child(filled_box(FlexSize::px(36), 36, 18, theme))
                                       .child(Flex::column()
                                                  .with_grow(1)
                                                  .with_gap(7)
                                                  .child(filled_box(FlexSize::percent(0.92f), 12, 4, theme))
                                                  .child(filled_box(FlexSize::percent(0.60f), 11, 4, theme))
                                                  .child(filled_box(FlexSize::percent(0.40f), 11, 4, theme)))));
    }
    return video_grid(theme, std::move(cards));
}

// ---- playlists ----

Flex playlist_card(const Theme& theme, const IntentQueue& queue, const ImageStoreHandle& store,
                   const Playlist& playlist) {
    const std::string count = vorn_ui::format::compact_count(playlist.video_count);
    const Color white = Color::white();
    Flex badge = Flex::row()
                     .with_gap(5)
                     .with_padding_xy(8, 4)
                     .with_background(Background::filled(Color::rgba8(0, 0, 0, 200), 6))
                     .child(icon(kIconQueue, 12, white))
                     .child(colored_label_text(fmt::format("{} videos", count), 11, white));
    // A playlist has no duration of its own: its cover shows no time badge.
    Thumbnail picture =
        Thumbnail(playlist.seed, 0).with_height(kCardThumbnailHeight).with_time_badge(false).with_image(store, playlist.thumbnail_url);
    if (is_large_scale(theme)) picture = std::move(picture).with_aspect_ratio(kPictureAspect);
    Flex cover = Flex::column()
                     .with_width(FlexSize::fill())
                     .with_height(is_large_scale(theme) ? FlexSize::automatic() : FlexSize::px(kCardThumbnailHeight))
                     .child(std::move(picture))
                     .child(Flex::column()
                                .with_overlay(true)
                                .with_width(FlexSize::fill())
                                .with_height(FlexSize::fill())
                                .with_cross_align(FlexAlign::End)
                                .with_main_align(FlexAlign::End)
                                .with_padding(8)
                                .child(std::move(badge)));
    Flex details = Flex::row()
                       // Full width, so that the growing text column wraps at the card's width.
                       .with_width(FlexSize::fill())
                       .with_gap(10)
                       .child(icon(kIconQueue, 22, theme.accent))
                       .child(Flex::column()
                                  .with_grow(1)
                                  .with_gap(3)
                                  .child(label_text(playlist.title, 14.5f))
                                  .child(colored_label_text(fmt::format("{} • Playlist", playlist.channel_name), 12.5f,
                                                            theme.text_muted))
                                  .child(colored_label_text(fmt::format("{} videos", count), 12.5f, theme.text_muted)));
    // Full width: in a start-aligned column (the large-scale grid) an
    // automatic width would shrink the card to its content.
    return Flex::column()
        .with_id(fmt::format("playlist_card_{}", playlist.id))
        .with_width(FlexSize::fill())
        .with_gap(9)
        .with_padding(6)
        .with_hover_background(Background::filled(theme.control_hover, theme.radius))
        .with_intent(queue, intent::OpenPlaylist{playlist.id})
        .with_label(fmt::format("Open playlist: {}", playlist.title))
        .child(std::move(cover))
        .child(std::move(details));
}

std::vector<Flex> playlist_card(const Theme& theme, const IntentQueue& queue, const ImageStoreHandle& store,
                                std::span<const Playlist* const> playlists) {
    std::vector<Flex> cards;
    cards.reserve(playlists.size());
    for (const Playlist* p : playlists)
        if (p) cards.push_back(playlist_card(theme, queue, store, *p));
    return cards;
}

// ---- avatars ----

ChannelAvatar channel_avatar_for(const Library& library, const ImageStoreHandle& store, std::string_view channel_id,
                                 std::string_view channel_name, float size) {
    const Channel* channel = library.find_channel(channel_id);
    if (channel && !channel->avatar_url.empty()) return ChannelAvatar(store, channel->avatar_url, channel_name, size);
    return ChannelAvatar(std::nullopt, std::string(), channel_name, size);
}

ChannelAvatar small_avatar(std::string_view name) { return ChannelAvatar(std::nullopt, std::string(), name, 36); }

// ---- the player ----

vorn_ui::widget::video_player::PlayerSetting player_setting(std::string id, std::uint32_t kind, std::string label,
                                                            std::int64_t value, std::vector<std::string> options,
                                                            std::size_t selected) {
    const std::size_t index = options.empty() ? 0 : std::min(selected, options.size() - 1);
    return {std::move(id), kind, std::move(label), value, std::move(options), index};
}

}  // namespace sarn::screens
