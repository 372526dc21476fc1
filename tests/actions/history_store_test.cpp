// The owner-local history store against real files: every check at open,
// persistence, restore on failure, compaction and the instance lock.

#include "sarn/actions/history_store.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <random>

#include "doc_reading.h"
#include "history_file.h"
#include "test_dir.h"
#include "vorn_log/log.h"

namespace {

using namespace sarn;
using sarn_test::str_at;
using vorn_test::mode_of;
using vorn_test::read_file;
using vorn_test::TempDir;
using vorn_test::write_file;

constexpr const char* kOwner = "user:test-owner";
constexpr const char* kRecoveryLog = "owner history recovery required; refusing to overwrite existing store";

std::string as_string(const std::vector<std::uint8_t>& bytes) { return {bytes.begin(), bytes.end()}; }

OwnerHistoryAction watch(const std::string& id, std::uint64_t ms) {
  return OwnerHistoryAction::set_entry(id, ms, true, fmt::format("{}:watch:{}:{}", kOwner, id, ms));
}

// A history file holding one entry, written by a store.
std::filesystem::path seeded_file(const TempDir& dir) {
  auto store = OwnerHistoryStore::open_in(dir.path(), kOwner);
  vorn_ui::bound_dispatch::DispatchState state;
  EXPECT_TRUE(store.dispatch(state, watch("seed", 100)));
  return OwnerHistoryStore::history_path(dir.path(), kOwner);
}

std::vector<std::string> visible_ids(const OwnerHistoryStore& store) {
  std::vector<std::string> ids;
  auto root = owner_history_map(store.document());
  if (!root) return ids;
  for (const auto& e : entries_after_clear(store.document(), *root, Removals::Skip)) ids.push_back(e.video_id);
  return ids;
}

TEST(HistoryStore, FirstDispatchCreatesThePrivateFile) {
  TempDir dir;
  const auto path = OwnerHistoryStore::history_path(dir.path(), kOwner);
  // BLAKE3 of the owner's bytes, as b3sum prints it.
  EXPECT_EQ(path.filename(), "762e97caff1141fa79ae078f2905b950cba825c60bd44a90ec415bbc0581dc5b.automerge");
  EXPECT_EQ(path.parent_path(), dir.path() / "vorn/sarn/history");
  {
    auto store = OwnerHistoryStore::open_in(dir.path(), kOwner);
    EXPECT_FALSE(store.recovery_required());
    EXPECT_EQ(store.path(), path);
    EXPECT_FALSE(std::filesystem::exists(path));
    vorn_ui::bound_dispatch::DispatchState state;
    ASSERT_TRUE(store.dispatch(state, watch("abc", 1000)));
    ASSERT_TRUE(store.dispatch(state, OwnerHistoryAction::legacy_migration_complete()));
    EXPECT_TRUE(store.legacy_migration_done());
    EXPECT_TRUE(state.last_encoded);
  }
  EXPECT_EQ(mode_of(path), 0600u);
  EXPECT_EQ(mode_of(path.parent_path()), 0700u);
  auto reopened = OwnerHistoryStore::open_in(dir.path(), kOwner);
  // Every persist sets the folder back to owner-only.
  ASSERT_EQ(::chmod(path.parent_path().c_str(), 0755), 0);
  ASSERT_TRUE(reopened.persist());
  EXPECT_EQ(mode_of(path.parent_path()), 0700u);
  EXPECT_FALSE(reopened.recovery_required());
  EXPECT_EQ(visible_ids(reopened), std::vector<std::string>{"abc"});
  EXPECT_TRUE(reopened.legacy_migration_done());

  // Memory-only stores never write.
  auto memory = OwnerHistoryStore::in_memory();
  vorn_ui::bound_dispatch::DispatchState state;
  EXPECT_TRUE(memory.dispatch(state, watch("m", 1)));
  EXPECT_TRUE(memory.persist());
  auto no_data_dir = OwnerHistoryStore::open_in(std::nullopt, kOwner);
  EXPECT_FALSE(no_data_dir.path());
  EXPECT_FALSE(no_data_dir.recovery_required());
}

// A history of three watches written as its change chunks, without the
// second one: the third depends on a change the file does not hold.
std::string history_missing_a_change() {
  auto store = OwnerHistoryStore::in_memory();
  vorn_ui::bound_dispatch::DispatchState state;
  for (int i = 1; i <= 3; ++i) EXPECT_TRUE(store.dispatch(state, watch(fmt::format("v{}", i), 100 * i)));
  const auto changes = store.document().changes();
  EXPECT_EQ(changes.size(), 3u);
  return as_string(changes[0]) + as_string(changes[2]);
}

struct Untrusted {
  const char* name;
  std::function<void(const std::filesystem::path& path, const TempDir& dir)> make;
  const char* error;
};

TEST(HistoryStore, UntrustedFilesAreLeftAloneAndDisablePersistence) {
  const std::string garbage = "\x85\x6f\x4a\x83garbage that is not an automerge document";
  const Untrusted rows[] = {
      {"symbolic link",
       [](const std::filesystem::path& path, const TempDir& dir) {
         write_file(dir / "target", "precious");
         std::filesystem::create_symlink(dir / "target", path);
       },
       "history target is not a regular file"},
      {"directory", [](const std::filesystem::path& path, const TempDir&) { std::filesystem::create_directories(path); },
       "history target is not a regular file"},
      {"fifo", [](const std::filesystem::path& path, const TempDir&) { ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0); },
       "history target is not a regular file"},
      {"too large",
       [](const std::filesystem::path& path, const TempDir&) { write_file(path, std::string(4194305, 'x')); },
       "history file exceeds size limit"},
      {"garbage", [&](const std::filesystem::path& path, const TempDir&) { write_file(path, garbage); }, nullptr},
      {"change missing from its run",
       [](const std::filesystem::path& path, const TempDir&) { write_file(path, history_missing_a_change()); },
       "change's deps should already be in the document"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    TempDir dir;
    const auto path = OwnerHistoryStore::history_path(dir.path(), kOwner);
    std::filesystem::create_directories(path.parent_path());
    row.make(path, dir);
    const bool regular = std::filesystem::is_regular_file(std::filesystem::symlink_status(path));
    const std::string before = regular ? read_file(path) : "";

    vorn_log::CaptureSink sink;
    auto store = OwnerHistoryStore::open_in(dir.path(), kOwner);
    EXPECT_TRUE(store.recovery_required());
    EXPECT_FALSE(store.path());
    auto events = sink.with_message(kRecoveryLog);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].level, vorn_log::Level::Warn);
    EXPECT_EQ(events[0].target, "sarn::history_store");
    EXPECT_EQ(events[0].field("message"), kRecoveryLog);
    EXPECT_EQ(events[0].field("path"), path.string());
    if (row.error) {
      EXPECT_EQ(events[0].field("error"), row.error);
    }

