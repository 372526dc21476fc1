#include "vorn_ui/persist.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <functional>
#include <map>
#include <thread>

#include <fmt/format.h>

#include "test_dir.h"

namespace {

using vorn_test::mode_of;
using vorn_test::read_file;
using vorn_test::TempDir;
using vorn_test::write_file;
using vorn_ui::persist::DocumentStore;

void put_flag(automerge::Document& doc, bool value) {
  ASSERT_TRUE(doc.put(automerge::ObjId::root(), "flag", automerge::Value::boolean(value)));
  doc.commit();
}

std::optional<bool> flag(const automerge::Document& doc) {
  auto item = doc.get(automerge::ObjId::root(), "flag");
  if (!item || !*item) return std::nullopt;
  return (*item)->value.as_bool();
}

TEST(Persist, SavesWhenChangedAndLoadsAtStart) {
  TempDir dir;
  const auto path = dir / "data/vorn/app/shared.automerge";
  {
    auto store = DocumentStore::open_at(path);
    EXPECT_FALSE(store.load_error());
    ASSERT_TRUE(store.save_if_changed());
    EXPECT_FALSE(std::filesystem::exists(path)) << "nothing changed, nothing written";
    put_flag(store.document(), true);
    ASSERT_TRUE(store.save_if_changed());
  }
  EXPECT_EQ(mode_of(path), 0600u);
  EXPECT_EQ(mode_of(path.parent_path()), 0700u);
  auto store = DocumentStore::open_at(path);
  EXPECT_FALSE(store.load_error());
  EXPECT_EQ(flag(store.document()), true);
}

// Sets "flag" to true, or refuses.
class FlagAction final : public vorn_actions::TypedAction {
 public:
  explicit FlagAction(bool refuse) : m_refuse(refuse) {}
  std::string debug_text() const override { return "Flag"; }
  std::expected<void, vorn_actions::ActionError> apply(automerge::Document& doc) const override {
    if (m_refuse) return std::unexpected(vorn_actions::ActionError::message("no"));
    auto put = doc.put(automerge::ObjId::root(), "flag", automerge::Value::boolean(true));
    if (!put) return std::unexpected(vorn_actions::ActionError::document(put.error()));
    return {};
  }
  bool is_collaborative() const override { return false; }
  std::expected<std::string, std::string> encode_json() const override { return std::string("\"Flag\""); }

 private:
  bool m_refuse;
};

TEST(Persist, EveryDispatchIsSaved) {
  TempDir dir;
  const auto path = dir / "shared.automerge";
  auto store = DocumentStore::open_at(path);
  vorn_ui::bound_dispatch::DispatchState state;
  EXPECT_FALSE(store.dispatch(state, "test.action", FlagAction(true), nullptr));
  EXPECT_FALSE(std::filesystem::exists(path));
  vorn_actions::ActionRegistry registry;
  registry.register_action_namespace("test.action", [](std::string_view)
                                         -> std::expected<std::unique_ptr<vorn_actions::TypedAction>,
                                                          vorn_actions::ActionError> {
    return std::make_unique<FlagAction>(false);
  });
  EXPECT_FALSE(store.dispatch_encoded(registry, state, {"other", "\"Flag\""}, nullptr));
  EXPECT_TRUE(store.dispatch_encoded(registry, state, {"test.action", "\"Flag\""}, nullptr));
  auto reopened = DocumentStore::open_at(path);
  EXPECT_EQ(flag(reopened.document()), true);
}

TEST(Persist, CorruptOrUntrustedFilesAreKeptAndReported) {
  TempDir dir;
  const std::string garbage = "\x85o\x4a\x83 definitely not a document";
  write_file(dir / "corrupt", garbage);
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
  std::filesystem::create_directories(dir / "folder");
  write_file(dir / "real", "x");
  std::filesystem::create_symlink(dir / "real", dir / "link");
  for (const char* name : {"corrupt", "fifo", "folder", "link"}) {
    auto store = DocumentStore::open_at(dir / name);
    EXPECT_TRUE(store.load_error()) << name;
    put_flag(store.document(), true);
    EXPECT_FALSE(store.save_if_changed()) << name;
  }
  EXPECT_EQ(read_file(dir / "corrupt"), garbage);
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "link"));
  EXPECT_EQ(read_file(dir / "real"), "x");
}

