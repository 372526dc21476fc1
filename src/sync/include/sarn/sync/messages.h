#pragma once
// The vocabulary between the interface thread and the device-sync worker.
// Plain values; they move between the two threads through the handle's queues.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "sarn/model/settings.h"
#include "sarn/sync/error.h"
#include "sarn/sync/peer_record.h"

namespace sarn {

enum class DeviceSyncState : std::uint8_t { Unavailable = 0, Ready = 1, Pairing = 2, Syncing = 3, NeedsAttention = 4 };

// The settings page's label, e.g. "Pairing…".
std::string_view device_sync_state_label(DeviceSyncState state);

// One local subscription as a push sends it: an address the phone can open,
// the spellings it may hold the same channel under, the channel's id and name.
struct PeerChannel {
    std::string url;
    std::vector<std::string> alternatives;  // other addresses of the same channel
    std::string id;                         // the channel id, or the address when unknown
    std::string name;                       // the channel's name, or the address when unknown
    friend bool operator==(const PeerChannel&, const PeerChannel&) = default;
};

// A channel the user removed here, under an address a phone may hold it by.
struct PeerRemoval {
    std::string url;
    std::int64_t removed_at_ms = 0;
    friend bool operator==(const PeerRemoval&, const PeerRemoval&) = default;
};

namespace sync_command {
struct Pair {
    std::string invite;
    friend bool operator==(const Pair&, const Pair&) = default;
};
struct Approve {
    std::string peer_id;
    friend bool operator==(const Approve&, const Approve&) = default;
};
struct Revoke {
    std::string peer_id;
    friend bool operator==(const Revoke&, const Revoke&) = default;
};
struct SyncNow {
    std::vector<std::string> subscriptions;  // local channel identifiers, library order
    std::vector<std::string> history;        // travels along; not sent to Grayjay
    PlaybackSettings settings;               // travels along; not sent to Grayjay
    // What the push sends: the subscriptions as addresses (entries without one
    // left out) and the removals.
    std::vector<PeerChannel> channels = {};
    std::vector<PeerRemoval> removals = {};
    friend bool operator==(const SyncNow&, const SyncNow&) = default;
};
struct Shutdown {
    friend bool operator==(const Shutdown&, const Shutdown&) = default;
};
}  // namespace sync_command

using SyncCommand = std::variant<sync_command::Pair, sync_command::Approve, sync_command::Revoke,
                                 sync_command::SyncNow, sync_command::Shutdown>;

struct SyncStatusEvent {
    std::string local_key;  // standard base64, 44 characters
    std::string message;
    std::vector<PeerRecord> peers;
    DeviceSyncState state = DeviceSyncState::Unavailable;
    friend bool operator==(const SyncStatusEvent&, const SyncStatusEvent&) = default;
};

// A channel as a peer described it in its subscriptions.
struct PulledChannel {
    std::string url;        // channel.url, as sent
    std::string id;         // channel.id.value, or empty
    std::string name;       // the channel's name, or empty
    std::string thumbnail;  // an http(s) address of its avatar, or empty
    friend bool operator==(const PulledChannel&, const PulledChannel&) = default;
};

// One entry of a peer's watch history, with what it said of the video.
struct PulledHistoryEntry {
    std::string url;                             // video.url, as sent
    std::optional<std::uint64_t> watched_at_ms;  // when the peer's user watched it
    std::string title;
    std::string thumbnail;  // an http(s) address, or empty
    std::string channel_id;
    std::string channel_name;
    std::string channel_thumbnail;  // an http(s) address, or empty
    std::uint32_t duration = 0;     // seconds
    std::uint64_t views = 0;
    friend bool operator==(const PulledHistoryEntry&, const PulledHistoryEntry&) = default;
};

struct PullResult {
    std::vector<std::string> subscription_urls;
    std::vector<std::string> history_urls;  // newest first, as sent
    std::optional<PlaybackSettings> settings;
    // Addresses the peer lists in subscriptionRemovals. Kept by the worker so a
    // pass never pushes back what the user removed on the phone; not imported.
    std::vector<std::string> subscription_removals;
    // Set when the pull ended (a read failure, the reply time-out) before the
    // peer sent its subscriptions: the lists hold only what did arrive, and
    // the pass counts the device as failed. Never set on an imported result.
    std::optional<DeviceSyncError> incomplete = std::nullopt;
    // What the peer said of the channels and videos behind the two lists
    // above (at most one per address, in the same order).
    std::vector<PulledChannel> channels = {};
    std::vector<PulledHistoryEntry> history = {};
    friend bool operator==(const PullResult&, const PullResult&) = default;
};

namespace sync_event {
struct Status {
    SyncStatusEvent status;
};
struct Pulled {
    PullResult result;
};
}  // namespace sync_event

using SyncWorkerEvent = std::variant<sync_event::Status, sync_event::Pulled>;

}  // namespace sarn
