#include "sarn/main/probe_text.h"

#include <cmath>
#include <variant>

#include <fmt/format.h>

#include "sarn/model/library.h"
#include "sarn/model/settings.h"

namespace sarn::entry {

namespace {

bool is_continuation_byte(char byte) { return (static_cast<unsigned char>(byte) & 0xC0) == 0x80; }

bool starts_with_bytes(std::span<const std::uint8_t> bytes, std::size_t offset, std::string_view expected) {
    if (bytes.size() < offset + expected.size()) return false;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        if (bytes[offset + i] != static_cast<std::uint8_t>(expected[i])) return false;
    }
    return true;
}

// Debug forms of the records, field by field in declared order.
std::string debug_number(double value) {
    if (std::isfinite(value) && value == std::floor(value) && std::fabs(value) < 1e16) return fmt::format("{:.1f}", value);
    return fmt::format("{}", value);
}

std::string debug_bool(bool value) { return value ? "true" : "false"; }

std::string debug_optional(const std::optional<std::string>& value) {
    return value ? fmt::format("Some({})", debug_quoted(*value)) : std::string("None");
}

std::string debug_segment(const Segment& segment) {
    return fmt::format("Segment {{ category: {}, start: {}, end: {}, votes: {} }}",
                       category_variant_name(segment.category), debug_number(segment.start),
                       debug_number(segment.end), segment.votes);
}

std::string debug_comment(const Comment& comment) {
    return fmt::format(
        "Comment {{ author: {}, initials: {}, text: {}, likes: {}, time_ago: {}, pinned: {}, hearted: {}, replies: {} "
        "}}",
        debug_quoted(comment.author), debug_quoted(comment.initials), debug_quoted(comment.text), comment.likes,
        debug_quoted(comment.time_ago), debug_bool(comment.pinned), debug_bool(comment.hearted), comment.replies);
}

template <class T, class F>
std::string debug_list(const std::vector<T>& items, F&& item) {
    std::string out = "[";
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i > 0) out += ", ";
        out += item(items[i]);
    }
    return out + "]";
}

std::string debug_video(const Video& v) {
    return fmt::format(
        "Video {{ id: {}, title: {}, dearrow_title: {}, channel_id: {}, channel_name: {}, channel_seed: {}, "
        "channel_avatar_url: {}, views: {}, published: {}, duration: {}, description: {}, likes: {}, seed: {}, "
        "thumbnail_url: {}, category: {}, dearrow_thumb: {}, sponsor: {}, comments: {}, live: {} }}",
        debug_quoted(v.id), debug_quoted(v.title), debug_optional(v.dearrow_title), debug_quoted(v.channel_id),
        debug_quoted(v.channel_name), debug_quoted(v.channel_seed), debug_quoted(v.channel_avatar_url), v.views,
        debug_quoted(v.published), v.duration, debug_quoted(v.description), v.likes, debug_quoted(v.seed),
        debug_quoted(v.thumbnail_url), debug_quoted(v.category), debug_bool(v.dearrow_thumb),
        debug_list(v.sponsor, debug_segment), debug_list(v.comments, debug_comment), debug_bool(v.live));
}

std::string debug_channel(const Channel& c) {
    return fmt::format(
        "Channel {{ id: {}, name: {}, handle: {}, subscribers: {}, verified: {}, description: {}, seed: {}, "
        "avatar_url: {}, banner_url: {} }}",
        debug_quoted(c.id), debug_quoted(c.name), debug_quoted(c.handle), c.subscribers, debug_bool(c.verified),
        debug_quoted(c.description), debug_quoted(c.seed), debug_quoted(c.avatar_url), debug_quoted(c.banner_url));
}

}  // namespace

std::string url_for_display(std::string_view address) {
    if (address.empty()) return "<none>";
    const std::string_view part = address.substr(0, address.find('?'));
    if (part.size() <= kDisplayUrlBytes) return std::string(part);
    // Back to the first byte of the character that byte 72 belongs to, so
    // that the cut never splits it (at worst the whole first character goes).
    std::size_t cut = kDisplayUrlBytes;
    while (cut > 0 && is_continuation_byte(part[cut])) --cut;
    return std::string(part.substr(0, cut)) + "…";
}

std::uint64_t frame_checksum(std::span<const std::uint8_t> pixels) {
    std::uint64_t value = kFrameChecksumStart;
    for (std::size_t i = 0; i < pixels.size(); i += kFrameChecksumStep) {
        value = (value ^ pixels[i]) * kFrameChecksumPrime;
    }
    return value;
}

std::string_view sniff_image_format(std::span<const std::uint8_t> bytes) {
    if (starts_with_bytes(bytes, 0, "\xFF\xD8\xFF")) return "JPEG";
    if (starts_with_bytes(bytes, 0, "\x89PNG")) return "PNG";
    if (starts_with_bytes(bytes, 0, "RIFF") && starts_with_bytes(bytes, 8, "WEBP")) return "WEBP";
    if (starts_with_bytes(bytes, 0, "GIF8")) return "GIF";
    return "OTHER";
}

std::string fold_name(std::string_view name) { return lowercase(name); }

std::string catalog_page_debug(const CatalogPage& page) {
    if (const auto* videos = page.as_videos()) return "Videos(" + debug_list(videos->videos, debug_video) + ")";
    if (const auto* video = page.as_video()) return "Video(" + debug_video(video->video) + ")";
    const auto& channel = std::get<CatalogPage::Channel>(page.value);
    return "Channel(" + debug_channel(channel.channel) + ", " + debug_list(channel.videos, debug_video) + ")";
}

}  // namespace sarn::entry
