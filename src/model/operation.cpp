#include "sarn/model/operation.h"

#include "vocabulary_codec.h"

namespace sarn {
namespace codec {

using namespace operation;

template <> constexpr auto fields_of<TogglePlayback>() { return std::tuple<>{}; }
template <> constexpr auto fields_of<ToggleSidebar>() { return std::tuple<>{}; }
template <> constexpr auto fields_of<Share>() { return std::tuple{field("video_id", &Share::video_id)}; }
template <> constexpr auto fields_of<Navigate>() { return std::tuple{field("route", &Navigate::route)}; }
template <> constexpr auto fields_of<OpenVideo>() { return std::tuple{field("video_id", &OpenVideo::video_id)}; }
template <> constexpr auto fields_of<OpenChannel>() { return std::tuple{field("channel_id", &OpenChannel::channel_id)}; }
template <> constexpr auto fields_of<OpenPlaylist>() { return std::tuple{field("playlist_id", &OpenPlaylist::playlist_id)}; }
template <> constexpr auto fields_of<Download>() { return std::tuple{field("video_id", &Download::video_id)}; }
template <> constexpr auto fields_of<PairDevice>() { return std::tuple{field("invite", &PairDevice::invite)}; }
template <> constexpr auto fields_of<SyncDevices>() { return std::tuple<>{}; }
template <> constexpr auto fields_of<ApproveDevice>() { return std::tuple{field("peer_id", &ApproveDevice::peer_id)}; }
template <> constexpr auto fields_of<RevokeDevice>() { return std::tuple{field("peer_id", &RevokeDevice::peer_id)}; }
template <> constexpr auto fields_of<RecordHistory>() { return std::tuple{field("video_id", &RecordHistory::video_id)}; }
template <> constexpr auto fields_of<RemoveHistory>() { return std::tuple{field("video_id", &RemoveHistory::video_id)}; }
template <> constexpr auto fields_of<ClearHistory>() { return std::tuple<>{}; }

}  // namespace codec

namespace {
constexpr std::string_view kVocabulary = "SarnOperation";
}

const std::array<std::string_view, kSarnOperationVariantCount> kSarnOperationVariantNames =
    codec::variant_names<SarnOperation>();

std::string_view variant_name(const SarnOperation& operation) { return kSarnOperationVariantNames[operation.index()]; }

std::string encode_json(const SarnOperation& operation) { return codec::encode_vocabulary(operation); }

nlohmann::ordered_json json_value(const SarnOperation& operation) {
    return std::visit([](const auto& alternative) { return codec::variant_tree(alternative); }, operation);
}

std::expected<SarnOperation, std::string> decode_operation(std::string_view json) {
    return codec::decode_vocabulary<SarnOperation>(json, kVocabulary);
}

json_reader::Result<SarnOperation> read_operation(json_reader::Reader& reader) {
    return codec::read_vocabulary<SarnOperation>(reader, kVocabulary);
}

std::string debug_text(const SarnOperation& operation) { return codec::debug_vocabulary(operation); }

}  // namespace sarn
