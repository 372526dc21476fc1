#include "ordered_writer/ordered_writer.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

namespace {

using ordered_writer::OrderedWriter;
using ordered_writer::WriteJob;

// What the jobs did, in the order they ran, and a gate that holds the
// writer inside the first job until the test has queued the rest.
struct Journal {
  std::mutex mutex;
  std::condition_variable opened;
  bool gate_open = false;
  std::vector<std::string> runs;

  WriteJob job(std::string name, bool fail = false) {
    return [this, name, fail]() -> std::expected<void, std::string> {
      std::lock_guard lock(mutex);
      runs.push_back(name);
      if (fail) return std::unexpected(name + " failed");
      return {};
    };
  }
  WriteJob gate() {
    return [this]() -> std::expected<void, std::string> {
      std::unique_lock lock(mutex);
      opened.wait(lock, [&] { return gate_open; });
      runs.push_back("gate");
      return {};
    };
  }
  void open() {
    {
      std::lock_guard lock(mutex);
      gate_open = true;
    }
    opened.notify_all();
  }
  std::vector<std::string> taken() {
    std::lock_guard lock(mutex);
    return runs;
  }
};

// Only the newest of a run of jobs for one file at the end of the queue is
// written; a job of the same file with another file's job after it is
// never dropped or moved, so the files change in the order they were saved.
TEST(OrderedWriter, RunsJobsInOrderAndReplacesOnlyAWaitingLastJobOfTheSameFile) {
  Journal journal;
  OrderedWriter writer;
  writer.submit("gate", journal.gate());
  writer.submit("a", journal.job("a1"));
  writer.submit("a", journal.job("a2"));
  writer.submit("b", journal.job("b1"));
  writer.submit("a", journal.job("a3"));
  writer.submit("a", journal.job("a4"));
  writer.submit("c", journal.job("c1"));
  journal.open();
  writer.wait_idle();
  EXPECT_EQ(journal.taken(), (std::vector<std::string>{"gate", "a2", "b1", "a4", "c1"}));
  EXPECT_TRUE(writer.take_failures().empty());

  // After the queue ran dry a new job of the same file is written again.
  writer.submit("c", journal.job("c2"));
  writer.wait_idle();
  EXPECT_EQ(journal.taken().back(), "c2");
}

TEST(OrderedWriter, FailuresAreKeptInOrderAndTakenOnce) {
  Journal journal;
  OrderedWriter writer;
  writer.submit("a", journal.job("a", true));
  writer.wait_idle();
  writer.submit("b", journal.job("b"));
  writer.submit("c", journal.job("c", true));
  writer.wait_idle();
  EXPECT_EQ(writer.take_failures(), (std::vector<std::string>{"a failed", "c failed"}));
  EXPECT_TRUE(writer.take_failures().empty());
  EXPECT_EQ(journal.taken(), (std::vector<std::string>{"a", "b", "c"}));
}

// The owner that goes away first waits for every job it handed over.
TEST(OrderedWriter, DestructorRunsEveryPendingJob) {
  Journal journal;
  {
    OrderedWriter writer;
    writer.submit("gate", journal.gate());
    for (int i = 0; i < 20; ++i) writer.submit(std::to_string(i), journal.job(std::to_string(i)));
    journal.open();
  }
  const auto runs = journal.taken();
  ASSERT_EQ(runs.size(), 21u);
  for (int i = 0; i < 20; ++i) EXPECT_EQ(runs[static_cast<std::size_t>(i) + 1], std::to_string(i));
}

}  // namespace
