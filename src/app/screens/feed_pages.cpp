// The feed pages. Each reads the Library as it is at the moment of the build
// and arranges the screen building blocks into one page column.
//
// The id lists (queue, subscriptions, history) may name records the Library
// does not hold yet: the live app starts with an empty catalogue while the
// lists come from the shared document, the owner-local history and paired
// devices. So the pages decide "empty", count and offer list-wide actions by
// the lists themselves, show the entries that resolve, and name how many do
// not yet.
#include "sarn/app/screens/feed_pages.h"

#include <algorithm>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "sarn/app/screens/blocks.h"
#include "sarn/app/screens/shell.h"

namespace sarn::screens {

using vorn_ui::Theme;
using vorn_ui::widget::scrollable::Scrollable;
using widgets::Background;
using widgets::FlexAlign;

namespace {

constexpr std::uint16_t kIconHome = vorn_ui::icons::code(vorn_ui::icons::Icon::Home);                    // 27
constexpr std::uint16_t kIconTrending = vorn_ui::icons::code(vorn_ui::icons::Icon::Trending);            // 58
constexpr std::uint16_t kIconSubscriptions = vorn_ui::icons::code(vorn_ui::icons::Icon::Subscriptions);  // 59
constexpr std::uint16_t kIconHistory = vorn_ui::icons::code(vorn_ui::icons::Icon::History);              // 60
constexpr std::uint16_t kIconTrash = vorn_ui::icons::code(vorn_ui::icons::Icon::Trash);                  // 78

constexpr std::size_t kHomeSkeletonCards = 12;
constexpr float kPagePadding = 24.0f;
constexpr float kQueuePageMaxWidth = 920.0f;
constexpr double kQueueListMaxWidth = 920.0;
// The widest a fixed-width column of the queue page can be: the page's width
// inside its padding. The list width alone may pass it by 48 in a wide page.
constexpr float kQueueColumnMaxWidth = kQueuePageMaxWidth - 2 * kPagePadding;
constexpr float kHistoryMaxWidth = 820.0f;

// The frame of Home, Trending, Subscriptions and History.
Flex feed_frame() { return Flex::column().with_width(FlexSize::fill()).with_padding(kPagePadding).with_gap(18); }

std::vector<const Video*> all_videos(const Library& library) {
    std::vector<const Video*> out;
    out.reserve(library.videos.size());
    for (const Video& video : library.videos) out.push_back(&video);
    return out;
}

// The line under a list whose entries do not all resolve to records.
Text missing_line(const Theme& theme, std::string text) {
    return colored_label_text(std::move(text), 12.5f, theme.text_muted);
}

// ---- home ----

Flex home_content(const PageContext& cx) {
    const Library& library = cx.library;
    const Theme& theme = cx.theme();
    if (!library.videos.empty()) {
        return video_grid(theme, "video_grid", video_card(library, theme, cx.intents, cx.images, all_videos(library)));
    }
    // Loading before the error and offline states: going back to an empty
    // Home asks for the feed again (the root sets the loading flag and clears
    // the error), and the page then shows that the feed is on its way.
    if (library.home_loading) return skeleton_grid(theme, kHomeSkeletonCards);
    if (library.home_error) return empty_state(theme, "Home refresh delayed", *library.home_error);
    if (lowercase(library.status.text).find("offline") != std::string::npos) {
        return empty_state(theme, "You're offline",
                           "Reconnect, then search or return Home to load videos. Your subscriptions and watch "
                           "history remain available.");
    }
    return empty_state(theme, "Nothing to show yet",
                       "Search for something, or check back when the trending feed loads.");
}

// ---- subscriptions ----

Flex channel_tile(const PageContext& cx, const Channel& channel) {
    const Theme& theme = cx.theme();
    return Flex::column()
        .with_width(FlexSize::px(96))
        .with_gap(6)
        .with_padding(6)
        .with_cross_align(FlexAlign::Center)
        .with_hover_background(Background::filled(theme.control_hover, theme.radius))
        .with_intent(cx.intents, intent::OpenCreator{channel.id})
        .with_label(fmt::format("Open creator: {}", channel.name))
        .child(channel_avatar_for(cx.library, cx.images, channel.id, channel.name, 56))
        // A name that wraps stays centred under the avatar.
        .child(colored_label_text(channel.name, 11.5f, theme.text).with_align(vorn_ui::TextAlign::Center));
}

// ---- queue ----

Flex queue_heading(const Theme& theme, std::size_t count, float list_width) {
    if (!is_large_scale(theme)) {
        return Flex::column()
            .with_id("queue_heading")
            .with_width(FlexSize::fill())
            .with_gap(8)
            .child(page_header(theme, kIconQueue, "Shared queue",
                               fmt::format("{} saved video{}", count, count == 1 ? "" : "s")))
            .child(colored_label_text("Shared membership; each person controls local playback order.", 13,
                                      theme.text_muted));
    }
    auto line = [&](std::string text, std::string id) {
        return Flex::row()
            .with_width(FlexSize::fill())
            .child(colored_label_text(std::move(text), 13, theme.text_muted).with_id(std::move(id)));
    };
    return Flex::column()
        .with_id("queue_heading")
        .with_width(FlexSize::px(list_width))
        .with_max_width(kQueueColumnMaxWidth)
        .with_gap(8)
        .child(Flex::row()
                   .with_gap(10)
                   .with_cross_align(FlexAlign::Center)
                   .child(icon(kIconQueue, 22, theme.accent))
                   .child(label_text("Shared queue", 21).with_id("queue_heading_title")))
        .child(line(fmt::format("{} saved", count), "queue_heading_count"))
        .child(sized_box(1, 8))
        .child(line("Membership is shared.", "queue_heading_membership"))
        .child(line("Playback order stays local.", "queue_heading_order"));
}

Flex queue_empty(const Theme& theme, float list_width) {
    if (!is_large_scale(theme)) {
        return empty_state(theme, "Your shared queue is empty",
                           "Add a video from its watch page. Queue membership syncs with collaborators when a "
                           "collaboration host is available.")
            .with_id("queue_empty_state");
    }
    // Centred under the mark like the column's other content, also when a
    // line wraps.
    auto line = [](Text text) {
        return Flex::row()
            .with_width(FlexSize::fill())
            .with_main_align(FlexAlign::Center)
            .child(std::move(text).with_align(vorn_ui::TextAlign::Center));
    };
    return Flex::column()
        .with_id("queue_empty_state")
        .with_width(FlexSize::px(list_width))
        .with_max_width(kQueueColumnMaxWidth)
        .with_gap(12)
        .with_padding(48)
        .with_cross_align(FlexAlign::Center)
        .child(icon(kIconEmpty, 40, theme.text_muted))
        .child(line(label_text("Queue empty", 18).with_id("queue_empty_title")))
        .child(
            line(colored_label_text("Add from a video's watch page.", 13, theme.text_muted).with_id("queue_empty_add")))
        .child(line(
            colored_label_text("Sync needs a collaboration host.", 13, theme.text_muted).with_id("queue_empty_sync")));
}

}  // namespace

Scrollable home_page(const PageContext& cx) {
    return scroll_page(
        feed_frame().child(page_header(cx.theme(), kIconHome, "Home", "Recent and popular")).child(home_content(cx)));
}

Scrollable trending_page(const PageContext& cx) {
    std::vector<const Video*> sorted = all_videos(cx.library);
    std::stable_sort(sorted.begin(), sorted.end(), [](const Video* a, const Video* b) { return a->views > b->views; });
    return scroll_page(feed_frame()
                           .child(page_header(cx.theme(), kIconTrending, "Trending", "Most-watched right now"))
                           .child(video_grid(cx.theme(), "video_grid",
                                             video_card(cx.library, cx.theme(), cx.intents, cx.images, sorted))));
}

Scrollable subscriptions_page(const PageContext& cx) {
    const Library& library = cx.library;
    const Theme& theme = cx.theme();

    // Tiles hang from the top, so that their avatars line up whatever the
    // length of the names below them.
    Flex strip =
        Flex::row().with_width(FlexSize::fill()).with_gap(18).with_wrap(true).with_cross_align(FlexAlign::Start);
    std::size_t tiles = 0;
    // An entry may be a channel id, a handle or a channel's address (as
    // device sync stores them): each shows its channel's tile once known.
    for (const std::string& entry : library.subscriptions) {
        if (const Channel* channel = library.subscription_channel(entry)) {
            strip = std::move(strip).child(channel_tile(cx, *channel));
            ++tiles;
        }
    }
    const std::size_t missing = library.subscriptions.size() - tiles;

    Flex uploads = Flex::column();
    const std::vector<const Video*> videos = library.subscribed_videos();
    if (!videos.empty()) {
        uploads = video_grid(theme, "video_grid", video_card(library, theme, cx.intents, cx.images, videos));
    } else if (library.subscriptions.empty()) {
        uploads =
            empty_state(theme, "No subscriptions yet", "Subscribe to channels and their latest uploads land here.");
    } else {
        uploads = empty_state(theme, "Uploads not loaded yet",
                              "The latest uploads of your subscribed channels land here once their channels load.");
    }

    return scroll_page(
        feed_frame()
            .child(page_header(theme, kIconSubscriptions, "Subscriptions",
                               fmt::format("{} channels", library.subscriptions.size())))
            // Without tiles the strip would only double the gap below the header.
            .child_if(tiles > 0, std::move(strip))
            .child_if(
                missing > 0,
                missing_line(theme,
                             fmt::format("{} subscribed channel(s) need metadata before they can be shown.", missing)))
            .child(divider(theme))
            .child(label_text("Latest from your subscriptions", 16))
            .child(std::move(uploads)));
}

Scrollable queue_page(const PageContext& cx, double content_width) {
    const Library& library = cx.library;
    const Theme& theme = cx.theme();
    const float list_width = static_cast<float>(std::min(std::max(content_width - 64.0, 1.0), kQueueListMaxWidth));

    std::vector<const Video*> resolved;
    for (const std::string& id : library.queue) {
        if (const Video* video = library.find_video(id)) resolved.push_back(video);
    }
    const std::size_t missing = library.queue.size() - resolved.size();

    Flex list = Flex::column().with_width(FlexSize::fill()).with_gap(10);
    if (resolved.empty()) {
        list = std::move(list).child(queue_empty(theme, list_width));
    } else {
        for (const Video* video : resolved) {
            list = std::move(list).child(Flex::column()
                                             .with_width(FlexSize::fill())
                                             .with_gap(8)
                                             .child(video_row(library, theme, cx.intents, cx.images, *video))
                                             .child(queue_toggle_button(library, theme, video->id)));
        }
    }
    if (missing > 0) {
        list = std::move(list).child(
            missing_line(theme, fmt::format("{} queued item(s) need metadata before they can be shown.", missing)));
    }

    return scroll_page(Flex::column()
                           .with_id("queue_page")
                           .with_width(FlexSize::fill())
                           .with_max_width(kQueuePageMaxWidth)
                           .with_padding(kPagePadding)
                           .with_gap(18)
                           .child(queue_heading(theme, library.queue.size(), list_width))
                           .child(std::move(list)));
}

Scrollable history_page(const PageContext& cx) {
    const Library& library = cx.library;
    const Theme& theme = cx.theme();
    const bool has_history = !library.history.empty();

    Flex list = Flex::column().with_width(FlexSize::fill()).with_gap(8);
    if (!has_history) {
        list = std::move(list).child(empty_state(theme, "Nothing watched yet", "Videos you watch show up here."));
    } else {
        const std::vector<const Video*> videos = library.history_videos();
        for (const Video* video : videos) {
            list = std::move(list).child(video_row(library, theme, cx.intents, cx.images, *video));
        }
        const std::size_t missing = library.history.size() - videos.size();
        if (missing > 0) {
            list = std::move(list).child(missing_line(
                theme, fmt::format("{} watched item(s) need metadata before they can be shown.", missing)));
        }
    }
    if (library.history_notice) {
        list = std::move(list).child(empty_state(theme, "History recovery needed", *library.history_notice));
    }

    Flex header =
        Flex::row()
            .with_width(FlexSize::fill())
            .with_gap(12)
            .with_cross_align(FlexAlign::Center)
            .child(Flex::row().with_grow(1).child(page_header(theme, kIconHistory, "Watch history",
                                                              "Private to this profile — syncs across your devices")));
    if (has_history) {
        header = std::move(header).child(
            pill_button(theme, cx.intents, kIconTrash, "Clear history", intent::ClearHistory{}, false));
    }

    return scroll_page(feed_frame().with_max_width(kHistoryMaxWidth).child(std::move(header)).child(std::move(list)));
}

}  // namespace sarn::screens
