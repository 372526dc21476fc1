// What another instance saved reaches this store's document before this
// store changes anything again, and the host is told when it came.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "test_dir.h"
#include "vorn_ui/persist.h"

namespace {

using vorn_test::TempDir;
using vorn_ui::persist::DocumentStore;

void put(automerge::Document& doc, const char* key) {
  ASSERT_TRUE(doc.put(automerge::ObjId::root(), key, automerge::Value::boolean(true)));
  doc.commit();
}

bool has(const automerge::Document& doc, const char* key) {
  auto item = doc.get(automerge::ObjId::root(), key);
  return item && *item;
}

TEST(KeptData, ABackgroundSaveThatMergedAnotherInstanceWakesTheHostAndJoinsTheDocument) {
  TempDir dir;
  const auto path = dir / "data/vorn/app/shared.automerge";
  auto first = DocumentStore::open_at(path);
  auto second = DocumentStore::open_at(path);
  std::atomic<int> woken{0};
  second.set_merge_listener([&] { ++woken; });

  put(first.document(), "theirs");
  ASSERT_TRUE(first.save_if_changed());
  put(second.document(), "ours");
  ASSERT_TRUE(second.save_in_background());
  // The save merged the file on disk on the writer thread, and said so.
  for (int i = 0; i < 500 && woken.load() == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(woken.load(), 1);
  EXPECT_FALSE(has(second.document(), "theirs"));
  // Taken in without a change of ours: the other instance's change shows.
  ASSERT_TRUE(second.take_background_results());
  EXPECT_TRUE(has(second.document(), "theirs"));
  EXPECT_TRUE(has(second.document(), "ours"));
  // Nothing of ours is left to save after it.
  ASSERT_TRUE(second.save_in_background());
  ASSERT_TRUE(second.finish_saves());
  EXPECT_EQ(woken.load(), 1);
}

}  // namespace
