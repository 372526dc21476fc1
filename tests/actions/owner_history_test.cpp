#include "sarn/actions/owner_history.h"

#include <gtest/gtest.h>

#include "doc_reading.h"
#include "vorn_actions/executor.h"
#include "vorn_ui/bound_dispatch.h"

namespace {

using namespace sarn;
using namespace sarn_test;
using automerge::ObjId;
using automerge::Value;

TEST(OwnerHistoryAction, JsonFormAndDebugText) {
  const struct {
    OwnerHistoryAction action;
    const char* json;
    const char* debug;
  } rows[] = {
      {OwnerHistoryAction::clear(5000, "user:a:clear:all:5000"),
       R"({"Clear":{"cleared_at_ms":5000,"clear_id":"user:a:clear:all:5000"}})",
       R"(Clear { cleared_at_ms: 5000, clear_id: "user:a:clear:all:5000" })"},
      {OwnerHistoryAction::set_entry("abc", 18446744073709551615ULL, false, "m\"1\n"),
       R"({"SetEntry":{"video_id":"abc","watched_at_ms":18446744073709551615,"present":false,"mutation_id":"m\"1\n"}})",
       R"(SetEntry { video_id: "abc", watched_at_ms: 18446744073709551615, present: false, mutation_id: "m\"1\n" })"},
      {OwnerHistoryAction::legacy_migration_complete(), R"("LegacyMigrationComplete")", "LegacyMigrationComplete"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(row.action.to_json(), row.json);
    EXPECT_EQ(row.action.debug_text(), row.debug);
    auto back = OwnerHistoryAction::from_json(row.json);
    ASSERT_TRUE(back) << back.error().text();
    EXPECT_EQ(*back, row.action);
  }
  EXPECT_FALSE(OwnerHistoryAction::set_entry("\xff", 1, true, "m").to_json());
}

TEST(OwnerHistoryAction, DecoderShapesAndRefusals) {
  const struct {
    const char* json;
    std::optional<OwnerHistoryAction> expected;
    const char* error;  // a substring of the error text
  } rows[] = {
      {R"({"Clear":[7,"c"]})", OwnerHistoryAction::clear(7, "c"), nullptr},
      {R"({"SetEntry":["v",1,true,"m"]})", OwnerHistoryAction::set_entry("v", 1, true, "m"), nullptr},
      {R"({"LegacyMigrationComplete":null})", OwnerHistoryAction::legacy_migration_complete(), nullptr},
      {R"( {"Clear":{"clear_id":"c","extra":{"deep":[1,2]},"cleared_at_ms":7}} )", OwnerHistoryAction::clear(7, "c"),
       nullptr},
      {R"({"Clear":{"cleared_at_ms":7}})", std::nullopt, "missing field `clear_id`"},
      {R"({"Clear":{"cleared_at_ms":7,"clear_id":"a","clear_id":"b"}})", std::nullopt, "duplicate field `clear_id`"},
      {R"({"Clear":{"cleared_at_ms":-1,"clear_id":"a"}})", std::nullopt, "invalid value"},
      {R"({"Clear":{"cleared_at_ms":1.5,"clear_id":"a"}})", std::nullopt, "invalid type"},
      {R"({"SetEntry":{"video_id":"v","watched_at_ms":1,"present":"yes","mutation_id":"m"}})", std::nullopt,
       "invalid type"},
      {R"("Clear")", std::nullopt, "invalid type"},
      {R"({"Forget":{}})", std::nullopt, "unknown variant `Forget`"},
      {R"("LegacyMigrationComplete" x)", std::nullopt, "trailing characters"},
      {R"({"Clear":{"cleared_at_ms":7,"clear_id":"c"})", std::nullopt, "EOF"},
      {"", std::nullopt, "EOF"},
  };
  for (const auto& row : rows) {
    auto decoded = OwnerHistoryAction::from_json(row.json);
    if (row.expected) {
      ASSERT_TRUE(decoded) << row.json << ": " << decoded.error().text();
      EXPECT_EQ(*decoded, *row.expected) << row.json;
    } else {
      ASSERT_FALSE(decoded) << row.json;
      EXPECT_NE(decoded.error().text().find(row.error), std::string::npos) << row.json << " -> " << decoded.error().text();
    }
  }
}

