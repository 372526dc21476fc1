#include "ordered_writer/ordered_writer.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

namespace ordered_writer {

struct OrderedWriter::Queue {
  struct Entry {
    std::string key;
    WriteJob job;
  };

  std::mutex mutex;
  std::condition_variable changed;
  std::deque<Entry> pending;
  bool running = false;  // a job taken off the queue is being run
  bool stopping = false;
  std::vector<std::string> failures;
  std::thread thread;
  bool thread_failed = false;

  void record(const std::expected<void, std::string>& result) {
    if (result) return;
    std::lock_guard lock(mutex);
    failures.push_back(result.error());
  }

  void run() {
    std::unique_lock lock(mutex);
    for (;;) {
      changed.wait(lock, [&] { return stopping || !pending.empty(); });
      if (pending.empty()) return;  // stopping with nothing left
      Entry entry = std::move(pending.front());
      pending.pop_front();
      running = true;
      lock.unlock();
      auto result = entry.job();
      lock.lock();
      if (!result) failures.push_back(result.error());
      running = false;
      changed.notify_all();
    }
  }
};

OrderedWriter::OrderedWriter() : m_queue(std::make_shared<Queue>()) {}

OrderedWriter::~OrderedWriter() {
  {
    std::lock_guard lock(m_queue->mutex);
    m_queue->stopping = true;
  }
  m_queue->changed.notify_all();
  if (m_queue->thread.joinable()) m_queue->thread.join();
}

void OrderedWriter::submit(std::string key, WriteJob job) {
  Queue& queue = *m_queue;
  if (!queue.thread.joinable() && !queue.thread_failed) {
    try {
      queue.thread = std::thread([&queue] { queue.run(); });
    } catch (const std::system_error&) {
      queue.thread_failed = true;
    }
  }
  if (queue.thread_failed) {
    queue.record(job());
    return;
  }
  {
    std::lock_guard lock(queue.mutex);
    if (!queue.pending.empty() && queue.pending.back().key == key) {
      queue.pending.back().job = std::move(job);
    } else {
      queue.pending.push_back({std::move(key), std::move(job)});
    }
  }
  queue.changed.notify_all();
}

void OrderedWriter::wait_idle() {
  std::unique_lock lock(m_queue->mutex);
  m_queue->changed.wait(lock, [&] { return m_queue->pending.empty() && !m_queue->running; });
}

std::vector<std::string> OrderedWriter::take_failures() {
  std::lock_guard lock(m_queue->mutex);
  return std::exchange(m_queue->failures, {});
}

}  // namespace ordered_writer
