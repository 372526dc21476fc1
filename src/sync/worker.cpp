#include "sarn/sync/worker.h"

#include <pthread.h>
#include <sodium.h>

#include <algorithm>
#include <set>
#include <thread>

#include <fmt/format.h>

#include "runtime_portal_xdg/secret.h"
#include "sarn/model/platform_url.h"
#include "sarn/sync/packages.h"
#include "sarn/sync/peer_store.h"

namespace sarn {
namespace {

// The addresses a peer reported as removed, in every spelling we may hold them:
// as sent and in canonical form.
void add_removals(std::set<std::string, std::less<>>& removed, const std::vector<std::string>& removals) {
    for (const std::string& r : removals) {
        removed.insert(r);
        if (auto canonical = normalize_watch_url(r)) removed.insert(std::move(*canonical));
    }
}

// A local entry (a channel id, a handle or an address) names a removed
// channel when it, its canonical address or the channel address built from it
// is among the removals.
bool is_removed(const std::set<std::string, std::less<>>& removed, std::string_view entry) {
    if (removed.empty()) return false;
    if (removed.contains(entry)) return true;
    if (auto canonical = normalize_watch_url(entry); canonical && removed.contains(*canonical)) return true;
    std::string_view bare = trim_ascii(entry);
    while (!bare.empty() && bare.front() == '/') bare.remove_prefix(1);
    if (bare.empty() || bare.starts_with("http")) return false;
    std::string built(kPlatformBareOrigin);
    built.append(bare);
    if (removed.contains(built)) return true;
    built = std::string(kPlatformBareOrigin) + "channel/" + std::string(bare);
    return removed.contains(built);
}

// The name a paired device shows: the one it announced (without control
// characters, at most 64 bytes), else "Grayjay " and the id's first 8 characters.
std::string device_name(const std::optional<std::string>& announced, const std::string& id) {
    const std::string name = announced ? peer_display_text(*announced, kNoticeTextMaxBytes) : std::string();
    return name.empty() ? "Grayjay " + id.substr(0, 8) : name;
}

template <typename Item, typename Key>
void append_new(std::vector<Item>& merged, std::vector<Item>& pulled, Key key) {
    for (Item& item : pulled) {
        const bool known = std::any_of(merged.begin(), merged.end(), [&](const Item& m) { return key(m) == key(item); });
        if (!known) merged.push_back(std::move(item));
    }
}

class Worker {
public:
    Worker(std::filesystem::path store_path, std::string local_key, std::unique_ptr<SyncTransport> transport,
           QueueSender<SyncWorkerEvent> events, DeviceSyncWorkerOptions options)
        : m_store_path(std::move(store_path)),
          m_local_key(std::move(local_key)),
          m_transport(std::move(transport)),
          m_events(std::move(events)),
          m_options(options) {}

    void run(QueueReceiver<SyncCommand>& commands) {
        auto loaded = load_peer_store(m_store_path);
        if (!loaded) {
            post(DeviceSyncState::NeedsAttention, loaded.error().display());
            return;
        }
        m_peers = std::move(*loaded);
        bool any_approved = false;
        for (const PeerRecord& record : m_peers) {
            if (!record.is_approved()) continue;
            any_approved = true;
            if (auto r = m_transport->register_peer(record.id, record.descriptor); !r) {
                post(DeviceSyncState::NeedsAttention, fmt::format("Could not restore {}: {}", record.name, r.error().display()));
                return;
            }
        }
        post(DeviceSyncState::Ready, any_approved ? "Approved devices are ready to sync."
                                                  : "Paste a Grayjay pairing invite to add your first device.");
        for (;;) {
            std::optional<SyncCommand> command;
            const QueueWait waited = commands.receive_for(m_options.resync_interval, command);
            if (waited == QueueWait::Closed) return;
            if (waited == QueueWait::TimedOut) {
                if (m_last_sync) {
                    sync_command::SyncNow again = *m_last_sync;
                    sync_pass(again);
                }
                continue;
            }
            if (std::holds_alternative<sync_command::Shutdown>(*command)) return;
            if (auto* pair = std::get_if<sync_command::Pair>(&*command)) {
                run_pair(pair->invite);
                sodium_memzero(pair->invite.data(), pair->invite.size());
            } else if (auto* approve = std::get_if<sync_command::Approve>(&*command)) {
                run_approve(approve->peer_id);
            } else if (auto* revoke = std::get_if<sync_command::Revoke>(&*command)) {
                run_revoke(revoke->peer_id);
            } else if (auto* now = std::get_if<sync_command::SyncNow>(&*command)) {
                sync_pass(*now);
            }
        }
    }

private:
    void post(DeviceSyncState state, std::string message) {
        m_events.try_send(sync_event::Status{SyncStatusEvent{m_local_key, std::move(message), m_peers, state}});
    }

    PeerRecord* find(std::vector<PeerRecord>& list, std::string_view id, bool skip_revoked) {
        for (PeerRecord& r : list) {
            if (r.id == id && (!skip_revoked || !r.revoked_at)) return &r;
        }
        return nullptr;
    }

