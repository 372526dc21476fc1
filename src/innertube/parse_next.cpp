#include <unordered_map>

#include "items.h"
#include "sarn/innertube/display_text.h"
#include "sarn/innertube/parse.h"

namespace sarn::innertube {

using namespace detail;

namespace {

// "like this video along with 5,366 other people" carries the exact count;
// the button's title ("5.3k") is rounded.
std::uint64_t like_count(const Node& primary) {
    std::uint64_t likes = 0;
    for_each(primary["videoActions"]["menuRenderer"]["topLevelButtons"], [&](Element button) {
        auto model = button["segmentedLikeDislikeButtonViewModel"]["likeButtonViewModel"]["likeButtonViewModel"]
                           ["toggleButtonViewModel"]["toggleButtonViewModel"]["defaultButtonViewModel"]["buttonViewModel"];
        if (present(model)) {
            std::string_view label = str(model["accessibilityText"]);
            if (label.find("along with") != std::string_view::npos) {
                likes = parse_count(label).value_or(0);
            } else {
                likes = parse_count(str(model["title"])).value_or(0);
            }
            return;
        }
        // Older layout: a toggle button whose default text is the count.
        auto toggle = button["toggleButtonRenderer"];
        if (present(toggle) && str(toggle["defaultIcon"]["iconType"]) == "LIKE") {
            likes = parse_count(text(toggle["defaultText"])).value_or(0);
        }
    });
    return likes;
}

std::string comments_continuation(Element doc) {
    std::string token;
    for_each(doc["contents"]["twoColumnWatchNextResults"]["results"]["results"]["contents"], [&](Element part) {
        auto section = part["itemSectionRenderer"];
        if (!token.empty() || str(section["sectionIdentifier"]) != "comment-item-section") return;
        for_each(section["contents"], [&](Element item) {
            std::string_view found =
                str(item["continuationItemRenderer"]["continuationEndpoint"]["continuationCommand"]["token"]);
            if (token.empty() && !found.empty()) token = std::string(found);
        });
    });
    return token;
}

void collect_related(const Node& results, std::vector<Video>& out, int depth) {
    if (depth > 2) return;
    for_each(results, [&](Element item) {
        if (auto video = video_item(item)) out.push_back(std::move(*video));
        else if (auto section = item["itemSectionRenderer"]; present(section)) {
            collect_related(section["contents"], out, depth + 1);
        }
    });
}

// A video published by several channels names them all in its owner line
// ("A and B") and lists them, each with its channel and avatar, in the dialog
// that the line opens. The command sits on the owner block, on a run of its
// title or on a command run of its attributed title.
struct Collaborator {
    std::string name;
    std::string id;
    std::string avatar_url;
};

Node collaborator_list(const Node& command) {
    auto dialog = command["showDialogCommand"]["panelLoadingStrategy"]["inlineContent"]["dialogViewModel"];
    if (auto items = dialog["customContent"]["listViewModel"]["listItems"]; present(items)) return items;
    auto sheet = command["showSheetCommand"]["panelLoadingStrategy"]["inlineContent"]["sheetViewModel"];
    return sheet["content"]["listViewModel"]["listItems"];
}

std::vector<Collaborator> collaborators(const Node& owner) {
    std::vector<Node> commands{owner["navigationEndpoint"]};
    for_each(owner["title"]["runs"], [&](Element run) { commands.push_back(run["navigationEndpoint"]); });
    for_each(owner["attributedTitle"]["commandRuns"], [&](Element run) {
        commands.push_back(run["onTap"]["innertubeCommand"]);
    });
    std::vector<Collaborator> out;
    for (const Node& command : commands) {
        for_each(collaborator_list(command), [&](Element item) {
            auto model = item["listItemViewModel"];
            if (!present(model)) return;
            Collaborator c;
            c.name = text(model["title"]);
            for_each(model["title"]["commandRuns"], [&](Element run) {
                if (c.id.empty()) c.id = std::string(browse_id(wrap(run)));
            });
            if (c.id.empty()) c.id = std::string(browse_id(model["rendererContext"]["commandContext"]));
            c.avatar_url = best_image(model["leadingAccessory"]["avatarViewModel"]["image"]);
            if (!c.id.empty() || !c.name.empty()) out.push_back(std::move(c));
        });
        if (!out.empty()) break;
    }
    return out;
}

Comment renderer_comment(Element r) {
    Comment c;
    c.author = text(r["authorText"]);
    c.text = text(r["contentText"]);
    c.time_ago = text(r["publishedTimeText"]);
    c.likes = parse_count(text(r["voteCount"])).value_or(0);
    if (auto replies = integer(r["replyCount"])) c.replies = static_cast<std::uint32_t>(std::clamp<std::int64_t>(*replies, 0, UINT32_MAX));
    c.pinned = present(r["pinnedCommentBadge"]);
    c.hearted = flag(r["actionButtons"]["commentActionButtonsRenderer"]["creatorHeart"]["creatorHeartRenderer"]["isHearted"]);
    return c;
}

}  // namespace

ParseResult<WatchPage> parse_watch(std::string_view body) {
    auto root = parse_document(body);
    if (!root) return std::unexpected(root.error());
    Element doc = *root;

    auto watch = doc["contents"]["twoColumnWatchNextResults"];
    Node primary = simdjson::NO_SUCH_FIELD;
    Node secondary = simdjson::NO_SUCH_FIELD;
    for_each(watch["results"]["results"]["contents"], [&](Element part) {
        if (auto p = part["videoPrimaryInfoRenderer"]; present(p) && !present(primary)) primary = p;
        if (auto s = part["videoSecondaryInfoRenderer"]; present(s) && !present(secondary)) secondary = s;
    });
    if (!present(primary)) {
        std::string message = error_of(doc);
        // An unavailable video answers a promo card ("This video isn't available
        // anymore") in place of the details.
        for_each(watch["results"]["results"]["contents"], [&](Element part) {
            for_each(part["itemSectionRenderer"]["contents"], [&](Element item) {
                if (message.empty()) message = text(item["backgroundPromoRenderer"]["title"]);
            });
        });
        if (message.empty()) message = "no video details in the answer";
        return std::unexpected(message);
    }

    WatchPage page;
    Video& v = page.video;
    v.id = std::string(str(doc["currentVideoEndpoint"]["watchEndpoint"]["videoId"]));
    if (v.id.empty()) {
        v.id = std::string(str(primary["videoActions"]["menuRenderer"]["topLevelButtons"].at(0)
                                   ["segmentedLikeDislikeButtonViewModel"]["likeButtonViewModel"]["likeButtonViewModel"]
                                   ["likeStatusEntity"]["target"]["videoId"]));
    }
    if (v.id.empty()) return std::unexpected(std::string("no video id in the answer"));
    v.title = text(primary["title"]);
    auto view_count = primary["viewCount"]["videoViewCountRenderer"];
    std::uint64_t original = 0;
    if (auto raw = str(view_count["originalViewCount"]); !raw.empty()) original = parse_count(raw).value_or(0);
    v.views = original != 0 ? original : parse_count(text(view_count["viewCount"])).value_or(0);
    v.live = flag(view_count["isLive"]);
    v.likes = like_count(primary);
    v.published = text(primary["dateText"]);

    auto owner = secondary["owner"]["videoOwnerRenderer"];
    Byline channel = byline(owner["title"]);
    v.channel_id = channel.id.empty() ? std::string(browse_id(owner)) : channel.id;
    v.channel_name = channel.name;
    v.channel_avatar_url = best_image(owner["thumbnail"]);
    if (v.channel_id.empty()) {
        // Several channels: the first one listed stands for the video's channel,
        // under the owner line as the platform shows it.
        if (v.channel_name.empty()) v.channel_name = text(owner["attributedTitle"]);
        auto listed = collaborators(owner);
        if (!listed.empty()) {
            v.channel_id = listed.front().id;
            if (!listed.front().avatar_url.empty()) v.channel_avatar_url = listed.front().avatar_url;
            if (v.channel_name.empty()) v.channel_name = listed.front().name;
        }
    }
    if (auto described = secondary["attributedDescription"]; present(described)) v.description = text(described);
    else v.description = text(secondary["description"]);

    // The Video mapping of the details: as a list item, but category "Video".
    std::uint64_t likes = v.likes;
    finish_video(v);
    v.likes = likes;
    v.category = "Video";
    v.duration = 0;

    collect_related(watch["secondaryResults"]["secondaryResults"]["results"], page.related, 0);
    page.comments_token = comments_continuation(doc);
    return page;
}

ParseResult<std::vector<Comment>> parse_comments(std::string_view body) {
    auto root = parse_document(body);
    if (!root) return std::unexpected(root.error());
    Element doc = *root;

    // The newer layout keeps the comment texts in an entity batch, keyed by
    // the keys that each thread's view model names.
    std::unordered_map<std::string_view, Element> entities;
    for_each(doc["frameworkUpdates"]["entityBatchUpdate"]["mutations"], [&](Element mutation) {
        std::string_view key = str(mutation["entityKey"]);
        if (!key.empty()) entities.emplace(key, mutation["payload"].value_unsafe());
    });
    auto entity = [&](std::string_view key, std::string_view kind) -> Node {
        auto found = entities.find(key);
        if (key.empty() || found == entities.end()) return simdjson::NO_SUCH_FIELD;
        return found->second[kind];
    };

    std::vector<Comment> out;
    bool layout_found = false;
    auto read_items = [&](const Node& items) {
        for_each(items, [&](Element item) {
            auto thread = item["commentThreadRenderer"];
            if (!present(thread)) return;
            if (auto old = thread["comment"]["commentRenderer"]; present(old)) {
                out.push_back(renderer_comment(old.value_unsafe()));
                return;
            }
            auto model = thread["commentViewModel"]["commentViewModel"];
            if (!present(model)) return;
            auto payload = entity(str(model["commentKey"]), "commentEntityPayload");
            if (!present(payload)) return;
            Comment c;
            c.author = std::string(str(payload["author"]["displayName"]));
            c.text = text(payload["properties"]["content"]);
            c.time_ago = std::string(str(payload["properties"]["publishedTime"]));
            c.likes = parse_count(str(payload["toolbar"]["likeCountNotliked"])).value_or(0);
            c.replies = static_cast<std::uint32_t>(
                std::min<std::uint64_t>(parse_count(str(payload["toolbar"]["replyCount"])).value_or(0), UINT32_MAX));
            c.pinned = !str(model["pinnedText"]).empty();
            auto state = entity(str(model["toolbarStateKey"]), "engagementToolbarStateEntityPayload");
            c.hearted = str(state["heartState"]) == "TOOLBAR_HEART_STATE_HEARTED";
            out.push_back(std::move(c));
        });
    };
    for (const char* list : {"onResponseReceivedEndpoints", "onResponseReceivedActions"}) {
        for_each(doc[list], [&](Element endpoint) {
            for (const char* action : {"reloadContinuationItemsCommand", "appendContinuationItemsAction"}) {
                auto items = endpoint[action]["continuationItems"];
                if (present(items)) {
                    layout_found = true;
                    read_items(items);
                }
            }
        });
    }
    // A page without items is an empty list; an API error or alert is not.
    if (!layout_found) {
        if (std::string message = error_of(doc); !message.empty()) return std::unexpected(message);
    }
    for (Comment& c : out) {
        if (c.author.empty()) c.author = "Unknown";
        c.initials = comment_initials(c.author);
    }
    return out;
}

}  // namespace sarn::innertube
