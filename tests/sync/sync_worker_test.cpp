// The device-sync worker's commands and bookkeeping over a scripted transport.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>

#include "sarn/sync/peer_store.h"
#include "sarn/sync/worker.h"

namespace {

using namespace sarn;
using namespace std::chrono_literals;

// Shared between the test and the transport the worker owns.
struct Script {
    std::mutex mutex;
    std::map<std::string, std::expected<PullResult, DeviceSyncError>> pulls;
    std::vector<std::pair<std::string, std::vector<std::string>>> pushes;
    std::vector<std::string> forgotten;
    std::vector<std::string> registered;
    std::string pair_result;
    int pull_calls = 0;
};

class ScriptedTransport final : public SyncTransport {
public:
    explicit ScriptedTransport(std::shared_ptr<Script> script) : m_script(std::move(script)) {}
    std::string name() const override { return "scripted"; }
    bool is_available() const override { return true; }
    std::expected<std::string, DeviceSyncError> pair(std::string_view invite) override {
        if (invite == "bad") return std::unexpected(DeviceSyncError::pairing("peer refused authorization"));
        std::lock_guard lock(m_script->mutex);
        m_routes[m_script->pair_result] = PeerDescriptor{m_script->pair_result, {"10.0.0.2"}, 12315};
        return m_script->pair_result;
    }
    std::expected<void, DeviceSyncError> push_subscriptions(std::string_view id, const sync_command::SyncNow& c) override {
        std::lock_guard lock(m_script->mutex);
        std::vector<std::string> urls;
        for (const PeerChannel& channel : c.channels) urls.push_back(channel.url);
        m_script->pushes.emplace_back(std::string(id), std::move(urls));
        return {};
    }
    std::expected<PullResult, DeviceSyncError> pull(std::string_view id) override {
        std::lock_guard lock(m_script->mutex);
        ++m_script->pull_calls;
        auto it = m_script->pulls.find(std::string(id));
        if (it == m_script->pulls.end()) return PullResult{};
        return it->second;
    }
    std::expected<void, DeviceSyncError> register_peer(std::string_view id, const PeerDescriptor& d) override {
        std::lock_guard lock(m_script->mutex);
        if (d.port == 0) return std::unexpected(DeviceSyncError::peer_store("stored peer connection metadata is invalid"));
        m_script->registered.emplace_back(id);
        m_routes[std::string(id)] = d;
        return {};
    }
    void forget_peer(std::string_view id) override {
        std::lock_guard lock(m_script->mutex);
        m_script->forgotten.emplace_back(id);
        m_routes.erase(std::string(id));
    }
    std::optional<PeerDescriptor> peer_route(std::string_view id) const override {
        auto it = m_routes.find(std::string(id));
        if (it == m_routes.end()) return std::nullopt;
        return it->second;
    }

private:
    std::shared_ptr<Script> m_script;
    std::map<std::string, PeerDescriptor> m_routes;
};

PeerRecord record(const std::string& id, bool pending = false, bool revoked = false) {
    PeerRecord r;
    r.id = id;
    r.name = "Grayjay " + id.substr(0, 8);
    r.descriptor = PeerDescriptor{id, {"10.0.0.1"}, 12315};
    r.approved_at = 1;
    r.pending_approval = pending;
    if (revoked) r.revoked_at = 2;
    return r;
}

class WorkerTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir = std::filesystem::temp_directory_path() /
              ("sarn-worker-" + std::to_string(::getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir);
        store = dir / "vorn-sarn" / "grayjay-peers.json";
    }
    void TearDown() override { std::filesystem::remove_all(dir); }

    DeviceSyncHandle start(std::vector<PeerRecord> peers, DeviceSyncWorkerOptions options = {}) {
        if (!peers.empty()) {
            EXPECT_TRUE(save_peer_store(store, peers).has_value());
        }
        return spawn_device_sync_worker(store, "LOCALKEY", std::make_unique<ScriptedTransport>(script), options);
    }

    // Drains until a status with this text arrives; collects every status and pull.
    bool await(DeviceSyncHandle& handle, const std::string& text, std::chrono::milliseconds timeout = 5s) {
        const auto give_up = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < give_up) {
            handle.drain_device_sync([&](PullResult r) { pulled.push_back(std::move(r)); });
            if (handle.status_text() == text) return true;
            std::this_thread::sleep_for(2ms);
        }
        return false;
    }

    static void stop(DeviceSyncHandle& handle) {
        handle.send(sync_command::Shutdown{});
        const auto give_up = std::chrono::steady_clock::now() + 5s;
        while (handle.worker_running() && std::chrono::steady_clock::now() < give_up) {
            std::this_thread::sleep_for(2ms);
        }
    }

    std::filesystem::path dir;
    std::filesystem::path store;
    std::shared_ptr<Script> script = std::make_shared<Script>();
    std::vector<PullResult> pulled;
};

