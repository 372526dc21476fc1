#pragma once
// The device-sync worker thread `sarn-grayjay-sync`: the peer list, pairing,
// approval, revocation and sync passes. Start functions are called on the
// interface thread; device_sync_worker runs on the worker thread only.

#include <chrono>
#include <cstdint>
#include <expected>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sarn/sync/handle.h"
#include "sarn/sync/transport.h"

namespace sarn {

inline constexpr std::size_t kSecretMinBytes = 16;

// Key material from the desktop secret broker, or the broker's error text.
using SecretSource = std::function<std::expected<std::vector<std::uint8_t>, std::string>()>;

struct DeviceSyncWorkerOptions {
    // Silence after which the last SyncNow runs again.
    std::chrono::milliseconds resync_interval{300'000};
    // Test seam: replaces the Grayjay transport's time-outs.
    std::optional<SyncTiming> timing;
};

// The live start: the secret broker, XDG_STATE_HOME (else the platform state directory).
DeviceSyncHandle start_device_sync_worker(std::string_view device_name);

// The same start with its inputs given; an absent store path means the default.
DeviceSyncHandle start_device_sync_worker_with(std::string_view device_name, const SecretSource& secret,
                                               std::optional<std::filesystem::path> store_path,
                                               DeviceSyncWorkerOptions options = {});

// Starts the worker thread over any transport.
DeviceSyncHandle spawn_device_sync_worker(std::filesystem::path store_path, std::string local_key,
                                          std::unique_ptr<SyncTransport> transport,
                                          DeviceSyncWorkerOptions options = {});

// The worker's body.
void device_sync_worker(std::filesystem::path store_path, std::string local_key,
                        std::unique_ptr<SyncTransport> transport, QueueSender<SyncWorkerEvent> events,
                        QueueReceiver<SyncCommand> commands, DeviceSyncWorkerOptions options);

}  // namespace sarn
