#pragma once
// The peer store file: the paired devices, as pretty JSON, rewritten whole and
// atomically. Only the device-sync worker thread calls these.

#include <expected>
#include <filesystem>
#include <vector>

#include <nlohmann/json.hpp>

#include "sarn/sync/error.h"
#include "sarn/sync/peer_record.h"

namespace sarn {

inline constexpr std::size_t kPeerStoreMaxBytes = 1024 * 1024;
inline constexpr std::size_t kPeerStoreMaxRecords = 64;
inline constexpr std::size_t kPeerStoreMaxFieldBytes = 256;
inline constexpr std::size_t kPeerStoreMaxAddresses = 8;
inline constexpr std::size_t kPeerStoreMaxAddressBytes = 255;

// `vorn-sarn/grayjay-peers.json` under XDG_STATE_HOME (taken unchanged when
// set), else under the platform state directory; PeerStore "no private state directory is
// available" when neither is known.
std::expected<std::filesystem::path, DeviceSyncError> default_peer_store_path();

// A missing file is an empty store. Never blocks on a FIFO or device node.
std::expected<std::vector<PeerRecord>, DeviceSyncError> load_peer_store(const std::filesystem::path& path);

// Writes through ".peers-{uuid}.tmp", synced, renamed over the file, directory
// synced. On failure the previous file is untouched.
std::expected<void, DeviceSyncError> save_peer_store(const std::filesystem::path& path,
                                                     const std::vector<PeerRecord>& peers);

// The JSON form of one record, fields in stored order.
nlohmann::ordered_json peer_record_json(const PeerRecord& record);

}  // namespace sarn