    vorn_ui::bound_dispatch::DispatchState state;
    EXPECT_FALSE(store.dispatch(state, watch("new", 5)));
    EXPECT_EQ(store.persist().error().to_string(), "owner history persistence is disabled pending recovery");
    EXPECT_FALSE(sink.with_message("could not persist owner-local Sarn history").empty());
    if (regular) {
      EXPECT_EQ(read_file(path), before);
    }
  }
}

TEST(HistoryStore, RefusedActionIsLoggedAndNothingIsWritten) {
  TempDir dir;
  const auto path = seeded_file(dir);
  const std::string before = read_file(path);
  auto store = OwnerHistoryStore::open_in(dir.path(), kOwner);
  const auto heads = store.document().heads();
  vorn_log::CaptureSink sink;
  vorn_ui::bound_dispatch::DispatchState state;
  EXPECT_FALSE(store.dispatch(state, OwnerHistoryAction::set_entry("bad\xff", 1, true, "m")));
  auto events = sink.with_message("refused owner-local Sarn history action");
  ASSERT_EQ(events.size(), 1u);
  EXPECT_TRUE(events[0].field("error"));
  EXPECT_EQ(store.document().heads(), heads);
  EXPECT_EQ(store.document().pending_ops(), 0u);
  EXPECT_EQ(read_file(path), before);
  // The next accepted action is persisted without any trace of the refusal.
  ASSERT_TRUE(store.dispatch(state, watch("ok", 7)));
  EXPECT_EQ(visible_ids(store), (std::vector<std::string>{"seed", "ok"}));
}

