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
#include "sarn/sync/packet.h"

namespace sarn {

// {"publicKey":..,"lastHistory":-1,"lastSubscription":-1}
std::expected<std::string, DeviceSyncError> encode_state_exchange(std::string_view public_key);

// One pushed subscription for a local channel identifier.
nlohmann::ordered_json peer_subscription_record(std::string_view channel, std::int64_t creation_time);

// {"subscriptions":[...],"subscriptionRemovals":{}}
std::expected<std::string, DeviceSyncError> encode_subscriptions_package(const std::vector<std::string>& channels,
                                                                         std::int64_t creation_time);

struct SubscriptionsPackage {
    std::vector<std::string> urls;      // each entry's channel.url, in order
    std::vector<std::string> removals;  // the keys of subscriptionRemovals
};

// Nothing when the package does not decode (missing `subscriptions`, wrong types).
std::optional<SubscriptionsPackage> decode_subscriptions_package(SyncByteView payload);

// Each entry's video.url in order, skipping entries without one; nothing when
// the array does not decode.
std::optional<std::vector<std::string>> decode_history_package(SyncByteView payload);

}  // namespace sarn
