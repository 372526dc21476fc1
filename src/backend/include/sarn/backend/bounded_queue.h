// A bounded multi-producer queue between two threads, in two halves.
//
// Senders may be copied (one per producer); the queue is closed for the
// receiver once every sender is gone and it is empty. A sender's blocking
// send waits while the queue is full and fails once the receiver is gone;
// try_send never waits.
//
// Threads: each half may be used from any thread; the shared state is
// guarded by one mutex inside.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <expected>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

namespace sarn {

enum class TrySendError { Full, Closed };
enum class TryRecvError { Empty, Closed };

namespace detail {

template <class T>
struct QueueState {
    explicit QueueState(std::size_t cap) : capacity(cap == 0 ? 1 : cap) {}
    std::mutex mutex;
    std::condition_variable not_empty;
    std::condition_variable not_full;
    std::deque<T> items;            // guarded by mutex
    const std::size_t capacity;
    std::size_t senders = 1;        // guarded by mutex
    bool receiver_alive = true;     // guarded by mutex
};

}  // namespace detail

template <class T>
class BoundedSender {
public:
    BoundedSender() = default;
    explicit BoundedSender(std::shared_ptr<detail::QueueState<T>> state) : m_state(std::move(state)) {}
    BoundedSender(const BoundedSender& other) : m_state(other.m_state) {
        if (m_state) {
            std::lock_guard lock(m_state->mutex);
            ++m_state->senders;
        }
    }
    BoundedSender& operator=(const BoundedSender& other) {
        if (this != &other) {
            BoundedSender copy(other);
            *this = std::move(copy);
        }
        return *this;
    }
    BoundedSender(BoundedSender&& other) noexcept : m_state(std::move(other.m_state)) {}
    BoundedSender& operator=(BoundedSender&& other) noexcept {
        if (this != &other) {
            close();
            m_state = std::move(other.m_state);
        }
        return *this;
    }
    ~BoundedSender() { close(); }

    // Waits while the queue is full; false (the value dropped) once the
    // receiver is gone or this sender is closed.
    bool send(T value) {
        if (!m_state) return false;
        std::unique_lock lock(m_state->mutex);
        m_state->not_full.wait(lock, [&] {
            return !m_state->receiver_alive || m_state->items.size() < m_state->capacity;
        });
        if (!m_state->receiver_alive) return false;
        m_state->items.push_back(std::move(value));
        lock.unlock();
        m_state->not_empty.notify_one();
        return true;
    }

    std::expected<void, TrySendError> try_send(T value) {
        if (!m_state) return std::unexpected(TrySendError::Closed);
        std::unique_lock lock(m_state->mutex);
        if (!m_state->receiver_alive) return std::unexpected(TrySendError::Closed);
        if (m_state->items.size() >= m_state->capacity) return std::unexpected(TrySendError::Full);
        m_state->items.push_back(std::move(value));
        lock.unlock();
        m_state->not_empty.notify_one();
        return {};
    }

    // Drops this sender now (as its destructor would).
    void close() {
        if (!m_state) return;
        {
            std::lock_guard lock(m_state->mutex);
            --m_state->senders;
        }
        m_state->not_empty.notify_all();
        m_state.reset();
    }

    bool is_open() const { return m_state != nullptr; }

private:
    std::shared_ptr<detail::QueueState<T>> m_state;
};

template <class T>
class BoundedReceiver {
public:
    BoundedReceiver() = default;
    explicit BoundedReceiver(std::shared_ptr<detail::QueueState<T>> state) : m_state(std::move(state)) {}
    BoundedReceiver(const BoundedReceiver&) = delete;
    BoundedReceiver& operator=(const BoundedReceiver&) = delete;
    BoundedReceiver(BoundedReceiver&& other) noexcept : m_state(std::move(other.m_state)) {}
    BoundedReceiver& operator=(BoundedReceiver&& other) noexcept {
        if (this != &other) {
            close();
            m_state = std::move(other.m_state);
        }
        return *this;
    }
    ~BoundedReceiver() { close(); }

    // Waits for a value; none once the queue is empty and every sender gone.
    std::optional<T> recv() {
        if (!m_state) return std::nullopt;
        std::unique_lock lock(m_state->mutex);
        m_state->not_empty.wait(lock, [&] { return !m_state->items.empty() || m_state->senders == 0; });
        return pop(lock);
    }

    // Waits at most `timeout`; Empty when nothing came in time.
    std::expected<T, TryRecvError> recv_for(std::chrono::milliseconds timeout) {
        if (!m_state) return std::unexpected(TryRecvError::Closed);
        std::unique_lock lock(m_state->mutex);
        m_state->not_empty.wait_for(lock, timeout,
                                    [&] { return !m_state->items.empty() || m_state->senders == 0; });
        if (m_state->items.empty()) {
            return std::unexpected(m_state->senders == 0 ? TryRecvError::Closed : TryRecvError::Empty);
        }
        return *pop(lock);
    }

    std::expected<T, TryRecvError> try_recv() { return recv_for(std::chrono::milliseconds(0)); }

    std::size_t size() const {
        if (!m_state) return 0;
        std::lock_guard lock(m_state->mutex);
        return m_state->items.size();
    }

    // Drops the receiver: blocked and later sends fail, queued values go.
    void close() {
        if (!m_state) return;
        std::deque<T> dropped;
        {
            std::lock_guard lock(m_state->mutex);
            m_state->receiver_alive = false;
            dropped.swap(m_state->items);
        }
        m_state->not_full.notify_all();
        m_state.reset();
    }

private:
    std::optional<T> pop(std::unique_lock<std::mutex>& lock) {
        if (m_state->items.empty()) return std::nullopt;
        T value = std::move(m_state->items.front());
        m_state->items.pop_front();
        lock.unlock();
        m_state->not_full.notify_one();
        return value;
    }

    std::shared_ptr<detail::QueueState<T>> m_state;
};

template <class T>
std::pair<BoundedSender<T>, BoundedReceiver<T>> bounded_queue(std::size_t capacity) {
    auto state = std::make_shared<detail::QueueState<T>>(capacity);
    return {BoundedSender<T>(state), BoundedReceiver<T>(state)};
}

}  // namespace sarn