void put_key(automerge::Document& doc, std::string_view key, bool value) {
  ASSERT_TRUE(doc.put(automerge::ObjId::root(), key, automerge::Value::boolean(value)));
  doc.commit();
}

// Every key of the root map with its winning boolean value.
std::map<std::string, bool> flags(const automerge::Document& doc) {
  std::map<std::string, bool> out;
  const auto keys = doc.keys(automerge::ObjId::root());
  if (!keys) return out;
  for (const auto& key : *keys) {
    auto item = doc.get(automerge::ObjId::root(), key).value();
    if (item && item->value.as_bool()) out[key] = *item->value.as_bool();
  }
  return out;
}

std::map<std::string, bool> flags_on_disk(const std::filesystem::path& path) {
  auto loaded = automerge::Document::load(read_file(path));
  EXPECT_TRUE(loaded) << loaded.error().message;
  return loaded ? flags(*loaded) : std::map<std::string, bool>{};
}

// Two stores on one file take turns changing and saving; after each save the
// file holds every change so far, readable by its owner alone.
void save_in_turns(DocumentStore& first, DocumentStore& second, const std::filesystem::path& path,
                   std::map<std::string, bool>& expected, const std::function<void(DocumentStore&)>& save) {
  const struct {
    DocumentStore* store;
    const char* key;
    bool value;
  } steps[] = {
      {&first, "liked:a", true},  {&second, "liked:b", true}, {&first, "liked:c", true},
      {&second, "liked:a", false}, {&second, "queued:d", true}, {&first, "liked:e", true},
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(step.key);
    put_key(step.store->document(), step.key, step.value);
    ASSERT_NO_FATAL_FAILURE(save(*step.store));
    expected[step.key] = step.value;
    EXPECT_EQ(flags_on_disk(path), expected);
    EXPECT_EQ(mode_of(path), 0600u);
  }
}

// Two running instances on one data folder: each save merges what the other
// saved, so a change made in one survives the other's next save, the file
// always loads, and each instance ends up seeing the other's changes.
TEST(Persist, TwoStoresOnOneFileKeepEachOthersChanges) {
  TempDir dir;
  const auto path = dir / "data/vorn/app/shared.automerge";
  auto first = DocumentStore::open_at(path);
  auto second = DocumentStore::open_at(path);
  std::map<std::string, bool> expected;
  ASSERT_NO_FATAL_FAILURE(save_in_turns(first, second, path, expected, [](DocumentStore& store) {
    ASSERT_TRUE(store.save_if_changed());
  }));
  EXPECT_EQ(flags(first.document()), expected) << "the first saw every save of the second before its last";
  // The second learns the first's last change at its next save.
  put_key(second.document(), "liked:f", true);
  ASSERT_TRUE(second.save_if_changed());
  expected["liked:f"] = true;
  EXPECT_EQ(flags(second.document()), expected);
  EXPECT_EQ(flags(DocumentStore::open_at(path).document()), expected);
}

// Two instances saving at the same time from two threads: every change of
// both reaches the file.
TEST(Persist, ConcurrentSavesOfTwoStoresLoseNothing) {
  TempDir dir;
  const auto path = dir / "shared.automerge";
  constexpr int kChanges = 40;
  auto writer = [&](const char* prefix) {
    auto store = DocumentStore::open_at(path);
    for (int i = 0; i < kChanges; ++i) {
      put_key(store.document(), fmt::format("{}{}", prefix, i), true);
      auto saved = store.save_if_changed();
      EXPECT_TRUE(saved) << saved.error().message;
    }
  };
  std::thread a(writer, "a");
  std::thread b(writer, "b");
  a.join();
  b.join();
  const auto on_disk = flags_on_disk(path);
  EXPECT_EQ(on_disk.size(), 2u * kChanges);
}

