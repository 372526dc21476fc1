// Crowd-sourced extras around a watched video: skip segments, an
// alternative title and thumbnail, and a dislike count, each from its own
// outside service over the fetch worker's HTTP client.
//
// Threads: the fetchers run on the caller's thread (the fetch worker), one
// request at a time, blocking; the pure helpers are safe on any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "sarn/http/client.h"
#include "sarn/model/records.h"

namespace sarn {

// Largest answer body read from these services.
inline constexpr std::size_t kExtrasBodyLimit = 4 * 1024 * 1024;

// Base addresses of the three services (no trailing slash). Tests point
// them at a local server.
struct ExtrasEndpoints {
    std::string segments = "https://sponsor.ajay.app";             // skip segments and branding
    std::string thumbnails = "https://dearrow-thumb.ajay.app";     // crowd-sourced thumbnail images
    std::string votes = "https://returnyoutubedislikeapi.com";     // dislike counts
};

struct Branding {
    std::optional<std::string> title;
    std::optional<std::string> thumbnail;  // address of the thumbnail image
    friend bool operator==(const Branding&, const Branding&) = default;
};

template <class T>
using ExtrasResult = std::expected<T, std::string>;

// Sorted by start; a 404 is an empty list.
ExtrasResult<std::vector<Segment>> fetch_skip_segments(http::Client& client, const ExtrasEndpoints& endpoints,
                                                       std::string_view video_id);
ExtrasResult<Branding> fetch_branding(http::Client& client, const ExtrasEndpoints& endpoints,
                                      std::string_view video_id);
ExtrasResult<std::uint64_t> fetch_dislikes(http::Client& client, const ExtrasEndpoints& endpoints,
                                           std::string_view video_id);

// The compact JSON array of every category's service key, in order.
std::string skip_segment_categories();
// Segments of a skip-segment answer body (already parsed).
std::vector<Segment> segments_from_json(const nlohmann::json& body);
// Score of one title or thumbnail entry; none for an original or an
// unlocked entry with negative votes.
std::optional<std::int64_t> branding_entry_score(const nlohmann::json& entry);
Branding branding_from_json(const nlohmann::json& body, std::string_view thumbnails_base, std::string_view video_id);
// "{base}/api/v1/getThumbnail?videoID={id}&time={time}".
std::string crowd_thumbnail_url(std::string_view thumbnails_base, std::string_view video_id, double time);

}  // namespace sarn
