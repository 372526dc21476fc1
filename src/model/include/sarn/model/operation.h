// The commands that leave the shared library document alone: playback,
// navigation, opening pages, sharing, device pairing and the owner-local
// history. Same JSON conventions as `SarnAction` (see action.h).
//
// Plain values; any thread.
#pragma once

#include <array>
#include <cstddef>
#include <expected>
#include <string>
#include <string_view>
#include <variant>

#include <nlohmann/json.hpp>

#include "json_reader/reader.h"
#include "sarn/model/route.h"

namespace sarn {

namespace operation {

struct TogglePlayback {
    static constexpr std::string_view kName = "TogglePlayback";
    friend bool operator==(const TogglePlayback&, const TogglePlayback&) = default;
};

struct ToggleSidebar {
    static constexpr std::string_view kName = "ToggleSidebar";
    friend bool operator==(const ToggleSidebar&, const ToggleSidebar&) = default;
};

// Copies the video's share link.
struct Share {
    static constexpr std::string_view kName = "Share";
    std::string video_id;
    friend bool operator==(const Share&, const Share&) = default;
};

struct Navigate {
    static constexpr std::string_view kName = "Navigate";
    Route route;
    friend bool operator==(const Navigate&, const Navigate&) = default;
};

struct OpenVideo {
    static constexpr std::string_view kName = "OpenVideo";
    std::string video_id;
    friend bool operator==(const OpenVideo&, const OpenVideo&) = default;
};

struct OpenChannel {
    static constexpr std::string_view kName = "OpenChannel";
    std::string channel_id;
    friend bool operator==(const OpenChannel&, const OpenChannel&) = default;
};

struct OpenPlaylist {
    static constexpr std::string_view kName = "OpenPlaylist";
    std::string playlist_id;
    friend bool operator==(const OpenPlaylist&, const OpenPlaylist&) = default;
};

struct Download {
    static constexpr std::string_view kName = "Download";
    std::string video_id;
    friend bool operator==(const Download&, const Download&) = default;
};

// Pairs with a device from an invite text.
struct PairDevice {
    static constexpr std::string_view kName = "PairDevice";
    std::string invite;
    friend bool operator==(const PairDevice&, const PairDevice&) = default;
};

// Runs a device-sync pass now.
struct SyncDevices {
    static constexpr std::string_view kName = "SyncDevices";
    friend bool operator==(const SyncDevices&, const SyncDevices&) = default;
};

struct ApproveDevice {
    static constexpr std::string_view kName = "ApproveDevice";
    std::string peer_id;
    friend bool operator==(const ApproveDevice&, const ApproveDevice&) = default;
};

struct RevokeDevice {
    static constexpr std::string_view kName = "RevokeDevice";
    std::string peer_id;
    friend bool operator==(const RevokeDevice&, const RevokeDevice&) = default;
};

// Records the video in the owner-local watch history.
struct RecordHistory {
    static constexpr std::string_view kName = "RecordHistory";
    std::string video_id;
    friend bool operator==(const RecordHistory&, const RecordHistory&) = default;
};

struct RemoveHistory {
    static constexpr std::string_view kName = "RemoveHistory";
    std::string video_id;
    friend bool operator==(const RemoveHistory&, const RemoveHistory&) = default;
};

// Clears the owner-local watch history.
struct ClearHistory {
    static constexpr std::string_view kName = "ClearHistory";
    friend bool operator==(const ClearHistory&, const ClearHistory&) = default;
};

}  // namespace operation

// Alternatives in declared order: index() is the variant index.
using SarnOperation = std::variant<operation::TogglePlayback, operation::ToggleSidebar, operation::Share,
                                   operation::Navigate, operation::OpenVideo, operation::OpenChannel,
                                   operation::OpenPlaylist, operation::Download, operation::PairDevice,
                                   operation::SyncDevices, operation::ApproveDevice, operation::RevokeDevice,
                                   operation::RecordHistory, operation::RemoveHistory, operation::ClearHistory>;

inline constexpr std::size_t kSarnOperationVariantCount = std::variant_size_v<SarnOperation>;
extern const std::array<std::string_view, kSarnOperationVariantCount> kSarnOperationVariantNames;

std::string_view variant_name(const SarnOperation& operation);

std::string encode_json(const SarnOperation& operation);
nlohmann::ordered_json json_value(const SarnOperation& operation);
std::expected<SarnOperation, std::string> decode_operation(std::string_view json);
json_reader::Result<SarnOperation> read_operation(json_reader::Reader& reader);
// `Navigate { route: Watch("abc") }`, `TogglePlayback`.
std::string debug_text(const SarnOperation& operation);

}  // namespace sarn