TEST(HistoryStore, UninspectablePathDisablesPersistence) {
  TempDir dir;
  // The history folder is a file: the path cannot even be inspected.
  std::filesystem::create_directories(dir / "vorn/sarn");
  write_file(dir / "vorn/sarn/history", "in the way");
  vorn_log::CaptureSink sink;
  auto store = OwnerHistoryStore::open_in(dir.path(), kOwner);
  EXPECT_TRUE(store.recovery_required());
  auto events = sink.with_message("could not inspect owner history store; persistence disabled");
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].level, vorn_log::Level::Warn);
  EXPECT_EQ(events[0].field("path"), OwnerHistoryStore::history_path(dir.path(), kOwner).string());
  EXPECT_TRUE(events[0].field("error"));
  EXPECT_FALSE(store.persist());
  EXPECT_EQ(read_file(dir / "vorn/sarn/history"), "in the way");
}

TEST(HistoryStore, TruncatedFileIsKeptByteForByte) {
  TempDir dir;
  const auto path = seeded_file(dir);
  const std::string whole = read_file(path);
  write_file(path, whole.substr(0, whole.size() / 2));
  auto store = OwnerHistoryStore::open_in(dir.path(), kOwner);
  EXPECT_TRUE(store.recovery_required());
  vorn_ui::bound_dispatch::DispatchState state;
  EXPECT_FALSE(store.dispatch(state, watch("x", 1)));
  EXPECT_EQ(read_file(path), whole.substr(0, whole.size() / 2));
}

TEST(HistoryStore, FileSwappedWhileOpeningIsRefusedWithoutBlocking) {
  TempDir dir;
  const auto path = seeded_file(dir);
  const std::string original = read_file(path);
  write_file(dir / "other", original);
  const struct {
    const char* name;
    std::function<void()> swap;
    const char* error;  // none: a system error
  } rows[] = {
      {"fifo",
       [&] {
         std::filesystem::rename(path, dir / "moved");
         ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
       },
       "history target changed while opening"},
      {"another file", [&] {
         std::filesystem::rename(path, dir / "moved");
         std::filesystem::copy_file(dir / "other", path);
       },
       "history target changed while opening"},
      {"link", [&] {
         std::filesystem::rename(path, dir / "moved");
         std::filesystem::create_symlink(dir / "other", path);
       },
       nullptr},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    auto read = read_history_file(path, row.swap);
    ASSERT_FALSE(read);
    if (row.error) {
      EXPECT_EQ(read.error().to_string(), row.error);
    } else {
      EXPECT_EQ(read.error().kind, HistoryIoError::Kind::System);
    }
    std::filesystem::remove(path);
    std::filesystem::rename(dir / "moved", path);
    EXPECT_EQ(read_file(path), original);
  }
  auto untouched = read_history_file(path);
  ASSERT_TRUE(untouched);
  EXPECT_EQ(*untouched, original);
}

TEST(HistoryStore, ForeignOwnerIsRefused) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to give the file to another user";
  TempDir dir;
  const auto path = seeded_file(dir);
  const std::string before = read_file(path);
  ASSERT_EQ(::chown(path.c_str(), 4242, 4242), 0);
  vorn_log::CaptureSink sink;
  auto store = OwnerHistoryStore::open_in(dir.path(), kOwner);
  EXPECT_TRUE(store.recovery_required());
  ASSERT_EQ(sink.with_message(kRecoveryLog).size(), 1u);
  EXPECT_EQ(sink.with_message(kRecoveryLog)[0].field("error"), "history file is not owned by the current user");
  vorn_ui::bound_dispatch::DispatchState state;
  EXPECT_FALSE(store.dispatch(state, watch("x", 1)));
  struct stat info {};
  ASSERT_EQ(::stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_uid, 4242u);
  EXPECT_EQ(read_file(path), before);
}

TEST(HistoryStore, LoosePermissionsAreRepaired) {
  TempDir dir;
  const auto path = seeded_file(dir);
  ASSERT_EQ(::chmod(path.c_str(), 0644), 0);
  auto store = OwnerHistoryStore::open_in(dir.path(), kOwner);
  EXPECT_FALSE(store.recovery_required());
  EXPECT_EQ(mode_of(path), 0600u);
  EXPECT_EQ(visible_ids(store), std::vector<std::string>{"seed"});
}

