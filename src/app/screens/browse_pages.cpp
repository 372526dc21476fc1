// The creator, playlist and search result pages. Each shows what the Library
// holds for its route payload at the moment of the build; the fetches behind
// them were started when the route was entered.
#include "sarn/app/screens/browse_pages.h"

#include <algorithm>
#include <cctype>
#include <optional>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "sarn/app/format.h"
#include "sarn/app/screens/blocks.h"
#include "sarn/app/screens/shell.h"
#include "sarn/app/widgets/image_box.h"
#include "vorn_ui/format.h"

namespace sarn::screens {

using vorn_ui::Color;
using vorn_ui::Theme;
using vorn_ui::widget::scrollable::Scrollable;
using widgets::Background;
using widgets::FlexAlign;
using widgets::ImageBox;
using widgets::Thumbnail;

namespace {

constexpr std::uint16_t kIconCheck = vorn_ui::icons::code(vorn_ui::icons::Icon::Check);  // 73
constexpr std::uint16_t kIconPlay = vorn_ui::icons::code(vorn_ui::icons::Icon::Play);    // 74

constexpr std::size_t kSearchSkeletonCards = 8;
constexpr float kBannerHeight = 160.0f;
constexpr float kCoverWidth = 240.0f;
constexpr float kCoverHeight = 135.0f;
constexpr float kSparseResultWidth = 440.0f;

// The page of a route whose record the Library lacks.
Scrollable missing_record_page(const Theme& theme, std::string_view title) {
    return scroll_page(
        Flex::column().with_width(FlexSize::fill()).with_padding(24).child(empty_state(theme, title, "")));
}

// A name with its verified mark; the row spans its column so that a long
// name wraps at the column's width.
Flex name_row(const Theme& theme, const Channel& channel, float name_size, float mark_size, float gap) {
    return Flex::row()
        .with_width(FlexSize::fill())
        .with_gap(gap)
        .with_cross_align(FlexAlign::Center)
        .child(label_text(channel.name, name_size))
        .child_if(channel.verified, icon(kIconVerified, mark_size, theme.text_muted));
}

// ---- search ----

struct TypeChip {
    std::string_view label;
    intent::ResultType type;
    bool selected;
};

Flex type_chip(const PageContext& cx, const TypeChip& chip) {
    const Theme& theme = cx.theme();
    std::string id = "type_chip_";
    for (char c : chip.label) id.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
    const Color text = chip.selected ? contrast_text_color(theme.selection) : theme.text;
    return Flex::row()
        .with_id(std::move(id))
        .with_padding_xy(14, 7)
        .with_cross_align(FlexAlign::Center)
        .with_background(Background::filled(chip.selected ? theme.selection : theme.control, theme.radius_control))
        .with_hover_background(
            Background::filled(chip.selected ? theme.selection_hover : theme.control_hover, theme.radius_control))
        .with_intent(cx.intents, intent::ToggleResultType{chip.type})
        .with_label(std::string(chip.label))
        .child(colored_label_text(chip.label, 13, text));
}

Flex creator_card(const PageContext& cx, const Channel& channel) {
    const Theme& theme = cx.theme();
    const bool show_handle = !channel.handle.empty() && channel.handle != channel.id;
    const std::optional<std::string> subscribers = subscriber_count_text(channel.subscribers);
    std::string meta;
    if (show_handle && subscribers) {
        meta = fmt::format("{} • {}", channel.handle, *subscribers);
    } else if (show_handle) {
        meta = channel.handle;
    } else if (subscribers) {
        meta = *subscribers;
    }
    const bool has_meta = !meta.empty();
    return Flex::row()
        .with_id(fmt::format("creator_card_{}", channel.id))
        .with_width(FlexSize::fill())
        .with_gap(14)
        .with_padding(8)
        .with_cross_align(FlexAlign::Center)
        .with_hover_background(Background::filled(theme.control_hover, theme.radius_input))
        .with_intent(cx.intents, intent::OpenCreator{channel.id})
        .with_label(fmt::format("Open creator: {}", channel.name))
        .child(channel_avatar_for(cx.library, cx.images, channel.id, channel.name, 56))
        .child(Flex::column()
                   .with_grow(1)
                   .with_gap(3)
                   .child(name_row(theme, channel, 16, 14, 6))
                   .child_if(has_meta, colored_label_text(std::move(meta), 12.5f, theme.text_muted)))
        .child(pill_button(theme, cx.intents, std::nullopt, "View", intent::OpenCreator{channel.id}, false));
}

}  // namespace

Scrollable channel_page(const PageContext& cx, std::string_view channel_id) {
    const Library& library = cx.library;
    const Theme& theme = cx.theme();
    const Channel* channel = library.find_channel(channel_id);
    if (!channel) return missing_record_page(theme, "Channel not found");

    const std::optional<std::string> subscribers = subscriber_count_text(channel->subscribers);
    std::string line = subscribers ? fmt::format("{}  •  {}", channel->handle, *subscribers) : channel->handle;

    const bool subscribed = library.is_subscribed(channel->id);
    Flex subscribe =
        subscribed
            ? pill_button(theme, cx.intents, kIconCheck, "Subscribed", intent::ToggleSubscription{channel->id}, false)
            : pill_button(theme, cx.intents, std::nullopt, "Subscribe", intent::ToggleSubscription{channel->id}, true);

    Flex header = Flex::row()
                      .with_width(FlexSize::fill())
                      .with_gap(18)
                      .with_cross_align(FlexAlign::Center)
                      .child(channel_avatar_for(library, cx.images, channel->id, channel->name, 86))
                      .child(Flex::column()
                                 .with_grow(1)
                                 .with_gap(5)
                                 .child(name_row(theme, *channel, 26, 18, 8))
                                 .child(colored_label_text(std::move(line), 13.5f, theme.text_muted))
                                 .child(colored_label_text(channel->description, 13, theme.text_muted)))
                      .child(std::move(subscribe));

    const std::vector<const Video*> uploads = library.videos_of_channel(channel->id);
    return scroll_page(
        Flex::column()
            .with_width(FlexSize::fill())
            .with_padding(24)
            .with_gap(18)
            .child(ImageBox(channel->seed, std::nullopt, kBannerHeight, theme.radius)
                       .with_image(cx.images, channel->banner_url))
            .child(std::move(header))
            .child(divider(theme))
            .child(label_text("Videos", 16))
            .child(video_grid(theme, "video_grid", video_card(library, theme, cx.intents, cx.images, uploads))));
}

Scrollable playlist_page(const PageContext& cx, std::string_view playlist_id) {
    const Library& library = cx.library;
    const Theme& theme = cx.theme();
    const Playlist* playlist = library.find_playlist(playlist_id);
    if (!playlist) return missing_record_page(theme, "Playlist unavailable");

    std::vector<const Video*> resolved;
    for (const std::string& id : playlist->video_ids) {
        if (const Video* video = library.find_video(id)) resolved.push_back(video);
    }

    // A playlist has no duration of its own: its cover shows no time badge.
    Flex cover = Flex::column()
                     .with_width(FlexSize::px(kCoverWidth))
                     .child(Thumbnail(playlist->seed, 0)
                                .with_height(kCoverHeight)
                                .with_time_badge(false)
                                .with_image(cx.images, playlist->thumbnail_url));
    Flex info = Flex::column()
                    .with_grow(1)
                    .with_gap(8)
                    .with_cross_align(FlexAlign::Start)
                    .child(label_text(playlist->title, 26))
                    .child(colored_label_text(fmt::format("{}  •  {} videos", playlist->channel_name,
                                                          vorn_ui::format::compact_count(playlist->video_count)),
                                              13.5f, theme.text_muted));
    if (!resolved.empty()) {
        info = std::move(info).child(
            pill_button(theme, cx.intents, kIconPlay, "Play all", intent::OpenVideo{resolved.front()->id}, true)
                .with_id("playlist_play"));
    }

    Flex list = Flex::column().with_width(FlexSize::fill()).with_gap(8);
    if (resolved.empty()) {
        list = std::move(list).child(empty_state(theme, "Loading playlist…", "Fetching the playlist's videos."));
    } else {
        for (const Video* video : resolved) {
            list = std::move(list).child(video_row(library, theme, cx.intents, cx.images, *video));
        }
    }

    return scroll_page(Flex::column()
                           .with_id("playlist_page")
                           .with_width(FlexSize::fill())
                           .with_padding(24)
                           .with_gap(18)
                           .child(Flex::row()
                                      .with_width(FlexSize::fill())
                                      .with_gap(18)
                                      .with_cross_align(FlexAlign::Start)
                                      .child(std::move(cover))
                                      .child(std::move(info)))
                           .child(divider(theme))
                           .child(label_text("Videos", 16))
                           .child(std::move(list)));
}

Scrollable search_page(const PageContext& cx, std::string_view query) {
    const Library& library = cx.library;
    const Theme& theme = cx.theme();
    const SearchTypeFilter& filter = library.search_filter;

    std::vector<const Video*> videos;
    std::vector<const Playlist*> playlists;
    std::vector<const Channel*> creators;
    if (filter.video) videos = library.search_results(query);
    if (filter.playlist) playlists = library.search_result_playlist_records(query);
    if (filter.creator) creators = library.search_result_channel_records(query);
    const std::size_t total = videos.size() + playlists.size() + creators.size();

    Flex chips = Flex::row().with_id("search_type_chips").with_width(FlexSize::fill()).with_gap(8).with_wrap(true);
    for (const TypeChip& chip : {TypeChip{"Video", intent::ResultType::Videos, filter.video},
                                 TypeChip{"Playlist", intent::ResultType::Playlists, filter.playlist},
                                 TypeChip{"Creator", intent::ResultType::Creators, filter.creator}}) {
        chips = std::move(chips).child(type_chip(cx, chip));
    }

    const bool blank = lowercase(query).empty();
    Flex body = Flex::column();
    if (library.search_loading) {
        body = skeleton_grid(theme, kSearchSkeletonCards);
    } else if (library.search_error) {
        body = empty_state(theme, "Search delayed", *library.search_error);
    } else if (blank) {
        body = empty_state(theme, "Search Sarn", "Type a query above to find videos, playlists and creators.");
    } else if (total == 0) {
        body = empty_state(theme, "No results", "Nothing matched that search — try different words or filters.");
    } else {
        body = Flex::column().with_width(FlexSize::fill()).with_gap(18);
        if (!creators.empty()) {
            Flex column = Flex::column().with_id("creator_results").with_width(FlexSize::fill()).with_gap(8);
            for (const Channel* channel : creators) column = std::move(column).child(creator_card(cx, *channel));
            body = std::move(body).child(std::move(column));
        }
        if (!playlists.empty()) {
            body = std::move(body).child(
                video_grid(theme, "playlist_grid", playlist_card(theme, cx.intents, cx.images, playlists)));
        }
        if (!videos.empty()) {
            if (total == 1) {
                body = std::move(body).child(
                    Flex::row()
                        .with_id("sparse_video_result")
                        .with_width(FlexSize::fill())
                        .with_main_align(FlexAlign::Center)
                        // Narrower where the page has less room (a window of 480 at
                        // scale 1.5 and more), rather than reaching past its edge.
                        .child(Flex::column()
                                   .with_width(FlexSize::px(kSparseResultWidth))
                                   .with_shrink(1)
                                   .child(video_card(library, theme, cx.intents, cx.images, *videos.front()))));
            } else {
                body = std::move(body).child(
                    video_grid(theme, "video_grid", video_card(library, theme, cx.intents, cx.images, videos)));
            }
        }
    }

    const bool summary = !library.search_loading && !library.search_error && !blank && total > 0;
    Flex page = Flex::column().with_width(FlexSize::fill()).with_padding(24).with_gap(18).child(std::move(chips));
    if (summary) {
        page = std::move(page).child(
            Flex::column()
                .with_id("search_results_summary")
                .with_gap(3)
                .child(label_text("Search results", 20))
                .child(colored_label_text(fmt::format("{} {} shown", total, total == 1 ? "result" : "results"), 13,
                                          theme.text_muted)));
    }
    return scroll_page(std::move(page).child(std::move(body)));
}

}  // namespace sarn::screens
