#include "vorn_ui/action_host.h"

#include "vorn_log/log.h"

namespace vorn_ui::action_host {

bool ActionHost::dispatch_with_context(bound_dispatch::DispatchState& state, automerge::Document& document,
                                       std::string_view kind, const vorn_actions::TypedAction& action,
                                       const vorn_actions::ActionContext* context) {
  auto result = bound_dispatch::dispatch_typed(state, document, kind, action, context);
  if (result) return true;
  vorn_log::warn("vorn_ui::action_host", "action dispatch failed",
                 {{"error", result.error().to_string()}, {"kind", std::string(kind)}});
  return false;
}

}  // namespace vorn_ui::action_host
