#include "sarn/model/library.h"

#include <algorithm>
#include <limits>

#include <unicode/uchar.h>
#include <unicode/locid.h>
#include <unicode/unistr.h>

#include "sarn/model/platform_url.h"

namespace sarn {

std::string default_profile_label() { return "profile:local"; }

std::string lowercase(std::string_view text) {
    // Invalid UTF-8 becomes U+FFFD rather than failing: the result only
    // serves substring matching.
    icu::UnicodeString unicode =
        icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
    int32_t start = 0;
    int32_t end = unicode.length();
    while (start < end && u_isUWhiteSpace(unicode.char32At(start))) start = unicode.moveIndex32(start, 1);
    while (end > start) {
        int32_t previous = unicode.moveIndex32(end, -1);
        if (!u_isUWhiteSpace(unicode.char32At(previous))) break;
        end = previous;
    }
    icu::UnicodeString trimmed(unicode, start, end - start);
    trimmed.toLower(icu::Locale::getRoot());
    std::string out;
    trimmed.toUTF8String(out);
    return out;
}

namespace {

// Lower-cased but not trimmed: the fields searched by the local search.
std::string lower_untrimmed(std::string_view text) {
    icu::UnicodeString unicode =
        icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
    unicode.toLower(icu::Locale::getRoot());
    std::string out;
    unicode.toUTF8String(out);
    return out;
}

bool is_ascii(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

char ascii_lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Whether the text, lower-cased, contains the needle (lower-cased already).
// ASCII text lower-cases letter by letter into ASCII, so it is matched in
// place, and never holds a needle that is not ASCII; other text goes through
// the full Unicode lower-casing.
bool lower_contains(std::string_view text, std::string_view needle, bool needle_ascii) {
    if (is_ascii(text)) {
        if (!needle_ascii) return false;
        return std::search(text.begin(), text.end(), needle.begin(), needle.end(),
                           [](char a, char b) { return ascii_lower(a) == b; }) != text.end();
    }
    return lower_untrimmed(text).find(needle) != std::string::npos;
}

std::string_view strip_leading_slashes(std::string_view text) {
    while (!text.empty() && text.front() == '/') text.remove_prefix(1);
    return text;
}

template <typename Record>
Record* find_by_id(std::vector<Record>& records, std::string_view id) {
    auto found = std::find_if(records.begin(), records.end(), [&](const Record& r) { return r.id == id; });
    return found == records.end() ? nullptr : &*found;
}

template <typename Record>
const Record* find_by_id(const std::vector<Record>& records, std::string_view id) {
    auto found = std::find_if(records.begin(), records.end(), [&](const Record& r) { return r.id == id; });
    return found == records.end() ? nullptr : &*found;
}

bool contains(const std::vector<std::string>& list, std::string_view id) {
    return std::find(list.begin(), list.end(), id) != list.end();
}

template <typename Record>
Record* find_or_kept(std::vector<Record>& records, std::vector<Record>& kept, std::string_view id) {
    Record* found = find_by_id(records, id);
    return found != nullptr ? found : find_by_id(kept, id);
}

template <typename Record>
const Record* find_or_kept(const std::vector<Record>& records, const std::vector<Record>& kept, std::string_view id) {
    const Record* found = find_by_id(records, id);
    return found != nullptr ? found : find_by_id(kept, id);
}

}  // namespace

const Video* Library::find_video(std::string_view id) const { return find_or_kept(videos, kept_videos, id); }
Video* Library::find_video(std::string_view id) { return find_or_kept(videos, kept_videos, id); }
const Channel* Library::find_channel(std::string_view id) const { return find_or_kept(channels, kept_channels, id); }
Channel* Library::find_channel(std::string_view id) { return find_or_kept(channels, kept_channels, id); }
const Playlist* Library::find_playlist(std::string_view id) const { return find_by_id(playlists, id); }
Playlist* Library::find_playlist(std::string_view id) { return find_by_id(playlists, id); }

bool Library::is_liked(std::string_view video_id) const { return contains(likes, video_id); }
bool Library::is_queued(std::string_view video_id) const { return contains(queue, video_id); }

std::uint64_t Library::count_with_own(const Video& video) const {
    // Saturates: a count delivered as the largest value must not wrap to 0.
    const std::uint64_t own = is_liked(video.id) && video.likes != std::numeric_limits<std::uint64_t>::max() ? 1 : 0;
    return video.likes + own;
}

std::optional<std::uint64_t> Library::dislike_count(std::string_view video_id) const {
    auto found = dislikes.find(video_id);
    if (found == dislikes.end()) return std::nullopt;
    return found->second;
}

namespace {

// Whether one subscription entry names the channel (`channel` is its record
// when the Library knows it).
bool names_channel(std::string_view entry, std::string_view channel_id, const Channel* channel) {
    if (entry == channel_id) return true;
    if (channel != nullptr) {
        if (entry == channel->handle) return true;
        if (entry.starts_with(kPlatformWebPrefix) &&
            entry.substr(kPlatformWebPrefix.size()) == strip_leading_slashes(channel->handle)) {
            return true;
        }
    }
    if (entry.find(channel_id) == std::string_view::npos || !is_channel_id(channel_id)) return false;
    return channel_id_in_address(entry) == std::optional<std::string>(std::string(channel_id));
}

// The canonical address without one trailing slash.
std::optional<std::string> canonical_address(std::string_view entry) {
    auto normalized = normalize_watch_url(entry);
    if (normalized && normalized->size() > kPlatformBareOrigin.size() + 1 && normalized->ends_with('/')) {
        normalized->pop_back();
    }
    return normalized;
}

}  // namespace

std::optional<std::string> Library::find_subscription(std::string_view channel_id) const {
    const Channel* channel = find_channel(channel_id);
    for (const std::string& entry : subscriptions) {
        if (names_channel(entry, channel_id, channel)) return entry;
    }
    return std::nullopt;
}

std::vector<std::string> Library::subscription_keys(std::string_view channel_id) const {
    const Channel* channel = find_channel(channel_id);
    std::vector<std::string> out;
    for (const std::string& entry : subscriptions) {
        if (names_channel(entry, channel_id, channel)) out.push_back(entry);
    }
    return out;
}

bool Library::is_subscribed(std::string_view channel_id) const { return find_subscription(channel_id).has_value(); }

const Channel* Library::subscription_channel(std::string_view entry) const {
    if (const Channel* channel = find_channel(entry)) return channel;
    if (auto id = channel_id_in_address(entry)) {
        if (const Channel* channel = find_channel(*id)) return channel;
    }
    // A handle, bare or as an address under any of the platform's origins.
    const std::optional<std::string> address = normalize_watch_url(entry);
    std::string_view rest;
    if (address && std::string_view(*address).starts_with(kPlatformWebPrefix)) {
        rest = std::string_view(*address).substr(kPlatformWebPrefix.size());
        while (rest.ends_with('/')) rest.remove_suffix(1);
    }
    auto matches = [&](const Channel& channel) {
        if (channel.handle.empty()) return false;
        if (channel.handle == entry) return true;
        return !rest.empty() && strip_leading_slashes(channel.handle) == rest;
    };
    for (const std::vector<Channel>* list : {&channels, &kept_channels}) {
        for (const Channel& channel : *list) {
            if (matches(channel)) return &channel;
        }
    }
    return nullptr;
}

std::optional<std::string> Library::subscription_url(std::string_view entry) const {
    const Channel* channel = find_channel(entry);
    if (channel == nullptr) return normalize_watch_url(entry);
    if (std::string_view(channel->handle).starts_with("http")) return normalize_watch_url(channel->handle);
    std::string out(kPlatformWebPrefix);
    out.append(strip_leading_slashes(channel->handle));
    return out;
}

std::optional<std::string> Library::channel_id_of(std::string_view entry) const {
    if (is_channel_id(entry)) return std::string(entry);
    if (auto id = channel_id_in_address(entry)) return id;
    if (const Channel* channel = subscription_channel(entry); channel != nullptr && is_channel_id(channel->id)) {
        return channel->id;
    }
    return std::nullopt;
}

std::string Library::channel_key(std::string_view entry) const {
    if (auto id = channel_id_of(entry)) return *id;
    if (const Channel* channel = subscription_channel(entry)) return channel->id;
    if (auto address = canonical_address(entry)) return *address;
    return std::string(entry);
}

std::optional<std::string> Library::peer_subscription_url(std::string_view entry) const {
    if (auto id = channel_id_of(entry)) return channel_address_for_peer(*id);
    auto address = subscription_url(entry);
    if (!address) return std::nullopt;
    return www_spelling(*address);
}

std::vector<const Video*> Library::videos_of_channel(std::string_view channel_id) const {
    std::vector<const Video*> out;
    for (const Video& video : videos) {
        if (video.channel_id == channel_id) out.push_back(&video);
    }
    return out;
}

std::vector<const Video*> Library::subscribed_videos() const {
    std::vector<const Video*> out;
    for (const Video& video : videos) {
        if (is_subscribed(video.channel_id)) out.push_back(&video);
    }
    return out;
}

namespace {

std::vector<const Video*> map_video_ids(const Library& library, const std::vector<std::string>& ids) {
    std::vector<const Video*> out;
    for (const std::string& id : ids) {
        if (const Video* video = library.find_video(id)) out.push_back(video);
    }
    return out;
}

}  // namespace

std::vector<const Video*> Library::history_videos() const { return map_video_ids(*this, history); }

std::vector<const Video*> Library::search_library(std::string_view query, std::size_t limit) const {
    const std::string q = lowercase(query);
    const bool ascii = is_ascii(q);
    std::vector<const Video*> out;
    for (const Video& video : videos) {
        if (out.size() >= limit) break;
        if (q.empty() || lower_contains(video.title, q, ascii) || lower_contains(video.channel_name, q, ascii) ||
            lower_contains(video.category, q, ascii)) {
            out.push_back(&video);
        }
    }
    return out;
}

std::vector<const Video*> Library::search_results(std::string_view query) const {
    if (search_results_query == query && !search_result_videos.empty()) {
        auto found = map_video_ids(*this, search_result_videos);
        if (!found.empty()) return found;
    }
    return search_library(query);
}

std::vector<const Channel*> Library::search_result_channel_records(std::string_view query) const {
    std::vector<const Channel*> out;
    if (search_results_query != query) return out;
    for (const std::string& id : search_result_channels) {
        if (const Channel* channel = find_channel(id)) out.push_back(channel);
    }
    return out;
}

std::vector<const Playlist*> Library::search_result_playlist_records(std::string_view query) const {
    std::vector<const Playlist*> out;
    if (search_results_query != query) return out;
    for (const std::string& id : search_result_playlists) {
        if (const Playlist* playlist = find_playlist(id)) out.push_back(playlist);
    }
    return out;
}

std::vector<const Video*> Library::related_videos(std::string_view video_id) const {
    const Video* current = find_video(video_id);
    std::string_view category = current ? std::string_view(current->category) : std::string_view();
    std::vector<const Video*> out;
    for (const Video& video : videos) {
        if (video.id != video_id && video.category == category) out.push_back(&video);
    }
    for (const Video& video : videos) {
        if (video.id != video_id && video.category != category) out.push_back(&video);
    }
    return out;
}

std::vector<const Video*> Library::up_next_videos(std::string_view video_id) const {
    if (up_next_for == video_id && !up_next.empty()) {
        auto found = map_video_ids(*this, up_next);
        if (!found.empty()) return found;
    }
    return related_videos(video_id);
}

void Library::toggle_like(std::string_view video_id) {
    auto found = std::find(likes.begin(), likes.end(), video_id);
    if (found != likes.end()) {
        likes.erase(found);
    } else {
        likes.emplace_back(video_id);
    }
}

void Library::toggle_subscription(std::string_view channel_id) {
    const std::vector<std::string> keys = subscription_keys(channel_id);
    if (keys.empty()) {
        subscriptions.emplace_back(channel_id);
        return;
    }
    std::erase_if(subscriptions, [&](const std::string& entry) {
        return std::find(keys.begin(), keys.end(), entry) != keys.end();
    });
}

void Library::remember_watched(std::string_view video_id) {
    std::erase(history, video_id);
    history.insert(history.begin(), std::string(video_id));
    if (history.size() > kHistoryLimit) history.resize(kHistoryLimit);
}

void Library::push_recent_entry(std::string text) {
    notices.insert(notices.begin(), std::move(text));
    if (notices.size() > kNoticeLimit) notices.resize(kNoticeLimit);
}

void Library::project_history(std::vector<HistoryPair> entries) {
    std::sort(entries.begin(), entries.end(), [](const HistoryPair& a, const HistoryPair& b) {
        if (a.second != b.second) return a.second > b.second;
        return a.first < b.first;
    });
    // An id listed under two times keeps its newest: the list never holds
    // an id twice.
    history.clear();
    for (HistoryPair& entry : entries) {
        if (history.size() == kHistoryLimit) break;
        if (!contains(history, entry.first)) history.push_back(std::move(entry.first));
    }
}

void Library::upsert_video(Video video) {
    Video* stored = find_by_id(videos, video.id);
    if (stored == nullptr) {
        videos.push_back(std::move(video));
        return;
    }
    if (video.sponsor.empty()) video.sponsor = std::move(stored->sponsor);
    if (video.comments.empty()) video.comments = std::move(stored->comments);
    if (!video.dearrow_title) video.dearrow_title = std::move(stored->dearrow_title);
    if (video.thumbnail_url.empty()) video.thumbnail_url = std::move(stored->thumbnail_url);
    *stored = std::move(video);
}

void Library::upsert_channel(Channel channel) {
    Channel* stored = find_by_id(channels, channel.id);
    if (stored == nullptr) {
        channels.push_back(std::move(channel));
        return;
    }
    if (channel.avatar_url.empty()) channel.avatar_url = std::move(stored->avatar_url);
    if (channel.banner_url.empty()) channel.banner_url = std::move(stored->banner_url);
    *stored = std::move(channel);
}

void Library::upsert_playlist(Playlist playlist) {
    Playlist* stored = find_playlist(playlist.id);
    if (stored == nullptr) {
        playlists.push_back(std::move(playlist));
        return;
    }
    if (playlist.video_ids.empty()) playlist.video_ids = std::move(stored->video_ids);
    *stored = std::move(playlist);
}

void Library::ensure_channel_stub(std::string_view channel_id, std::string_view channel_name) {
    if (channel_id.empty() || find_channel(channel_id) != nullptr) return;
    Channel stub;
    stub.id = std::string(channel_id);
    stub.name = std::string(channel_name);
    stub.handle = stub.id;
    stub.seed = stub.id;
    channels.push_back(std::move(stub));
}

void Library::fill_channel_avatar(std::string_view channel_id, std::string_view address) {
    if (channel_id.empty() || address.empty()) return;
    Channel* channel = find_channel(channel_id);
    if (channel != nullptr && channel->avatar_url.empty()) channel->avatar_url = std::string(address);
}

bool Library::fill_channel_avatars(std::string_view channel_id, std::string_view channel_name,
                                   std::string_view address) {
    if (address.empty()) return false;
    std::string name = lowercase(channel_name);
    bool filled = false;
    for (Channel& channel : channels) {
        bool matches = (!channel_id.empty() && channel.id == channel_id) ||
                       (!name.empty() && lowercase(channel.name) == name);
        if (matches && channel.avatar_url.empty()) {
            channel.avatar_url = std::string(address);
            filled = true;
        }
    }
    return filled;
}

void Library::share_channel_avatars() {
    std::map<std::string, std::string> offers;
    for (const Channel& channel : channels) {
        if (!channel.avatar_url.empty()) offers.emplace(lowercase(channel.name), channel.avatar_url);
    }
    if (offers.empty()) return;
    for (Channel& channel : channels) {
        if (!channel.avatar_url.empty()) continue;
        auto offer = offers.find(lowercase(channel.name));
        if (offer != offers.end()) channel.avatar_url = offer->second;
    }
}

void Library::ingest_catalog_videos(std::vector<Video> list, std::string status_text) {
    for (const Video& video : list) {
        ensure_channel_stub(video.channel_id, video.channel_name);
        fill_channel_avatars(video.channel_id, video.channel_name, video.channel_avatar_url);
    }
    videos = std::move(list);
    share_channel_avatars();
    search_results_query.clear();
    search_result_videos.clear();
    up_next_for.clear();
    up_next.clear();
    status = BackendStatus{std::move(status_text), true};
}

const std::string& Library::display_title(const Video& video, bool use_crowd_title) {
    if (use_crowd_title && video.dearrow_title) return *video.dearrow_title;
    return video.title;
}

const std::string& Library::thumbnail_for(const Video& video) const {
    if (settings.dearrow && settings.dearrow_thumbnails) {
        auto found = crowd_thumbnails.find(video.id);
        if (found != crowd_thumbnails.end() && !found->second.empty()) return found->second;
    }
    return video.thumbnail_url;
}

}  // namespace sarn