TEST_F(WorkerTest, StartsWithTheRightTextAndRegistersOnlyApprovedDevices) {
    {
        auto handle = start({});
        EXPECT_EQ(handle.status_text(), "Loading approved devices…");
        ASSERT_TRUE(await(handle, "Paste a Grayjay pairing invite to add your first device."));
        EXPECT_EQ(handle.local_key(), "LOCALKEY");
        stop(handle);
    }
    {
        auto handle = start({record("approved"), record("pending", true), record("revoked", false, true)});
        ASSERT_TRUE(await(handle, "Approved devices are ready to sync."));
        EXPECT_EQ(handle.peers().size(), 3u);
        stop(handle);
        std::lock_guard lock(script->mutex);
        EXPECT_EQ(script->registered, std::vector<std::string>{"approved"});
    }
    {
        PeerRecord broken = record("broken");
        broken.descriptor.port = 0;
        auto handle = start({broken});
        ASSERT_TRUE(await(handle, "Could not restore Grayjay broken: peer store error: stored peer connection metadata is invalid"));
        EXPECT_EQ(handle.state(), DeviceSyncState::NeedsAttention);
        stop(handle);
    }
}

TEST_F(WorkerTest, PairApproveRevokeAndTheirRefusals) {
    script->pair_result = "NEWPEERKEY";
    auto handle = start({record("old")});
    ASSERT_TRUE(await(handle, "Approved devices are ready to sync."));

    handle.send(sync_command::Pair{"bad"});
    ASSERT_TRUE(await(handle, "pairing failed: peer refused authorization"));

    handle.send(sync_command::Pair{"good"});
    ASSERT_TRUE(await(handle, "Device authenticated. Review its fingerprint and approve access."));
    ASSERT_EQ(handle.peers().size(), 2u);
    EXPECT_EQ(handle.peers()[1].name, "Grayjay NEWPEERK");
    EXPECT_TRUE(handle.peers()[1].pending_approval);

    // Pairing again while it is still pending is refused and the route forgotten.
    handle.send(sync_command::Pair{"good"});
    ASSERT_TRUE(await(handle, "peer was revoked on this device"));

    handle.send(sync_command::Approve{"unknown"});
    handle.send(sync_command::Approve{"NEWPEERKEY"});
    ASSERT_TRUE(await(handle, "Device approved. Sync is ready."));
    EXPECT_FALSE(handle.peers()[1].pending_approval);

    // Pairing an approved device again puts it back to pending.
    handle.send(sync_command::Pair{"good"});
    ASSERT_TRUE(await(handle, "Device authenticated. Review its fingerprint and approve access."));
    EXPECT_TRUE(handle.peers()[1].pending_approval);
    EXPECT_EQ(handle.peers().size(), 2u);

    handle.send(sync_command::Revoke{"old"});
    ASSERT_TRUE(await(handle, "Device revoked. Its key can no longer sync."));
    const auto first_stamp = handle.peers()[0].revoked_at;
    EXPECT_TRUE(first_stamp.has_value());
    // Approving a revoked device does nothing; revoking it again stamps it again.
    handle.send(sync_command::Approve{"old"});
    handle.send(sync_command::Revoke{"old"});
    stop(handle);
    auto stored = load_peer_store(store);
    ASSERT_TRUE(stored.has_value());
    EXPECT_TRUE((*stored)[0].revoked_at.has_value());
    EXPECT_TRUE((*stored)[1].pending_approval);
}

TEST_F(WorkerTest, SixtyFourRecordsRefuseANewDevice) {
    std::vector<PeerRecord> full;
    for (int i = 0; i < 64; ++i) full.push_back(record("peer" + std::to_string(i), false, i % 2 == 0));
    script->pair_result = "NEWPEERKEY";
    auto handle = start(full);
    ASSERT_TRUE(await(handle, "Approved devices are ready to sync."));
    handle.send(sync_command::Pair{"good"});
    ASSERT_TRUE(await(handle, "peer store error: the approved-device limit has been reached"));
    EXPECT_EQ(handle.peers().size(), 64u);
    stop(handle);
    std::lock_guard lock(script->mutex);
    EXPECT_EQ(script->forgotten, std::vector<std::string>{"NEWPEERKEY"});
}

