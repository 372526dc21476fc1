// Recent answers of the platform's web API, kept for a short while so that
// the calls one opened video or one search makes, through one client or
// several that share the cache (the fetch worker's primary backend and its
// enrichment client), reach the platform once: a video's watch page serves
// its details, its related videos and the token of its first comment page;
// a search answer serves both the list of videos and the mixed items.
//
// Only parsed answers are kept (errors never are), at most `capacity` of
// them; the least recently used goes first, and an answer older than
// `lifetime` counts as absent. A capacity of 0 keeps nothing.
//
// Threads: any; one lock guards the entries, so clients on different
// threads may share one cache.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <list>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "sarn/innertube/parse.h"

namespace sarn::innertube {

class AnswerCache {
public:
    using Clock = std::chrono::steady_clock;
    using Answer = std::variant<WatchPage, SearchPage>;

    AnswerCache(std::size_t capacity, std::chrono::milliseconds lifetime,
                std::function<Clock::time_point()> now = [] { return Clock::now(); });

    // The kept answer under the key when it is of that kind and still fresh.
    template <class T>
    std::optional<T> find(std::string_view key) {
        std::optional<Answer> found = find_answer(key);
        if (!found) return std::nullopt;
        if (T* answer = std::get_if<T>(&*found)) return std::move(*answer);
        return std::nullopt;
    }
    // Keeps the answer under the key, replacing an older one.
    void keep(std::string key, Answer answer);

    std::size_t size() const;

    // The keys of the two kinds of answer.
    static std::string watch_key(std::string_view video_id);
    static std::string search_key(std::string_view params, std::string_view query);

private:
    struct Entry {
        std::string key;
        Answer answer;
        Clock::time_point kept_at;
    };

    std::optional<Answer> find_answer(std::string_view key);

    const std::size_t m_capacity;
    const std::chrono::milliseconds m_lifetime;
    const std::function<Clock::time_point()> m_now;
    mutable std::mutex m_mutex;
    std::list<Entry> m_entries;  // guarded by m_mutex; most recently used first
};

}  // namespace sarn::innertube
