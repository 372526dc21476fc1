#include "vorn_actions/executor.h"

namespace vorn_actions::executor {

std::expected<Outcome, ActionError> dispatch_by_with_context(const TypedAction& action,
                                                             const EncodedAction& encoded,
                                                             transport::LocalTransport& transport,
                                                             std::span<const std::uint8_t> actor,
                                                             const ActionContext& context,
                                                             automerge::Document& document) {
  // Writes made outside an action are not this action's to roll back.
  if (document.pending_ops() > 0) document.commit();

  auto applied = action.apply(document);
  if (!applied) {
    document.rollback();
    return std::unexpected(applied.error());
  }
  automerge::CommitOptions options;
  options.message = context.label ? *context.label : encoded.kind;
  Outcome outcome;
  outcome.change = document.commit(options);
  transport.deliver(transport::Delivery{encoded, std::vector<std::uint8_t>(actor.begin(), actor.end()),
                                        outcome.change, action.is_collaborative()});
  return outcome;
}

std::expected<Outcome, ActionError> dispatch_by(const TypedAction& action, const EncodedAction& encoded,
                                                transport::LocalTransport& transport,
                                                std::span<const std::uint8_t> actor,
                                                automerge::Document& document) {
  return dispatch_by_with_context(action, encoded, transport, actor, ActionContext{}, document);
}

}  // namespace vorn_actions::executor