    void run_pair(const std::string& invite) {
        post(DeviceSyncState::Pairing, "Waiting for approval on the other device…");
        auto paired = m_transport->pair(invite);
        if (!paired) {
            post(DeviceSyncState::NeedsAttention, paired.error().display());
            return;
        }
        const std::string& id = *paired;
        if (PeerRecord* existing = find(m_peers, id, false); existing && !existing->is_approved()) {
            m_transport->forget_peer(id);
            post(DeviceSyncState::NeedsAttention, DeviceSyncError::peer_revoked().display());
            return;
        }
        auto route = m_transport->peer_route(id);
        if (!route) {
            post(DeviceSyncState::NeedsAttention,
                 DeviceSyncError::peer_store("transport did not expose a public peer route").display());
            return;
        }
        std::vector<PeerRecord> copy = m_peers;
        const auto announced = m_transport->announced_name(id);
        if (PeerRecord* existing = find(copy, id, false)) {
            existing->descriptor = *route;
            existing->pending_approval = true;
            existing->last_error.reset();
            if (announced) existing->name = device_name(announced, id);
        } else if (copy.size() >= kPeerStoreMaxRecords) {
            m_transport->forget_peer(id);
            post(DeviceSyncState::NeedsAttention,
                 DeviceSyncError::peer_store("the approved-device limit has been reached").display());
            return;
        } else {
            PeerRecord record;
            record.id = id;
            record.name = device_name(announced, id);
            record.descriptor = *route;
            record.approved_at = unix_now_seconds();
            record.pending_approval = true;
            copy.push_back(std::move(record));
        }
        if (auto saved = save_peer_store(m_store_path, copy); !saved) {
            post(DeviceSyncState::NeedsAttention, saved.error().display());
            return;
        }
        m_peers = std::move(copy);
        post(DeviceSyncState::Ready, "Device authenticated. Review its fingerprint and approve access.");
    }

    void run_approve(const std::string& id) {
        std::vector<PeerRecord> copy = m_peers;
        PeerRecord* record = find(copy, id, true);
        if (!record) return;
        record->pending_approval = false;
        record->approved_at = unix_now_seconds();
        if (auto saved = save_peer_store(m_store_path, copy); !saved) {
            post(DeviceSyncState::NeedsAttention, saved.error().display());
            return;
        }
        if (auto registered = m_transport->register_peer(record->id, record->descriptor); !registered) {
            post(DeviceSyncState::NeedsAttention, registered.error().display());
            return;
        }
        m_peers = std::move(copy);
        post(DeviceSyncState::Ready, "Device approved. Sync is ready.");
    }

    void run_revoke(const std::string& id) {
        std::vector<PeerRecord> copy = m_peers;
        PeerRecord* record = find(copy, id, false);
        if (!record) return;
        record->revoked_at = unix_now_seconds();
        record->last_error.reset();
        if (auto saved = save_peer_store(m_store_path, copy); !saved) {
            post(DeviceSyncState::NeedsAttention, saved.error().display());
            return;
        }
        m_peers = std::move(copy);
        m_transport->forget_peer(id);
        post(DeviceSyncState::Ready, "Device revoked. Its key can no longer sync.");
    }

    void sync_pass(const sync_command::SyncNow& command) {
        m_last_sync = command;
        std::vector<std::string> targets;
        for (const PeerRecord& r : m_peers) {
            if (r.is_approved()) targets.push_back(r.id);
        }
        if (targets.empty()) {
            // Nothing was synced: the state says what is missing instead.
            const bool pending = std::any_of(m_peers.begin(), m_peers.end(), [](const PeerRecord& r) {
                return r.pending_approval && !r.revoked_at;
            });
            post(DeviceSyncState::Ready, pending ? "Device authenticated. Review its fingerprint and approve access."
                                                 : "Paste a Grayjay pairing invite to add your first device.");
            return;
        }
        post(DeviceSyncState::Syncing, "Syncing approved devices…");
        PullResult merged;
        std::set<std::string, std::less<>> removed;  // addresses removed on a peer during this pass
        std::size_t failures = 0;
        for (const std::string& id : targets) {
            auto pulled = m_transport->pull(id);
            if (!pulled) {
                set_last_error(id, pulled.error().display());
                ++failures;
                continue;
            }
            append_new(merged.subscription_urls, pulled->subscription_urls, [](const std::string& u) { return u; });
            append_new(merged.history_urls, pulled->history_urls, [](const std::string& u) { return u; });
            append_new(merged.channels, pulled->channels, [](const PulledChannel& c) { return c.url; });
            append_new(merged.history, pulled->history, [](const PulledHistoryEntry& e) { return e.url; });
            if (pulled->settings) merged.settings = pulled->settings;
            add_removals(removed, pulled->subscription_removals);
            if (pulled->incomplete) {
                // Without the peer's subscriptions (and their removals) a push
                // could send back what the user removed there: none this pass.
                set_last_error(id, pulled->incomplete->display());
                ++failures;
                continue;
            }

            // Never push back what a peer reported as removed in this pass.
            sync_command::SyncNow push = command;
            std::erase_if(push.channels, [&](const PeerChannel& c) {
                return is_removed(removed, c.url) || is_removed(removed, c.id) ||
                       std::any_of(c.alternatives.begin(), c.alternatives.end(),
                                   [&](const std::string& a) { return is_removed(removed, a); });
            });
            if (auto pushed = m_transport->push_subscriptions(id, push); !pushed) {
                set_last_error(id, pushed.error().display());
                ++failures;
            } else if (PeerRecord* record = find(m_peers, id, false)) {
                record->last_sync_at = unix_now_seconds();
                record->last_error.reset();
            }
        }
        if (auto saved = save_peer_store(m_store_path, m_peers); !saved) {
            ++failures;
            if (!m_peers.empty()) m_peers.front().last_error = saved.error().display();
        }
        if (!merged.subscription_urls.empty() || !merged.history_urls.empty() || merged.settings) {
            m_events.try_send(sync_event::Pulled{std::move(merged)});
        }
        if (failures == 0) {
            post(DeviceSyncState::Ready, "Device sync is up to date.");
        } else {
            post(DeviceSyncState::NeedsAttention, fmt::format("{} device operation(s) failed.", failures));
        }
    }