// A saved document of exactly `size` bytes: one entry and a bytes value of
// random (incompressible) data, grown until the saved size matches.
std::vector<std::uint8_t> document_of_size(std::size_t size) {
  long long payload = static_cast<long long>(size) - 1024;
  for (int round = 0; round < 32 && payload > 0; ++round) {
    automerge::Document doc;
    EXPECT_TRUE(apply_owner_history_action(watch("sized", 1), doc));
    std::vector<std::uint8_t> data(static_cast<std::size_t>(payload));
    std::mt19937 fill(11);
    for (auto& b : data) b = static_cast<std::uint8_t>(fill());
    EXPECT_TRUE(doc.put(automerge::ObjId::root(), "padding", automerge::Value::bytes(std::move(data))));
    auto saved = doc.save();
    if (saved.size() == size) return saved;
    payload += static_cast<long long>(size) - static_cast<long long>(saved.size());
  }
  return {};
}

TEST(HistoryStore, SizeLimitIsInclusive) {
  TempDir dir;
  const auto path = OwnerHistoryStore::history_path(dir.path(), kOwner);
  std::filesystem::create_directories(path.parent_path());
  auto exact = document_of_size(4194304);
  ASSERT_EQ(exact.size(), 4194304u) << "could not build a document of the limit size";
  write_file(path, as_string(exact));
  ::chmod(path.c_str(), 0600);
  {
    auto store = OwnerHistoryStore::open_in(dir.path(), kOwner);
    EXPECT_FALSE(store.recovery_required());
    EXPECT_EQ(visible_ids(store), std::vector<std::string>{"sized"});
  }
  write_file(path, as_string(exact) + "x");
  vorn_log::CaptureSink sink;
  auto store = OwnerHistoryStore::open_in(dir.path(), kOwner);
  EXPECT_TRUE(store.recovery_required());
  EXPECT_EQ(sink.with_message(kRecoveryLog).at(0).field("error"), "history file exceeds size limit");

  // A document that saves beyond the limit is never written.
  auto memory = OwnerHistoryStore::open_in(dir.path() / "other", kOwner);
  std::vector<std::uint8_t> big(4194305);
  std::mt19937 fill(3);
  for (auto& b : big) b = static_cast<std::uint8_t>(fill());
  ASSERT_TRUE(memory.document().put(automerge::ObjId::root(), "padding", automerge::Value::bytes(std::move(big))));
  EXPECT_EQ(memory.persist().error().to_string(), "history store exceeds its size limit");
  EXPECT_FALSE(std::filesystem::exists(*memory.path()));
}

TEST(HistoryStore, FailedPersistRestoresTheSnapshot) {
  TempDir dir;
  const auto path = seeded_file(dir);
  auto store = OwnerHistoryStore::open_in(dir.path(), kOwner);
  ASSERT_FALSE(store.recovery_required());
  vorn_ui::bound_dispatch::DispatchState state;
  ASSERT_TRUE(store.dispatch(state, watch("kept", 200)));
  const auto heads = store.document().heads();
  const auto saved = store.document().save();
  const auto actor = store.document().actor_id();

  // The file's place is taken by a folder: the atomic replace cannot land.
  std::filesystem::remove(path);
  std::filesystem::create_directories(path / "blocker");
  vorn_log::CaptureSink sink;
  EXPECT_FALSE(store.dispatch(state, watch("lost", 300)));
  EXPECT_EQ(sink.with_message("could not persist owner-local Sarn history").size(), 1u);
  EXPECT_EQ(store.document().heads(), heads);
  EXPECT_EQ(store.document().save(), saved);
  EXPECT_EQ(store.document().actor_id(), actor);
  EXPECT_EQ(visible_ids(store), (std::vector<std::string>{"kept", "seed"}));

  // The folder that holds the file cannot be made.
  std::filesystem::remove_all(path.parent_path());
  write_file(path.parent_path(), "not a folder");
  EXPECT_FALSE(store.dispatch(state, watch("lost", 400)));
  EXPECT_EQ(store.document().heads(), heads);

  // A snapshot that does not load leaves the document as it is.
  store.restore(std::vector<std::uint8_t>{1, 2, 3});
  EXPECT_EQ(sink.with_message("could not restore owner history after persistence failure").size(), 1u);
  EXPECT_FALSE(sink.with_message("could not restore owner history after persistence failure")[0]
                   .field("restore_error")
                   ->empty());
  EXPECT_EQ(store.document().heads(), heads);

  // Back to a working place: the next dispatch writes again.
  std::filesystem::remove(path.parent_path());
  EXPECT_TRUE(store.dispatch(state, watch("again", 500)));
  auto reopened = OwnerHistoryStore::open_in(dir.path(), kOwner);
  EXPECT_EQ(visible_ids(reopened), (std::vector<std::string>{"again", "kept", "seed"}));
}

