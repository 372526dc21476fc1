#pragma once
// Which records to ask the fetch worker for when a list names ids the
// Library holds no record of (a page of the queue, the history or the
// subscriptions shown after a restart, the ids device sync pulled): a few at
// a time, so that a long list neither fills the worker's request queue nor
// holds up what the user asks for meanwhile.
//
// At most kInFlight requests are outstanding. A request counts as answered
// once the Library holds the record (a channel's with a name),
// or after kPatience without it (the
// worker failed, or the platform has no such video); each id is asked for
// once per run.
//
// Interface thread only.

#include <chrono>
#include <cstddef>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "sarn/backend/fetch_worker.h"
#include "sarn/model/library.h"

namespace sarn {

class RecordRequests {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::size_t kInFlight = 3;
    static constexpr std::chrono::seconds kPatience{20};

    // The requests to send now: Video for a video id, Channel for a
    // subscription entry (an id, a handle or an address), in list order,
    // videos first.
    std::vector<FetchRequest> next(const Library& library, std::span<const std::string> video_ids,
                                   std::span<const std::string> channel_entries, Clock::time_point now);

    std::size_t in_flight() const { return m_pending.size(); }

private:
    struct Pending {
        bool video = true;
        std::string id;
        Clock::time_point asked;
    };
    bool answered(const Library& library, const Pending& pending, Clock::time_point now) const;

    std::vector<Pending> m_pending;
    std::set<std::string, std::less<>> m_asked_videos;
    std::set<std::string, std::less<>> m_asked_channels;
};

}  // namespace sarn
