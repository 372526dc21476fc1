#include "vorn_actions/registry.h"

namespace vorn_actions::registry {

void ActionRegistry::register_action_namespace(std::string action_namespace, Decoder decoder) {
  m_decoders.insert_or_assign(std::move(action_namespace), std::move(decoder));
}

bool ActionRegistry::has_namespace(std::string_view action_namespace) const {
  return m_decoders.find(action_namespace) != m_decoders.end();
}

std::expected<std::unique_ptr<TypedAction>, ActionError> ActionRegistry::decode(const EncodedAction& encoded) const {
  auto it = m_decoders.find(encoded.kind);
  if (it == m_decoders.end() || !it->second) return std::unexpected(ActionError::unknown_namespace(encoded.kind));
  return it->second(encoded.payload);
}

std::expected<void, ActionError> ActionRegistry::dispatch(vorn_ui::bound_dispatch::DispatchState& state,
                                                          automerge::Document& document,
                                                          const EncodedAction& encoded,
                                                          const ActionContext* context) const {
  auto action = decode(encoded);
  if (!action) return std::unexpected(action.error());
  if (!*action) return std::unexpected(ActionError::decode(encoded.kind, "decoder answered no action"));
  return vorn_ui::bound_dispatch::dispatch_typed(state, document, encoded.kind, **action, context);
}

}  // namespace vorn_actions::registry
