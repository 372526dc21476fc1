// The changes to the user's shared library document: likes, queue,
// subscriptions, settings, comment likes and replies, and the legacy forms
// older peers may still send. Each variant is one struct whose fields are in
// their exchanged order; `SarnAction` holds exactly one of them.
//
// The JSON form is exchanged with the runtime and with peers, so names, order
// and accepted shapes are fixed: a variant without fields is the bare string
// of its name, any other is {"Name":{fields in declared order}}. The decoder
// also takes the fields as an array in declared order and a unit variant as
// {"Name":null}; it skips unknown members and refuses missing or repeated
// fields, with the reference library's error texts.
//
// Plain values; any thread.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <string>
#include <string_view>
#include <variant>

#include <nlohmann/json.hpp>

#include "json_reader/reader.h"
#include "sarn/model/settings.h"

namespace sarn {

namespace action {

// Legacy toggle of a video like.
struct LikeVideo {
    static constexpr std::string_view kName = "LikeVideo";
    std::string video_id;
    friend bool operator==(const LikeVideo&, const LikeVideo&) = default;
};

struct SetVideoLiked {
    static constexpr std::string_view kName = "SetVideoLiked";
    std::string video_id;
    bool liked = false;
    friend bool operator==(const SetVideoLiked&, const SetVideoLiked&) = default;
};

// Puts a video into the shared watch queue.
struct AddToQueue {
    static constexpr std::string_view kName = "AddToQueue";
    std::string video_id;
    friend bool operator==(const AddToQueue&, const AddToQueue&) = default;
};

struct SetQueueMembership {
    static constexpr std::string_view kName = "SetQueueMembership";
    std::string video_id;
    bool queued = false;
    friend bool operator==(const SetQueueMembership&, const SetQueueMembership&) = default;
};

// Legacy shared watch-history entry.
struct SetHistoryEntry {
    static constexpr std::string_view kName = "SetHistoryEntry";
    std::string owner_id;
    std::string video_id;
    std::uint64_t watched_at_ms = 0;
    bool present = false;
    std::string mutation_id;
    friend bool operator==(const SetHistoryEntry&, const SetHistoryEntry&) = default;
};

// Legacy shared clear of the watch history.
struct ClearHistory {
    static constexpr std::string_view kName = "ClearHistory";
    std::string owner_id;
    std::uint64_t cleared_at_ms = 0;
    std::string clear_id;
    friend bool operator==(const ClearHistory&, const ClearHistory&) = default;
};

// Legacy toggle of a subscription.
struct ToggleSubscription {
    static constexpr std::string_view kName = "ToggleSubscription";
    std::string channel_id;
    friend bool operator==(const ToggleSubscription&, const ToggleSubscription&) = default;
};

struct SetSubscription {
    static constexpr std::string_view kName = "SetSubscription";
    std::string channel_id;
    bool subscribed = false;
    friend bool operator==(const SetSubscription&, const SetSubscription&) = default;
};

// Switches one of the seven on/off settings.
struct SetSetting {
    static constexpr std::string_view kName = "SetSetting";
    Setting setting = Setting::SponsorBlock;
    bool enabled = false;
    friend bool operator==(const SetSetting&, const SetSetting&) = default;
};

// Legacy step to the next preferred quality.
struct CyclePreferredQuality {
    static constexpr std::string_view kName = "CyclePreferredQuality";
    friend bool operator==(const CyclePreferredQuality&, const CyclePreferredQuality&) = default;
};

// Any text decodes; the reducer checks it against the accepted qualities.
struct SetPreferredQuality {
    static constexpr std::string_view kName = "SetPreferredQuality";
    std::string quality;
    friend bool operator==(const SetPreferredQuality&, const SetPreferredQuality&) = default;
};

struct SetSponsorCategory {
    static constexpr std::string_view kName = "SetSponsorCategory";
    SponsorCategory category = SponsorCategory::Sponsor;
    SponsorMode mode = SponsorMode::Skip;
    friend bool operator==(const SetSponsorCategory&, const SetSponsorCategory&) = default;
};

// `index` is the comment's position on its page; an empty `comment_id`
// makes the reducer key the like by position.
struct LikeComment {
    static constexpr std::string_view kName = "LikeComment";
    std::string video_id;
    std::uint64_t index = 0;  // machine word
    std::string comment_id;
    friend bool operator==(const LikeComment&, const LikeComment&) = default;
};

struct SetCommentLiked {
    static constexpr std::string_view kName = "SetCommentLiked";
    std::string comment_id;
    bool liked = false;
    friend bool operator==(const SetCommentLiked&, const SetCommentLiked&) = default;
};

struct ReplyToComment {
    static constexpr std::string_view kName = "ReplyToComment";
    std::string video_id;
    std::uint64_t index = 0;  // machine word
    std::string comment_id;
    std::string text;
    friend bool operator==(const ReplyToComment&, const ReplyToComment&) = default;
};

struct SetCommentReply {
    static constexpr std::string_view kName = "SetCommentReply";
    std::string comment_id;
    std::string reply_id;
    std::string text;
    bool active = false;
    friend bool operator==(const SetCommentReply&, const SetCommentReply&) = default;
};

}  // namespace action

// Alternatives in declared order: index() is the variant index.
using SarnAction = std::variant<action::LikeVideo, action::SetVideoLiked, action::AddToQueue,
                                action::SetQueueMembership, action::SetHistoryEntry, action::ClearHistory,
                                action::ToggleSubscription, action::SetSubscription, action::SetSetting,
                                action::CyclePreferredQuality, action::SetPreferredQuality,
                                action::SetSponsorCategory, action::LikeComment, action::SetCommentLiked,
                                action::ReplyToComment, action::SetCommentReply>;

inline constexpr std::size_t kSarnActionVariantCount = std::variant_size_v<SarnAction>;
extern const std::array<std::string_view, kSarnActionVariantCount> kSarnActionVariantNames;

std::string_view variant_name(const SarnAction& action);

// Compact JSON bytes, fields in declared order. Never fails: text that is not
// valid UTF-8 is written with U+FFFD in place of the invalid bytes.
std::string encode_json(const SarnAction& action);
// The same document as a value tree (members in the same order).
nlohmann::ordered_json json_value(const SarnAction& action);

// Decodes one whole document; the error is the reference library's message
// with its position suffix when it has one.
std::expected<SarnAction, std::string> decode_action(std::string_view json);
// Decodes one action value at the reader's position (for documents that
// embed actions).
json_reader::Result<SarnAction> read_action(json_reader::Reader& reader);

// `SetVideoLiked { video_id: "abc", liked: true }`, `CyclePreferredQuality`.
std::string debug_text(const SarnAction& action);

}  // namespace sarn
