#include "sarn/sync/packages.h"

#include <algorithm>
#include <climits>
#include <cstdint>

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

constexpr std::size_t kLongestName = 256;
constexpr std::size_t kLongestAddress = 2048;

// The member when it is a string, else the empty text.
std::string string_member(const json& object, const char* key) {
    auto it = object.find(key);
    if (it == object.end() || !it->is_string()) return {};
    return it->get<std::string>();
}

std::string name_member(const json& object, const char* key) {
    return peer_display_text(string_member(object, key), kLongestName);
}

// An http(s) address of reasonable length, else the empty text.
std::string address_text(std::string text) {
    if (text.size() > kLongestAddress) return {};
    if (!text.starts_with("https://") && !text.starts_with("http://")) return {};
    for (char c : text) {
        if (static_cast<unsigned char>(c) <= 0x20 || c == 0x7f) return {};
    }
    return text;
}

std::string address_member(const json& object, const char* key) { return address_text(string_member(object, key)); }

std::uint64_t unsigned_member(const json& object, const char* key) {
    auto it = object.find(key);
    if (it == object.end()) return 0;
    if (it->is_number_unsigned()) return it->get<std::uint64_t>();
    if (it->is_number_integer()) {
        const auto value = it->get<std::int64_t>();
        return value > 0 ? static_cast<std::uint64_t>(value) : 0;
    }
    return 0;
}

// The url of a well-formed SerializedChannel, with what it says of the channel.
std::optional<PulledChannel> channel_entry(const json& channel) {
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
    PulledChannel out;
    out.url = url->get<std::string>();
    out.id = peer_display_text(string_member(*id, "value"), kLongestName);
    out.name = name_member(channel, "name");
    out.thumbnail = address_member(channel, "thumbnail");
    return out;
}

// The best of a video's thumbnails: {"sources":[{"url":…,"quality":N},…]},
// the highest quality first met.
std::string thumbnail_of(const json& video) {
    auto thumbnails = video.find("thumbnails");
    if (thumbnails == video.end() || !thumbnails->is_object()) return {};
    auto sources = thumbnails->find("sources");
    if (sources == thumbnails->end() || !sources->is_array()) return {};
    std::string best;
    std::uint64_t best_quality = 0;
    for (const json& source : *sources) {
        if (!source.is_object()) continue;
        std::string url = address_member(source, "url");
        if (url.empty()) continue;
        const std::uint64_t quality = unsigned_member(source, "quality");
        if (best.empty() || quality > best_quality) {
            best = std::move(url);
            best_quality = quality;
        }
    }
    return best;
}

