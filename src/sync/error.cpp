#include "sarn/sync/error.h"

#include "sarn/sync/messages.h"

namespace sarn {

std::string DeviceSyncError::display() const {
    switch (kind) {
        case DeviceSyncErrorKind::Unavailable: return "Grayjay sync unavailable: " + text;
        case DeviceSyncErrorKind::Pairing: return "pairing failed: " + text;
        case DeviceSyncErrorKind::Transport: return "transport error: " + text;
        case DeviceSyncErrorKind::DeviceKey: return "device key unavailable: " + text;
        case DeviceSyncErrorKind::PeerStore: return "peer store error: " + text;
        case DeviceSyncErrorKind::PeerRevoked: return "peer was revoked on this device";
    }
    return text;
}

std::string_view device_sync_state_label(DeviceSyncState state) {
    switch (state) {
        case DeviceSyncState::Unavailable: return "Unavailable";
        case DeviceSyncState::Ready: return "Ready";
        case DeviceSyncState::Pairing: return "Pairing…";
        case DeviceSyncState::Syncing: return "Syncing…";
        case DeviceSyncState::NeedsAttention: return "Needs attention";
    }
    return "Unavailable";
}

}  // namespace sarn
