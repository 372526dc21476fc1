#pragma once
// The network side the device-sync worker drives, and its Grayjay
// implementation. Called only on the worker thread.

#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "sarn/sync/connection.h"
#include "sarn/sync/error.h"
#include "sarn/sync/messages.h"
#include "sarn/sync/peer_record.h"

namespace sarn {

class SyncTransport {
public:
    virtual ~SyncTransport() = default;
    virtual std::string name() const = 0;
    virtual bool is_available() const = 0;
    // Returns the peer id (standard base64 of the presented static key).
    virtual std::expected<std::string, DeviceSyncError> pair(std::string_view invite) = 0;
    virtual std::expected<void, DeviceSyncError> push_subscriptions(std::string_view peer_id,
                                                                    const sync_command::SyncNow& command) = 0;
    virtual std::expected<PullResult, DeviceSyncError> pull(std::string_view peer_id) = 0;
    virtual std::expected<void, DeviceSyncError> register_peer(std::string_view peer_id,
                                                               const PeerDescriptor& descriptor) = 0;
    virtual void forget_peer(std::string_view peer_id) = 0;
    virtual std::optional<PeerDescriptor> peer_route(std::string_view peer_id) const = 0;
    // The name the device announced when it was last paired; none when it
    // announced none (or the transport has no names).
    virtual std::optional<std::string> announced_name(std::string_view peer_id) const {
        (void)peer_id;
        return std::nullopt;
    }
};

class GrayjaySyncTransport final : public SyncTransport {
public:
    explicit GrayjaySyncTransport(SyncTransportConfig config) : m_config(std::move(config)) {}

    std::string name() const override { return "grayjay-sync (Noise IK over TCP 12315)"; }
    bool is_available() const override { return true; }
    std::expected<std::string, DeviceSyncError> pair(std::string_view invite) override;
    std::expected<void, DeviceSyncError> push_subscriptions(std::string_view peer_id,
                                                            const sync_command::SyncNow& command) override;
    std::expected<PullResult, DeviceSyncError> pull(std::string_view peer_id) override;
    std::expected<void, DeviceSyncError> register_peer(std::string_view peer_id,
                                                       const PeerDescriptor& descriptor) override;
    void forget_peer(std::string_view peer_id) override;
    std::optional<PeerDescriptor> peer_route(std::string_view peer_id) const override;
    std::optional<std::string> announced_name(std::string_view peer_id) const override;

    const SyncTransportConfig& config() const { return m_config; }
    // Test seam: shorter time-outs.
    void set_timing(SyncTiming timing) { m_config.timing = timing; }

private:
    std::expected<SyncSession, DeviceSyncError> connect_known(std::string_view peer_id);
    SyncTransportConfig m_config;
    std::unordered_map<std::string, std::string> m_announced;  // peer id → name announced at pairing
};

// Whole seconds since the Unix epoch, 0 before it.
std::uint64_t unix_now_seconds();

}  // namespace sarn
