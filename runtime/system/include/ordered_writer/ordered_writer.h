#pragma once
// A writer thread for whole-file saves, so that the thread that makes a
// change does not wait for the disk.
//
// Jobs run one after another on the writer's own thread, in the order they
// were handed over. A job that is still waiting at the end of the queue is
// replaced by a newer job of the same key: both replace the same whole file,
// so writing only the newer one leaves the disk as writing both in order
// would. A job anywhere else in the queue is never replaced or reordered.
//
// The thread starts with the first job; when it cannot start, jobs run on
// the caller's thread as they are handed over. The destructor waits for every
// pending job. A failed job's text is kept for take_failures, in order.
//
// submit, wait_idle, take_failures and the destructor: the owner's thread
// (one thread). The jobs run on the writer's thread and must touch nothing
// the owner uses without a lock.

#include <expected>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace ordered_writer {

using WriteJob = std::function<std::expected<void, std::string>()>;

class OrderedWriter {
 public:
  OrderedWriter();
  OrderedWriter(const OrderedWriter&) = delete;
  OrderedWriter& operator=(const OrderedWriter&) = delete;
  ~OrderedWriter();

  void submit(std::string key, WriteJob job);
  // Returns once every job handed over so far has run.
  void wait_idle();
  // The failures since the last call, oldest first.
  std::vector<std::string> take_failures();

 private:
  struct Queue;
  std::shared_ptr<Queue> m_queue;
};

}  // namespace ordered_writer
