// History files against the official automerge package (Node, through the
// engine's harness install): ours load there with the same entries and
// heads, and theirs, with concurrent values, load in the store.

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include <nlohmann/json.hpp>

#include "sarn/actions/history_store.h"
#include "node_script.h"
#include "test_dir.h"

namespace {

using namespace sarn;
using vorn_test::TempDir;

std::optional<nlohmann::json> run_node(const std::string& mode, const std::filesystem::path& file) {
  return vorn_test::run_node_script("history_file.cjs", mode, file);
}

std::vector<std::string> heads_hex(automerge::Document& doc) {
  std::vector<std::string> out;
  for (const auto& h : doc.heads()) out.push_back(h.to_hex());
  std::sort(out.begin(), out.end());
  return out;
}

class HistoryInterop : public ::testing::Test {
 protected:
  void SetUp() override {
    if (auto missing = vorn_test::official_package_missing()) GTEST_SKIP() << *missing;
  }
};

TEST_F(HistoryInterop, StoreFileLoadsInTheOfficialPackage) {
  TempDir dir;
  auto store = OwnerHistoryStore::open_in(dir.path(), "user:interop");
  vorn_ui::bound_dispatch::DispatchState state;
  ASSERT_TRUE(store.dispatch(state, OwnerHistoryAction::set_entry("abc", 1000, true, "user:interop:watch:abc:1000")));
  ASSERT_TRUE(store.dispatch(state, OwnerHistoryAction::set_entry("d\u00e9j\u00e0 \"vu\"", 2000, true, "m2")));
  ASSERT_TRUE(store.dispatch(state, OwnerHistoryAction::set_entry("abc", 3000, false, "user:interop:remove:abc:3000")));
  ASSERT_TRUE(store.dispatch(state, OwnerHistoryAction::clear(1500, "user:interop:clear:all:1500")));
  ASSERT_TRUE(store.dispatch(state, OwnerHistoryAction::legacy_migration_complete()));

  auto seen = run_node("read", *store.path());
  ASSERT_TRUE(seen) << "the official package could not load the file";
  EXPECT_EQ((*seen)["heads"].get<std::vector<std::string>>(), heads_hex(store.document()));
  EXPECT_EQ((*seen)["entries"], (nlohmann::json{
                                    {"abc", R"({"present":false,"watched_at_ms":3000,"mutation_id":"user:interop:remove:abc:3000"})"},
                                    {"d\u00e9j\u00e0 \"vu\"", R"({"present":true,"watched_at_ms":2000,"mutation_id":"m2"})"},
                                }));
  EXPECT_EQ((*seen)["clears"], (nlohmann::json{{"user:interop:clear:all:1500", "1500"}}));
  EXPECT_EQ((*seen)["marker"], true);

  // A compacted document is a fresh history; it loads there too.
  ASSERT_TRUE(store.compact());
  ASSERT_TRUE(store.persist());
  auto compacted = run_node("read", *store.path());
  ASSERT_TRUE(compacted);
  EXPECT_EQ((*compacted)["heads"].get<std::vector<std::string>>(), heads_hex(store.document()));
  EXPECT_EQ((*compacted)["entries"].size(), 1u);
  EXPECT_EQ((*compacted)["clears"], (nlohmann::json{{"compacted-clear:1500", "1500"}}));
  EXPECT_EQ((*compacted)["marker"], true);
}

TEST_F(HistoryInterop, OfficialFileWithConflictsLoadsInTheStore) {
  TempDir dir;
  const auto path = OwnerHistoryStore::history_path(dir.path(), "user:interop");
  std::filesystem::create_directories(path.parent_path());
  auto written = run_node("write", path);
  ASSERT_TRUE(written);
  auto store = OwnerHistoryStore::open_in(dir.path(), "user:interop");
  ASSERT_FALSE(store.recovery_required());
  EXPECT_EQ((*written)["heads"].get<std::vector<std::string>>(), heads_hex(store.document()));
  const auto root = *owner_history_map(store.document());
  const auto entries = *child_map(store.document(), root, "entries");
  ASSERT_EQ(store.document().get_all(entries, "abc")->size(), 2u);
  EXPECT_EQ(read_history_entry(store.document(), entries, "abc"), (HistoryEntryRecord{true, 2000, "right"}));
  EXPECT_EQ(read_history_entry(store.document(), entries, "v\u00e9"), (HistoryEntryRecord{true, 7, "m"}));
  EXPECT_EQ(latest_clear_time_of(store.document(), root), 500u);
  EXPECT_TRUE(store.legacy_migration_done());
  // And what the store writes back still loads there.
  vorn_ui::bound_dispatch::DispatchState state;
  ASSERT_TRUE(store.dispatch(state, OwnerHistoryAction::set_entry("new", 9000, true, "n")));
  auto reread = run_node("read", path);
  ASSERT_TRUE(reread);
  EXPECT_EQ((*reread)["conflicts"]["abc"], 2);
  EXPECT_EQ((*reread)["entries"]["new"], R"({"present":true,"watched_at_ms":9000,"mutation_id":"n"})");
}

}  // namespace
