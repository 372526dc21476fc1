#include "sarn/backend/extras.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <limits>

#include <fmt/format.h>

#include "sarn/backend/json_read.h"
#include "sarn/model/settings.h"

namespace sarn {

namespace {

using json_read::Json;

constexpr std::int64_t kLockedBonus = 1'000'000;

// GET with the service body cap; the answer or a display text.
ExtrasResult<http::Response> get(http::Client& client, std::string url, std::vector<http::QueryParam> query) {
    http::Request request;
    request.url = std::move(url);
    request.query = std::move(query);
    request.body_limit = kExtrasBodyLimit;
    auto response = client.send(request);
    if (!response) return std::unexpected(std::move(response.error().message));
    return std::move(*response);
}

ExtrasResult<Json> success_json(const http::Response& response) {
    if (auto checked = http::check_status(response); !checked) return std::unexpected(checked.error().message);
    auto parsed = json_read::parse(response.body);
    if (!parsed) return std::unexpected(fmt::format("invalid JSON: {}", parsed.error()));
    return std::move(*parsed);
}

// The counting entry with the greatest score (the later one on ties).
const Json* best_entry(const Json* entries, bool needs_timestamp) {
    if (entries == nullptr) return nullptr;
    const Json* best = nullptr;
    std::int64_t best_score = 0;
    for (const Json& entry : *entries) {
        if (needs_timestamp) {
            const Json* timestamp = json_read::member(entry, "timestamp");
            if (timestamp == nullptr || !timestamp->is_number()) continue;
        }
        const auto score = branding_entry_score(entry);
        if (!score) continue;
        if (best == nullptr || *score >= best_score) {
            best = &entry;
            best_score = *score;
        }
    }
    return best;
}

}  // namespace

std::string skip_segment_categories() {
    Json keys = Json::array();
    for (SponsorCategory category : kAllSponsorCategories) keys.push_back(std::string(category_key(category)));
    try {
        return keys.dump();
    } catch (const Json::exception&) {
        return "[]";
    }
}

std::vector<Segment> segments_from_json(const Json& body) {
    std::vector<Segment> segments;
    if (!body.is_array()) return segments;
    for (const Json& entry : body) {
        const Json* category_value = json_read::member(entry, "category");
        if (category_value == nullptr || !category_value->is_string()) continue;
        const auto category = parse_category(category_value->get_ref<const std::string&>());
        if (!category) continue;
        const Json* bounds = json_read::array(entry, "segment");
        if (bounds == nullptr) continue;
        Segment segment;
        segment.category = *category;
        segment.start = bounds->empty() ? 0.0 : json_read::as_number((*bounds)[0]).value_or(0.0);
        segment.end = bounds->size() < 2 ? segment.start : json_read::as_number((*bounds)[1]).value_or(segment.start);
        segment.votes = json_read::signed_count(entry, "votes");
        segments.push_back(segment);
    }
    std::stable_sort(segments.begin(), segments.end(),
                     [](const Segment& a, const Segment& b) { return a.start < b.start; });
    return segments;
}

std::optional<std::int64_t> branding_entry_score(const Json& entry) {
    if (json_read::flag(entry, "original")) return std::nullopt;
    const std::int64_t votes = json_read::signed_count(entry, "votes");
    if (json_read::flag(entry, "locked")) {
        return votes > std::numeric_limits<std::int64_t>::max() - kLockedBonus ? std::numeric_limits<std::int64_t>::max()
                                                                              : votes + kLockedBonus;
    }
    if (votes < 0) return std::nullopt;
    return votes;
}

std::string crowd_thumbnail_url(std::string_view thumbnails_base, std::string_view video_id, double time) {
    // The shortest text that reads back as the same number, never in
    // exponent form: 12.5, 30, 100000000000000000000, 0.0000001.
    std::array<char, 400> digits{};
    const auto written = std::to_chars(digits.data(), digits.data() + digits.size(), time, std::chars_format::fixed);
    const std::string_view time_text(digits.data(), written.ec == std::errc() ? written.ptr - digits.data() : 0);
    return fmt::format("{}/api/v1/getThumbnail?videoID={}&time={}", thumbnails_base, http::percent_encode(video_id),
                       time_text);
}

Branding branding_from_json(const Json& body, std::string_view thumbnails_base, std::string_view video_id) {
    Branding branding;
    if (const Json* title = best_entry(json_read::array(body, "titles"), false)) {
        if (const Json* text = json_read::member(*title, "title"); text != nullptr && text->is_string()) {
            branding.title = text->get<std::string>();
        }
    }
    if (const Json* thumb = best_entry(json_read::array(body, "thumbnails"), true)) {
        const double time = json_read::number(*thumb, "timestamp");
        branding.thumbnail = crowd_thumbnail_url(thumbnails_base, video_id, time);
    }
    return branding;
}

ExtrasResult<std::vector<Segment>> fetch_skip_segments(http::Client& client, const ExtrasEndpoints& endpoints,
                                                       std::string_view video_id) {
    auto response = get(client, endpoints.segments + "/api/skipSegments",
                        {{"videoID", std::string(video_id)}, {"categories", skip_segment_categories()}});
    if (!response) return std::unexpected(std::move(response.error()));
    if (response->status == 404) return std::vector<Segment>{};
    auto body = success_json(*response);
    if (!body) return std::unexpected(std::move(body.error()));
    return segments_from_json(*body);
}

ExtrasResult<Branding> fetch_branding(http::Client& client, const ExtrasEndpoints& endpoints,
                                      std::string_view video_id) {
    auto response = get(client, endpoints.segments + "/api/branding", {{"videoID", std::string(video_id)}});
    if (!response) return std::unexpected(std::move(response.error()));
    auto body = success_json(*response);
    if (!body) return std::unexpected(std::move(body.error()));
    return branding_from_json(*body, endpoints.thumbnails, video_id);
}

ExtrasResult<std::uint64_t> fetch_dislikes(http::Client& client, const ExtrasEndpoints& endpoints,
                                           std::string_view video_id) {
    auto response = get(client, endpoints.votes + "/votes", {{"videoId", std::string(video_id)}});
    if (!response) return std::unexpected(std::move(response.error()));
    auto body = success_json(*response);
    if (!body) return std::unexpected(std::move(body.error()));
    auto dislikes = json_read::count_if_present(*body, "dislikes");
    if (!dislikes) return std::unexpected(std::string("no dislikes field in RYD response"));
    return *dislikes;
}

}  // namespace sarn
