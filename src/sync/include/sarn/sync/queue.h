#pragma once
// A multi-producer, single-consumer queue with an optional capacity. The
// sender and receiver ends may live on different threads; the queue closes for
// the receiver when every sender is gone, and for senders when the receiver is.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

namespace sarn {

template <typename T>
class QueueShared {
public:
    std::mutex mutex;
    std::condition_variable ready;
    std::deque<T> items;
    std::size_t capacity = 0;  // 0: unbounded
    std::size_t senders = 0;
    bool receiver_alive = true;
};

template <typename T>
class QueueSender {
public:
    explicit QueueSender(std::shared_ptr<QueueShared<T>> shared) : m_shared(std::move(shared)) {
        std::lock_guard lock(m_shared->mutex);
        ++m_shared->senders;
    }
    QueueSender(const QueueSender& other) : QueueSender(other.m_shared) {}
    QueueSender(QueueSender&& other) noexcept = default;
    QueueSender& operator=(const QueueSender&) = delete;
    QueueSender& operator=(QueueSender&&) = delete;
    ~QueueSender() {
        if (!m_shared) return;
        {
            std::lock_guard lock(m_shared->mutex);
            --m_shared->senders;
        }
        m_shared->ready.notify_all();
    }

    // True once the receiving end is gone.
    bool is_closed() const {
        std::lock_guard lock(m_shared->mutex);
        return !m_shared->receiver_alive;
    }

    // Never waits: false when full or when the receiver is gone.
    bool try_send(T item) {
        {
            std::lock_guard lock(m_shared->mutex);
            if (!m_shared->receiver_alive) return false;
            if (m_shared->capacity != 0 && m_shared->items.size() >= m_shared->capacity) return false;
            m_shared->items.push_back(std::move(item));
        }
        m_shared->ready.notify_one();
        return true;
    }

private:
    std::shared_ptr<QueueShared<T>> m_shared;
};

enum class QueueWait { Item, TimedOut, Closed };

template <typename T>
class QueueReceiver {
public:
    explicit QueueReceiver(std::shared_ptr<QueueShared<T>> shared) : m_shared(std::move(shared)) {}
    QueueReceiver(QueueReceiver&&) noexcept = default;
    QueueReceiver& operator=(QueueReceiver&&) noexcept = default;
    QueueReceiver(const QueueReceiver&) = delete;
    QueueReceiver& operator=(const QueueReceiver&) = delete;
    ~QueueReceiver() {
        if (!m_shared) return;
        std::lock_guard lock(m_shared->mutex);
        m_shared->receiver_alive = false;
        m_shared->items.clear();
    }

    std::optional<T> try_receive() {
        std::lock_guard lock(m_shared->mutex);
        if (m_shared->items.empty()) return std::nullopt;
        T item = std::move(m_shared->items.front());
        m_shared->items.pop_front();
        return item;
    }

    // Waits up to `timeout`; Closed once empty with no sender left.
    QueueWait receive_for(std::chrono::milliseconds timeout, std::optional<T>& out) {
        std::unique_lock lock(m_shared->mutex);
        const bool woke = m_shared->ready.wait_for(lock, timeout, [this] {
            return !m_shared->items.empty() || m_shared->senders == 0;
        });
        if (!m_shared->items.empty()) {
            out = std::move(m_shared->items.front());
            m_shared->items.pop_front();
            return QueueWait::Item;
        }
        return woke ? QueueWait::Closed : QueueWait::TimedOut;
    }

private:
    std::shared_ptr<QueueShared<T>> m_shared;
};

template <typename T>
std::pair<QueueSender<T>, QueueReceiver<T>> make_queue(std::size_t capacity) {
    auto shared = std::make_shared<QueueShared<T>>();
    shared->capacity = capacity;
    QueueSender<T> sender(shared);
    return {std::move(sender), QueueReceiver<T>(shared)};
}

}  // namespace sarn