TEST(HistoryEntryRecord, CompactJsonAndTolerantReading) {
  EXPECT_EQ((HistoryEntryRecord{true, 42, "user:a:watch:v:42"}.to_json()),
            R"({"present":true,"watched_at_ms":42,"mutation_id":"user:a:watch:v:42"})");
  const struct {
    const char* json;
    std::optional<HistoryEntryRecord> expected;
  } rows[] = {
      {R"({"mutation_id":"m","present":false,"watched_at_ms":9})", HistoryEntryRecord{false, 9, "m"}},
      {R"({"present":true,"watched_at_ms":9,"mutation_id":"m","device":"x"})", HistoryEntryRecord{true, 9, "m"}},
      {R"({"present":true,"watched_at_ms":9})", std::nullopt},
      {R"({"present":1,"watched_at_ms":9,"mutation_id":"m"})", std::nullopt},
      {R"({"present":true,"watched_at_ms":-9,"mutation_id":"m"})", std::nullopt},
      {"not json", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& row : rows) EXPECT_EQ(HistoryEntryRecord::from_json(row.json), row.expected) << row.json;
}

TEST(OwnerHistoryDocument, ApplyWritesTheLayout) {
  automerge::Document doc;
  ASSERT_TRUE(apply_owner_history_action(OwnerHistoryAction::legacy_migration_complete(), doc));
  EXPECT_TRUE(legacy_migration_marker(doc));
  ASSERT_TRUE(apply_owner_history_action(OwnerHistoryAction::set_entry("v1", 10, false, "m1"), doc));
  ASSERT_TRUE(apply_owner_history_action(OwnerHistoryAction::clear(5, "c1"), doc));
  ASSERT_TRUE(apply_owner_history_action(OwnerHistoryAction::clear(3, "c1"), doc));
  EXPECT_EQ(str_at(doc, "owner_history/entries/v1"), R"({"present":false,"watched_at_ms":10,"mutation_id":"m1"})");
  EXPECT_EQ(str_at(doc, "owner_history/clears/c1"), "3");  // the later write is current
  EXPECT_EQ(bool_at(doc, "owner_history/legacy_shared_migration_v1"), true);
  EXPECT_EQ(keys_at(doc, "owner_history"), (std::vector<std::string>{"clears", "entries", "legacy_shared_migration_v1"}));

  // A non-map owner_history is replaced; a marker that is not true is unset.
  automerge::Document odd;
  ASSERT_TRUE(odd.put(ObjId::root(), "owner_history", Value::str("junk")));
  EXPECT_FALSE(legacy_migration_marker(odd));
  ASSERT_TRUE(apply_owner_history_action(OwnerHistoryAction::clear(1, "c"), odd));
  EXPECT_TRUE(is_map_at(odd, "owner_history"));
  EXPECT_FALSE(legacy_migration_marker(odd));
  ASSERT_TRUE(odd.put(*owner_history_map(odd), "legacy_shared_migration_v1", Value::str("true")));
  EXPECT_FALSE(legacy_migration_marker(odd));
}

TEST(OwnerHistoryDocument, ClearTimesOfEveryConcurrentValue) {
  automerge::Document doc;
  ASSERT_TRUE(apply_owner_history_action(OwnerHistoryAction::clear(1, "seed"), doc));
  doc.commit();
  const ObjId clears = *child_map(doc, *owner_history_map(doc), "clears");
  const struct {
    const char* key;
    Value value;
    std::optional<std::uint64_t> time;
  } rows[] = {
      {"plus", Value::str("+12"), 12},
      {"space", Value::str("12 "), std::nullopt},
      {"minus", Value::str("-1"), std::nullopt},
      {"empty", Value::str(""), std::nullopt},
      {"plus only", Value::str("+"), std::nullopt},
      {"max", Value::str("18446744073709551615"), 18446744073709551615ULL},
      {"overflow", Value::str("18446744073709551616"), std::nullopt},
      {"integer", Value::uint64(99), std::nullopt},
      {"hex", Value::str("0x10"), std::nullopt},
  };
  for (const auto& row : rows) {
    ASSERT_TRUE(doc.put(clears, row.key, row.value));
    EXPECT_EQ(read_clear_time(doc, clears, row.key), row.time) << row.key;
  }
  EXPECT_EQ(latest_clear_time(doc, clears), 18446744073709551615ULL);

  automerge::Document unreadable;
  ASSERT_TRUE(apply_owner_history_action(OwnerHistoryAction::clear(1, "x"), unreadable));
  const ObjId c2 = *child_map(unreadable, *owner_history_map(unreadable), "clears");
  ASSERT_TRUE(unreadable.put(c2, "x", Value::str("soon")));
  EXPECT_EQ(latest_clear_time(unreadable, c2), 0u);
  EXPECT_EQ(latest_clear_time_of(automerge::Document(), ObjId::root()), 0u);

  // Concurrent clears of one key: the greatest time counts, whichever wins.
  automerge::Document left;
  ASSERT_TRUE(apply_owner_history_action(OwnerHistoryAction::clear(1, "same"), left));
  left.commit();
  automerge::Document right = left.fork();
  ASSERT_TRUE(apply_owner_history_action(OwnerHistoryAction::clear(9000, "same"), left));
  ASSERT_TRUE(apply_owner_history_action(OwnerHistoryAction::clear(20, "same"), right));
  left.commit();
  right.commit();
  ASSERT_TRUE(left.merge(right));
  const ObjId merged = *child_map(left, *owner_history_map(left), "clears");
  ASSERT_EQ(left.get_all(merged, "same")->size(), 2u);
  EXPECT_EQ(read_clear_time(left, merged, "same"), 9000u);
}

// Two replicas write the same video concurrently; answers the merged document.
automerge::Document conflict(const OwnerHistoryAction& a, const OwnerHistoryAction& b) {
  automerge::Document left;
  EXPECT_TRUE(apply_owner_history_action(OwnerHistoryAction::set_entry("other", 1, true, "seed"), left));
  left.commit();
  automerge::Document right = left.fork();
  EXPECT_TRUE(apply_owner_history_action(a, left));
  EXPECT_TRUE(apply_owner_history_action(b, right));
  left.commit();
  right.commit();
  EXPECT_TRUE(left.merge(right));
  return left;
}

TEST(OwnerHistoryDocument, WinningRecordAmongConflicts) {
  for (bool swap : {false, true}) {
    auto older = OwnerHistoryAction::set_entry("v", 1000, true, "m-old");
    auto newer = OwnerHistoryAction::set_entry("v", 2000, false, "m-new");
    auto doc = swap ? conflict(newer, older) : conflict(older, newer);
    const ObjId entries = *child_map(doc, *owner_history_map(doc), "entries");
    ASSERT_EQ(doc.get_all(entries, "v")->size(), 2u);
    EXPECT_EQ(read_history_entry(doc, entries, "v"), (HistoryEntryRecord{false, 2000, "m-new"}));
  }
  // Equal times: the greater mutation id by bytes.
  {
    auto doc = conflict(OwnerHistoryAction::set_entry("v", 5, true, "b"),
                        OwnerHistoryAction::set_entry("v", 5, true, "a\xc3\xa9"));
    const ObjId entries = *child_map(doc, *owner_history_map(doc), "entries");
    EXPECT_EQ(read_history_entry(doc, entries, "v")->mutation_id, "b");
  }
  // Exact ties: the value later in the list of concurrent values.
  {
    auto doc = conflict(OwnerHistoryAction::set_entry("v", 5, true, "m"),
                        OwnerHistoryAction::set_entry("v", 5, false, "m"));
    const ObjId entries = *child_map(doc, *owner_history_map(doc), "entries");
    auto all = *doc.get_all(entries, "v");
    ASSERT_EQ(all.size(), 2u);
    auto last = HistoryEntryRecord::from_json(*all.back().value.as_str());
    EXPECT_EQ(read_history_entry(doc, entries, "v"), last);
  }
  // Malformed values among the concurrent ones contribute nothing.
  {
    automerge::Document left;
    ASSERT_TRUE(apply_owner_history_action(OwnerHistoryAction::set_entry("v", 1, true, "seed"), left));
    left.commit();
    automerge::Document right = left.fork();
    const ObjId le = *child_map(left, *owner_history_map(left), "entries");
    ASSERT_TRUE(left.put(le, "v", Value::str(R"({"present":true,"watched_at_ms":99999})")));
    const ObjId re = *child_map(right, *owner_history_map(right), "entries");
    ASSERT_TRUE(right.put(re, "v", Value::str(R"({"present":true,"watched_at_ms":7,"mutation_id":"ok"})")));
    left.commit();
    right.commit();
    ASSERT_TRUE(left.merge(right));
    EXPECT_EQ(read_history_entry(left, le, "v"), (HistoryEntryRecord{true, 7, "ok"}));
    ASSERT_TRUE(left.put(le, "w", Value::str("{")));
    ASSERT_TRUE(left.put(le, "x", Value::int64(3)));
    EXPECT_EQ(read_history_entry(left, le, "w"), std::nullopt);
    EXPECT_EQ(read_history_entry(left, le, "x"), std::nullopt);
    EXPECT_EQ(read_history_entry(left, le, "absent"), std::nullopt);
  }
}

TEST(OwnerHistoryDocument, EntriesAfterTheLatestClear) {
  automerge::Document doc;
  ASSERT_TRUE(apply_owner_history_action(OwnerHistoryAction::set_entry("at", 5000, true, "m"), doc));
  ASSERT_TRUE(apply_owner_history_action(OwnerHistoryAction::set_entry("after", 5001, true, "m"), doc));
  ASSERT_TRUE(apply_owner_history_action(OwnerHistoryAction::set_entry("removed", 6000, false, "m"), doc));
  ASSERT_TRUE(apply_owner_history_action(OwnerHistoryAction::set_entry("b", 7000, true, "m"), doc));
  ASSERT_TRUE(apply_owner_history_action(OwnerHistoryAction::set_entry("a", 7000, true, "m"), doc));
  ASSERT_TRUE(apply_owner_history_action(OwnerHistoryAction::clear(5000, "c"), doc));
  const ObjId history = *owner_history_map(doc);
  auto ids = [](const std::vector<HistoryEntry>& entries) {
    std::vector<std::string> out;
    for (const auto& e : entries) out.push_back(e.video_id);
    return out;
  };
  EXPECT_EQ(ids(entries_after_clear(doc, history, Removals::Skip)), (std::vector<std::string>{"a", "b", "after"}));
  EXPECT_EQ(ids(entries_after_clear(doc, history, Removals::Include)),
            (std::vector<std::string>{"a", "b", "removed", "after"}));
}

TEST(OwnerHistoryDocument, UnencodableEntryIsRefusedWithTheEncodersText) {
  automerge::Document doc;
  auto refused = apply_owner_history_action(OwnerHistoryAction::set_entry("v", 1, true, "m\xff"), doc);
  ASSERT_FALSE(refused);
  EXPECT_EQ(refused.error().kind(), vorn_actions::ActionErrorKind::Message);
  const std::string prefix = "could not encode owner history entry: ";
  EXPECT_TRUE(refused.error().text().starts_with(prefix)) << refused.error().text();
  EXPECT_GT(refused.error().text().size(), prefix.size());
  EXPECT_FALSE(item_at(doc, "owner_history/entries/v"));
}

TEST(OwnerHistoryDocument, RefusedApplyIsRolledBack) {
  // The maps are created, then the put of a key that is not UTF-8 fails: the
  // executor must drop the maps too.
  const OwnerHistoryAction bad = OwnerHistoryAction::set_entry("\xff\xfe", 1, true, "m");
  {
    automerge::Document scratch;
    ASSERT_FALSE(apply_owner_history_action(bad, scratch));
    EXPECT_GT(scratch.pending_ops(), 0u) << "the apply did write before failing";
  }
  automerge::Document doc;
  vorn_actions::transport::LocalTransport transport;
  auto refused = vorn_actions::executor::dispatch_by(TypedOwnerHistoryAction(bad),
                                                     {std::string(kOwnerHistoryActionKind), "{}"}, transport,
                                                     doc.actor_id().bytes(), doc);
  ASSERT_FALSE(refused);
  EXPECT_EQ(refused.error().kind(), vorn_actions::ActionErrorKind::Document);
  EXPECT_EQ(doc.pending_ops(), 0u);
  EXPECT_FALSE(owner_history_map(doc));
  EXPECT_TRUE(doc.heads().empty());
  EXPECT_TRUE(transport.deliveries().empty());
  // Typed dispatch refuses it even earlier: it cannot be encoded.
  vorn_ui::bound_dispatch::DispatchState state;
  EXPECT_FALSE(vorn_ui::bound_dispatch::dispatch_typed(state, doc, kOwnerHistoryActionKind,
                                                       TypedOwnerHistoryAction(bad), nullptr));
  EXPECT_FALSE(TypedOwnerHistoryAction(bad).is_collaborative());
}

}  // namespace
