// Catalogue records delivered by the backends: videos, channels, playlists,
// comments and skip segments. Plain values; a missing number is 0 and a
// missing text is empty.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sarn/model/settings.h"

namespace sarn {

struct Segment {
    SponsorCategory category = SponsorCategory::Sponsor;
    double start = 0.0;  // seconds
    double end = 0.0;    // seconds
    std::int64_t votes = 0;
    friend bool operator==(const Segment&, const Segment&) = default;
};

// A comment has no id of its own; actions address it by a comment key.
struct Comment {
    std::string author;
    std::string initials;
    std::string text;
    std::uint64_t likes = 0;
    std::string time_ago;
    bool pinned = false;
    bool hearted = false;
    std::uint32_t replies = 0;
    friend bool operator==(const Comment&, const Comment&) = default;
};

struct Video {
    std::string id;
    std::string title;
    std::optional<std::string> dearrow_title;
    std::string channel_id;
    std::string channel_name;
    std::string channel_seed;
    std::string channel_avatar_url;
    std::uint64_t views = 0;
    std::string published;
    std::uint32_t duration = 0;  // seconds; 0 when unknown
    std::string description;
    std::uint64_t likes = 0;
    std::string seed;
    std::string thumbnail_url;
    std::string category;
    bool dearrow_thumb = false;
    std::vector<Segment> sponsor;
    std::vector<Comment> comments;
    bool live = false;
    friend bool operator==(const Video&, const Video&) = default;
};

struct Channel {
    std::string id;
    std::string name;
    std::string handle;  // handle or address path; matches subscriptions
    std::uint64_t subscribers = 0;
    bool verified = false;
    std::string description;
    std::string seed;
    std::string avatar_url;
    std::string banner_url;
    friend bool operator==(const Channel&, const Channel&) = default;
};

struct Playlist {
    std::string id;
    std::string title;
    std::string channel_id;
    std::string channel_name;
    std::string thumbnail_url;
    std::string seed;
    std::vector<std::string> video_ids;  // in playlist order
    std::uint64_t video_count = 0;       // as the source reports it
    friend bool operator==(const Playlist&, const Playlist&) = default;
};

}  // namespace sarn