// A file that another program broke (or that no longer loads) between two
// saves is never replaced; our change waits in memory and lands once the
// file loads again.
TEST(Persist, AFileThatStopsLoadingIsKeptAndOurChangesWait) {
  TempDir dir;
  const auto path = dir / "shared.automerge";
  auto store = DocumentStore::open_at(path);
  put_key(store.document(), "kept", true);
  ASSERT_TRUE(store.save_if_changed());
  const std::string good = read_file(path);

  const std::string garbage = "\x85o\x4a\x83 no longer a document";
  // The change chunks of another history whose first change is missing.
  automerge::Document other;
  put_key(other, "x", true);
  put_key(other, "y", true);
  const auto chunks = other.changes();
  const std::string missing_dependency(chunks[1].begin(), chunks[1].end());
  for (const std::string* broken : {&garbage, &missing_dependency}) {
    write_file(path, *broken);
    put_key(store.document(), "waiting", true);
    auto saved = store.save_if_changed();
    ASSERT_FALSE(saved);
    EXPECT_NE(saved.error().message.find("does not load; it is kept"), std::string::npos) << saved.error().message;
    EXPECT_EQ(read_file(path), *broken);
  }
  write_file(path, good);
  ASSERT_TRUE(store.save_if_changed());
  EXPECT_EQ(flags_on_disk(path), (std::map<std::string, bool>{{"kept", true}, {"waiting", true}}));

  // A file removed by hand is written afresh from what we hold.
  std::filesystem::remove(path);
  put_key(store.document(), "again", true);
  ASSERT_TRUE(store.save_if_changed());
  EXPECT_EQ(flags_on_disk(path), (std::map<std::string, bool>{{"again", true}, {"kept", true}, {"waiting", true}}));
}

// Saves handed to the writer thread: the file always loads and ends with
// the last state, whether the store waits for them or goes away first.
TEST(Persist, BackgroundSavesLandInOrderAndTheLastStateStays) {
  TempDir dir;
  const auto path = dir / "data/vorn/app/shared.automerge";
  std::map<std::string, bool> expected;
  {
    auto store = DocumentStore::open_at(path);
    for (int i = 0; i < 60; ++i) {
      const auto key = fmt::format("liked:{}", i % 7);
      const bool value = i % 3 != 0;
      put_key(store.document(), key, value);
      expected[key] = value;
      auto saved = store.save_in_background();
      ASSERT_TRUE(saved) << saved.error().message;
      if (i % 10 == 0) {
        // A reader in the middle sees a whole file.
        ASSERT_TRUE(store.finish_saves());
        EXPECT_TRUE(automerge::Document::load(read_file(path)));
      }
    }
    ASSERT_TRUE(store.finish_saves());
    EXPECT_EQ(flags_on_disk(path), expected);
    put_key(store.document(), "queued:last", true);
    expected["queued:last"] = true;
    ASSERT_TRUE(store.save_in_background());
  }  // the store waits for its last save
  EXPECT_EQ(flags_on_disk(path), expected);
  EXPECT_EQ(mode_of(path), 0600u);
  EXPECT_EQ(mode_of(path.parent_path()), 0700u);
  for (const auto& entry : std::filesystem::directory_iterator(path.parent_path())) {
    EXPECT_EQ(entry.path().extension(), entry.path().filename() == "shared.automerge" ? ".automerge" : ".lock")
        << "no temporary file is left: " << entry.path();
  }
}

