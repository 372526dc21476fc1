#pragma once
// The settings page: playback, skip-segment categories, crowd-sourced titles
// and thumbnails, and device sync with its pairing field and devices.
// Interface thread only.

#include <cstdint>
#include <memory>
#include <string>

#include "sarn/app/screens/page_context.h"
#include "sarn/sync/handle.h"
#include "vorn_ui/widget/scrollable.h"

namespace sarn::screens {

// `device_sync` gives the status, the local key and the devices; `invite`
// is the pairing field's shared text (the PairDevice intent reads it).
// Sync times are measured against the system clock.
vorn_ui::widget::scrollable::Scrollable settings_page(const PageContext& cx, const DeviceSyncHandle& device_sync,
                                                      const std::shared_ptr<PendingInvite>& invite);
// The same page with sync times measured against `now_unix_seconds`.
vorn_ui::widget::scrollable::Scrollable settings_page(const PageContext& cx, const DeviceSyncHandle& device_sync,
                                                      const std::shared_ptr<PendingInvite>& invite,
                                                      std::uint64_t now_unix_seconds);

// The second line of an approved device after its fingerprint: "Could not
// sync · {error}", "Last synced {relative time}" or "Not synced yet". A last
// sync later than `now_unix_seconds` (the clock was set back) counts as just now.
std::string peer_sync_text(const PeerRecord& peer, std::uint64_t now_unix_seconds);

}  // namespace sarn::screens
