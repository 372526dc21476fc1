#pragma once
// The host side of typed dispatch for widgets: a failure is logged, not
// returned. Interface thread only.

#include <string_view>

#include "automerge/document.h"
#include "vorn_actions/action.h"
#include "vorn_actions/context.h"
#include "vorn_ui/bound_dispatch.h"

namespace vorn_ui::action_host {

class ActionHost {
 public:
  // Typed dispatch (bound_dispatch::dispatch_typed); a failure logs the
  // warning "action dispatch failed" (target "vorn_ui::action_host", fields
  // `error` and `kind`). Answers whether the action was applied.
  static bool dispatch_with_context(bound_dispatch::DispatchState& state, automerge::Document& document,
                                    std::string_view kind, const vorn_actions::TypedAction& action,
                                    const vorn_actions::ActionContext* context);
};

}  // namespace vorn_ui::action_host
