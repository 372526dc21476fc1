#pragma once
// A paired device as the peer store keeps it. Plain values; any thread.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sarn {

struct PeerDescriptor {
    std::string public_key;              // base64 of the device's Curve25519 static key
    std::vector<std::string> addresses;  // host names or IP addresses, tried in order
    std::int64_t port = 0;

    friend bool operator==(const PeerDescriptor&, const PeerDescriptor&) = default;
};

struct PeerRecord {
    std::string id;    // the static key in standard padded base64
    std::string name;  // "Grayjay " and the first 8 characters of the id when paired
    PeerDescriptor descriptor;
    std::uint64_t approved_at = 0;  // seconds since the epoch
    bool pending_approval = false;
    std::optional<std::uint64_t> revoked_at;
    std::optional<std::uint64_t> last_sync_at;
    std::optional<std::string> last_error;

    // Approved: not pending and never revoked. Only these are synced.
    bool is_approved() const { return !pending_approval && !revoked_at.has_value(); }

    friend bool operator==(const PeerRecord&, const PeerRecord&) = default;
};

}  // namespace sarn
