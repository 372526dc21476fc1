#pragma once
// Pairing invites: the device description a Grayjay device shows for pairing,
// as JSON, as base64 of it, or as any text ending in that base64 after its last
// "/" or ":". Pure functions; any thread.

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sarn/sync/error.h"
#include "sarn/sync/peer_record.h"

namespace sarn {

inline constexpr std::size_t kInviteMaxBytes = 16384;
inline constexpr std::size_t kPairingCodeMaxBytes = 1024;
inline constexpr std::int64_t kDefaultSyncPort = 12315;

struct SyncDeviceInfo {
    std::string public_key;
    std::vector<std::string> addresses;
    std::int64_t port = 0;
    std::optional<std::string> pairing_code;
    friend bool operator==(const SyncDeviceInfo&, const SyncDeviceInfo&) = default;
};

// JSON decoding; the error is the decoder's message.
std::expected<SyncDeviceInfo, std::string> decode_sync_device_info(std::string_view text);

// Key decodes to 32 bytes, 1-8 addresses of 1-255 bytes, port 1-65535, code at
// most 1024 bytes.
std::expected<void, DeviceSyncError> validate_pairing_metadata(const SyncDeviceInfo& info);

// The same checks for a stored descriptor.
std::expected<void, DeviceSyncError> validate_peer_descriptor(const PeerDescriptor& descriptor);

// Trims, decodes any accepted form and validates it.
std::expected<SyncDeviceInfo, DeviceSyncError> parse_pairing_invite(std::string_view invite);

}  // namespace sarn
