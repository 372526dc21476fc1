// Hostile input for the owner history: action JSON, entry records, and
// whole documents read through every reader.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "sarn/actions/owner_history.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (auto action = sarn::OwnerHistoryAction::from_json(text)) {
    auto again = action->to_json();
    if (again && !(sarn::OwnerHistoryAction::from_json(*again) == *action)) __builtin_trap();
    (void)action->debug_text();
  }
  (void)sarn::HistoryEntryRecord::from_json(text);
  (void)sarn::parse_clear_time(text);

  automerge::LoadLimits limits;
  limits.max_inflated_bytes = 1u << 20;
  limits.max_ops = 1u << 16;
  if (auto doc = automerge::Document::load(text, limits)) {
    if (auto root = sarn::owner_history_map(*doc)) {
      (void)sarn::entries_after_clear(*doc, *root, sarn::Removals::Include);
    }
    (void)sarn::legacy_migration_marker(*doc);
  }
  return 0;
}
