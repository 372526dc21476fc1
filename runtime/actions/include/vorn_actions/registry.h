#pragma once
// The action registry: one decoder per action namespace. An encoded action
// whose kind equals a registered namespace decodes back to its typed action.
// Interface thread only.

#include <expected>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "automerge/document.h"
#include "vorn_actions/action.h"
#include "vorn_actions/context.h"
#include "vorn_ui/bound_dispatch.h"

namespace vorn_actions::registry {

using Decoder = std::function<std::expected<std::unique_ptr<TypedAction>, ActionError>(std::string_view payload)>;

class ActionRegistry {
 public:
  // Stores the decoder for the namespace, replacing an earlier one.
  void register_action_namespace(std::string action_namespace, Decoder decoder);
  bool has_namespace(std::string_view action_namespace) const;

  // UnknownNamespace when nothing is registered for the kind; otherwise the
  // decoder's answer.
  std::expected<std::unique_ptr<TypedAction>, ActionError> decode(const EncodedAction& encoded) const;

  // Decodes, then runs typed dispatch under the encoded kind.
  std::expected<void, ActionError> dispatch(vorn_ui::bound_dispatch::DispatchState& state,
                                            automerge::Document& document, const EncodedAction& encoded,
                                            const ActionContext* context) const;

 private:
  std::map<std::string, Decoder, std::less<>> m_decoders;
};

}  // namespace vorn_actions::registry

namespace vorn_actions {
using registry::ActionRegistry;
}