TEST_F(WorkerTest, PassMergesCountsFailuresAndNeverPushesRemovedChannels) {
    script->pulls["a"] = PullResult{{"chan1", "chan2"}, {"v1"}, std::nullopt,
                                    {"UCremoved", "https://www.youtube.com/channel/UCgone", "https://www.youtube.com/@left"}};
    script->pulls["b"] = std::unexpected(DeviceSyncError::transport("io: Connection refused"));
    script->pulls["c"] = PullResult{{"chan2", "chan3"}, {"v1", "v2"}, std::nullopt, {}};
    auto handle = start({record("a"), record("b"), record("c"), record("d", true)});
    ASSERT_TRUE(await(handle, "Approved devices are ready to sync."));

    sync_command::SyncNow now;
    // Every spelling of a removed channel stays back; a longer id is another channel.
    for (const char* url : {"https://www.youtube.com/channel/UCkept", "https://youtube.com/channel/UCgone",
                            "https://m.youtube.com/channel/UCgone", "https://www.youtube.com/@left",
                            "https://www.youtube.com/channel/UCgone2"}) {
        now.channels.push_back(PeerChannel{url, {}, url, url});
    }
    now.channels.push_back(PeerChannel{"https://www.youtube.com/channel/UCremoved", {}, "UCremoved", "Removed"});
    now.channels.push_back(PeerChannel{"https://www.youtube.com/channel/UCx", {"https://www.youtube.com/@left"}, "UCx", "X"});
    handle.send(now);
    ASSERT_TRUE(await(handle, "1 device operation(s) failed."));
    ASSERT_EQ(pulled.size(), 1u);
    EXPECT_EQ(pulled[0].subscription_urls, (std::vector<std::string>{"chan1", "chan2", "chan3"}));
    EXPECT_EQ(pulled[0].history_urls, (std::vector<std::string>{"v1", "v2"}));
    EXPECT_EQ(handle.peers()[1].last_error, "transport error: io: Connection refused");
    EXPECT_TRUE(handle.peers()[0].last_sync_at.has_value());
    EXPECT_FALSE(handle.peers()[1].last_sync_at.has_value());
    {
        std::lock_guard lock(script->mutex);
        ASSERT_EQ(script->pushes.size(), 2u);
        for (const auto& [id, subscriptions] : script->pushes) {
            EXPECT_EQ(subscriptions, (std::vector<std::string>{"https://www.youtube.com/channel/UCkept",
                                                               "https://www.youtube.com/channel/UCgone2"}))
                << id;
        }
    }
    stop(handle);
}

TEST_F(WorkerTest, EmptyPassSendsNothingAndResyncRepeatsTheLastCommand) {
    DeviceSyncWorkerOptions options;
    options.resync_interval = 150ms;
    auto handle = start({}, options);
    ASSERT_TRUE(await(handle, "Paste a Grayjay pairing invite to add your first device."));
    // Silence before any SyncNow runs nothing.
    std::this_thread::sleep_for(400ms);
    handle.drain_device_sync({});
    EXPECT_EQ(handle.status_text(), "Paste a Grayjay pairing invite to add your first device.");
    stop(handle);

    script->pulls["a"] = PullResult{{"chan"}, {}, std::nullopt, {}};
    auto second = start({record("a")}, options);
    ASSERT_TRUE(await(second, "Approved devices are ready to sync."));
    sync_command::SyncNow now;
    now.channels = {PeerChannel{"https://www.youtube.com/channel/UCmine", {}, "UCmine", "Mine"}};
    second.send(now);
    const auto give_up = std::chrono::steady_clock::now() + 5s;
    while (std::chrono::steady_clock::now() < give_up) {
        {
            std::lock_guard lock(script->mutex);
            if (script->pushes.size() >= 3) break;
        }
        std::this_thread::sleep_for(5ms);
    }
    stop(second);
    std::lock_guard lock(script->mutex);
    ASSERT_GE(script->pushes.size(), 3u);
    for (const auto& push : script->pushes) {
        EXPECT_EQ(push.second, std::vector<std::string>{"https://www.youtube.com/channel/UCmine"});
    }
}

TEST_F(WorkerTest, ABrokenStoreEndsTheWorker) {
    std::filesystem::create_directories(store.parent_path());
    std::ofstream(store) << R"({"version":2,"peers":[]})";
    auto handle = start({});
    ASSERT_TRUE(await(handle, "peer store error: unsupported peer store version"));
    EXPECT_EQ(handle.state(), DeviceSyncState::NeedsAttention);
    stop(handle);
    EXPECT_FALSE(handle.send(sync_command::SyncNow{}));
}

}  // namespace
