#pragma once
// The owner-local watch history document: its actions, its layout and the
// readers that turn it (concurrent values included) back into one clear time
// and one record per video.
//
// Layout under the document root:
//   owner_history                              map
//   owner_history/clears/<clear id>            string: cleared_at_ms in decimal
//   owner_history/entries/<video id>           string: HistoryEntryRecord JSON
//   owner_history/legacy_shared_migration_v1   boolean true once migrated
// The same clears/entries layout serves the legacy maps of the shared
// document. Entries are never deleted; compaction is the only step that
// drops them.
//
// Pure functions over a document; the interface thread owns the documents.

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "automerge/document.h"
#include "json_reader/reader.h"
#include "vorn_actions/action.h"

namespace sarn {

inline constexpr std::string_view kOwnerHistoryActionKind = "sarn.owner-history.action";

// Every entry watched at or before cleared_at_ms is hidden from now on.
struct HistoryClear {
  std::uint64_t cleared_at_ms = 0;
  std::string clear_id;
  friend bool operator==(const HistoryClear&, const HistoryClear&) = default;
};

// One video's entry (present) or its removal (not present).
struct HistorySetEntry {
  std::string video_id;
  std::uint64_t watched_at_ms = 0;
  bool present = true;
  std::string mutation_id;
  friend bool operator==(const HistorySetEntry&, const HistorySetEntry&) = default;
};

// The legacy history of the shared document has been copied in.
struct HistoryLegacyMigrationComplete {
  friend bool operator==(const HistoryLegacyMigrationComplete&, const HistoryLegacyMigrationComplete&) = default;
};

// Variants in declared order: Clear, SetEntry, LegacyMigrationComplete.
struct OwnerHistoryAction {
  std::variant<HistoryClear, HistorySetEntry, HistoryLegacyMigrationComplete> value;

  static OwnerHistoryAction clear(std::uint64_t cleared_at_ms, std::string clear_id);
  static OwnerHistoryAction set_entry(std::string video_id, std::uint64_t watched_at_ms, bool present,
                                      std::string mutation_id);
  static OwnerHistoryAction legacy_migration_complete();

  // {"Clear":{"cleared_at_ms":N,"clear_id":"…"}},
  // {"SetEntry":{"video_id":"…","watched_at_ms":N,"present":B,"mutation_id":"…"}},
  // "LegacyMigrationComplete". Fails only on text that is not UTF-8.
  std::expected<std::string, std::string> to_json() const;
  // Also accepts fields as an array in declared order and the unit variant
  // as {"LegacyMigrationComplete":null}; skips unknown members; refuses
  // missing or repeated fields.
  static std::expected<OwnerHistoryAction, json_reader::Error> from_json(std::string_view text);

  // `SetEntry { video_id: "abc", watched_at_ms: 5, present: true, mutation_id: "m" }`.
  std::string debug_text() const;

  friend bool operator==(const OwnerHistoryAction&, const OwnerHistoryAction&) = default;
};

// One stored entry.
struct HistoryEntryRecord {
  bool present = false;
  std::uint64_t watched_at_ms = 0;
  std::string mutation_id;

  // {"present":B,"watched_at_ms":N,"mutation_id":"…"}.
  std::expected<std::string, std::string> to_json() const;
  // Members in any order, others ignored, each of the three required.
  static std::optional<HistoryEntryRecord> from_json(std::string_view text);

  friend bool operator==(const HistoryEntryRecord&, const HistoryEntryRecord&) = default;
};

// The apply operation of OwnerHistoryAction; runs inside an open
// transaction and does not commit.
std::expected<void, vorn_actions::ActionError> apply_owner_history_action(const OwnerHistoryAction& action,
                                                                          automerge::Document& document);

// The map stored under the key of `parent` (its current value), or the id
// of a new empty map put there when the key is missing or holds anything
// else.
std::expected<automerge::ObjId, vorn_actions::ActionError> ensure_child_map(automerge::Document& document,
                                                                            automerge::ObjId parent,
                                                                            std::string_view key);

// The map currently stored under the key, if the key holds a map.
std::optional<automerge::ObjId> child_map(const automerge::Document& document, automerge::ObjId parent,
                                          std::string_view key);

// A decimal unsigned 64-bit number with an optional leading "+".
std::optional<std::uint64_t> parse_clear_time(std::string_view text);

// The greatest readable clear time among the key's concurrent values.
std::optional<std::uint64_t> read_clear_time(const automerge::Document& document, automerge::ObjId clears,
                                             std::string_view key);
// The greatest clear time over every key of the clears map; 0 when none.
std::uint64_t latest_clear_time(const automerge::Document& document, automerge::ObjId clears);
// latest_clear_time of history_map/clears; 0 when that map is missing.
std::uint64_t latest_clear_time_of(const automerge::Document& document, automerge::ObjId history_map);

// The key's winning record among its concurrent values: greatest
// watched_at_ms, then greatest mutation_id by bytes, then the later value in
// the document's list of concurrent values.
std::optional<HistoryEntryRecord> read_history_entry(const automerge::Document& document, automerge::ObjId entries,
                                                     std::string_view key);

struct HistoryEntry {
  std::string video_id;
  HistoryEntryRecord record;
  friend bool operator==(const HistoryEntry&, const HistoryEntry&) = default;
};

enum class Removals { Skip, Include };

// The winning record of every key of history_map/entries watched after the
// latest clear of history_map/clears (removals only with Removals::Include),
// newest first, equal times by video id ascending.
std::vector<HistoryEntry> entries_after_clear(const automerge::Document& document, automerge::ObjId history_map,
                                              Removals removals);

// The "owner_history" map of the owner document, when the root holds one.
std::optional<automerge::ObjId> owner_history_map(const automerge::Document& document);

// Whether owner_history/entries holds a record under the video id: watched or
// removed, before or after the latest clear.
bool holds_history_entry(const automerge::Document& document, std::string_view video_id);

// Whether owner_history/legacy_shared_migration_v1 currently holds true.
bool legacy_migration_marker(const automerge::Document& document);

// OwnerHistoryAction as a typed action of the runtime (never collaborative).
class TypedOwnerHistoryAction final : public vorn_actions::TypedAction {
 public:
  explicit TypedOwnerHistoryAction(OwnerHistoryAction action) : m_action(std::move(action)) {}
  const OwnerHistoryAction& action() const { return m_action; }

  std::string debug_text() const override { return m_action.debug_text(); }
  std::expected<void, vorn_actions::ActionError> apply(automerge::Document& document) const override {
    return apply_owner_history_action(m_action, document);
  }
  bool is_collaborative() const override { return false; }
  std::expected<std::string, std::string> encode_json() const override { return m_action.to_json(); }

 private:
  OwnerHistoryAction m_action;
};

}  // namespace sarn
