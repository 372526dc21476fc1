#pragma once
// The interface side of device sync. Owned and called by the interface thread
// only; the worker thread sees nothing of it but the two queue ends. The
// pending invite is the one value both may reach, behind its own lock.

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "sarn/sync/messages.h"
#include "sarn/sync/queue.h"

namespace sarn {

inline constexpr std::size_t kSyncCommandCapacity = 8;

// The settings page's invite field edits `text` in place under `mutex`.
struct PendingInvite {
    std::mutex mutex;
    std::string text;
};

class DeviceSyncHandle {
public:
    DeviceSyncHandle(QueueReceiver<SyncWorkerEvent> events, std::optional<QueueSender<SyncCommand>> commands,
                     std::string status_text, DeviceSyncState state);
    DeviceSyncHandle(DeviceSyncHandle&& other) noexcept;
    DeviceSyncHandle& operator=(DeviceSyncHandle&&) = delete;
    DeviceSyncHandle(const DeviceSyncHandle&) = delete;
    DeviceSyncHandle& operator=(const DeviceSyncHandle&) = delete;
    // Sends Shutdown to the worker.
    ~DeviceSyncHandle();

    // The offline and sample handle: no worker, "Start the live app to initialize device sync."
    static DeviceSyncHandle unavailable();

    // Offers a command without waiting; false when there is no worker, the
    // queue holds 8 commands, or the worker has ended.
    bool send(SyncCommand command);

    // The trimmed invite; the buffer is wiped with zeros and left empty.
    std::string take_pairing_invite();

    // Takes every waiting event without blocking. A status that differs from the
    // current one replaces it; pulled results go to `import` in arrival order.
    // Returns true when the shown state changed (the page needs rebuilding).
    bool drain_device_sync(const std::function<void(PullResult)>& import);

    const std::string& status_text() const { return m_status_text; }
    const std::vector<PeerRecord>& peers() const { return m_peers; }
    const std::optional<std::string>& local_key() const { return m_local_key; }
    DeviceSyncState state() const { return m_state; }
    bool has_worker() const { return m_commands.has_value(); }
    // True while a worker exists and has not ended.
    bool worker_running() const { return m_commands.has_value() && !m_commands->is_closed(); }
    const std::shared_ptr<PendingInvite>& pending_invite() const { return m_pending_invite; }

    // Used by the fixed demo state.
    void set_status(SyncStatusEvent status);

private:
    std::optional<QueueReceiver<SyncWorkerEvent>> m_events;
    std::optional<QueueSender<SyncCommand>> m_commands;
    std::string m_status_text;
    std::vector<PeerRecord> m_peers;
    std::optional<std::string> m_local_key;
    DeviceSyncState m_state;
    std::shared_ptr<PendingInvite> m_pending_invite = std::make_shared<PendingInvite>();
};

// The unavailable handle with `message` as its text.
DeviceSyncHandle device_sync_start_failed(std::string message);

// The fixed state of the --device-sync launch switch: two sample devices.
DeviceSyncHandle demo_device_sync_handle();

}  // namespace sarn
