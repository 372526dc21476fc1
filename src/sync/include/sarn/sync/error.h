#pragma once
// The error of every device-sync operation. A value; any thread.

#include <string>

namespace sarn {

enum class DeviceSyncErrorKind { Unavailable, Pairing, Transport, DeviceKey, PeerStore, PeerRevoked };

struct DeviceSyncError {
    DeviceSyncErrorKind kind;
    std::string text;  // the payload; empty for PeerRevoked

    static DeviceSyncError unavailable(std::string t) { return {DeviceSyncErrorKind::Unavailable, std::move(t)}; }
    static DeviceSyncError pairing(std::string t) { return {DeviceSyncErrorKind::Pairing, std::move(t)}; }
    static DeviceSyncError transport(std::string t) { return {DeviceSyncErrorKind::Transport, std::move(t)}; }
    static DeviceSyncError device_key(std::string t) { return {DeviceSyncErrorKind::DeviceKey, std::move(t)}; }
    static DeviceSyncError peer_store(std::string t) { return {DeviceSyncErrorKind::PeerStore, std::move(t)}; }
    static DeviceSyncError peer_revoked() { return {DeviceSyncErrorKind::PeerRevoked, {}}; }

    // What reaches the user, e.g. "transport error: frame too large: 65536".
    std::string display() const;

    friend bool operator==(const DeviceSyncError&, const DeviceSyncError&) = default;
};

}  // namespace sarn
