#pragma once
// The JSON packages of the sync protocol: the 150 state exchange we send, the
// 202 subscriptions package both ways and the 203 history we read. Compact JSON
// with exact field names and order. Pure functions; any thread.

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "sarn/sync/error.h"
#include "sarn/sync/messages.h"
#include "sarn/sync/packet.h"

namespace sarn {

// {"publicKey":..,"lastHistory":-1,"lastSubscription":-1}
std::expected<std::string, DeviceSyncError> encode_state_exchange(std::string_view public_key);

// One pushed subscription: url, urlAlternatives, id.value and name from the
// channel, the other fields as a phone expects them empty.
nlohmann::ordered_json peer_subscription_record(const PeerChannel& channel, std::int64_t creation_time);

// {"subscriptions":[...],"subscriptionRemovals":{url: removal time in ms, ...}}
std::expected<std::string, DeviceSyncError> encode_subscriptions_package(const std::vector<PeerChannel>& channels,
                                                                         const std::vector<PeerRemoval>& removals,
                                                                         std::int64_t creation_time);

struct SubscriptionsPackage {
    std::vector<std::string> urls;        // each entry's channel.url, in order
    std::vector<std::string> removals;    // the keys of subscriptionRemovals
    std::vector<PulledChannel> channels;  // each entry's channel, in order
};

// Nothing when the package does not decode (missing `subscriptions`, wrong types).
std::optional<SubscriptionsPackage> decode_subscriptions_package(SyncByteView payload);

// Each entry with a video.url in order, with the entry's watch time ("date":
// seconds or milliseconds since the epoch, or an ISO 8601 text) and what it
// says of the video; nothing when the array does not decode. Members of the
// wrong type beside the url are ignored, names are cut to 256 bytes and
// thumbnails that are no http(s) address dropped.
std::optional<std::vector<PulledHistoryEntry>> decode_history_entries(SyncByteView payload);

// A text a peer sent, as it is shown: control characters (U+0000-U+001F,
// U+007F-U+009F) become spaces, the ends are trimmed of spaces, and at most
// `longest` bytes are kept without splitting a UTF-8 sequence (the text is
// valid UTF-8).
std::string peer_display_text(std::string_view text, std::size_t longest);

// The urls of decode_history_entries.
std::optional<std::vector<std::string>> decode_history_package(SyncByteView payload);

// Milliseconds since the epoch of "YYYY-MM-DDTHH:MM:SS[.fff][Z|±HH:MM|±HHMM]"
// (a space may stand for the "T"); nothing for any other text.
std::optional<std::int64_t> parse_iso8601_ms(std::string_view text);

}  // namespace sarn
