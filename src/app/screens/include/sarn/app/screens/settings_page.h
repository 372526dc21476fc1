#pragma once
// The settings page: playback, skip-segment categories, crowd-sourced titles
// and thumbnails, and device sync with its pairing field and devices.
// Interface thread only.

#include <memory>

#include "sarn/app/screens/page_context.h"
#include "sarn/sync/handle.h"
#include "vorn_ui/widget/scrollable.h"

namespace sarn::screens {

// `device_sync` gives the status, the local key and the devices; `invite`
// is the pairing field's shared text (the PairDevice intent reads it).
vorn_ui::widget::scrollable::Scrollable settings_page(const PageContext& cx, const DeviceSyncHandle& device_sync,
                                                      const std::shared_ptr<PendingInvite>& invite);

}  // namespace sarn::screens