    void set_last_error(std::string_view id, std::string text) {
        if (PeerRecord* record = find(m_peers, id, false)) record->last_error = std::move(text);
    }

    std::filesystem::path m_store_path;
    std::string m_local_key;
    std::unique_ptr<SyncTransport> m_transport;
    QueueSender<SyncWorkerEvent> m_events;
    DeviceSyncWorkerOptions m_options;
    std::vector<PeerRecord> m_peers;
    std::optional<sync_command::SyncNow> m_last_sync;
};

}  // namespace

void device_sync_worker(std::filesystem::path store_path, std::string local_key,
                        std::unique_ptr<SyncTransport> transport, QueueSender<SyncWorkerEvent> events,
                        QueueReceiver<SyncCommand> commands, DeviceSyncWorkerOptions options) {
    Worker worker(std::move(store_path), std::move(local_key), std::move(transport), std::move(events), options);
    worker.run(commands);
}

DeviceSyncHandle spawn_device_sync_worker(std::filesystem::path store_path, std::string local_key,
                                          std::unique_ptr<SyncTransport> transport, DeviceSyncWorkerOptions options) {
    auto [command_sender, command_receiver] = make_queue<SyncCommand>(kSyncCommandCapacity);
    auto [event_sender, event_receiver] = make_queue<SyncWorkerEvent>(0);
    try {
        std::thread thread([store_path = std::move(store_path), local_key = std::move(local_key),
                            transport = std::move(transport), events = std::move(event_sender),
                            commands = std::move(command_receiver), options]() mutable {
            // Linux keeps 15 characters of a thread name.
            pthread_setname_np(pthread_self(), std::string("sarn-grayjay-sync").substr(0, 15).c_str());
            device_sync_worker(std::move(store_path), std::move(local_key), std::move(transport), std::move(events),
                               std::move(commands), options);
        });
        thread.detach();
    } catch (const std::system_error&) {
        return device_sync_start_failed("Could not start the device-sync worker.");
    }
    return DeviceSyncHandle(std::move(event_receiver), std::move(command_sender), "Loading approved devices…",
                            DeviceSyncState::Ready);
}

DeviceSyncHandle start_device_sync_worker_with(std::string_view device_name, const SecretSource& secret,
                                               std::optional<std::filesystem::path> store_path,
                                               DeviceSyncWorkerOptions options) {
    auto material = secret();
    if (!material) return device_sync_start_failed(DeviceSyncError::device_key(material.error()).display());
    if (material->size() < kSecretMinBytes) {
        sodium_memzero(material->data(), material->size());
        return device_sync_start_failed(
            DeviceSyncError::device_key("host secret broker returned insufficient key material").display());
    }
    auto keypair = derive_device_keypair(*material);
    sodium_memzero(material->data(), material->size());
    if (!keypair) return device_sync_start_failed(keypair.error().display());

    auto config = SyncTransportConfig::create(*keypair, std::string(device_name));
    if (options.timing) config.timing = *options.timing;
    if (!store_path) {
        auto found = default_peer_store_path();
        if (!found) return device_sync_start_failed(found.error().display());
        store_path = *found;
    }
    const std::string local_key = keypair->public_key();
    return spawn_device_sync_worker(std::move(*store_path), local_key,
                                    std::make_unique<GrayjaySyncTransport>(std::move(config)), options);
}

DeviceSyncHandle start_device_sync_worker(std::string_view device_name) {
    return start_device_sync_worker_with(device_name, [] { return runtime_portal_xdg::Secret::retrieve(); }, std::nullopt);
}

}  // namespace sarn
