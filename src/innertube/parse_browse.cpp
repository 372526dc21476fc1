#include <fmt/format.h>

#include "items.h"
#include "sarn/innertube/display_text.h"
#include "sarn/innertube/parse.h"

namespace sarn::innertube {

using namespace detail;

namespace {

std::string alert_error(Element doc) {
    std::string message;
    for_each(doc["alerts"], [&](Element alert) {
        for (const char* kind : {"alertRenderer", "alertWithButtonRenderer"}) {
            auto r = alert[kind];
            if (message.empty() && present(r) && str(r["type"]) == "ERROR") message = text(r["text"]);
        }
    });
    return message;
}

bool has_browse_contents(Element doc) {
    return present(doc["contents"]) || present(doc["onResponseReceivedActions"]);
}

// The header of a channel page, newer (pageHeaderViewModel) or older
// (c4TabbedHeaderRenderer) layout, completed from channelMetadataRenderer.
Channel channel_header(Element doc) {
    Channel c;
    auto meta = doc["metadata"]["channelMetadataRenderer"];
    c.id = std::string(str(meta["externalId"]));
    c.name = std::string(str(meta["title"]));
    c.description = std::string(str(meta["description"]));
    c.avatar_url = best_image(meta["avatar"]);

    auto old = doc["header"]["c4TabbedHeaderRenderer"];
    if (present(old)) {
        if (c.id.empty()) c.id = std::string(str(old["channelId"]));
        if (c.name.empty()) c.name = std::string(str(old["title"]));
        if (c.avatar_url.empty()) c.avatar_url = best_image(old["avatar"]);
        c.subscribers = parse_count(text(old["subscriberCountText"])).value_or(0);
        std::string handle = text(old["channelHandleText"]);
        if (handle.starts_with("@")) c.handle = handle;
        for_each(old["badges"], [&](Element badge) {
            c.verified = c.verified || str(badge["metadataBadgeRenderer"]["style"]).find("VERIFIED") != std::string_view::npos;
        });
    }

    auto page = doc["header"]["pageHeaderRenderer"]["content"]["pageHeaderViewModel"];
    if (present(page)) {
        auto title = page["title"]["dynamicTextViewModel"]["text"];
        if (c.name.empty()) c.name = std::string(str(title["content"]));
        for_each(title["attachmentRuns"], [&](Element run) {
            for_each(run["element"]["type"]["imageType"]["image"]["sources"], [&](Element source) {
                std::string_view icon = str(source["clientResource"]["imageName"]);
                if (icon == "CHECK_CIRCLE_FILLED" || icon == "AUDIO_BADGE" || icon == "MUSIC_FILLED") c.verified = true;
            });
        });
        if (c.avatar_url.empty()) {
            c.avatar_url = best_image(page["image"]["decoratedAvatarViewModel"]["avatar"]["avatarViewModel"]["image"]);
        }
        for_each(page["metadata"]["contentMetadataViewModel"]["metadataRows"], [&](Element row) {
            for_each(row["metadataParts"], [&](Element part) {
                std::string_view content = str(part["text"]["content"]);
                if (content.starts_with("@") && c.handle.empty()) c.handle = std::string(content);
                else if (content.find("subscriber") != std::string_view::npos) {
                    c.subscribers = parse_count(content).value_or(0);
                }
            });
        });
        if (c.description.empty()) c.description = text(page["description"]["descriptionPreviewViewModel"]["description"]);
    }
    if (c.handle.empty()) {
        std::string_view vanity = str(meta["vanityChannelUrl"]);
        if (auto at = vanity.find("/@"); at != std::string_view::npos) c.handle = std::string(vanity.substr(at + 1));
    }
    if (c.handle.empty()) c.handle = c.id;
    c.seed = c.id;
    return c;
}

// Why a browse answer holds no page: its alert, else its API error, else
// `fallback`.
std::string browse_failure(Element doc, std::string_view fallback) {
    std::string message = alert_error(doc);
    if (message.empty()) message = error_of(doc);
    if (message.empty()) message = std::string(fallback);
    return message;
}

}  // namespace

ParseResult<ChannelPage> parse_channel(std::string_view body) {
    auto root = parse_document(body);
    if (!root) return std::unexpected(root.error());
    Element doc = *root;
    if (!has_browse_contents(doc)) {
        return std::unexpected(browse_failure(doc, "no channel page in the answer"));
    }
    ChannelPage page;
    page.channel = channel_header(doc);
    if (page.channel.id.empty()) return std::unexpected(std::string("no channel id in the answer"));
    collect_videos(doc, page.uploads);
    for (Video& upload : page.uploads) {
        if (upload.channel_id.empty() && upload.channel_name == "Unknown") {
            upload.channel_id = page.channel.id;
            upload.channel_seed = page.channel.id;
            upload.channel_name = page.channel.name;
            upload.channel_avatar_url = page.channel.avatar_url;
        }
    }
    return page;
}

ParseResult<PlaylistPage> parse_playlist(std::string_view body, std::string_view requested_id) {
    auto root = parse_document(body);
    if (!root) return std::unexpected(root.error());
    Element doc = *root;
    if (!has_browse_contents(doc)) {
        return std::unexpected(browse_failure(doc, "no playlist in the answer"));
    }

    PlaylistPage page;
    Playlist& p = page.playlist;
    if (requested_id.starts_with("VL")) requested_id.remove_prefix(2);
    p.id = std::string(requested_id);
    p.title = std::string(str(doc["metadata"]["playlistMetadataRenderer"]["title"]));

    std::optional<std::uint64_t> count;
    Node sidebar_primary = simdjson::NO_SUCH_FIELD;
    Node sidebar_owner = simdjson::NO_SUCH_FIELD;
    for_each(doc["sidebar"]["playlistSidebarRenderer"]["items"], [&](Element item) {
        if (auto primary = item["playlistSidebarPrimaryInfoRenderer"]; present(primary)) sidebar_primary = primary;
        if (auto owner = item["playlistSidebarSecondaryInfoRenderer"]["videoOwner"]["videoOwnerRenderer"]; present(owner)) {
            sidebar_owner = owner;
        }
    });
    if (present(sidebar_primary)) {
        if (p.title.empty()) p.title = text(sidebar_primary["title"]);
        if (p.id.empty()) p.id = std::string(str(sidebar_primary["navigationEndpoint"]["watchEndpoint"]["playlistId"]));
        if (auto stats = sidebar_primary["stats"].at(0); present(stats)) count = parse_count(text(stats));
        auto thumbnail = sidebar_primary["thumbnailRenderer"];
        if (auto video_thumb = thumbnail["playlistVideoThumbnailRenderer"]["thumbnail"]; present(video_thumb)) {
            p.thumbnail_url = best_image(video_thumb);
        } else {
            p.thumbnail_url = best_image(thumbnail["playlistCustomThumbnailRenderer"]["thumbnail"]);
        }
    }
    std::string owner_avatar;
    if (present(sidebar_owner)) {
        Byline owner = byline(sidebar_owner["title"]);
        p.channel_id = owner.id;
        p.channel_name = owner.name;
        owner_avatar = best_image(sidebar_owner["thumbnail"]);
    }
    // Older header layout.
    if (auto header = doc["header"]["playlistHeaderRenderer"]; present(header)) {
        if (p.title.empty()) p.title = text(header["title"]);
        if (p.id.empty()) p.id = std::string(str(header["playlistId"]));
        if (!count) count = parse_count(text(header["numVideosText"]));
        if (p.channel_name.empty()) {
            Byline owner = byline(header["ownerText"]);
            p.channel_id = owner.id;
            p.channel_name = owner.name;
        }
        if (p.thumbnail_url.empty()) {
            p.thumbnail_url = best_image(header["playlistHeaderBanner"]["heroPlaylistThumbnailRenderer"]["thumbnail"]);
        }
    }
    if (p.id.empty()) return std::unexpected(std::string("no playlist id in the answer"));

    collect_videos(doc, page.videos);
    if (p.thumbnail_url.empty() && !page.videos.empty()) p.thumbnail_url = page.videos.front().thumbnail_url;
    if (p.channel_name.empty()) {
        p.channel_id.clear();
        p.channel_name = "Unknown";
    } else {
        // Items without a byline (course playlists) are the owner's.
        for (Video& video : page.videos) {
            if (!video.channel_id.empty() || video.channel_name != "Unknown") continue;
            video.channel_id = p.channel_id;
            video.channel_seed = p.channel_id;
            video.channel_name = p.channel_name;
            video.channel_avatar_url = owner_avatar;
        }
    }
    p.seed = p.id;
    for (const Video& video : page.videos) p.video_ids.push_back(video.id);
    p.video_count = count.value_or(page.videos.size());
    return page;
}

ParseResult<std::vector<Video>> parse_video_feed(std::string_view body) {
    auto root = parse_document(body);
    if (!root) return std::unexpected(root.error());
    Element doc = *root;
    if (!has_browse_contents(doc)) {
        std::string message = error_of(doc);
        if (message.empty()) message = "no videos in the answer";
        return std::unexpected(message);
    }
    std::vector<Video> out;
    collect_videos(doc, out);
    return out;
}

ParseResult<std::string> parse_resolved_channel(std::string_view body) {
    auto root = parse_document(body);
    if (!root) return std::unexpected(root.error());
    Element doc = *root;
    auto endpoint = doc["endpoint"]["browseEndpoint"];
    std::string_view id = str(endpoint["browseId"]);
    if (id.starts_with("UC")) return std::string(id);
    std::string message = error_of(doc);
    if (message.empty()) message = "the address does not name a channel";
    return std::unexpected(message);
}

std::string api_error_message(std::string_view body) {
    auto root = parse_document(body);
    if (!root) return {};
    return error_of(*root);
}

namespace detail {

std::string error_of(Element doc) {
    if (auto error = doc["error"]; present(error)) {
        std::string message(str(error["message"]));
        if (message.empty()) message = fmt::format("API error {}", integer(error["code"]).value_or(0));
        return message;
    }
    return alert_error(doc);
}

}  // namespace detail

std::string best_thumbnail_url_of(std::string_view thumbnails_json) {
    thread_local simdjson::dom::parser parser;
    Element list;
    if (parser.parse(thumbnails_json.data(), thumbnails_json.size(), true).get(list) != simdjson::SUCCESS) return {};
    return best_thumbnail(wrap(list));
}

std::string video_thumbnail_url(std::string_view video_id) {
    if (video_id.empty()) return {};
    // The id is one path segment: everything but unreserved characters is
    // percent-encoded, so an id cannot reach another address.
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string segment;
    for (char ch : video_id) {
        auto c = static_cast<unsigned char>(ch);
        bool unreserved = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
                          c == '.' || c == '_' || c == '~';
        if (unreserved) {
            segment.push_back(ch);
        } else {
            segment.push_back('%');
            segment.push_back(kHex[c >> 4]);
            segment.push_back(kHex[c & 0x0F]);
        }
    }
    return fmt::format("https://i.ytimg.com/vi/{}/hqdefault.jpg", segment);
}

}  // namespace sarn::innertube