// With the writer thread every dispatch's bytes land in order: the file is
// whole whenever it is looked at and holds the last state once the store
// has waited or gone away.
TEST(HistoryStore, WriterThreadWritesEveryDispatchInOrder) {
  TempDir dir;
  const auto path = OwnerHistoryStore::history_path(dir.path(), kOwner);
  std::vector<std::string> expected;
  {
    auto store = OwnerHistoryStore::open_in(dir.path(), kOwner);
    store.use_writer_thread();
    vorn_ui::bound_dispatch::DispatchState state;
    for (int i = 0; i < 40; ++i) {
      ASSERT_TRUE(store.dispatch(state, watch(fmt::format("v{:02}", i), 1000 + static_cast<std::uint64_t>(i))));
      if (i == 20) {
        store.finish_writes();
        auto read = read_history_file(path);
        ASSERT_TRUE(read);
        EXPECT_TRUE(automerge::Document::load(*read));
      }
    }
    expected = visible_ids(store);
    EXPECT_FALSE(store.take_write_failure());
  }  // waits for the pending writes, then lets go of the lock
  EXPECT_EQ(mode_of(path), 0600u);
  EXPECT_EQ(mode_of(path.parent_path()), 0700u);
  auto reopened = OwnerHistoryStore::open_in(dir.path(), kOwner);
  EXPECT_FALSE(reopened.held_by_other_instance());
  EXPECT_EQ(visible_ids(reopened), expected);
  EXPECT_EQ(expected.size(), 40u);
}

// A write that fails on the writer thread is answered by take_write_failure
// and logged; the entry stays in memory and the next write that lands
// carries it. Refusals that need no disk still come back from dispatch.
TEST(HistoryStore, WriterThreadFailureIsReportedAndTheNextWriteCarriesTheEntry) {
  TempDir dir;
  const auto path = seeded_file(dir);
  auto store = OwnerHistoryStore::open_in(dir.path(), kOwner);
  store.use_writer_thread();
  vorn_ui::bound_dispatch::DispatchState state;

  std::filesystem::remove(path);
  std::filesystem::create_directories(path / "blocker");
  vorn_log::CaptureSink sink;
  EXPECT_TRUE(store.dispatch(state, watch("pending", 300)));
  store.finish_writes();
  const auto failure = store.take_write_failure();
  ASSERT_TRUE(failure);
  EXPECT_FALSE(failure->to_string().empty());
  EXPECT_EQ(sink.with_message("could not persist owner-local Sarn history").size(), 1u);
  EXPECT_FALSE(store.take_write_failure()) << "answered once";
  EXPECT_TRUE(std::filesystem::is_directory(path / "blocker"));

  std::filesystem::remove_all(path);
  EXPECT_TRUE(store.dispatch(state, watch("again", 400)));
  store.finish_writes();
  EXPECT_FALSE(store.take_write_failure());
  EXPECT_EQ(visible_ids(store), (std::vector<std::string>{"again", "pending", "seed"}));
  store = OwnerHistoryStore::in_memory();
  auto reopened = OwnerHistoryStore::open_in(dir.path(), kOwner);
  EXPECT_EQ(visible_ids(reopened), (std::vector<std::string>{"again", "pending", "seed"}));

  // A second instance never writes, with or without the writer thread.
  auto second = OwnerHistoryStore::open_in(dir.path(), kOwner);
  second.use_writer_thread();
  EXPECT_FALSE(second.dispatch(state, watch("refused", 500)));
  EXPECT_NE(second.persist().error().to_string().find("another running instance"), std::string::npos);
}

