#include "sarn/model/action.h"

#include "vocabulary_codec.h"

namespace sarn {
namespace codec {

using namespace action;

template <> constexpr auto fields_of<LikeVideo>() { return std::tuple{field("video_id", &LikeVideo::video_id)}; }
template <> constexpr auto fields_of<SetVideoLiked>() {
    return std::tuple{field("video_id", &SetVideoLiked::video_id), field("liked", &SetVideoLiked::liked)};
}
template <> constexpr auto fields_of<AddToQueue>() { return std::tuple{field("video_id", &AddToQueue::video_id)}; }
template <> constexpr auto fields_of<SetQueueMembership>() {
    return std::tuple{field("video_id", &SetQueueMembership::video_id), field("queued", &SetQueueMembership::queued)};
}
template <> constexpr auto fields_of<SetHistoryEntry>() {
    return std::tuple{field("owner_id", &SetHistoryEntry::owner_id), field("video_id", &SetHistoryEntry::video_id),
                      field("watched_at_ms", &SetHistoryEntry::watched_at_ms), field("present", &SetHistoryEntry::present),
                      field("mutation_id", &SetHistoryEntry::mutation_id)};
}
template <> constexpr auto fields_of<ClearHistory>() {
    return std::tuple{field("owner_id", &ClearHistory::owner_id), field("cleared_at_ms", &ClearHistory::cleared_at_ms),
                      field("clear_id", &ClearHistory::clear_id)};
}
template <> constexpr auto fields_of<ToggleSubscription>() {
    return std::tuple{field("channel_id", &ToggleSubscription::channel_id)};
}
template <> constexpr auto fields_of<SetSubscription>() {
    return std::tuple{field("channel_id", &SetSubscription::channel_id), field("subscribed", &SetSubscription::subscribed)};
}
template <> constexpr auto fields_of<SetSetting>() {
    return std::tuple{field("setting", &SetSetting::setting), field("enabled", &SetSetting::enabled)};
}
template <> constexpr auto fields_of<CyclePreferredQuality>() { return std::tuple<>{}; }
template <> constexpr auto fields_of<SetPreferredQuality>() {
    return std::tuple{field("quality", &SetPreferredQuality::quality)};
}
template <> constexpr auto fields_of<SetSponsorCategory>() {
    return std::tuple{field("category", &SetSponsorCategory::category), field("mode", &SetSponsorCategory::mode)};
}
template <> constexpr auto fields_of<LikeComment>() {
    return std::tuple{field("video_id", &LikeComment::video_id), usize_field("index", &LikeComment::index),
                      field("comment_id", &LikeComment::comment_id)};
}
template <> constexpr auto fields_of<SetCommentLiked>() {
    return std::tuple{field("comment_id", &SetCommentLiked::comment_id), field("liked", &SetCommentLiked::liked)};
}
template <> constexpr auto fields_of<ReplyToComment>() {
    return std::tuple{field("video_id", &ReplyToComment::video_id), usize_field("index", &ReplyToComment::index),
                      field("comment_id", &ReplyToComment::comment_id), field("text", &ReplyToComment::text)};
}
template <> constexpr auto fields_of<SetCommentReply>() {
    return std::tuple{field("comment_id", &SetCommentReply::comment_id), field("reply_id", &SetCommentReply::reply_id),
                      field("text", &SetCommentReply::text), field("active", &SetCommentReply::active)};
}

}  // namespace codec

namespace {
constexpr std::string_view kVocabulary = "SarnAction";
}

const std::array<std::string_view, kSarnActionVariantCount> kSarnActionVariantNames = codec::variant_names<SarnAction>();

std::string_view variant_name(const SarnAction& action) { return kSarnActionVariantNames[action.index()]; }

std::string encode_json(const SarnAction& action) { return codec::encode_vocabulary(action); }

nlohmann::ordered_json json_value(const SarnAction& action) {
    return std::visit([](const auto& alternative) { return codec::variant_tree(alternative); }, action);
}

std::expected<SarnAction, std::string> decode_action(std::string_view json) {
    return codec::decode_vocabulary<SarnAction>(json, kVocabulary);
}

json_reader::Result<SarnAction> read_action(json_reader::Reader& reader) {
    return codec::read_vocabulary<SarnAction>(reader, kVocabulary);
}

std::string debug_text(const SarnAction& action) { return codec::debug_vocabulary(action); }

}  // namespace sarn
