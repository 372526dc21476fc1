#include "sarn/sync/transport.h"

#include <algorithm>
#include <chrono>

#include <fmt/format.h>

#include "sarn/sync/invite.h"
#include "sarn/sync/packages.h"

namespace sarn {

std::uint64_t unix_now_seconds() {
    const auto since = std::chrono::system_clock::now().time_since_epoch();
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(since).count();
    return seconds > 0 ? static_cast<std::uint64_t>(seconds) : 0;
}

std::expected<std::string, DeviceSyncError> GrayjaySyncTransport::pair(std::string_view invite) {
    auto info = parse_pairing_invite(invite);
    if (!info) return std::unexpected(info.error());
    PeerDescriptor descriptor{info->public_key, info->addresses, info->port};
    std::optional<std::string_view> code;
    if (info->pairing_code && !info->pairing_code->empty()) code = *info->pairing_code;
    auto session = connect_peer(m_config, descriptor, code);
    if (!session) return std::unexpected(session.error());
    std::string peer_id = session->peer_public_key();
    descriptor.public_key = peer_id;
    m_config.peers[peer_id] = std::move(descriptor);
    m_announced[peer_id] = session->peer_name();
    return peer_id;
}

std::expected<SyncSession, DeviceSyncError> GrayjaySyncTransport::connect_known(std::string_view peer_id) {
    auto it = m_config.peers.find(std::string(peer_id));
    if (it == m_config.peers.end()) {
        return std::unexpected(DeviceSyncError::pairing("unknown peer " + std::string(peer_id)));
    }
    return connect_peer(m_config, it->second, std::nullopt);
}

std::expected<PullResult, DeviceSyncError> GrayjaySyncTransport::pull(std::string_view peer_id) {
    auto session = connect_known(peer_id);
    if (!session) return std::unexpected(session.error());
    auto exchange = encode_state_exchange(m_config.keypair.public_key());
    if (!exchange) return std::unexpected(exchange.error());
    const SyncByteView bytes(reinterpret_cast<const std::uint8_t*>(exchange->data()), exchange->size());
    if (auto sent = session->send_data(DataSubopcode::SyncStateExchange, bytes); !sent) {
        return std::unexpected(sent.error());
    }

    PullResult result;
    bool have_subscriptions = false;
    // Why the loop ended; none when the reply wait ran out.
    std::optional<DeviceSyncError> ended_by;
    const auto deadline = SyncClock::now() + m_config.timing.reply_wait;
    for (;;) {
        if (SyncClock::now() >= deadline) break;
        // Every read waits at most what is left of the deadline, so a peer that
        // only pings cannot hold the pull open.
        auto message = session->receive_message(deadline);
        if (!message) {
            if (!session->deadline_expired()) ended_by = std::move(message.error());
            break;
        }
        if (auto* data = std::get_if<sync_message::Data>(&*message)) {
            if (data->subopcode == static_cast<std::uint8_t>(DataSubopcode::SyncSubscriptions)) {
                if (auto package = decode_subscriptions_package(data->payload)) {
                    result.subscription_urls = std::move(package->urls);
                    result.subscription_removals = std::move(package->removals);
                    result.channels = std::move(package->channels);
                    have_subscriptions = true;
                }
            } else if (data->subopcode == static_cast<std::uint8_t>(DataSubopcode::SyncHistory)) {
                auto history = decode_history_entries(data->payload);
                result.history_urls.clear();
                result.history = history ? std::move(*history) : std::vector<PulledHistoryEntry>{};
                for (const PulledHistoryEntry& entry : result.history) result.history_urls.push_back(entry.url);
            }
        }
        if (have_subscriptions && SyncClock::now() + std::chrono::milliseconds(500) >= deadline) break;
    }
    // Once the subscriptions are in, a read failure or the deadline is the
    // normal end of the pull. Before that, nothing tells a slow or broken peer
    // from an empty one: the device failed, though what arrived is kept.
    if (!have_subscriptions) {
        if (!ended_by) {
            result.incomplete = DeviceSyncError::transport("timed out waiting for the peer's subscriptions");
        } else if (ended_by->kind == DeviceSyncErrorKind::Transport) {
            result.incomplete =
                DeviceSyncError::transport(fmt::format("the peer's subscriptions did not arrive: {}", ended_by->text));
        } else {
            result.incomplete = std::move(ended_by);
        }
    }
    return result;
}

std::expected<void, DeviceSyncError> GrayjaySyncTransport::push_subscriptions(std::string_view peer_id,
                                                                              const sync_command::SyncNow& command) {
    auto it = m_config.peers.find(std::string(peer_id));
    if (it == m_config.peers.end()) {
        return std::unexpected(DeviceSyncError::pairing("unknown peer " + std::string(peer_id)));
    }
    const auto now = static_cast<std::int64_t>(unix_now_seconds());
    auto package = encode_subscriptions_package(command.channels, command.removals, now);
    if (!package) return std::unexpected(package.error());
    auto session = connect_peer(m_config, it->second, std::nullopt);
    if (!session) return std::unexpected(session.error());
    const SyncByteView bytes(reinterpret_cast<const std::uint8_t*>(package->data()), package->size());
    if (auto sent = session->send_data(DataSubopcode::SyncSubscriptions, bytes); !sent) return sent;
    session->finish(std::min(m_config.timing.io, std::chrono::milliseconds(2000)));
    return {};
}

std::expected<void, DeviceSyncError> GrayjaySyncTransport::register_peer(std::string_view peer_id,
                                                                         const PeerDescriptor& descriptor) {
    if (auto valid = validate_peer_descriptor(descriptor); !valid) return std::unexpected(valid.error());
    m_config.peers[std::string(peer_id)] = descriptor;
    return {};
}

void GrayjaySyncTransport::forget_peer(std::string_view peer_id) {
    m_config.peers.erase(std::string(peer_id));
    m_announced.erase(std::string(peer_id));
}

std::optional<std::string> GrayjaySyncTransport::announced_name(std::string_view peer_id) const {
    auto it = m_announced.find(std::string(peer_id));
    if (it == m_announced.end() || it->second.empty()) return std::nullopt;
    return it->second;
}

std::optional<PeerDescriptor> GrayjaySyncTransport::peer_route(std::string_view peer_id) const {
    auto it = m_config.peers.find(std::string(peer_id));
    if (it == m_config.peers.end()) return std::nullopt;
    return it->second;
}

}  // namespace sarn