TEST(HistoryStore, CompactionKeepsTheNewestFiftyTheClearAndTheMarker) {
  auto store = OwnerHistoryStore::in_memory();
  auto& doc = store.document();
  for (int i = 0; i < 80; ++i) {
    // Two entries share each time from 60 on, ordered by id.
    const std::uint64_t ms = 10000 + static_cast<std::uint64_t>(i < 60 ? i : 60 + (i - 60) / 2);
    ASSERT_TRUE(apply_owner_history_action(watch(fmt::format("v{:02}", i), ms), doc));
  }
  ASSERT_TRUE(apply_owner_history_action(OwnerHistoryAction::set_entry("removed", 99999, false, "m"), doc));
  ASSERT_TRUE(apply_owner_history_action(watch("old", 50), doc));
  ASSERT_TRUE(apply_owner_history_action(OwnerHistoryAction::clear(100, "c"), doc));
  ASSERT_TRUE(apply_owner_history_action(OwnerHistoryAction::legacy_migration_complete(), doc));
  doc.commit();

  ASSERT_TRUE(store.compact());
  auto ids = visible_ids(store);
  ASSERT_EQ(ids.size(), 50u);
  EXPECT_EQ(ids[0], "v78");  // 10069, tie with v79 broken by id
  EXPECT_EQ(ids[1], "v79");
  EXPECT_EQ(ids[49], "v30");
  EXPECT_EQ(sarn_test::keys_at(store.document(), "owner_history/entries").size(), 50u);
  // Each kept entry is the record it was: time and mutation id unchanged.
  auto kept = entries_after_clear(store.document(), *owner_history_map(store.document()), Removals::Include);
  ASSERT_EQ(kept.size(), 50u);
  EXPECT_EQ(kept[0].record, (HistoryEntryRecord{true, 10069, fmt::format("{}:watch:v78:10069", kOwner)}));
  EXPECT_EQ(kept[49].record, (HistoryEntryRecord{true, 10030, fmt::format("{}:watch:v30:10030", kOwner)}));
  EXPECT_EQ(str_at(store.document(), "owner_history/clears/compacted-clear:100"), "100");
  EXPECT_EQ(sarn_test::keys_at(store.document(), "owner_history/clears").size(), 1u);
  EXPECT_TRUE(store.legacy_migration_done());
  EXPECT_EQ(store.document().pending_ops(), 0u);
  EXPECT_EQ(store.document().change_count(), 1u);

  // Everything older than the clear: only the clear (and the marker) remain.
  auto cleared = OwnerHistoryStore::in_memory();
  ASSERT_TRUE(apply_owner_history_action(watch("a", 10), cleared.document()));
  ASSERT_TRUE(apply_owner_history_action(OwnerHistoryAction::clear(20, "c"), cleared.document()));
  ASSERT_TRUE(cleared.compact());
  EXPECT_TRUE(sarn_test::keys_at(cleared.document(), "owner_history/entries").empty());
  EXPECT_EQ(sarn_test::keys_at(cleared.document(), "owner_history"), std::vector<std::string>{"clears"});
  EXPECT_FALSE(cleared.legacy_migration_done());

  // No owner_history map: nothing to compact.
  auto empty = OwnerHistoryStore::in_memory();
  ASSERT_TRUE(empty.compact());
  EXPECT_TRUE(empty.document().heads().empty());
}

TEST(HistoryStore, DispatchCompactsOnceTheDocumentGrowsPastTheThreshold) {
  TempDir dir;
  auto store = OwnerHistoryStore::open_in(dir.path(), kOwner);
  vorn_ui::bound_dispatch::DispatchState state;
  std::mt19937 rng(5);
  bool shrank = false;
  std::size_t previous = 0;
  for (int i = 0; i < 90; ++i) {
    std::string mutation(8192, ' ');
    for (auto& c : mutation) c = static_cast<char>('!' + rng() % 90);
    ASSERT_TRUE(store.dispatch(state, OwnerHistoryAction::set_entry(fmt::format("v{:03}", i),
                                                                     1000 + static_cast<std::uint64_t>(i), true,
                                                                     mutation)));
    const auto size = std::filesystem::file_size(*store.path());
    EXPECT_LT(size, kHistoryCompactionThreshold);
    if (size < previous) shrank = true;
    previous = size;
  }
  EXPECT_TRUE(shrank);
  auto ids = visible_ids(store);
  EXPECT_LT(ids.size(), 90u);
  EXPECT_GE(ids.size(), 50u);
  EXPECT_EQ(ids.front(), "v089");
}

