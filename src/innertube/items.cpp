#include "items.h"

#include <array>

#include "sarn/innertube/display_text.h"
#include "sarn/innertube/parse.h"

namespace sarn::innertube::detail {
namespace {

bool contains(std::string_view text, std::string_view part) { return text.find(part) != std::string_view::npos; }

bool is_verified_badge(Element badge) {
    std::string_view style = str(badge["metadataBadgeRenderer"]["style"]);
    return contains(style, "VERIFIED");
}

bool any_verified(const Node& badges) {
    bool verified = false;
    for_each(badges, [&](Element badge) { verified = verified || is_verified_badge(badge); });
    return verified;
}

// Older layouts: videoRenderer, compactVideoRenderer, gridVideoRenderer,
// playlistVideoRenderer share most member names.
Video renderer_video(Element r) {
    Video v;
    v.id = std::string(str(r["videoId"]));
    v.title = text(r["title"]);
    if (v.title.empty()) v.title = text(r["headline"]);

    for (const char* key : {"ownerText", "longBylineText", "shortBylineText"}) {
        Byline owner = byline(r[key]);
        if (!owner.id.empty() || (!owner.name.empty() && v.channel_name.empty())) {
            v.channel_name = owner.name;
            v.channel_id = owner.id;
        }
        if (!owner.id.empty()) break;
    }
    if (auto avatar = r["channelThumbnailSupportedRenderers"]["channelThumbnailWithLinkRenderer"]["thumbnail"];
        present(avatar)) {
        v.channel_avatar_url = best_image(avatar);
    } else if (auto grid_avatar = r["channelThumbnail"]; present(grid_avatar)) {
        v.channel_avatar_url = best_image(grid_avatar);
    } else {
        v.channel_avatar_url = best_image(r["avatar"]["decoratedAvatarViewModel"]["avatar"]["avatarViewModel"]["image"]);
    }

    std::string views = text(r["viewCountText"]);
    std::string published = text(r["publishedTimeText"]);
    if (auto info = r["videoInfo"]; present(info)) {
        // playlistVideoRenderer: "2.6m views", " • ", "11 years ago"
        for_each(info["runs"], [&](Element run) {
            std::string_view part = str(run["text"]);
            if (contains(part, "view") || contains(part, "watching")) views = std::string(part);
            else if (contains(part, "ago") || part.starts_with("Streamed") || part.starts_with("Premiere")) published = std::string(part);
        });
    }
    v.views = parse_count(views).value_or(0);
    v.published = std::move(published);

    std::optional<std::uint32_t> duration;
    if (auto seconds = str(r["lengthSeconds"]); !seconds.empty()) duration = parse_duration(seconds);
    if (!duration) duration = parse_duration(text(r["lengthText"]));
    for_each(r["thumbnailOverlays"], [&](Element overlay) {
        auto status = overlay["thumbnailOverlayTimeStatusRenderer"];
        if (!present(status)) return;
        if (!duration) duration = parse_duration(text(status["text"]));
        if (str(status["style"]) == "LIVE") v.live = true;
    });
    v.duration = duration.value_or(0);

    if (auto snippet = r["detailedMetadataSnippets"].at(0)["snippetText"]; present(snippet)) {
        v.description = text(snippet);
    } else {
        v.description = text(r["descriptionSnippet"]);
    }
    for_each(r["badges"], [&](Element badge) {
        if (str(badge["metadataBadgeRenderer"]["style"]) == "BADGE_STYLE_TYPE_LIVE_NOW") v.live = true;
    });
    if (contains(views, "watching")) v.live = true;
    return v;
}

bool looks_like_views(std::string_view part) {
    return part.ends_with("views") || part.ends_with("view") || contains(part, "watching");
}

bool looks_like_date(std::string_view part) {
    return contains(part, " ago") || part.starts_with("Streamed") || part.starts_with("Premiere") ||
           part.starts_with("Scheduled") || part.starts_with("Updated");
}

// Newer layout: lockupViewModel with contentType LOCKUP_CONTENT_TYPE_VIDEO.
std::optional<Video> lockup_video(Element l) {
    Video v;
    v.id = std::string(str(l["contentId"]));
    auto meta = l["metadata"]["lockupMetadataViewModel"];
    v.title = text(meta["title"]);

    auto avatar = meta["image"]["decoratedAvatarViewModel"];
    bool has_avatar = present(avatar);
    if (has_avatar) {
        v.channel_avatar_url = best_image(avatar["avatar"]["avatarViewModel"]["image"]);
        v.channel_id = std::string(browse_id(avatar["rendererContext"]["commandContext"]));
    }

    bool channel_taken = false;
    for_each(meta["metadata"]["contentMetadataViewModel"]["metadataRows"], [&](Element row) {
        for_each(row["metadataParts"], [&](Element part) {
            auto part_text = part["text"];
            std::string content(str(part_text["content"]));
            if (content.empty()) return;
            if (looks_like_views(content)) {
                v.views = parse_count(content).value_or(0);
                if (contains(content, "watching")) v.live = true;
            } else if (looks_like_date(content)) {
                v.published = content;
            } else if (!channel_taken) {
                std::string_view id;
                for_each(part_text["commandRuns"], [&](Element run) {
                    if (id.empty()) id = browse_id(wrap(run));
                });
                if (has_avatar || !id.empty()) {
                    v.channel_name = content;
                    if (!id.empty()) v.channel_id = std::string(id);
                    channel_taken = true;
                }
            }
        });
    });

    auto badges_of = [&](const Node& overlay_list) {
        for_each(overlay_list, [&](Element overlay) {
            auto visit = [&](Element badge) {
                auto model = badge["thumbnailBadgeViewModel"];
                std::string_view label = str(model["text"]);
                if (auto seconds = parse_duration(label)) v.duration = *seconds;
                if (label == "LIVE" || contains(str(model["badgeStyle"]), "LIVE")) v.live = true;
            };
            for_each(overlay["thumbnailBottomOverlayViewModel"]["badges"], visit);
            for_each(overlay["thumbnailOverlayBadgeViewModel"]["thumbnailBadges"], visit);
        });
    };
    badges_of(l["contentImage"]["thumbnailViewModel"]["overlays"]);
    return v;
}

Playlist renderer_playlist(Element r) {
    Playlist p;
    p.id = std::string(str(r["playlistId"]));
    p.title = text(r["title"]);
    Byline owner = byline(r["longBylineText"]);
    if (owner.id.empty()) owner = byline(r["shortBylineText"]);
    p.channel_id = owner.id;
    p.channel_name = owner.name;
    if (auto first = r["thumbnails"].at(0); present(first)) p.thumbnail_url = best_image(first);
    else p.thumbnail_url = best_image(r["thumbnail"]);
    std::string count(str(r["videoCount"]));
    if (count.empty()) count = text(r["videoCountText"]);
    p.video_count = parse_count(count).value_or(0);
    return p;
}

Playlist lockup_playlist(Element l) {
    Playlist p;
    p.id = std::string(str(l["contentId"]));
    auto meta = l["metadata"]["lockupMetadataViewModel"];
    p.title = text(meta["title"]);
    bool owner_found = false;
    for_each(meta["metadata"]["contentMetadataViewModel"]["metadataRows"], [&](Element row) {
        for_each(row["metadataParts"], [&](Element part) {
            if (owner_found) return;
            for_each(part["text"]["commandRuns"], [&](Element run) {
                if (owner_found) return;
                std::string_view id = browse_id(wrap(run));
                if (!id.empty()) {
                    p.channel_id = std::string(id);
                    p.channel_name = std::string(str(part["text"]["content"]));
                    owner_found = true;
                }
            });
        });
    });
    auto image = l["contentImage"]["collectionThumbnailViewModel"]["primaryThumbnail"]["thumbnailViewModel"];
    if (!present(image)) image = l["contentImage"]["thumbnailViewModel"];
    p.thumbnail_url = best_image(image["image"]);
    for_each(image["overlays"], [&](Element overlay) {
        auto visit = [&](Element badge) {
            std::string_view label = str(badge["thumbnailBadgeViewModel"]["text"]);
            if (contains(label, "video") || contains(label, "episode")) {
                p.video_count = parse_count(label).value_or(p.video_count);
            }
        };
        for_each(overlay["thumbnailOverlayBadgeViewModel"]["thumbnailBadges"], visit);
        for_each(overlay["thumbnailBottomOverlayViewModel"]["badges"], visit);
    });
    return p;
}

}  // namespace

void finish_video(Video& video) {
    video.seed = video.id;
    video.thumbnail_url = video_thumbnail_url(video.id);
    video.category = "Search";
    video.dearrow_title.reset();
    video.dearrow_thumb = false;
    video.likes = 0;
    if (video.channel_id.empty() && video.channel_name.empty()) video.channel_avatar_url.clear();
    if (video.channel_name.empty()) video.channel_name = "Unknown";
    video.channel_seed = video.channel_id;
}

std::optional<Video> video_item(Element item) {
    std::optional<Video> out;
    if (auto r = item["videoRenderer"]; present(r)) out = renderer_video(r.value_unsafe());
    else if (auto c = item["compactVideoRenderer"]; present(c)) out = renderer_video(c.value_unsafe());
    else if (auto g = item["gridVideoRenderer"]; present(g)) out = renderer_video(g.value_unsafe());
    else if (auto p = item["playlistVideoRenderer"]; present(p)) out = renderer_video(p.value_unsafe());
    else if (auto l = item["lockupViewModel"]; present(l) && str(l["contentType"]) == "LOCKUP_CONTENT_TYPE_VIDEO") {
        out = lockup_video(l.value_unsafe());
    }
    if (!out || out->id.empty()) return std::nullopt;
    finish_video(*out);
    return out;
}

std::optional<Channel> channel_item(Element item) {
    auto r = item["channelRenderer"];
    if (!present(r)) return std::nullopt;
    Channel c;
    c.id = std::string(str(r["channelId"]));
    if (c.id.empty()) return std::nullopt;
    c.name = text(r["title"]);
    // The subscriber count and the handle swap places between layouts: the
    // newer answers put the handle in subscriberCountText.
    std::string subscribers_text = text(r["subscriberCountText"]);
    std::string video_count_text = text(r["videoCountText"]);
    for (const std::string& candidate : {subscribers_text, video_count_text}) {
        if (candidate.starts_with("@") && c.handle.empty()) c.handle = candidate;
        else if (contains(candidate, "subscriber") && c.subscribers == 0) c.subscribers = parse_count(candidate).value_or(0);
    }
    if (c.handle.empty()) {
        std::string_view base = str(r["navigationEndpoint"]["browseEndpoint"]["canonicalBaseUrl"]);
        if (base.starts_with("/@")) c.handle = std::string(base.substr(1));
    }
    if (c.handle.empty()) c.handle = c.id;
    c.description = text(r["descriptionSnippet"]);
    c.seed = c.id;
    c.avatar_url = best_image(r["thumbnail"]);
    c.verified = any_verified(r["ownerBadges"]);
    return c;
}

std::optional<Playlist> playlist_item(Element item) {
    std::optional<Playlist> out;
    if (auto r = item["playlistRenderer"]; present(r)) out = renderer_playlist(r.value_unsafe());
    else if (auto l = item["lockupViewModel"]; present(l)) {
        std::string_view type = str(l["contentType"]);
        if (type == "LOCKUP_CONTENT_TYPE_PLAYLIST" || type == "LOCKUP_CONTENT_TYPE_PODCAST") {
            out = lockup_playlist(l.value_unsafe());
        }
    }
    if (!out || out->id.empty()) return std::nullopt;
    if (out->channel_name.empty()) {
        out->channel_id.clear();
        out->channel_name = "Unknown";
    }
    out->seed = out->id;
    return out;
}

namespace {

// Containers that hold feed items. Anything else (shorts shelves, ads,
// chips, headers) is not entered.
constexpr std::array<std::string_view, 20> kFeedContainers{
    "contents", "content", "items", "tabs", "tabRenderer", "richGridRenderer", "richItemRenderer",
    "sectionListRenderer", "itemSectionRenderer", "shelfRenderer", "gridRenderer",
    "expandedShelfContentsRenderer", "horizontalListRenderer", "verticalListRenderer",
    "playlistVideoListRenderer", "continuationItems", "onResponseReceivedActions",
    "appendContinuationItemsAction", "reloadContinuationItemsCommand", "twoColumnBrowseResultsRenderer",
};

// A fixed bound on how far containers nest keeps hostile answers cheap.
constexpr int kMaxFeedDepth = 24;

void walk_feed(Element at, int depth, std::vector<Video>& out) {
    if (depth > kMaxFeedDepth) return;
    simdjson::dom::array array;
    if (at.get_array().get(array) == simdjson::SUCCESS) {
        for (Element entry : array) walk_feed(entry, depth + 1, out);
        return;
    }
    simdjson::dom::object object;
    if (at.get_object().get(object) != simdjson::SUCCESS) return;
    if (auto video = video_item(at)) {
        out.push_back(std::move(*video));
        return;
    }
    for (auto field : object) {
        for (std::string_view name : kFeedContainers) {
            if (field.key == name) {
                walk_feed(field.value, depth + 1, out);
                break;
            }
        }
    }
}

}  // namespace

void collect_videos(Element node, std::vector<Video>& out) { walk_feed(node, 0, out); }

}  // namespace sarn::innertube::detail
