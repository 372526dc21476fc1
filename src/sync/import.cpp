#include "sarn/sync/import.h"

#include "sarn/actions/application.h"
#include "sarn/actions/shared_reducer.h"
#include "vorn_log/log.h"

namespace sarn {

bool import_synced_actions(vorn_ui::bound_dispatch::DispatchState& shared_dispatch, automerge::Document& document,
                           const SarnAction& action) {
    const TypedSarnAction typed(action);
    const auto payload = typed.encode_json();
    const auto context = vorn_actions::ActionContext::describe(payload ? *payload : std::string(),
                                                               std::string(kApplicationId),
                                                               std::string(kDeviceSyncImportLabel));
    auto applied = vorn_ui::bound_dispatch::dispatch_typed(shared_dispatch, document, "sarn.action", typed, &context);
    if (applied) return true;
    vorn_log::warn("sarn::app", "refused a pulled Sarn device-sync action",
                   {vorn_log::field("message", typed.debug_text()), vorn_log::field("error", applied.error().to_string())});
    return false;
}

}  // namespace sarn