// A watch time: a number of seconds (or, from 10^11 on, milliseconds) since
// the epoch, or an ISO 8601 text; nothing for 0, negatives and anything else.
std::optional<std::uint64_t> watch_time_ms(const json& value) {
    std::optional<std::int64_t> ms;
    if (value.is_number_integer() || value.is_number_unsigned()) {
        if (value.is_number_unsigned() && value.get<std::uint64_t>() > static_cast<std::uint64_t>(INT64_MAX)) {
            return std::nullopt;
        }
        const std::int64_t n = value.get<std::int64_t>();
        if (n >= 100'000'000'000) {
            ms = n;
        } else if (n > 0) {
            ms = n * 1000;
        }
    } else if (value.is_number_float()) {
        const double n = value.get<double>();
        if (n >= 1e11 && n < 9e18) {
            ms = static_cast<std::int64_t>(n);
        } else if (n > 0 && n < 1e11) {
            ms = static_cast<std::int64_t>(n * 1000.0);
        }
    } else if (value.is_string()) {
        ms = parse_iso8601_ms(value.get<std::string>());
    }
    if (!ms || *ms <= 0) return std::nullopt;
    return static_cast<std::uint64_t>(*ms);
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

ordered_json peer_subscription_record(const PeerChannel& channel, std::int64_t creation_time) {
    ordered_json id;
    id["platform"] = "YouTube";
    id["value"] = channel.id.empty() ? channel.url : channel.id;
    id["pluginId"] = nullptr;
    id["claimType"] = 0;
    id["claimFieldType"] = -1;
    ordered_json serialized;
    serialized["id"] = std::move(id);
    serialized["name"] = channel.name.empty() ? channel.url : channel.name;
    serialized["thumbnail"] = nullptr;
    serialized["banner"] = nullptr;
    serialized["subscribers"] = 0;
    serialized["description"] = nullptr;
    serialized["url"] = channel.url;
    serialized["links"] = ordered_json::object();
    serialized["urlAlternatives"] = ordered_json::array();
    for (const std::string& alternative : channel.alternatives) serialized["urlAlternatives"].push_back(alternative);
    ordered_json out;
    out["channel"] = std::move(serialized);
    out["creationTime"] = creation_time;
    return out;
}

std::expected<std::string, DeviceSyncError> encode_subscriptions_package(const std::vector<PeerChannel>& channels,
                                                                         const std::vector<PeerRemoval>& removals,
                                                                         std::int64_t creation_time) {
    try {
        ordered_json out;
        out["subscriptions"] = ordered_json::array();
        for (const PeerChannel& channel : channels) {
            out["subscriptions"].push_back(peer_subscription_record(channel, creation_time));
        }
        out["subscriptionRemovals"] = ordered_json::object();
        for (const PeerRemoval& removal : removals) out["subscriptionRemovals"][removal.url] = removal.removed_at_ms;
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
        auto described = channel_entry(*channel);
        if (!described) return std::nullopt;
        package.urls.push_back(described->url);
        package.channels.push_back(std::move(*described));
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

std::string peer_display_text(std::string_view text, std::size_t longest) {
    std::string out;
    out.reserve(std::min(text.size(), longest));
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto b = static_cast<unsigned char>(text[i]);
        if (b < 0x20 || b == 0x7f) {
            out.push_back(' ');
        } else if (b == 0xc2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                   static_cast<unsigned char>(text[i + 1]) <= 0x9f) {
            out.push_back(' ');
            ++i;
        } else {
            out.push_back(text[i]);
        }
    }
    const auto first = out.find_first_not_of(' ');
    if (first == std::string::npos) return {};
    out = out.substr(first, out.find_last_not_of(' ') - first + 1);
    if (out.size() > longest) {
        std::size_t cut = longest;
        while (cut > 0 && (static_cast<unsigned char>(out[cut]) & 0xc0) == 0x80) --cut;
        out.resize(cut);
    }
    return out;
}

std::optional<std::vector<PulledHistoryEntry>> decode_history_entries(SyncByteView payload) {
    json document = parse(payload);
    if (!document.is_array()) return std::nullopt;
    std::vector<PulledHistoryEntry> entries;
    for (const json& entry : document) {
        if (!entry.is_object()) return std::nullopt;
        auto video = entry.find("video");
        if (video == entry.end() || video->is_null()) continue;
        if (!video->is_object()) return std::nullopt;
        auto url = video->find("url");
        if (url == video->end() || url->is_null()) continue;
        if (!url->is_string()) return std::nullopt;
        PulledHistoryEntry out;
        out.url = url->get<std::string>();
        if (auto date = entry.find("date"); date != entry.end()) out.watched_at_ms = watch_time_ms(*date);
        out.title = name_member(*video, "name");
        out.thumbnail = thumbnail_of(*video);
        if (auto author = video->find("author"); author != video->end() && author->is_object()) {
            if (auto id = author->find("id"); id != author->end() && id->is_object()) {
                out.channel_id = peer_display_text(string_member(*id, "value"), kLongestName);
            }
            out.channel_name = name_member(*author, "name");
            out.channel_thumbnail = address_member(*author, "thumbnail");
        }
        out.duration = static_cast<std::uint32_t>(std::min<std::uint64_t>(unsigned_member(*video, "duration"), UINT32_MAX));
        out.views = unsigned_member(*video, "viewCount");
        entries.push_back(std::move(out));
    }
    return entries;
}

std::optional<std::vector<std::string>> decode_history_package(SyncByteView payload) {
    auto entries = decode_history_entries(payload);
    if (!entries) return std::nullopt;
    std::vector<std::string> urls;
    urls.reserve(entries->size());
    for (PulledHistoryEntry& entry : *entries) urls.push_back(std::move(entry.url));
    return urls;
}

namespace {

// Days from 1970-01-01 to the civil date (proleptic Gregorian).
std::int64_t days_from_civil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2 ? 1 : 0;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

// `count` decimal digits at `at`, moving past them.
std::optional<unsigned> digits(std::string_view text, std::size_t& at, std::size_t count) {
    if (at + count > text.size()) return std::nullopt;
    unsigned value = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const char c = text[at + i];
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    at += count;
    return value;
}

bool expect(std::string_view text, std::size_t& at, char c) {
    if (at >= text.size() || text[at] != c) return false;
    ++at;
    return true;
}

}  // namespace

std::optional<std::int64_t> parse_iso8601_ms(std::string_view text) {
    std::size_t at = 0;
    const auto year = digits(text, at, 4);
    if (!year || !expect(text, at, '-')) return std::nullopt;
    const auto month = digits(text, at, 2);
    if (!month || !expect(text, at, '-')) return std::nullopt;
    const auto day = digits(text, at, 2);
    if (!day || at >= text.size() || (text[at] != 'T' && text[at] != 't' && text[at] != ' ')) return std::nullopt;
    ++at;
    const auto hour = digits(text, at, 2);
    if (!hour || !expect(text, at, ':')) return std::nullopt;
    const auto minute = digits(text, at, 2);
    if (!minute || !expect(text, at, ':')) return std::nullopt;
    const auto second = digits(text, at, 2);
    if (!second) return std::nullopt;
    static constexpr unsigned kMonthDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (*month < 1 || *month > 12 || *day < 1 || *day > kMonthDays[*month - 1] || *hour > 23 || *minute > 59 ||
        *second > 60) {
        return std::nullopt;
    }
    std::int64_t ms = 0;
    if (at < text.size() && (text[at] == '.' || text[at] == ',')) {
        ++at;
        std::size_t count = 0;
        std::int64_t scale = 100;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
            if (count < 3) ms += (text[at] - '0') * scale;
            scale /= 10;
            ++count;
            ++at;
        }
        if (count == 0) return std::nullopt;
    }
    std::int64_t offset_minutes = 0;
    if (at < text.size() && (text[at] == 'Z' || text[at] == 'z')) {
        ++at;
    } else if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
        const int sign = text[at] == '-' ? -1 : 1;
        ++at;
        const auto oh = digits(text, at, 2);
        if (!oh) return std::nullopt;
        if (at < text.size() && text[at] == ':') ++at;
        const auto om = digits(text, at, 2);
        if (!om || *oh > 23 || *om > 59) return std::nullopt;
        offset_minutes = sign * static_cast<std::int64_t>(*oh * 60 + *om);
    } else {
        return std::nullopt;
    }
    if (at != text.size()) return std::nullopt;
    const std::int64_t days = days_from_civil(*year, *month, *day);
    const std::int64_t seconds = days * 86400 + *hour * 3600 + *minute * 60 + *second - offset_minutes * 60;
    return seconds * 1000 + ms;
}

}  // namespace sarn
