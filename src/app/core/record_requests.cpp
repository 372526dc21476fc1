#include "sarn/app/record_requests.h"

#include <algorithm>

namespace sarn {

namespace {

// A channel is known once its record can be shown by name (a stub made
// from an address alone cannot).
bool channel_known(const Library& library, std::string_view entry) {
    const Channel* channel = library.subscription_channel(entry);
    return channel != nullptr && !channel->name.empty();
}

}  // namespace

bool RecordRequests::answered(const Library& library, const Pending& pending, Clock::time_point now) const {
    if (now - pending.asked >= kPatience) return true;
    return pending.video ? library.find_video(pending.id) != nullptr : channel_known(library, pending.id);
}

std::vector<FetchRequest> RecordRequests::next(const Library& library, std::span<const std::string> video_ids,
                                               std::span<const std::string> channel_entries, Clock::time_point now) {
    std::erase_if(m_pending, [&](const Pending& pending) { return answered(library, pending, now); });
    std::vector<FetchRequest> out;
    auto room = [&] { return m_pending.size() < kInFlight; };
    for (const std::string& id : video_ids) {
        if (!room()) return out;
        if (id.empty() || library.find_video(id) != nullptr || !m_asked_videos.insert(id).second) continue;
        m_pending.push_back(Pending{true, id, now});
        out.push_back(FetchRequest::video(id));
    }
    for (const std::string& entry : channel_entries) {
        if (!room()) return out;
        if (entry.empty() || channel_known(library, entry) || !m_asked_channels.insert(entry).second) {
            continue;
        }
        m_pending.push_back(Pending{false, entry, now});
        out.push_back(FetchRequest::channel(entry));
    }
    return out;
}

}  // namespace sarn
