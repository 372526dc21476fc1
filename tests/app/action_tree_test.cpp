#include <gtest/gtest.h>

#include <fmt/format.h>

#include <algorithm>
#include <string>
#include <vector>

#include "sarn/actions/shared_reducer.h"
#include "sarn/app/action_tree.h"
#include "sarn/model/action.h"
#include "sarn/model/operation.h"

namespace sarn {
namespace {

using vorn_actions::ActionErrorKind;
using vorn_actions::EncodedAction;
using vorn_actions::resource::ActionBinding;
using vorn_actions::resource::ActionSpec;
using vorn_actions::resource::EffectClass;
using vorn_actions::resource::Resource;

const std::string kEllipsis = "\u2026";

Video make_video(std::string id, std::string title) {
    Video v;
    v.id = std::move(id);
    v.title = std::move(title);
    v.channel_id = "c1";
    v.channel_name = "Creator One";
    return v;
}

Channel make_channel(std::string id, std::string name) {
    Channel c;
    c.id = std::move(id);
    c.name = std::move(name);
    c.handle = "@" + c.id;
    return c;
}

Comment make_comment(std::string author, std::string text) {
    Comment c;
    c.author = std::move(author);
    c.initials = "A";
    c.text = std::move(text);
    c.time_ago = "2 days ago";
    return c;
}

// v1 (liked, queued, watched, 60 comments), v2; channels c1 (subscribed), c2;
// playlist p1; subscription entry "gone" unknown; queue and history entries
// for unknown videos.
Library sample_library() {
    Library lib;
    Video v1 = make_video("v1", "First video");
    for (int i = 0; i < 60; ++i) v1.comments.push_back(make_comment("Ann", "comment " + std::to_string(i)));
    lib.videos.push_back(std::move(v1));
    lib.videos.push_back(make_video("v2", "Second video"));
    lib.channels.push_back(make_channel("c1", "Creator One"));
    lib.channels.push_back(make_channel("c2", "Creator Two"));
    Playlist p;
    p.id = "p1";
    p.title = "Mix";
    lib.playlists.push_back(p);
    lib.likes = {"v1"};
    lib.queue = {"v1", "lost"};
    lib.subscriptions = {"c1", "gone"};
    lib.history = {"v1", "old"};
    return lib;
}

const Resource& child(const Resource& parent, std::string_view id) {
    for (const Resource& c : parent.children) {
        if (c.id == id) return c;
    }
    ADD_FAILURE() << "no child " << id << " under " << parent.id;
    static const Resource kNone("", "", "");
    return kNone;
}

std::vector<std::string> child_ids(const Resource& r) {
    std::vector<std::string> ids;
    for (const Resource& c : r.children) ids.push_back(c.id);
    return ids;
}

std::vector<std::string> action_names(const Resource& r) {
    std::vector<std::string> names;
    for (const ActionSpec& a : r.actions) names.push_back(a.name());
    return names;
}

const ActionSpec& action_of(const Resource& r, std::string_view name) {
    const ActionSpec* spec = r.find_action(name);
    if (spec == nullptr) {
        ADD_FAILURE() << "no action " << name << " on " << r.id;
        static const ActionSpec kNone = ActionSpec::fixed("", "", EncodedAction{});
        return kNone;
    }
    return *spec;
}

const Resource& deep(const std::vector<Resource>& tree, std::string_view id) {
    const Resource* r = vorn_actions::resource::find_resource_deep(tree, id);
    if (r == nullptr) {
        ADD_FAILURE() << "no resource " << id;
        static const Resource kNone("", "", "");
        return kNone;
    }
    return *r;
}

SarnAction run_action(const ActionSpec& spec, const nlohmann::json& args = nlohmann::json::object()) {
    auto encoded = spec.run(args);
    EXPECT_TRUE(encoded.has_value()) << spec.name() << ": " << encoded.error().to_string();
    if (!encoded) return action::CyclePreferredQuality{};
    EXPECT_EQ(encoded->kind, kSharedActionKind) << spec.name();
    auto decoded = decode_action(encoded->payload);
    EXPECT_TRUE(decoded.has_value()) << encoded->payload;
    return decoded ? *decoded : SarnAction{action::CyclePreferredQuality{}};
}

SarnOperation run_operation(const ActionSpec& spec, const nlohmann::json& args = nlohmann::json::object()) {
    auto encoded = spec.run(args);
    EXPECT_TRUE(encoded.has_value()) << spec.name() << ": " << encoded.error().to_string();
    if (!encoded) return operation::SyncDevices{};
    EXPECT_EQ(encoded->kind, kOperationKind) << spec.name();
    auto decoded = decode_operation(encoded->payload);
    EXPECT_TRUE(decoded.has_value()) << encoded->payload;
    return decoded ? *decoded : SarnOperation{operation::SyncDevices{}};
}

// ---- Tree shape ------------------------------------------------------------

TEST(ActionTree, RootChildrenFollowTheRoute) {
    Library lib = sample_library();
    auto tree = action_resources_tree(lib);
    ASSERT_EQ(tree.size(), 1u);
    EXPECT_EQ(tree[0].id, "sarn.app");
    EXPECT_EQ(tree[0].kind, "sarn.application");
    EXPECT_EQ(tree[0].label, "Sarn");
    EXPECT_TRUE(tree[0].actions.empty());
    EXPECT_EQ(child_ids(tree[0]), (std::vector<std::string>{"sarn.navigation", "sarn.library", "sarn.settings"}));

    lib.route = Route::watch("v1");
    tree = action_resources_tree(lib);
    ASSERT_EQ(tree[0].children.size(), 4u);
    const Resource& current = tree[0].children[0];
    EXPECT_EQ(current.id, "sarn.current:v1");
    EXPECT_EQ(current.kind, "sarn.video");
    EXPECT_EQ(current.label, "First video");
    EXPECT_EQ(action_names(current), (std::vector<std::string>{"open", "like", "queue", "mark-watched", "download",
                                                                "share", "play-pause"}));
    EXPECT_EQ(action_of(current, "play-pause").label(), "Play or pause");
    EXPECT_EQ(run_operation(action_of(current, "play-pause")), SarnOperation{operation::TogglePlayback{}});
    EXPECT_EQ(action_of(current, "play-pause").contract()->effect, EffectClass::ViewOnly);
    ASSERT_EQ(current.children.size(), 50u);  // 60 comments, the first 50
    EXPECT_EQ(current.children[0].kind, "sarn.comment");
    EXPECT_EQ(current.children[0].label, "Ann: comment 0");
    EXPECT_EQ(current.children[49].label, "Ann: comment 49");

    // The comments hang under the current video alone: no address is listed twice.
    const Resource& videos = child(child(tree[0], "sarn.library"), "sarn.videos");
    EXPECT_TRUE(child(videos, "sarn.video:v1").children.empty());
    EXPECT_TRUE(child(videos, "sarn.video:v2").children.empty());

    // A watch route of an unknown video has no current video.
    lib.route = Route::watch("nope");
    EXPECT_EQ(child_ids(action_resources_tree(lib)[0]),
              (std::vector<std::string>{"sarn.navigation", "sarn.library", "sarn.settings"}));
    lib.route = Route::home();
    EXPECT_TRUE(child(child(child(action_resources_tree(lib)[0], "sarn.library"), "sarn.videos"), "sarn.video:v1")
                    .children.empty());
}

TEST(ActionTree, LibraryCollectionsInOrderWithLabels) {
    Library lib = sample_library();
    lib.search_query = "  cats ";
    const auto tree = action_resources_tree(lib);
    const Resource& library = child(tree[0], "sarn.library");
    EXPECT_EQ(library.kind, "sarn.library");
    EXPECT_EQ(library.label, "Known library");
    struct Row {
        const char* id;
        const char* label;
    } rows[] = {
        {"sarn.videos", "Videos"},
        {"sarn.creators", "Creators"},
        {"sarn.playlists", "Playlists"},
        {"sarn.subscriptions", "Subscriptions"},
        {"sarn.queue", "Shared watch queue"},
        {"sarn.history", "Watch history"},
        {"sarn.search-results", "Search results: cats"},
        {"sarn.downloads", "Downloads (none available)"},
    };
    ASSERT_EQ(library.children.size(), std::size(rows));
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        EXPECT_EQ(library.children[i].id, rows[i].id);
        EXPECT_EQ(library.children[i].kind, "sarn.collection");
        EXPECT_EQ(library.children[i].label, rows[i].label);
    }
    EXPECT_TRUE(child(library, "sarn.downloads").children.empty());
}

TEST(ActionTree, CollectionsListTheFirstHundredItems) {
    Library lib;
    for (int i = 0; i < 150; ++i) {
        lib.videos.push_back(make_video("v" + std::to_string(i), "Video " + std::to_string(i)));
        lib.channels.push_back(make_channel("c" + std::to_string(i), "C"));
        lib.queue.push_back("q" + std::to_string(i));
    }
    const auto tree = action_resources_tree(lib);
    const Resource& library = child(tree[0], "sarn.library");
    const Resource& videos = child(library, "sarn.videos");
    ASSERT_EQ(videos.children.size(), 100u);
    EXPECT_EQ(videos.children.front().id, "sarn.video:v0");
    EXPECT_EQ(videos.children.back().id, "sarn.video:v99");
    EXPECT_EQ(child(library, "sarn.creators").children.size(), 100u);
    EXPECT_EQ(child(library, "sarn.queue").children.back().id, "sarn.queue:q99");
}

// ---- Resources and the actions they run ------------------------------------

TEST(ActionTree, ActionsRunToTheirEncodedValues) {
    Library lib = sample_library();
    lib.route = Route::watch("v1");
    const std::string key0 = comment_content_key("v1", lib.videos[0].comments[0]);
    const std::string key1 = comment_content_key("v1", lib.videos[0].comments[1]);
    lib.comment_likes[key0] = true;
    lib.comment_likes[key1] = false;
    const auto tree = action_resources_tree(lib);

    struct ActionRow {
        std::string resource;
        std::string action;
        std::string label;
        SarnAction expected;
        bool collaborative;
    } action_rows[] = {
        {"sarn.video:v1", "like", "Like video", action::SetVideoLiked{"v1", false}, false},
        {"sarn.video:v2", "like", "Like video", action::SetVideoLiked{"v2", true}, false},
        {"sarn.video:v1", "queue", "Remove from queue", action::SetQueueMembership{"v1", false}, true},
        {"sarn.video:v2", "queue", "Add to queue", action::SetQueueMembership{"v2", true}, true},
        {"sarn.channel:c1", "subscribe", "Subscribe or unsubscribe", action::SetSubscription{"c1", false}, false},
        {"sarn.channel:c2", "subscribe", "Subscribe or unsubscribe", action::SetSubscription{"c2", true}, false},
        {"sarn.subscription:gone", "unsubscribe", "Unsubscribe", action::SetSubscription{"gone", false}, false},
        {"sarn.queue:lost", "remove", "Remove from queue", action::SetQueueMembership{"lost", false}, true},
        {"sarn.comment:" + key0, "like", "Unlike comment", action::SetCommentLiked{key0, false}, false},
        {"sarn.comment:" + key1, "like", "Like comment", action::SetCommentLiked{key1, true}, false},
        {"sarn.settings", "autoplay", "Toggle autoplay", action::SetSetting{Setting::Autoplay, false}, false},
    };
    for (const auto& row : action_rows) {
        SCOPED_TRACE(row.resource + " " + row.action);
        const ActionSpec& spec = action_of(deep(tree, row.resource), row.action);
        EXPECT_EQ(spec.label(), row.label);
        EXPECT_EQ(run_action(spec), row.expected);
        EXPECT_EQ(spec.is_collaborative(), row.collaborative);
        EXPECT_TRUE(spec.is_typed_document_action());
    }

    struct OperationRow {
        std::string resource;
        std::string action;
        std::string label;
        SarnOperation expected;
        EffectClass effect;
    } operation_rows[] = {
        {"sarn.video:v1", "open", "Open video", operation::OpenVideo{"v1"}, EffectClass::ViewOnly},
        {"sarn.video:v1", "mark-watched", "Mark watched", operation::RecordHistory{"v1"}, EffectClass::BeyondView},
        {"sarn.video:v1", "share", "Copy share link", operation::Share{"v1"}, EffectClass::BeyondView},
        {"sarn.channel:c1", "open", "Open creator", operation::OpenChannel{"c1"}, EffectClass::ViewOnly},
        {"sarn.playlist:p1", "open", "Open playlist", operation::OpenPlaylist{"p1"}, EffectClass::ViewOnly},
        {"sarn.subscription:c1", "open", "Open creator", operation::OpenChannel{"c1"}, EffectClass::ViewOnly},
        {"sarn.queue:v1", "open", "Open video", operation::OpenVideo{"v1"}, EffectClass::ViewOnly},
        {"sarn.history:v1", "remove", "Remove from history", operation::RemoveHistory{"v1"}, EffectClass::BeyondView},
        {"sarn.history:old", "open", "Open video", operation::OpenVideo{"old"}, EffectClass::ViewOnly},
        {"sarn.history", "clear", "Clear watch history", operation::ClearHistory{}, EffectClass::BeyondView},
        {"sarn.navigation", "home", "Open Home", operation::Navigate{Route::home()}, EffectClass::ViewOnly},
        {"sarn.navigation", "queue", "Open shared watch queue", operation::Navigate{Route::queue()},
         EffectClass::ViewOnly},
        {"sarn.navigation", "toggle-sidebar", "Show or hide navigation", operation::ToggleSidebar{},
         EffectClass::ViewOnly},
    };
    for (const auto& row : operation_rows) {
        SCOPED_TRACE(row.resource + " " + row.action);
        const ActionSpec& spec = action_of(deep(tree, row.resource), row.action);
        EXPECT_EQ(spec.label(), row.label);
        EXPECT_EQ(run_operation(spec), row.expected);
        ASSERT_TRUE(spec.contract().has_value());
        EXPECT_EQ(spec.contract()->effect, row.effect);
        EXPECT_FALSE(spec.is_typed_document_action());
    }
}

TEST(ActionTree, VideoActionsCarryTheirContractsAndAvailability) {
    const Library lib = sample_library();
    EXPECT_FALSE(video_resource(lib, "missing", false).has_value());
    const auto video = video_resource(lib, "v1", false);
    ASSERT_TRUE(video.has_value());
    EXPECT_EQ(video->id, "sarn.video:v1");
    EXPECT_TRUE(video->children.empty());

    const ActionSpec& queue = action_of(*video, "queue");
    EXPECT_EQ(queue.description(), "Set membership in the shared watch queue");
    EXPECT_EQ(queue.contract(), (vorn_actions::resource::ActionContract{{}, EffectClass::BeyondView}));
    EXPECT_EQ(action_of(*video, "like").description(), "Set the like state for this video");
    EXPECT_EQ(action_of(*video, "mark-watched").description(),
              "Add this video to owner-local, device-synchronised watch history");
    EXPECT_EQ(action_of(*video, "share").contract(),
              (vorn_actions::resource::ActionContract{{"clipboard", "sharing"}, EffectClass::BeyondView}));

    const ActionSpec& download = action_of(*video, "download");
    EXPECT_EQ(download.label(), "Download video");
    ASSERT_TRUE(download.unavailability().has_value());
    EXPECT_EQ(download.unavailability()->code, "download_storage_unavailable");
    EXPECT_EQ(download.unavailability()->text, "Sarn has no host-granted download storage capability");
    EXPECT_FALSE(download.run(nlohmann::json::object()).has_value());

    const auto clear_owner_tree = action_resources_tree(lib);
    const Resource& clear_owner = deep(clear_owner_tree, "sarn.history");
    const ActionSpec& clear = action_of(clear_owner, "clear");
    EXPECT_TRUE(clear.is_destructive());
    EXPECT_EQ(clear.description(), "Clear owner-local, device-synchronised watch history");
}

TEST(ActionTree, UnknownItemsGetFallbackLabelsAndNoOpen) {
    const Library lib = sample_library();
    const auto tree = action_resources_tree(lib);
    struct Row {
        const char* id;
        const char* kind;
        const char* label;
        std::vector<std::string> actions;
    } rows[] = {
        {"sarn.subscription:c1", "sarn.subscription", "Creator One", {"unsubscribe", "open"}},
        {"sarn.subscription:gone", "sarn.subscription", "Subscribed creator gone", {"unsubscribe"}},
        {"sarn.queue:v1", "sarn.queue-entry", "First video", {"remove", "open"}},
        {"sarn.queue:lost", "sarn.queue-entry", "Queued video lost", {"remove"}},
        {"sarn.history:v1", "sarn.history-entry", "First video", {"open", "remove"}},
        {"sarn.history:old", "sarn.history-entry", "Watched video old", {"open", "remove"}},
        {"sarn.channel:c2", "sarn.channel", "Creator Two", {"open", "subscribe"}},
        {"sarn.playlist:p1", "sarn.playlist", "Mix", {"open"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.id);
        const Resource& r = deep(tree, row.id);
        EXPECT_EQ(r.kind, row.kind);
        EXPECT_EQ(r.label, row.label);
        EXPECT_EQ(action_names(r), row.actions);
    }
}

TEST(ActionTree, SearchResultsListKnownRecordsOfTheCurrentQuery) {
    Library lib = sample_library();
    lib.search_query = "cats";
    lib.search_results_query = "cats";
    lib.search_result_videos = {"v2", "unknown-video"};
    lib.search_result_playlists = {"p1", "unknown-list"};
    lib.search_result_channels = {"c2"};
    const auto results_tree = action_resources_tree(lib);
    const Resource& results = deep(results_tree, "sarn.search-results");
    EXPECT_EQ(results.label, "Search results: cats");
    EXPECT_EQ(child_ids(results),
              (std::vector<std::string>{"sarn.search-result:video:v2", "sarn.search-result:playlist:p1",
                                        "sarn.search-result:channel:c2"}));
    const char* labels[] = {"Open video", "Open playlist", "Open creator"};
    for (std::size_t i = 0; i < results.children.size(); ++i) {
        EXPECT_EQ(results.children[i].kind, "sarn.search-result");
        ASSERT_EQ(results.children[i].actions.size(), 1u);
        EXPECT_EQ(results.children[i].actions[0].label(), labels[i]);
    }
    EXPECT_EQ(run_operation(results.children[2].actions[0]), SarnOperation{operation::OpenChannel{"c2"}});

    lib.search_query = "   ";
    const auto empty_tree = action_resources_tree(lib);
    const Resource& empty = deep(empty_tree, "sarn.search-results");
    EXPECT_EQ(empty.label, "Search results");
    EXPECT_TRUE(empty.children.empty());
}

// ---- Comments ----------------------------------------------------------------

TEST(ActionTree, CommentKeyHashesTheVideoAndTheCommentTexts) {
    Comment c = make_comment("Ann", "hello there");
    EXPECT_EQ(comment_content_key("v1", c), "v1#fe5227ed747f9c96");
    // Every field is delimited: moving a byte from one field to the next changes the key.
    Comment moved = c;
    moved.author = "An";
    moved.initials = "nA";
    EXPECT_NE(comment_content_key("v1", moved), comment_content_key("v1", c));
    // Counts and flags are not part of the key.
    Comment liked = c;
    liked.likes = 99;
    liked.pinned = true;
    EXPECT_EQ(comment_content_key("v1", liked), comment_content_key("v1", c));
    EXPECT_EQ(comment_content_key("v1", Comment{}), "v1#0926aea27a46c904");  // zero-padded, lower case
}

TEST(ActionTree, CommentLabelsShortenAndCollapseTheText) {
    const std::string s48(48, 'b');
    const std::string s49(49, 'c');
    const std::string s60(60, 'a');
    std::string e60;
    for (int i = 0; i < 60; ++i) e60 += "\xC3\xA9";  // é, two bytes each
    std::string e45;
    for (int i = 0; i < 45; ++i) e45 += "\xC3\xA9";
    struct Row {
        std::string author;
        std::string text;
        std::string label;
    } rows[] = {
        {"", s60, s60.substr(0, 45) + kEllipsis},
        {"", s48, s48},
        {"", s49, s49.substr(0, 45) + kEllipsis},
        {"", e60, e45 + kEllipsis},
        {"Ann", "two  spaces\nand\t\ttabs ", "Ann: two spaces and tabs"},
        {"", "  \n lead and trail \r\n", "lead and trail"},
        // Runs collapse before the length is counted: 60 characters with many
        // spaces come to fewer than 49.
        {"", "a" + std::string(30, ' ') + std::string(28, 'b'), "a " + std::string(28, 'b')},
        {"Bob\x01", "hi", "Bob : hi"},
        {"", "bad \xFF byte", "bad \uFFFD byte"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        Library lib;
        Video v = make_video("v", "V");
        v.comments.push_back(make_comment(row.author, row.text));
        lib.videos.push_back(v);
        const auto video = video_resource(lib, "v", true);
        ASSERT_TRUE(video.has_value());
        ASSERT_EQ(video->children.size(), 1u);
        EXPECT_EQ(video->children[0].label, row.label);
    }
}

TEST(ActionTree, CommentReplyBuildsAnActiveReply) {
    Library lib;
    Video v = make_video("v", "V");
    v.comments.push_back(make_comment("Ann", "first"));
    lib.videos.push_back(v);
    const auto video = video_resource(lib, "v", true);
    ASSERT_TRUE(video.has_value());
    const Resource& comment = video->children.at(0);
    const std::string key = comment_content_key("v", v.comments[0]);
    EXPECT_EQ(comment.id, "sarn.comment:" + key);
    EXPECT_EQ(action_names(comment), (std::vector<std::string>{"like", "reply"}));

    const ActionSpec& reply = action_of(comment, "reply");
    EXPECT_EQ(reply.label(), "Reply to comment");
    EXPECT_TRUE(reply.is_collaborative());
    ASSERT_EQ(reply.params().size(), 1u);
    EXPECT_EQ(reply.params()[0].name, "value");
    EXPECT_EQ(reply.params()[0].label, "Reply");
    EXPECT_EQ(reply.params()[0].placeholder, "your reply\u2026");
    EXPECT_EQ(run_action(reply, {{"value", "hi"}}),
              SarnAction(action::SetCommentReply{key, reply_id_for(key, "hi"), "hi", true}));
    // Arguments the action does not declare are refused.
    EXPECT_EQ(reply.run({{"other", "x"}}).error().kind(), ActionErrorKind::InvalidArguments);
}

// ---- Labels --------------------------------------------------------------------

TEST(ActionTree, SanitizeLabel) {
    std::string e161;
    for (int i = 0; i < 161; ++i) e161 += "\xE2\x82\xAC";  // €, three bytes each
    std::string e160;
    for (int i = 0; i < 160; ++i) e160 += "\xE2\x82\xAC";
    struct Row {
        std::string text;
        std::string expected;
    } rows[] = {
        {"x\t" + std::string(198, 'x'), "x " + std::string(158, 'x') + kEllipsis},
        {std::string(160, 'y'), std::string(160, 'y')},
        {std::string(161, 'y'), std::string(160, 'y') + kEllipsis},
        {e161, e160 + kEllipsis},
        {"a\nb\x7F" "c\xC2\x85" "d\xC2\x9F" "e\xC2\xA0" "f", "a b c d e\xC2\xA0" "f"},
        {"bad\xFF", "bad\uFFFD"},
        {"cut\xE2\x82", "cut\uFFFD"},
        {"", ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(sanitize_label(row.text), row.expected);
    }
}

TEST(ActionTree, VideoLabelsAreSanitized) {
    Library lib;
    lib.videos.push_back(make_video("v", "x\t" + std::string(198, 'x')));
    lib.queue = {"v"};
    const auto tree = action_resources_tree(lib);
    EXPECT_EQ(deep(tree, "sarn.video:v").label, "x " + std::string(158, 'x') + kEllipsis);
    EXPECT_EQ(deep(tree, "sarn.queue:v").label, "x " + std::string(158, 'x') + kEllipsis);
}

// ---- Settings ------------------------------------------------------------------

TEST(ActionTree, SettingsTogglesFlipTheCurrentValue) {
    Library lib;
    lib.settings.autoplay = false;
    const auto settings_tree = action_resources_tree(lib);
    const Resource& settings = deep(settings_tree, "sarn.settings");
    EXPECT_EQ(settings.label, "Playback settings");
    struct Row {
        const char* name;
        const char* label;
        SarnAction expected;
    } rows[] = {
        {"autoplay", "Toggle autoplay", action::SetSetting{Setting::Autoplay, true}},
        {"comments", "Toggle comments", action::SetSetting{Setting::ShowComments, false}},
        {"sponsorblock", "Toggle SponsorBlock", action::SetSetting{Setting::SponsorBlock, false}},
        {"dearrow", "Toggle DeArrow", action::SetSetting{Setting::DeArrow, false}},
        {"dislikes", "Toggle dislike counts", action::SetSetting{Setting::ReturnDislike, false}},
    };
    ASSERT_EQ(settings.actions.size(), std::size(rows));
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        EXPECT_EQ(settings.actions[i].name(), rows[i].name);
        EXPECT_EQ(settings.actions[i].label(), rows[i].label);
        EXPECT_EQ(run_action(settings.actions[i]), rows[i].expected);
    }
    ASSERT_EQ(settings.children.size(), 9u);
    EXPECT_EQ(settings.children[0].id, "sarn.setting:preferred-quality");
    EXPECT_EQ(settings.children[1].id, "sarn.setting:sponsor-category:sponsor");
    EXPECT_EQ(settings.children[8].id, "sarn.setting:sponsor-category:filler");
}

TEST(ActionTree, PreferredQualityCycles) {
    struct Row {
        const char* current;
        const char* next;
    } rows[] = {{"1080p", "720p"}, {"720p", "480p"}, {"480p", "auto"}, {"auto", "1080p"}, {"4k", "720p"}, {"", "720p"}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.current);
        Library lib;
        lib.settings.preferred_quality = row.current;
        const auto quality_tree = action_resources_tree(lib);
        const Resource& quality = deep(quality_tree, "sarn.setting:preferred-quality");
        EXPECT_EQ(quality.kind, "sarn.setting");
        EXPECT_EQ(quality.label, std::string("Preferred quality: ") + row.current);
        const ActionSpec& cycle = action_of(quality, "cycle");
        EXPECT_EQ(cycle.label(), "Cycle preferred quality");
        EXPECT_EQ(run_action(cycle), SarnAction(action::SetPreferredQuality{row.next}));
    }
}

TEST(ActionTree, SponsorCategoryLabelsAndCycle) {
    struct Row {
        SponsorCategory category;
        std::optional<SponsorMode> stored;  // none: missing from the settings
        const char* label;
        SponsorMode next;
    } rows[] = {
        {SponsorCategory::Sponsor, SponsorMode::Skip, "SponsorBlock Sponsor: Auto-skip", SponsorMode::Show},
        {SponsorCategory::Intro, SponsorMode::Show, "SponsorBlock Intermission / intro: Show", SponsorMode::Disabled},
        {SponsorCategory::Filler, SponsorMode::Disabled, "SponsorBlock Filler tangent: Off", SponsorMode::Skip},
        {SponsorCategory::MusicOfftopic, std::nullopt, "SponsorBlock Non-music section: Auto-skip", SponsorMode::Show},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        Library lib;
        const std::string key(category_key(row.category));
        if (row.stored) {
            lib.settings.sponsor_categories[key] = *row.stored;
        } else {
            lib.settings.sponsor_categories.erase(key);
        }
        const auto r_tree = action_resources_tree(lib);
        const Resource& r = deep(r_tree, "sarn.setting:sponsor-category:" + key);
        EXPECT_EQ(r.kind, "sarn.setting");
        EXPECT_EQ(r.label, row.label);
        const ActionSpec& cycle = action_of(r, "cycle");
        EXPECT_EQ(cycle.label(), fmt::format("Cycle {} handling", category_label(row.category)));
        EXPECT_EQ(run_action(cycle), SarnAction(action::SetSponsorCategory{row.category, row.next}));
        EXPECT_TRUE(cycle.is_typed_document_action());
    }
}

// ---- Device sync -----------------------------------------------------------------

PeerRecord peer(std::string id, std::string name, bool pending, bool revoked) {
    PeerRecord p;
    p.id = std::move(id);
    p.name = std::move(name);
    p.pending_approval = pending;
    if (revoked) p.revoked_at = 100;
    return p;
}

DeviceSyncHandle handle_with(DeviceSyncState state, std::string status, std::vector<PeerRecord> peers) {
    DeviceSyncHandle handle = device_sync_start_failed("");
    handle.set_status(SyncStatusEvent{"key", std::move(status), std::move(peers), state});
    return handle;
}

TEST(ActionTree, DeviceSyncWithOnlyPendingDevices) {
    const auto handle = handle_with(DeviceSyncState::Ready, "ready",
                                    {peer("p1", "Phone", true, false), peer("p2", "Old", false, true),
                                     peer("p3", "Tablet", true, false)});
    const Resource r = device_sync_resource(handle);
    EXPECT_EQ(r.id, "sarn.device-sync");
    EXPECT_EQ(r.kind, "sarn.device-sync");
    EXPECT_EQ(r.label, "Grayjay device sync");
    EXPECT_EQ(action_names(r), (std::vector<std::string>{"pair"}));  // nothing approved: no "sync"
    ASSERT_EQ(child_ids(r), (std::vector<std::string>{"sarn.device:p1", "sarn.device:p3"}));
    for (const Resource& device : r.children) {
        EXPECT_EQ(device.kind, "sarn.device");
        EXPECT_EQ(action_names(device), (std::vector<std::string>{"approve"}));
        EXPECT_TRUE(device.actions[0].is_privileged());
        EXPECT_EQ(device.actions[0].label(), "Approve device");
    }
    EXPECT_EQ(r.children[1].label, "Tablet");
    EXPECT_EQ(run_operation(r.children[0].actions[0]), SarnOperation{operation::ApproveDevice{"p1"}});
}

TEST(ActionTree, DeviceSyncWithAnApprovedDevice) {
    const auto handle = handle_with(DeviceSyncState::NeedsAttention, "",
                                    {peer("p1", "Phone", false, false), peer("p2", "Tablet", true, false)});
    const Resource r = device_sync_resource(handle);
    EXPECT_EQ(r.label, "Grayjay device sync");
    EXPECT_EQ(action_names(r), (std::vector<std::string>{"pair", "sync"}));
    EXPECT_EQ(action_of(r, "sync").label(), "Sync approved devices now");
    EXPECT_EQ(run_operation(action_of(r, "sync")), SarnOperation{operation::SyncDevices{}});
    const Resource& phone = child(r, "sarn.device:p1");
    EXPECT_EQ(action_names(phone), (std::vector<std::string>{"revoke"}));
    EXPECT_TRUE(phone.actions[0].is_destructive());
    EXPECT_EQ(phone.actions[0].label(), "Revoke device access");
    EXPECT_EQ(run_operation(phone.actions[0]), SarnOperation{operation::RevokeDevice{"p1"}});
}

TEST(ActionTree, DeviceSyncUnavailable) {
    const std::string fallback = "Encrypted Grayjay sync is available when the desktop secret broker is unlocked.";
    struct Row {
        std::string status;
        std::string shown;
    } rows[] = {
        {"", fallback},
        {" \t\n", fallback},
        {"Grayjay sync unavailable: locked", "Grayjay sync unavailable: locked"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.status);
        const auto handle = handle_with(DeviceSyncState::Unavailable, row.status, {peer("p1", "Phone", false, false)});
        const Resource r = device_sync_resource(handle);
        EXPECT_EQ(r.label, "Grayjay device sync (unavailable)");
        EXPECT_EQ(action_names(r), (std::vector<std::string>{"pair", "sync"}));
        EXPECT_TRUE(r.children.empty());
        for (const ActionSpec& a : r.actions) {
            ASSERT_TRUE(a.unavailability().has_value());
            EXPECT_EQ(a.unavailability()->code, "grayjay_sync_unavailable");
            EXPECT_EQ(a.unavailability()->text, row.shown);
            EXPECT_FALSE(a.run({{"invite", "x"}}).has_value());
        }
    }
    // The handle of the offline app.
    EXPECT_EQ(action_of(device_sync_resource(DeviceSyncHandle::unavailable()), "pair").unavailability()->text,
              "Start the live app to initialize device sync.");
}

TEST(ActionTree, PairActionChecksTheInviteThroughItsSchema) {
    const auto handle = handle_with(DeviceSyncState::Ready, "ready", {});
    const std::vector<Resource> roots = {device_sync_resource(handle)};
    const ActionSpec& pair = action_of(roots[0], "pair");
    EXPECT_EQ(pair.label(), "Pair using invite");
    EXPECT_EQ(pair.description(), "Paste a Grayjay pairing invite");
    EXPECT_TRUE(pair.is_privileged());
    ASSERT_EQ(pair.params().size(), 1u);
    EXPECT_EQ(pair.params()[0].name, "invite");
    EXPECT_EQ(pair.params()[0].description, "Grayjay pairing invite; redacted from logs and history");

    struct Row {
        nlohmann::json args;
        bool accepted;
    } rows[] = {
        {{{"invite", ""}}, false},
        {nlohmann::json::object(), false},  // absent counts as empty
        {{{"invite", std::string(16385, 'i')}}, false},
        {{{"invite", std::string(16384, 'i')}}, true},
        {{{"invite", "grayjay://sync/abc"}}, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.args.dump().substr(0, 40));
        auto binding = ActionBinding::static_json(roots[0], "pair", row.args);
        ASSERT_TRUE(binding.has_value());
        auto invocation = binding->invocation();
        ASSERT_EQ(invocation.has_value(), row.accepted);
        if (!row.accepted) {
            EXPECT_EQ(invocation.error().kind(), ActionErrorKind::InvalidArguments);
            EXPECT_FALSE(pair.run(row.args).has_value());
            continue;
        }
        auto encoded = vorn_actions::resource::run_invocation(roots, *invocation);
        ASSERT_TRUE(encoded.has_value()) << encoded.error().to_string();
        EXPECT_EQ(encoded->kind, kOperationKind);
        EXPECT_EQ(decode_operation(encoded->payload),
                  SarnOperation(operation::PairDevice{row.args["invite"].get<std::string>()}));
    }
}

// ---- Decoding and registration ---------------------------------------------------

TEST(ActionTree, DecodeSharedAction) {
    const SarnAction action = action::SetVideoLiked{"abc", true};
    auto decoded = decode_shared_action(encode_json(action));
    ASSERT_TRUE(decoded.has_value());
    const auto* typed = dynamic_cast<const TypedSarnAction*>(decoded->get());
    ASSERT_NE(typed, nullptr);
    EXPECT_EQ(typed->action(), action);
    EXPECT_FALSE((*decoded)->is_collaborative());

    for (std::string_view bad : {"{\"SetVideoLiked\":", "\"likeVideo\"", "{\"Nope\":{}}", "", "\xFF"}) {
        SCOPED_TRACE(bad);
        auto refused = decode_shared_action(bad);
        ASSERT_FALSE(refused.has_value());
        EXPECT_EQ(refused.error().kind(), ActionErrorKind::Decode);
        EXPECT_EQ(refused.error().subject(), kSharedActionKind);
        EXPECT_FALSE(refused.error().text().empty());
    }
    EXPECT_NE(decode_shared_action("\"likeVideo\"").error().text().find("unknown variant `likeVideo`"),
              std::string::npos);
}

TEST(ActionTree, DecodeOperationAnswersNothingValueOrError) {
    const std::string payload = encode_json(SarnOperation{operation::Navigate{Route::watch("abc")}});
    EXPECT_FALSE(decode_operation("sarn.action", payload).has_value());
    EXPECT_FALSE(decode_operation("sarn.operation.x", payload).has_value());
    EXPECT_FALSE(decode_operation("", payload).has_value());

    auto ok = decode_operation(kOperationKind, payload);
    ASSERT_TRUE(ok.has_value());
    ASSERT_TRUE(ok->has_value());
    EXPECT_EQ(**ok, SarnOperation(operation::Navigate{Route::watch("abc")}));

    auto bad = decode_operation(kOperationKind, "{\"Navigate\":{\"route\":\"Watch\"}}");
    ASSERT_TRUE(bad.has_value());
    ASSERT_FALSE(bad->has_value());
    EXPECT_FALSE(bad->error().empty());
}

TEST(ActionTree, RegisterReplacesAnEarlierDecoder) {
    vorn_actions::ActionRegistry registry;
    registry.register_action_namespace(
        "sarn.action",
        [](std::string_view) -> std::expected<std::unique_ptr<vorn_actions::TypedAction>, vorn_actions::ActionError> {
            return std::unexpected(vorn_actions::ActionError::message("stale decoder"));
        });
    register_sarn_actions(registry);
    EXPECT_TRUE(registry.has_namespace("sarn.action"));
    EXPECT_FALSE(registry.has_namespace("sarn.operation"));

    const SarnAction action = action::AddToQueue{"v"};
    auto decoded = registry.decode(EncodedAction{"sarn.action", encode_json(action)});
    ASSERT_TRUE(decoded.has_value()) << decoded.error().to_string();
    EXPECT_TRUE((*decoded)->is_collaborative());
    EXPECT_EQ((*decoded)->encode_json(), encode_json(action));
    EXPECT_EQ(registry.decode(EncodedAction{"sarn.action", "[]"}).error().kind(), ActionErrorKind::Decode);
}

// ---- Lookup and bindings -----------------------------------------------------------

TEST(ActionTree, FindResourceLooksOneLevelDown) {
    Library lib = sample_library();
    lib.route = Route::watch("v1");
    const auto tree = action_resources_tree(lib);
    struct Row {
        const char* address;
        bool found;
    } rows[] = {
        {"sarn.current:v1", true}, {"sarn.navigation", true}, {"sarn.settings", true},
        {"sarn.app", false},  // a listed resource itself
        {"sarn.videos", false}, {"sarn.video:v1", false}, {"sarn.current:v2", false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.address);
        const Resource* r = find_resource(tree, row.address);
        EXPECT_EQ(r != nullptr, row.found);
        if (r != nullptr) {
            EXPECT_EQ(r->id, row.address);
        }
    }
    EXPECT_EQ(find_resource({}, "sarn.navigation"), nullptr);
}

TEST(ActionTree, BindingsAddressTheTreesActions) {
    Library lib = sample_library();
    const auto tree = action_resources_tree(lib);

    EXPECT_FALSE(queue_binding(lib, "missing").has_value());
    auto queue = queue_binding(lib, "v2");
    ASSERT_TRUE(queue.has_value());
    EXPECT_EQ(queue->address(), (vorn_actions::resource::ActionAddress{"sarn.video:v2", "queue"}));
    auto invocation = queue->invocation();
    ASSERT_TRUE(invocation.has_value());
    auto encoded = vorn_actions::resource::run_invocation(tree, *invocation);
    ASSERT_TRUE(encoded.has_value()) << encoded.error().to_string();
    EXPECT_EQ(decode_action(encoded->payload), SarnAction(action::SetQueueMembership{"v2", true}));

    auto sidebar = sidebar_binding();
    ASSERT_TRUE(sidebar.has_value());
    EXPECT_EQ(sidebar->address(), (vorn_actions::resource::ActionAddress{"sarn.navigation", "toggle-sidebar"}));

    struct Row {
        Route route;
        const char* action;  // null: no binding
    } rows[] = {
        {Route::home(), "home"},         {Route::trending(), "trending"},   {Route::subscriptions(), "subscriptions"},
        {Route::queue(), "queue"},       {Route::history(), "history"},     {Route::settings(), "settings"},
        {Route::watch("v1"), nullptr},   {Route::channel("c1"), nullptr},   {Route::playlist("p1"), nullptr},
        {Route::search("cats"), nullptr},
    };
    for (const auto& row : rows) {
        auto binding = route_binding(row.route);
        SCOPED_TRACE(row.action ? row.action : row.route.text.c_str());
        ASSERT_EQ(binding.has_value(), row.action != nullptr);
        if (!binding) continue;
        EXPECT_EQ(binding->address(), (vorn_actions::resource::ActionAddress{"sarn.navigation", row.action}));
        auto inv = binding->invocation();
        ASSERT_TRUE(inv.has_value());
        auto op = vorn_actions::resource::run_invocation(tree, *inv);
        ASSERT_TRUE(op.has_value());
        EXPECT_EQ(decode_operation(op->payload), SarnOperation(operation::Navigate{row.route}));
    }
}

TEST(ActionTree, OperationClassesMatchThePerformedTypes) {
    struct Row {
        SarnOperation operation;
        EffectClass effect;
    } rows[] = {
        {operation::TogglePlayback{}, EffectClass::ViewOnly},
        {operation::ToggleSidebar{}, EffectClass::ViewOnly},
        {operation::Share{"v"}, EffectClass::BeyondView},
        {operation::Navigate{}, EffectClass::ViewOnly},
        {operation::OpenVideo{"v"}, EffectClass::ViewOnly},
        {operation::OpenChannel{"c"}, EffectClass::ViewOnly},
        {operation::OpenPlaylist{"p"}, EffectClass::ViewOnly},
        {operation::Download{"v"}, EffectClass::BeyondView},
        {operation::PairDevice{"i"}, EffectClass::BeyondView},
        {operation::SyncDevices{}, EffectClass::BeyondView},
        {operation::ApproveDevice{"p"}, EffectClass::BeyondView},
        {operation::RevokeDevice{"p"}, EffectClass::BeyondView},
        {operation::RecordHistory{"v"}, EffectClass::BeyondView},
        {operation::RemoveHistory{"v"}, EffectClass::BeyondView},
        {operation::ClearHistory{}, EffectClass::BeyondView},
    };
    static_assert(std::extent_v<decltype(rows)> == kSarnOperationVariantCount);
    for (const auto& row : rows) {
        EXPECT_EQ(operation_effect_class(row.operation), row.effect) << variant_name(row.operation);
    }
}

}  // namespace
}  // namespace sarn

