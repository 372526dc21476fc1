#include "vorn_ui/image_store.h"

#include <condition_variable>
#include <deque>
#include <list>
#include <mutex>
#include <thread>
#include <unordered_map>

#include <fmt/core.h>

#include "vorn_ui/wake.h"

namespace vorn_ui::image_store {

struct ImageStore::Core {
    struct Entry {
        EntryState state = EntryState::Absent;
        ImageRef image;
        std::size_t bytes = 0;
        std::list<std::string>::iterator lru;  // valid while Ready
        std::string failure;
    };

    FetchFunction fetch;
    ImageStoreOptions options;

    // `mu` guards every field below.
    mutable std::mutex mu;
    mutable std::condition_variable work_cv;   // a job was queued, or stop
    mutable std::condition_variable idle_cv;   // a load finished
    std::unordered_map<std::string, Entry> entries;
    std::list<std::string> lru;                // most recently used first, Ready entries only
    std::deque<std::string> jobs;
    std::deque<std::string> failed_order;      // oldest failure first
    std::size_t pending = 0;
    std::size_t cached_bytes = 0;
    std::uint64_t fetches = 0;
    std::uint64_t evictions = 0;
    bool stopping = false;
    std::function<void()> wake;

    std::vector<std::thread> threads;

    ~Core() {
        {
            std::lock_guard lock(mu);
            stopping = true;
        }
        work_cv.notify_all();
        for (auto& t : threads) t.join();
    }

    void start() {
        const unsigned n = std::max(1u, options.loading_threads);
        for (unsigned i = 0; i < n; ++i) threads.emplace_back([this] { run(); });
    }

    void run() {
        for (;;) {
            std::string address;
            {
                std::unique_lock lock(mu);
                work_cv.wait(lock, [&] { return stopping || !jobs.empty(); });
                if (stopping) return;
                address = std::move(jobs.front());
                jobs.pop_front();
                ++fetches;
            }
            auto result = load(address);
            std::function<void()> w;
            bool counted;
            {
                std::lock_guard lock(mu);
                counted = finish_locked(address, std::move(result));
                w = wake;
            }
            if (w) w();
            // The load stops counting as pending only after its wake-up went out, so
            // that a caller who waited for idle has seen every wake-up.
            if (counted) {
                std::lock_guard lock(mu);
                --pending;
            }
            idle_cv.notify_all();
        }
    }

    std::expected<ImageRef, std::string> load(const std::string& address) const {
        std::optional<std::vector<std::uint8_t>> bytes;
        if (fetch) bytes = fetch(address);
        if (!bytes) return std::unexpected(std::string("fetch failed"));
        if (bytes->empty()) return std::unexpected(std::string("empty answer"));
        if (bytes->size() > options.max_fetched_bytes) {
            return std::unexpected(fmt::format("answer of {} bytes is too large", bytes->size()));
        }
        // A picture that could never fit the cache is refused from its header, before
        // its pixels take memory.
        auto decoded = image_decode::decode(
            *bytes, image_decode::DecodeLimits{.max_dimension = options.max_dimension, .max_bytes = options.cache_bytes});
        if (!decoded) return std::unexpected(decoded.error().message);
        ImageRef image = Image::from_rgba8(decoded->width, decoded->height, decoded->pixels);
        if (!image) return std::unexpected(std::string("decoded picture could not be stored"));
        return image;
    }

    // Answers whether the load was still counted as pending.
    bool finish_locked(const std::string& address, std::expected<ImageRef, std::string> result) {
        auto it = entries.find(address);
        if (it == entries.end() || it->second.state != EntryState::Loading) return false;
        Entry& e = it->second;
        const std::size_t bytes =
            result ? static_cast<std::size_t>((*result)->width()) * (*result)->height() * 4 : 0;
        if (result && bytes > options.cache_bytes) {
            result = std::unexpected(fmt::format("a decoded picture of {} bytes exceeds the cache", bytes));
        }
        if (!result) {
            e.state = EntryState::Failed;
            e.failure = std::move(result.error());
            failed_order.push_back(address);
            forget_old_failures_locked();
            return true;
        }
        e.state = EntryState::Ready;
        e.image = std::move(*result);
        e.bytes = bytes;
        lru.push_front(address);
        e.lru = lru.begin();
        cached_bytes += bytes;
        evict_locked();
        return true;
    }

    void evict_locked() {
        while (cached_bytes > options.cache_bytes && !lru.empty()) {
            const std::string victim = lru.back();
            lru.pop_back();
            auto it = entries.find(victim);
            if (it != entries.end()) {
                cached_bytes -= it->second.bytes;
                entries.erase(it);
                ++evictions;
            }
        }
    }

    void forget_old_failures_locked() {
        while (failed_order.size() > options.remembered_failures) {
            auto it = entries.find(failed_order.front());
            if (it != entries.end() && it->second.state == EntryState::Failed) entries.erase(it);
            failed_order.pop_front();
        }
    }
};

ImageStore::ImageStore(std::shared_ptr<Core> core) : m_core(std::move(core)) {}

ImageStore ImageStore::create(FetchFunction fetch, ImageStoreOptions options) {
    auto core = std::make_shared<Core>();
    core->fetch = std::move(fetch);
    core->options = options;
    // A finished load wakes a sleeping interface loop so that the picture shows at once.
    core->wake = [] { wake::wake_loop(); };
    core->start();
    return ImageStore(std::move(core));
}

std::optional<ImageRef> ImageStore::get(std::string_view address) const {
    if (address.empty()) return std::nullopt;
    Core& c = *m_core;
    {
        std::lock_guard lock(c.mu);
        auto [it, inserted] = c.entries.try_emplace(std::string(address));
        Core::Entry& e = it->second;
        if (!inserted) {
            if (e.state == EntryState::Ready) {
                c.lru.splice(c.lru.begin(), c.lru, e.lru);
                return e.image;
            }
            return std::nullopt;  // loading, or failed before
        }
        e.state = EntryState::Loading;
        ++c.pending;
        c.jobs.push_back(it->first);
    }
    c.work_cv.notify_one();
    return std::nullopt;
}

EntryState ImageStore::state(std::string_view address) const {
    std::lock_guard lock(m_core->mu);
    auto it = m_core->entries.find(std::string(address));
    return it == m_core->entries.end() ? EntryState::Absent : it->second.state;
}

std::optional<std::string> ImageStore::failure(std::string_view address) const {
    std::lock_guard lock(m_core->mu);
    auto it = m_core->entries.find(std::string(address));
    if (it == m_core->entries.end() || it->second.state != EntryState::Failed) return std::nullopt;
    return it->second.failure;
}

std::size_t ImageStore::pending() const {
    std::lock_guard lock(m_core->mu);
    return m_core->pending;
}

bool ImageStore::block_until_idle(std::chrono::milliseconds limit) const {
    std::unique_lock lock(m_core->mu);
    return m_core->idle_cv.wait_for(lock, limit, [&] { return m_core->pending == 0; });
}

ImageStoreStats ImageStore::stats() const {
    std::lock_guard lock(m_core->mu);
    ImageStoreStats s;
    s.cached_images = m_core->lru.size();
    s.cached_bytes = m_core->cached_bytes;
    s.pending = m_core->pending;
    s.failed = m_core->failed_order.size();
    s.fetches = m_core->fetches;
    s.evictions = m_core->evictions;
    return s;
}

void ImageStore::set_wake_callback(std::function<void()> wake) const {
    std::lock_guard lock(m_core->mu);
    m_core->wake = std::move(wake);
}

}  // namespace vorn_ui::image_store
