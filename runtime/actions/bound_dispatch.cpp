#include "vorn_ui/bound_dispatch.h"

#include "vorn_actions/executor.h"

namespace vorn_ui::bound_dispatch {

namespace {
thread_local ScopedRecorder* t_recorder = nullptr;
}

ScopedRecorder::ScopedRecorder() : m_previous(t_recorder) { t_recorder = this; }

ScopedRecorder::~ScopedRecorder() { t_recorder = m_previous; }

std::optional<RecordingToken> typed_action_before(automerge::Document& document) {
  if (t_recorder == nullptr) return std::nullopt;
  return RecordingToken{document.heads()};
}

void report_typed_action(RecordingToken token, std::vector<automerge::ChangeHash> heads_after) {
  if (t_recorder == nullptr) return;
  t_recorder->m_recorded.push_back(RecordedAction{std::move(token.heads_before), std::move(heads_after)});
}

std::expected<void, vorn_actions::ActionError> dispatch_typed(DispatchState& state, automerge::Document& document,
                                                              std::string_view kind,
                                                              const vorn_actions::TypedAction& action,
                                                              const vorn_actions::ActionContext* context) {
  // 1. Encode.
  auto payload = action.encode_json();
  if (!payload) return std::unexpected(vorn_actions::ActionError::encode(payload.error()));
  vorn_actions::EncodedAction encoded{std::string(kind), std::move(*payload)};

  // 2. Heads before, from the recording token when there is one.
  auto token = typed_action_before(document);
  std::vector<automerge::ChangeHash> heads_before = token ? token->heads_before : document.heads();

  // 3. Actor bytes.
  const std::vector<std::uint8_t> actor = document.actor_id().bytes();

  // 4. Context.
  vorn_actions::ActionContext effective;
  if (context != nullptr && state.base_context) {
    effective = context->enriched_by(*state.base_context);
  } else if (context != nullptr) {
    effective = *context;
  } else if (state.base_context) {
    effective = *state.base_context;
  }

  // 5. Execute inside the document's transaction.
  vorn_actions::transport::LocalTransport transport;
  auto outcome = vorn_actions::executor::dispatch_by_with_context(action, encoded, transport, actor, effective,
                                                                  document);
  if (!outcome) return std::unexpected(outcome.error());

  // 6. Report and record.
  if (token) report_typed_action(std::move(*token), document.heads());
  if (!state.pending_heads) state.pending_heads = std::move(heads_before);
  state.last_encoded = std::move(encoded);
  return {};
}

}  // namespace vorn_ui::bound_dispatch