namespace sarn {
namespace {

// Queue toggles keep working for videos the "sarn.videos" collection no
// longer lists: the watched video and the queued ones bind to where the
// tree holds them.
TEST(ActionTree, QueueBindingsRunPastTheFirstHundredVideos) {
    Library lib;
    for (int i = 0; i < 120; ++i) lib.videos.push_back(make_video("v" + std::to_string(i), "T"));
    lib.queue = {"v115"};
    lib.route = Route::watch("v110");
    struct Case {
        std::string video;
        std::string resource;
        std::string action;
        SarnAction runs;
    } cases[] = {
        {"v5", "sarn.video:v5", "queue", action::SetQueueMembership{"v5", true}},
        {"v110", "sarn.current:v110", "queue", action::SetQueueMembership{"v110", true}},
        {"v115", "sarn.queue:v115", "remove", action::SetQueueMembership{"v115", false}},
    };
    const auto tree = action_resources_tree(lib);
    for (const auto& c : cases) {
        const auto binding = queue_binding(lib, c.video);
        ASSERT_TRUE(binding.has_value()) << c.video;
        EXPECT_EQ(binding->address(), (vorn_actions::resource::ActionAddress{c.resource, c.action}));
        auto invocation = binding->invocation();
        ASSERT_TRUE(invocation.has_value());
        auto encoded = vorn_actions::resource::run_invocation(tree, *invocation);
        ASSERT_TRUE(encoded.has_value()) << c.video;
        EXPECT_EQ(decode_action(encoded->payload), c.runs);
    }
    EXPECT_FALSE(queue_binding(lib, "v119").has_value());  // neither listed, watched nor queued
    EXPECT_FALSE(queue_binding(lib, "missing").has_value());
}

}  // namespace
}  // namespace sarn
