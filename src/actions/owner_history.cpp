#include "sarn/actions/owner_history.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <tuple>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "json_reader/text.h"

namespace sarn {

namespace {

using json_reader::Reader;
using json_reader::Result;
using vorn_actions::ActionError;

constexpr std::string_view kRootKey = "owner_history";
constexpr std::string_view kClearsKey = "clears";
constexpr std::string_view kEntriesKey = "entries";
constexpr std::string_view kMarkerKey = "legacy_shared_migration_v1";

constexpr std::array<std::string_view, 3> kVariants = {"Clear", "SetEntry", "LegacyMigrationComplete"};
constexpr std::array<std::string_view, 2> kClearFields = {"cleared_at_ms", "clear_id"};
constexpr std::array<std::string_view, 4> kSetEntryFields = {"video_id", "watched_at_ms", "present", "mutation_id"};
constexpr std::array<std::string_view, 3> kRecordFields = {"present", "watched_at_ms", "mutation_id"};

// Dumps compact JSON; nlohmann refuses text that is not UTF-8.
std::expected<std::string, std::string> dump(const nlohmann::ordered_json& json) {
  try {
    return json.dump();
  } catch (const nlohmann::json::exception& e) {
    return std::unexpected(std::string(e.what()));
  }
}

}  // namespace

OwnerHistoryAction OwnerHistoryAction::clear(std::uint64_t cleared_at_ms, std::string clear_id) {
  return {HistoryClear{cleared_at_ms, std::move(clear_id)}};
}

OwnerHistoryAction OwnerHistoryAction::set_entry(std::string video_id, std::uint64_t watched_at_ms, bool present,
                                                 std::string mutation_id) {
  return {HistorySetEntry{std::move(video_id), watched_at_ms, present, std::move(mutation_id)}};
}

OwnerHistoryAction OwnerHistoryAction::legacy_migration_complete() { return {HistoryLegacyMigrationComplete{}}; }

std::expected<std::string, std::string> OwnerHistoryAction::to_json() const {
  nlohmann::ordered_json json;
  if (const auto* c = std::get_if<HistoryClear>(&value)) {
    nlohmann::ordered_json fields;
    fields["cleared_at_ms"] = c->cleared_at_ms;
    fields["clear_id"] = c->clear_id;
    json["Clear"] = std::move(fields);
  } else if (const auto* e = std::get_if<HistorySetEntry>(&value)) {
    nlohmann::ordered_json fields;
    fields["video_id"] = e->video_id;
    fields["watched_at_ms"] = e->watched_at_ms;
    fields["present"] = e->present;
    fields["mutation_id"] = e->mutation_id;
    json["SetEntry"] = std::move(fields);
  } else {
    json = "LegacyMigrationComplete";
  }
  return dump(json);
}

std::expected<OwnerHistoryAction, json_reader::Error> OwnerHistoryAction::from_json(std::string_view text) {
  return Reader::decode(text, [](Reader& reader) -> Result<OwnerHistoryAction> {
    return reader.read_enum<OwnerHistoryAction>(
        kVariants, [](std::size_t index, json_reader::VariantAccess& access) -> Result<OwnerHistoryAction> {
          switch (index) {
            case 0: {
              HistoryClear clear;
              static constexpr json_reader::StructShape shape{"struct variant OwnerHistoryAction::Clear",
                                                              kClearFields};
              auto read = access.struct_fields(shape, [&](std::size_t field, Reader& r) -> Result<void> {
                if (field == 0) {
                  auto v = r.read_u64();
                  if (!v) return std::unexpected(v.error());
                  clear.cleared_at_ms = *v;
                } else {
                  auto v = r.read_string();
                  if (!v) return std::unexpected(v.error());
                  clear.clear_id = std::move(*v);
                }
                return {};
              });
              if (!read) return std::unexpected(read.error());
              return OwnerHistoryAction{std::move(clear)};
            }
            case 1: {
              HistorySetEntry entry;
              static constexpr json_reader::StructShape shape{"struct variant OwnerHistoryAction::SetEntry",
                                                              kSetEntryFields};
              auto read = access.struct_fields(shape, [&](std::size_t field, Reader& r) -> Result<void> {
                switch (field) {
                  case 0: {
                    auto v = r.read_string();
                    if (!v) return std::unexpected(v.error());
                    entry.video_id = std::move(*v);
                    return {};
                  }
                  case 1: {
                    auto v = r.read_u64();
                    if (!v) return std::unexpected(v.error());
                    entry.watched_at_ms = *v;
                    return {};
                  }
                  case 2: {
                    auto v = r.read_bool();
                    if (!v) return std::unexpected(v.error());
                    entry.present = *v;
                    return {};
                  }
                  default: {
                    auto v = r.read_string();
                    if (!v) return std::unexpected(v.error());
                    entry.mutation_id = std::move(*v);
                    return {};
                  }
                }
              });
              if (!read) return std::unexpected(read.error());
              return OwnerHistoryAction{std::move(entry)};
            }
            default: {
              auto unit = access.unit();
              if (!unit) return std::unexpected(unit.error());
              return OwnerHistoryAction::legacy_migration_complete();
            }
          }
        });
  });
}

std::string OwnerHistoryAction::debug_text() const {
  if (const auto* c = std::get_if<HistoryClear>(&value)) {
    return fmt::format("Clear {{ cleared_at_ms: {}, clear_id: {} }}", c->cleared_at_ms,
                       json_reader::debug_quoted(c->clear_id));
  }
  if (const auto* e = std::get_if<HistorySetEntry>(&value)) {
    return fmt::format("SetEntry {{ video_id: {}, watched_at_ms: {}, present: {}, mutation_id: {} }}",
                       json_reader::debug_quoted(e->video_id), e->watched_at_ms, e->present,
                       json_reader::debug_quoted(e->mutation_id));
  }
  return "LegacyMigrationComplete";
}

std::expected<std::string, std::string> HistoryEntryRecord::to_json() const {
  nlohmann::ordered_json json;
  json["present"] = present;
  json["watched_at_ms"] = watched_at_ms;
  json["mutation_id"] = mutation_id;
  return dump(json);
}

std::optional<HistoryEntryRecord> HistoryEntryRecord::from_json(std::string_view text) {
  HistoryEntryRecord record;
  static constexpr json_reader::StructShape shape{"struct HistoryEntryRecord", kRecordFields};
  auto read = Reader::decode(text, [&](Reader& reader) -> Result<void> {
    return reader.read_struct(shape, [&](std::size_t field, Reader& r) -> Result<void> {
      switch (field) {
        case 0: {
          auto v = r.read_bool();
          if (!v) return std::unexpected(v.error());
          record.present = *v;
          return {};
        }
        case 1: {
          auto v = r.read_u64();
          if (!v) return std::unexpected(v.error());
          record.watched_at_ms = *v;
          return {};
        }
        default: {
          auto v = r.read_string();
          if (!v) return std::unexpected(v.error());
          record.mutation_id = std::move(*v);
          return {};
        }
      }
    });
  });
  if (!read) return std::nullopt;
  return record;
}

std::expected<automerge::ObjId, ActionError> ensure_child_map(automerge::Document& document, automerge::ObjId parent,
                                                              std::string_view key) {
  auto current = document.get(parent, key);
  if (!current) return std::unexpected(ActionError::document(current.error()));
  if (*current && (*current)->object == automerge::ObjType::map) return (*current)->id;
  auto created = document.put_object(parent, key, automerge::ObjType::map);
  if (!created) return std::unexpected(ActionError::document(created.error()));
  return *created;
}

std::optional<automerge::ObjId> child_map(const automerge::Document& document, automerge::ObjId parent,
                                          std::string_view key) {
  auto current = document.get(parent, key);
  if (!current || !*current || (*current)->object != automerge::ObjType::map) return std::nullopt;
  return (*current)->id;
}

std::expected<void, ActionError> apply_owner_history_action(const OwnerHistoryAction& action,
                                                            automerge::Document& document) {
  auto root = ensure_child_map(document, automerge::ObjId::root(), kRootKey);
  if (!root) return std::unexpected(root.error());

  if (const auto* c = std::get_if<HistoryClear>(&action.value)) {
    auto clears = ensure_child_map(document, *root, kClearsKey);
    if (!clears) return std::unexpected(clears.error());
    auto put = document.put(*clears, c->clear_id, automerge::Value::str(std::to_string(c->cleared_at_ms)));
    if (!put) return std::unexpected(ActionError::document(put.error()));
    return {};
  }
  if (const auto* e = std::get_if<HistorySetEntry>(&action.value)) {
    auto entries = ensure_child_map(document, *root, kEntriesKey);
    if (!entries) return std::unexpected(entries.error());
    auto json = HistoryEntryRecord{e->present, e->watched_at_ms, e->mutation_id}.to_json();
    if (!json) return std::unexpected(ActionError::message(fmt::format("could not encode owner history entry: {}", json.error())));
    auto put = document.put(*entries, e->video_id, automerge::Value::str(*json));
    if (!put) return std::unexpected(ActionError::document(put.error()));
    return {};
  }
  auto put = document.put(*root, kMarkerKey, automerge::Value::boolean(true));
  if (!put) return std::unexpected(ActionError::document(put.error()));
  return {};
}

std::optional<std::uint64_t> parse_clear_time(std::string_view text) {
  if (text.starts_with('+')) text.remove_prefix(1);
  if (text.empty()) return std::nullopt;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
  }
  std::uint64_t value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::optional<std::uint64_t> read_clear_time(const automerge::Document& document, automerge::ObjId clears,
                                             std::string_view key) {
  auto values = document.get_all(clears, key);
  if (!values) return std::nullopt;
  std::optional<std::uint64_t> best;
  for (const auto& item : *values) {
    if (item.is_object()) continue;
    auto text = item.value.as_str();
    if (!text) continue;
    if (auto time = parse_clear_time(*text); time && (!best || *time > *best)) best = time;
  }
  return best;
}

std::uint64_t latest_clear_time(const automerge::Document& document, automerge::ObjId clears) {
  auto keys = document.keys(clears);
  if (!keys) return 0;
  std::uint64_t latest = 0;
  for (const auto& key : *keys) {
    if (auto time = read_clear_time(document, clears, key)) latest = std::max(latest, *time);
  }
  return latest;
}

std::uint64_t latest_clear_time_of(const automerge::Document& document, automerge::ObjId history_map) {
  auto clears = child_map(document, history_map, kClearsKey);
  return clears ? latest_clear_time(document, *clears) : 0;
}

std::optional<HistoryEntryRecord> read_history_entry(const automerge::Document& document, automerge::ObjId entries,
                                                     std::string_view key) {
  auto values = document.get_all(entries, key);
  if (!values) return std::nullopt;
  std::optional<HistoryEntryRecord> best;
  for (const auto& item : *values) {
    if (item.is_object()) continue;
    auto text = item.value.as_str();
    if (!text) continue;
    auto record = HistoryEntryRecord::from_json(*text);
    if (!record) continue;
    // Later values win ties, hence >=.
    if (!best || std::tie(record->watched_at_ms, record->mutation_id) >= std::tie(best->watched_at_ms, best->mutation_id)) {
      best = std::move(record);
    }
  }
  return best;
}

std::vector<HistoryEntry> entries_after_clear(const automerge::Document& document, automerge::ObjId history_map,
                                              Removals removals) {
  std::vector<HistoryEntry> out;
  const std::uint64_t cleared = latest_clear_time_of(document, history_map);
  auto entries = child_map(document, history_map, kEntriesKey);
  if (!entries) return out;
  auto keys = document.keys(*entries);
  if (!keys) return out;
  for (auto& key : *keys) {
    auto record = read_history_entry(document, *entries, key);
    if (!record || record->watched_at_ms <= cleared) continue;
    if (!record->present && removals == Removals::Skip) continue;
    out.push_back(HistoryEntry{std::move(key), std::move(*record)});
  }
  std::sort(out.begin(), out.end(), [](const HistoryEntry& a, const HistoryEntry& b) {
    if (a.record.watched_at_ms != b.record.watched_at_ms) return a.record.watched_at_ms > b.record.watched_at_ms;
    return a.video_id < b.video_id;
  });
  return out;
}

std::optional<automerge::ObjId> owner_history_map(const automerge::Document& document) {
  return child_map(document, automerge::ObjId::root(), kRootKey);
}

bool legacy_migration_marker(const automerge::Document& document) {
  auto root = owner_history_map(document);
  if (!root) return false;
  auto marker = document.get(*root, kMarkerKey);
  if (!marker || !*marker || (*marker)->is_object()) return false;
  return (*marker)->value.as_bool() == std::optional<bool>(true);
}

bool holds_history_entry(const automerge::Document& document, std::string_view video_id) {
  auto root = owner_history_map(document);
  if (!root) return false;
  auto entries = child_map(document, *root, kEntriesKey);
  if (!entries) return false;
  auto entry = document.get(*entries, video_id);
  return entry && *entry;
}

}  // namespace sarn