TEST(HistoryStore, FailedFirstPersistLeavesAnEmptyDocument) {
  TempDir dir;
  auto store = OwnerHistoryStore::open_in(dir.path(), kOwner);
  ASSERT_FALSE(store.recovery_required());
  const auto path = *store.path();
  std::filesystem::create_directories(path / "blocker");
  vorn_log::CaptureSink sink;
  vorn_ui::bound_dispatch::DispatchState state;
  EXPECT_FALSE(store.dispatch(state, watch("lost", 1)));
  EXPECT_TRUE(sink.with_message("could not restore owner history after persistence failure").empty());
  EXPECT_TRUE(store.document().heads().empty());
  EXPECT_FALSE(owner_history_map(store.document()));
}

TEST(HistoryStore, FailedPersistAfterCompactionRestoresTheUncompactedDocument) {
  TempDir dir;
  const auto path = seeded_file(dir);
  auto store = OwnerHistoryStore::open_in(dir.path(), kOwner);
  // Past the threshold, so that the next dispatch compacts (which drops
  // everything outside the history, the padding included).
  std::vector<std::uint8_t> padding(kHistoryCompactionThreshold);
  std::mt19937 fill(9);
  for (auto& b : padding) b = static_cast<std::uint8_t>(fill());
  ASSERT_TRUE(store.document().put(automerge::ObjId::root(), "padding", automerge::Value::bytes(std::move(padding))));
  store.document().commit();
  const auto heads = store.document().heads();
  const auto saved = store.document().save();

  std::filesystem::remove(path);
  std::filesystem::create_directories(path / "blocker");
  vorn_log::CaptureSink sink;
  vorn_ui::bound_dispatch::DispatchState state;
  EXPECT_FALSE(store.dispatch(state, watch("lost", 300)));
  EXPECT_EQ(sink.with_message("could not persist owner-local Sarn history").size(), 1u);
  EXPECT_TRUE(sink.with_message("could not compact owner-local Sarn history").empty());
  EXPECT_EQ(store.document().heads(), heads);
  EXPECT_EQ(store.document().save(), saved);
  EXPECT_EQ(visible_ids(store), std::vector<std::string>{"seed"});

  // Once the file can land, the same dispatch compacts and persists.
  std::filesystem::remove_all(path);
  ASSERT_TRUE(store.dispatch(state, watch("kept", 400)));
  EXPECT_FALSE(store.document().get(automerge::ObjId::root(), "padding").value());
  EXPECT_LT(std::filesystem::file_size(path), kHistoryCompactionThreshold);
  auto reopened = OwnerHistoryStore::open_in(dir.path(), kOwner);
  EXPECT_EQ(visible_ids(reopened), (std::vector<std::string>{"kept", "seed"}));
}

TEST(HistoryStore, SecondInstanceRunsWithoutWriting) {
  TempDir dir;
  const auto path = seeded_file(dir);
  auto first = OwnerHistoryStore::open_in(dir.path(), kOwner);
  ASSERT_FALSE(first.held_by_other_instance());
  vorn_log::CaptureSink sink;
  auto second = OwnerHistoryStore::open_in(dir.path(), kOwner);
  EXPECT_TRUE(second.held_by_other_instance());
  EXPECT_FALSE(second.recovery_required());
  EXPECT_EQ(visible_ids(second), std::vector<std::string>{"seed"});
  EXPECT_EQ(sink.with_message("owner history store is in use by another running instance; history will not be saved")
                .size(),
            1u);

  vorn_ui::bound_dispatch::DispatchState state;
  ASSERT_TRUE(first.dispatch(state, watch("first", 200)));
  const std::string written = read_file(path);
  EXPECT_FALSE(second.dispatch(state, watch("second", 300)));
  EXPECT_NE(second.persist().error().to_string().find("another running instance"), std::string::npos);
  EXPECT_EQ(read_file(path), written);
  EXPECT_EQ(visible_ids(second), std::vector<std::string>{"seed"});

  // Once the first instance ends, a new one may write.
  { auto gone = std::move(first); }
  auto third = OwnerHistoryStore::open_in(dir.path(), kOwner);
  EXPECT_FALSE(third.held_by_other_instance());
  EXPECT_EQ(visible_ids(third), (std::vector<std::string>{"first", "seed"}));
}

}  // namespace
