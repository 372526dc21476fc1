#include "sarn/innertube/answer_cache.h"

#include <algorithm>

namespace sarn::innertube {

AnswerCache::AnswerCache(std::size_t capacity, std::chrono::milliseconds lifetime,
                         std::function<Clock::time_point()> now)
    : m_capacity(capacity), m_lifetime(lifetime), m_now(std::move(now)) {}

std::optional<AnswerCache::Answer> AnswerCache::find_answer(std::string_view key) {
    std::lock_guard lock(m_mutex);
    const auto found = std::find_if(m_entries.begin(), m_entries.end(), [&](const Entry& e) { return e.key == key; });
    if (found == m_entries.end()) return std::nullopt;
    if (m_now() - found->kept_at > m_lifetime) {
        m_entries.erase(found);
        return std::nullopt;
    }
    m_entries.splice(m_entries.begin(), m_entries, found);
    return m_entries.front().answer;
}

void AnswerCache::keep(std::string key, Answer answer) {
    if (m_capacity == 0) return;
    std::lock_guard lock(m_mutex);
    std::erase_if(m_entries, [&](const Entry& e) { return e.key == key; });
    m_entries.push_front(Entry{std::move(key), std::move(answer), m_now()});
    while (m_entries.size() > m_capacity) m_entries.pop_back();
}

std::size_t AnswerCache::size() const {
    std::lock_guard lock(m_mutex);
    return m_entries.size();
}

std::string AnswerCache::watch_key(std::string_view video_id) { return "next\n" + std::string(video_id); }

std::string AnswerCache::search_key(std::string_view params, std::string_view query) {
    return "search\n" + std::string(params) + "\n" + std::string(query);
}

}  // namespace sarn::innertube
