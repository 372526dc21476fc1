// What a paired device said of the channels and videos it pulled in, kept as
// ordinary records of the Library: a record the Library lacks is added from
// the peer's description, one it holds only has its empty name and picture
// filled. Channels still without a name are asked of the fetch
// worker a few at a time, as every list's missing records are.
#include <algorithm>

#include "sarn/app/sarn_app.h"
#include "sarn/backend/platform.h"
#include "sarn/model/platform_url.h"

namespace sarn {

namespace {

// Pulled channels whose details one message may ask for.
constexpr std::size_t kPulledChannelDetailsPerMessage = kChannelDetailsPerSearch;

}  // namespace

const PulledChannel* SarnApp::pulled_channel(const PullResult& pulled, std::string_view url) {
    auto found = std::find_if(pulled.channels.begin(), pulled.channels.end(),
                              [&](const PulledChannel& c) { return c.url == url; });
    return found == pulled.channels.end() ? nullptr : &*found;
}

const PulledHistoryEntry* SarnApp::pulled_history_entry(const PullResult& pulled, std::string_view url) {
    auto found = std::find_if(pulled.history.begin(), pulled.history.end(),
                              [&](const PulledHistoryEntry& e) { return e.url == url; });
    return found == pulled.history.end() ? nullptr : &*found;
}

std::string SarnApp::remember_pulled_channel(const std::string& address, const PulledChannel& described,
                                             bool& changed) {
    // The platform's channel id when the peer gave one (or the address holds
    // one), so that fetched details land on the same record; else the address.
    std::string id = is_channel_id(described.id) ? described.id : channel_id_in_address(address).value_or(address);
    if (Channel* known = m_library.find_channel(id)) {
        if (known->name.empty() && !described.name.empty()) {
            known->name = described.name;
            changed = true;
        }
        if (known->avatar_url.empty() && !described.thumbnail.empty()) {
            known->avatar_url = described.thumbnail;
            changed = true;
        }
        return id;
    }
    Channel channel;
    channel.id = id;
    channel.name = described.name;
    channel.handle = address;
    channel.seed = id;
    channel.avatar_url = described.thumbnail;
    m_library.upsert_channel(std::move(channel));
    changed = true;
    return id;
}

void SarnApp::remember_pulled_video(const std::string& video_id, bool id_from_address,
                                    const PulledHistoryEntry& described, bool& changed) {
    // The platform's own picture of a video whose id is known.
    const std::string thumbnail =
        !described.thumbnail.empty() ? described.thumbnail : id_from_address ? thumbnail_url(video_id) : std::string();
    if (Video* known = m_library.find_video(video_id)) {
        if (known->title.empty() && !described.title.empty()) {
            known->title = described.title;
            changed = true;
        }
        if (known->thumbnail_url.empty() && !thumbnail.empty()) {
            known->thumbnail_url = thumbnail;
            changed = true;
        }
        return;
    }
    if (described.title.empty()) return;  // nothing to show it by
    Video video;
    video.id = video_id;
    video.title = described.title;
    video.channel_id = described.channel_id;
    video.channel_name = described.channel_name;
    video.channel_seed = described.channel_id;
    video.channel_avatar_url = described.channel_thumbnail;
    video.views = described.views;
    video.duration = described.duration;
    video.seed = video_id;
    video.thumbnail_url = thumbnail;
    m_library.ensure_channel_stub(video.channel_id, video.channel_name);
    m_library.fill_channel_avatars(video.channel_id, video.channel_name, video.channel_avatar_url);
    m_library.upsert_video(std::move(video));
    changed = true;
}

}  // namespace sarn