// Two instances saving in the background keep each other's changes, as the
// synchronous saves do, and learn them at their next save.
TEST(Persist, TwoStoresSavingInTheBackgroundKeepEachOthersChanges) {
  TempDir dir;
  const auto path = dir / "data/vorn/app/shared.automerge";
  auto first = DocumentStore::open_at(path);
  auto second = DocumentStore::open_at(path);
  std::map<std::string, bool> expected;
  ASSERT_NO_FATAL_FAILURE(save_in_turns(first, second, path, expected, [](DocumentStore& store) {
    ASSERT_TRUE(store.save_in_background());
    ASSERT_TRUE(store.finish_saves());
  }));
  EXPECT_EQ(flags(first.document()), expected);
  put_key(second.document(), "liked:f", true);
  ASSERT_TRUE(second.save_in_background());
  ASSERT_TRUE(second.finish_saves());
  expected["liked:f"] = true;
  EXPECT_EQ(flags(second.document()), expected);
  EXPECT_EQ(flags_on_disk(path), expected);

  // Both at once from two threads, each its own interface: nothing is lost.
  auto writer = [&](DocumentStore& store, const char* prefix) {
    for (int i = 0; i < 30; ++i) {
      put_key(store.document(), fmt::format("{}{}", prefix, i), true);
      EXPECT_TRUE(store.save_in_background());
    }
    EXPECT_TRUE(store.finish_saves());
  };
  std::thread a(writer, std::ref(first), "a");
  std::thread b(writer, std::ref(second), "b");
  a.join();
  b.join();
  EXPECT_EQ(flags_on_disk(path).size(), expected.size() + 60u);
}

// A background save that cannot land is answered at the next call, the file
// on disk is kept, and the changes land with the next save that can.
TEST(Persist, AFailedBackgroundSaveIsReportedAndMadeGood) {
  TempDir dir;
  const auto path = dir / "shared.automerge";
  auto store = DocumentStore::open_at(path);
  put_key(store.document(), "kept", true);
  ASSERT_TRUE(store.save_in_background());
  ASSERT_TRUE(store.finish_saves());
  const std::string good = read_file(path);

  const std::string garbage = "\x85o\x4a\x83 no longer a document";
  write_file(path, garbage);
  put_key(store.document(), "waiting", true);
  EXPECT_TRUE(store.save_in_background()) << "the refusal comes from the disk, later";
  auto finished = store.finish_saves();
  ASSERT_FALSE(finished);
  EXPECT_NE(finished.error().message.find("does not load; it is kept"), std::string::npos) << finished.error().message;
  EXPECT_TRUE(store.finish_saves()) << "a failure is answered once";
  EXPECT_EQ(read_file(path), garbage);

  // Nothing new changed, yet the next save writes what the failed one held.
  write_file(path, good);
  ASSERT_TRUE(store.save_in_background());
  ASSERT_TRUE(store.finish_saves());
  EXPECT_EQ(flags_on_disk(path), (std::map<std::string, bool>{{"kept", true}, {"waiting", true}}));

  // A store whose file did not load refuses at once.
  write_file(dir / "broken", garbage);
  auto refused = DocumentStore::open_at(dir / "broken");
  put_key(refused.document(), "x", true);
  EXPECT_FALSE(refused.save_in_background());
  EXPECT_EQ(read_file(dir / "broken"), garbage);
}

TEST(Persist, OpenUsesTheLocalDataDirectory) {
  TempDir dir;
  const char* old = std::getenv("XDG_DATA_HOME");
  std::string saved = old ? old : "";
  ::setenv("XDG_DATA_HOME", dir.path().c_str(), 1);
  auto store = vorn_ui::persist::open("org.example.App");
  ASSERT_TRUE(store);
  EXPECT_EQ(store->path(), dir.path() / "vorn/org.example.App/shared.automerge");
  EXPECT_FALSE(vorn_ui::persist::open("../escape"));
  EXPECT_FALSE(vorn_ui::persist::open(""));
  if (old) ::setenv("XDG_DATA_HOME", saved.c_str(), 1); else ::unsetenv("XDG_DATA_HOME");
}

}  // namespace
