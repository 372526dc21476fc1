#include "sarn/sync/handle.h"

#include <sodium.h>

#include "sarn/model/text.h"
#include "sarn/sync/transport.h"

namespace sarn {

DeviceSyncHandle::DeviceSyncHandle(QueueReceiver<SyncWorkerEvent> events,
                                   std::optional<QueueSender<SyncCommand>> commands, std::string status_text,
                                   DeviceSyncState state)
    : m_events(std::move(events)), m_commands(std::move(commands)), m_status_text(std::move(status_text)), m_state(state) {}

DeviceSyncHandle::DeviceSyncHandle(DeviceSyncHandle&& other) noexcept
    : m_events(std::move(other.m_events)),
      m_commands(std::move(other.m_commands)),
      m_status_text(std::move(other.m_status_text)),
      m_peers(std::move(other.m_peers)),
      m_local_key(std::move(other.m_local_key)),
      m_state(other.m_state),
      m_pending_invite(std::move(other.m_pending_invite)) {
    other.m_events.reset();
    other.m_commands.reset();
    other.m_pending_invite = std::make_shared<PendingInvite>();
}

DeviceSyncHandle::~DeviceSyncHandle() {
    if (m_commands) send(sync_command::Shutdown{});
}

DeviceSyncHandle DeviceSyncHandle::unavailable() { return device_sync_start_failed("Start the live app to initialize device sync."); }

DeviceSyncHandle device_sync_start_failed(std::string message) {
    auto [sender, receiver] = make_queue<SyncWorkerEvent>(0);
    (void)sender;  // nothing sends on it
    return DeviceSyncHandle(std::move(receiver), std::nullopt, std::move(message), DeviceSyncState::Unavailable);
}

bool DeviceSyncHandle::send(SyncCommand command) {
    if (!m_commands) return false;
    return m_commands->try_send(std::move(command));
}

std::string DeviceSyncHandle::take_pairing_invite() {
    std::lock_guard lock(m_pending_invite->mutex);
    std::string& buffer = m_pending_invite->text;
    std::string copy(trim_white_space(buffer));
    // Wipe the whole allocation, not only the visible text.
    buffer.resize(buffer.capacity());
    sodium_memzero(buffer.data(), buffer.size());
    buffer.clear();
    return copy;
}

void DeviceSyncHandle::set_status(SyncStatusEvent status) {
    m_status_text = std::move(status.message);
    m_peers = std::move(status.peers);
    m_local_key = std::move(status.local_key);
    m_state = status.state;
}

bool DeviceSyncHandle::drain_device_sync(const std::function<void(PullResult)>& import) {
    bool changed = false;
    if (!m_events) return false;
    while (auto event = m_events->try_receive()) {
        if (auto* status = std::get_if<sync_event::Status>(&*event)) {
            const SyncStatusEvent& s = status->status;
            if (s.state == m_state && s.message == m_status_text && m_local_key == s.local_key && s.peers == m_peers) {
                continue;
            }
            set_status(std::move(status->status));
            changed = true;
        } else if (auto* pulled = std::get_if<sync_event::Pulled>(&*event)) {
            if (import) import(std::move(pulled->result));
        }
    }
    return changed;
}

DeviceSyncHandle demo_device_sync_handle() {
    auto handle = device_sync_start_failed("");
    const std::uint64_t now = unix_now_seconds();
    PeerRecord phone;
    phone.id = "3a:41:9c:07:be:12";
    phone.name = "Phone";
    phone.descriptor = PeerDescriptor{"demo-key-phone", {"192.0.2.10"}, 12315};
    phone.approved_at = now > 86400 ? now - 86400 : 0;
    phone.last_sync_at = now > 180 ? now - 180 : 0;
    PeerRecord tablet;
    tablet.id = "5f:d2:60:8e:a4:39";
    tablet.name = "Living-room tablet";
    tablet.descriptor = PeerDescriptor{"demo-key-tablet", {"192.0.2.11"}, 12315};
    tablet.approved_at = now;
    tablet.pending_approval = true;
    handle.set_status(SyncStatusEvent{"demoIdentity7Q4X2KP9", "Two devices are ready; one awaits your approval.",
                                      {phone, tablet}, DeviceSyncState::Ready});
    return handle;
}

}  // namespace sarn
