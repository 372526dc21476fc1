#pragma once
// Applying what peers sent to the shared library document. Interface thread
// only (the document and its dispatch record belong to it).

#include "automerge/document.h"
#include "sarn/model/action.h"
#include "vorn_ui/bound_dispatch.h"

namespace sarn {

inline constexpr std::string_view kDeviceSyncImportLabel = "Sarn device sync import";

// Applies one action built from pulled items through typed dispatch under
// "sarn.action", with the origin label above. True when it was applied (the
// caller marks the library as changed); a refusal is dropped and logged as the
// warning "refused a pulled Sarn device-sync action" (target "sarn::app",
// fields `message` and `error`).
bool import_synced_actions(vorn_ui::bound_dispatch::DispatchState& shared_dispatch, automerge::Document& document,
                           const SarnAction& action);

}  // namespace sarn
