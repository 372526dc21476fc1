#include "sarn/sync/packages.h"

namespace sarn {
namespace {

using nlohmann::json;
using nlohmann::ordered_json;

bool optional_string(const json& object, const char* key) {
    auto it = object.find(key);
    return it == object.end() || it->is_null() || it->is_string();
}

bool optional_integer(const json& object, const char* key) {
    auto it = object.find(key);
    return it == object.end() || it->is_number_integer();
}

bool valid_platform_id(const json& id) {
    if (!id.is_object()) return false;
    auto platform = id.find("platform");
    if (platform == id.end() || !platform->is_string()) return false;
    return optional_string(id, "value") && optional_string(id, "pluginId") && optional_integer(id, "claimType") &&
           optional_integer(id, "claimFieldType");
}

// The url of a well-formed SerializedChannel.
std::optional<std::string> channel_url(const json& channel) {
    if (!channel.is_object()) return std::nullopt;
    auto id = channel.find("id");
    auto name = channel.find("name");
    auto url = channel.find("url");
    if (id == channel.end() || !valid_platform_id(*id)) return std::nullopt;
    if (name == channel.end() || !name->is_string()) return std::nullopt;
    if (url == channel.end() || !url->is_string()) return std::nullopt;
    if (!optional_string(channel, "thumbnail") || !optional_string(channel, "banner") ||
        !optional_string(channel, "description") || !optional_integer(channel, "subscribers")) {
        return std::nullopt;
    }
    if (auto links = channel.find("links"); links != channel.end()) {
        if (!links->is_object()) return std::nullopt;
        for (const auto& value : *links) {
            if (!value.is_string()) return std::nullopt;
        }
    }
    if (auto alternatives = channel.find("urlAlternatives"); alternatives != channel.end()) {
        if (!alternatives->is_array()) return std::nullopt;
        for (const auto& value : *alternatives) {
            if (!value.is_string()) return std::nullopt;
        }
    }
    return url->get<std::string>();
}

json parse(SyncByteView payload) {
    return json::parse(payload.begin(), payload.end(), nullptr, false);
}

}  // namespace

std::expected<std::string, DeviceSyncError> encode_state_exchange(std::string_view public_key) {
    try {
        ordered_json out;
        out["publicKey"] = public_key;
        out["lastHistory"] = std::int64_t{-1};
        out["lastSubscription"] = std::int64_t{-1};
        return out.dump();
    } catch (const json::exception& e) {
        return std::unexpected(DeviceSyncError::transport(std::string("encode state-exchange: ") + e.what()));
    }
}

ordered_json peer_subscription_record(std::string_view channel, std::int64_t creation_time) {
    ordered_json id;
    id["platform"] = "YouTube";
    id["value"] = channel;
    id["pluginId"] = nullptr;
    id["claimType"] = 0;
    id["claimFieldType"] = -1;
    ordered_json serialized;
    serialized["id"] = std::move(id);
    serialized["name"] = channel;
    serialized["thumbnail"] = nullptr;
    serialized["banner"] = nullptr;
    serialized["subscribers"] = 0;
    serialized["description"] = nullptr;
    serialized["url"] = channel;
    serialized["links"] = ordered_json::object();
    serialized["urlAlternatives"] = ordered_json::array();
    ordered_json out;
    out["channel"] = std::move(serialized);
    out["creationTime"] = creation_time;
    return out;
}

std::expected<std::string, DeviceSyncError> encode_subscriptions_package(const std::vector<std::string>& channels,
                                                                         std::int64_t creation_time) {
    try {
        ordered_json out;
        out["subscriptions"] = ordered_json::array();
        for (const std::string& channel : channels) {
            out["subscriptions"].push_back(peer_subscription_record(channel, creation_time));
        }
        out["subscriptionRemovals"] = ordered_json::object();
        // Replacement rather than an exception for text that is not UTF-8.
        return out.dump(-1, ' ', false, json::error_handler_t::replace);
    } catch (const json::exception& e) {
        return std::unexpected(DeviceSyncError::transport(std::string("encode subscriptions: ") + e.what()));
    }
}

std::optional<SubscriptionsPackage> decode_subscriptions_package(SyncByteView payload) {
    json document = parse(payload);
    if (!document.is_object()) return std::nullopt;
    auto subscriptions = document.find("subscriptions");
    if (subscriptions == document.end() || !subscriptions->is_array()) return std::nullopt;
    SubscriptionsPackage package;
    for (const json& entry : *subscriptions) {
        if (!entry.is_object() || !optional_integer(entry, "creationTime")) return std::nullopt;
        auto channel = entry.find("channel");
        if (channel == entry.end()) return std::nullopt;
        auto url = channel_url(*channel);
        if (!url) return std::nullopt;
        package.urls.push_back(std::move(*url));
    }
    if (auto removals = document.find("subscriptionRemovals"); removals != document.end()) {
        if (!removals->is_object()) return std::nullopt;
        for (auto it = removals->begin(); it != removals->end(); ++it) {
            if (!it.value().is_number_integer()) return std::nullopt;
            package.removals.push_back(it.key());
        }
    }
    return package;
}

std::optional<std::vector<std::string>> decode_history_package(SyncByteView payload) {
    json document = parse(payload);
    if (!document.is_array()) return std::nullopt;
    std::vector<std::string> urls;
    for (const json& entry : document) {
        if (!entry.is_object()) return std::nullopt;
        auto video = entry.find("video");
        if (video == entry.end() || video->is_null()) continue;
        if (!video->is_object()) return std::nullopt;
        auto url = video->find("url");
        if (url == video->end() || url->is_null()) continue;
        if (!url->is_string()) return std::nullopt;
        urls.push_back(url->get<std::string>());
    }
    return urls;
}

}  // namespace sarn
