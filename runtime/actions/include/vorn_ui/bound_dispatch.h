#pragma once
// Typed dispatch bound to a per-kind dispatch record.
//
// dispatch_typed, in order: (1) encode the action as JSON; (2) ask the
// recorder for a token (typed_action_before), the heads before being the
// token's or the document's; (3) the document's actor bytes; (4) the context:
// the given one enriched by the record's base context, else either alone;
// (5) run the executor with the action, the encoded action, a fresh local
// transport and the actor bytes; (6) on success report the token with the
// heads after. On success the record's pending heads are set to the heads
// before when absent, and its last encoded action is replaced.
//
// Interface thread only (the recorder is per thread).

#include <cstdint>
#include <expected>
#include <functional>
#include <optional>
#include <string_view>
#include <vector>

#include "automerge/document.h"
#include "vorn_actions/action.h"
#include "vorn_actions/context.h"

namespace vorn_ui::bound_dispatch {

// The record a widget keeps per action kind.
struct DispatchState {
  // Heads at the start of the changes not yet handed to the host.
  std::optional<std::vector<automerge::ChangeHash>> pending_heads;
  // The last action that was dispatched successfully.
  std::optional<vorn_actions::EncodedAction> last_encoded;
  // Read only: merged into every dispatch's context.
  std::optional<vorn_actions::ActionContext> base_context;

  // Moves the pending heads out, leaving them absent.
  std::optional<std::vector<automerge::ChangeHash>> take_pending_heads() {
    auto heads = std::move(pending_heads);
    pending_heads.reset();
    return heads;
  }
};

// One dispatched action as the recorder sees it.
struct RecordedAction {
  std::vector<automerge::ChangeHash> heads_before;
  std::vector<automerge::ChangeHash> heads_after;
};

struct RecordingToken {
  std::vector<automerge::ChangeHash> heads_before;
};

// While it lives, typed dispatches on this thread are recorded (the host's
// undo history reads from here). One recorder per thread; a nested recorder
// takes over until it ends.
class ScopedRecorder {
 public:
  ScopedRecorder();
  ~ScopedRecorder();
  ScopedRecorder(const ScopedRecorder&) = delete;
  ScopedRecorder& operator=(const ScopedRecorder&) = delete;

  const std::vector<RecordedAction>& recorded() const { return m_recorded; }

 private:
  friend void report_typed_action(RecordingToken token, std::vector<automerge::ChangeHash> heads_after);
  ScopedRecorder* m_previous;
  std::vector<RecordedAction> m_recorded;
};

// A token when a recorder is active on this thread.
std::optional<RecordingToken> typed_action_before(automerge::Document& document);
void report_typed_action(RecordingToken token, std::vector<automerge::ChangeHash> heads_after);

std::expected<void, vorn_actions::ActionError> dispatch_typed(DispatchState& state, automerge::Document& document,
                                                              std::string_view kind,
                                                              const vorn_actions::TypedAction& action,
                                                              const vorn_actions::ActionContext* context);

}  // namespace vorn_ui::bound_dispatch
