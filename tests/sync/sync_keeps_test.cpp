// What device sync reads from a phone's packages and sends it back, and what
// a pass reports: history dates and video details, channel names and
// pictures, pushed addresses with their removals, announced device names.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <mutex>
#include <thread>

#include "sarn/sync/packages.h"
#include "sarn/sync/peer_store.h"
#include "sarn/sync/worker.h"

namespace {

using namespace sarn;
using namespace std::chrono_literals;

SyncBytes bytes_of(std::string_view text) { return SyncBytes(text.begin(), text.end()); }

TEST(SyncKeeps, PushCarriesAddressesAlternativesAndRemovalsInMilliseconds) {
    const std::vector<PeerChannel> channels = {
        {"https://www.youtube.com/channel/UC1", {"https://www.youtube.com/@one"}, "UC1", "One"},
        {"https://www.youtube.com/@two", {}, "", ""},
    };
    const std::vector<PeerRemoval> removals = {{"https://www.youtube.com/channel/UC9", 1700000000123}};
    EXPECT_EQ(encode_subscriptions_package(channels, removals, 1700000000).value(),
              R"({"subscriptions":[{"channel":{"id":{"platform":"YouTube","value":"UC1","pluginId":null,)"
              R"("claimType":0,"claimFieldType":-1},"name":"One","thumbnail":null,"banner":null,"subscribers":0,)"
              R"("description":null,"url":"https://www.youtube.com/channel/UC1","links":{},)"
              R"("urlAlternatives":["https://www.youtube.com/@one"]},"creationTime":1700000000},)"
              // Without an id or a name the address stands in for both.
              R"({"channel":{"id":{"platform":"YouTube","value":"https://www.youtube.com/@two","pluginId":null,)"
              R"("claimType":0,"claimFieldType":-1},"name":"https://www.youtube.com/@two","thumbnail":null,)"
              R"("banner":null,"subscribers":0,"description":null,"url":"https://www.youtube.com/@two","links":{},)"
              R"("urlAlternatives":[]},"creationTime":1700000000}],)"
              R"("subscriptionRemovals":{"https://www.youtube.com/channel/UC9":1700000000123}})");
}

TEST(SyncKeeps, SubscriptionsCarryTheChannelsNameAndPicture) {
    auto package = decode_subscriptions_package(bytes_of(
        R"({"subscriptions":[)"
        R"({"channel":{"id":{"platform":"YouTube","value":"UC1"},"name":" One\n","url":"u1","thumbnail":"https://i/1.jpg"}},)"
        R"({"channel":{"id":{"platform":"YouTube","value":null},"name":"","url":"u2","thumbnail":"file:///etc/passwd"}},)"
        R"({"channel":{"id":{"platform":"YouTube"},"name":")" + std::string(300, 'n') + R"(","url":"u3","thumbnail":null}}]})"));
    ASSERT_TRUE(package.has_value());
    ASSERT_EQ(package->channels.size(), 3u);
    EXPECT_EQ(package->channels[0], (PulledChannel{"u1", "UC1", "One", "https://i/1.jpg"}));
    EXPECT_EQ(package->channels[1], (PulledChannel{"u2", "", "", ""}));  // no picture that is not http(s)
    EXPECT_EQ(package->channels[2].name, std::string(256, 'n'));
    EXPECT_EQ(package->urls, (std::vector<std::string>{"u1", "u2", "u3"}));
}

TEST(SyncKeeps, HistoryEntriesKeepTheirWatchTimesAndWhatTheySayOfTheVideo) {
    struct Row {
        std::string date;  // JSON of the entry's "date"
        std::optional<std::uint64_t> ms;
    };
    const Row rows[] = {
        {"1714567890", 1714567890000},                  // seconds
        {"1714567890123", 1714567890123},               // milliseconds
        {"1714567890.5", 1714567890500},
        {R"("2024-05-01T12:51:30Z")", 1714567890000},
        {R"("2024-05-01T14:51:30.25+02:00")", 1714567890250},
        {R"("2024-05-01 12:51:30.123456-0000")", 1714567890123},
        {R"("2024-05-01T12:51:30")", std::nullopt},     // no offset: no time
        {R"("2024-13-01T12:51:30Z")", std::nullopt},
        {R"("yesterday")", std::nullopt},
        {"0", std::nullopt},
        {"-5", std::nullopt},
        {"null", std::nullopt},
        {"{}", std::nullopt},
    };
    for (const Row& row : rows) {
        auto entries = decode_history_entries(
            bytes_of(R"([{"video":{"url":"https://youtu.be/a"},"date":)" + row.date + "}]"));
        ASSERT_TRUE(entries.has_value()) << row.date;
        ASSERT_EQ(entries->size(), 1u);
        EXPECT_EQ((*entries)[0].watched_at_ms, row.ms) << row.date;
    }

    auto entries = decode_history_entries(bytes_of(
        R"([{"video":{"url":"https://www.youtube.com/watch?v=abc","name":"A video",)"
        R"("thumbnails":{"sources":[{"url":"https://i/low.jpg","quality":90},{"url":"https://i/high.jpg","quality":720},)"
        R"({"url":"javascript:x","quality":1080}]},)"
        R"("author":{"id":{"platform":"YouTube","value":"UCa"},"name":"Author","thumbnail":"https://i/a.jpg"},)"
        R"("duration":125,"viewCount":42},"position":10,"date":1714567890},)"
        // Members of the wrong type next to a good url are left out, not fatal.
        R"({"video":{"url":"https://youtu.be/b","name":7,"thumbnails":[],"author":"x","duration":"long"}}])"));
    ASSERT_TRUE(entries.has_value());
    ASSERT_EQ(entries->size(), 2u);
    const PulledHistoryEntry& a = (*entries)[0];
    EXPECT_EQ(a.title, "A video");
    EXPECT_EQ(a.thumbnail, "https://i/high.jpg");
    EXPECT_EQ(a.channel_id, "UCa");
    EXPECT_EQ(a.channel_name, "Author");
    EXPECT_EQ(a.channel_thumbnail, "https://i/a.jpg");
    EXPECT_EQ(a.duration, 125u);
    EXPECT_EQ(a.views, 42u);
    EXPECT_EQ((*entries)[1], (PulledHistoryEntry{"https://youtu.be/b", std::nullopt, "", "", "", "", "", 0, 0}));
    EXPECT_EQ(decode_history_package(bytes_of(R"([{"video":{"url":"u"}}])")).value(), std::vector<std::string>{"u"});
}

// ---- the worker, over a transport of the test's own

struct Paired {
    std::mutex mutex;
    std::optional<std::string> announced;
    std::vector<std::string> pushed_urls;
};

class PairingTransport final : public SyncTransport {
public:
    explicit PairingTransport(std::shared_ptr<Paired> paired) : m_paired(std::move(paired)) {}
    std::string name() const override { return "pairing"; }
    bool is_available() const override { return true; }
    std::expected<std::string, DeviceSyncError> pair(std::string_view invite) override {
        m_routes[std::string(invite)] = PeerDescriptor{std::string(invite), {"10.0.0.2"}, 12315};
        return std::string(invite);
    }
    std::expected<void, DeviceSyncError> push_subscriptions(std::string_view, const sync_command::SyncNow& c) override {
        std::lock_guard lock(m_paired->mutex);
        for (const PeerChannel& channel : c.channels) m_paired->pushed_urls.push_back(channel.url);
        return {};
    }
    std::expected<PullResult, DeviceSyncError> pull(std::string_view) override { return PullResult{}; }
    std::expected<void, DeviceSyncError> register_peer(std::string_view id, const PeerDescriptor& d) override {
        m_routes[std::string(id)] = d;
        return {};
    }
    void forget_peer(std::string_view id) override { m_routes.erase(std::string(id)); }
    std::optional<PeerDescriptor> peer_route(std::string_view id) const override {
        auto it = m_routes.find(std::string(id));
        if (it == m_routes.end()) return std::nullopt;
        return it->second;
    }
    std::optional<std::string> announced_name(std::string_view) const override {
        std::lock_guard lock(m_paired->mutex);
        return m_paired->announced;
    }

private:
    std::shared_ptr<Paired> m_paired;
    std::map<std::string, PeerDescriptor> m_routes;
};

// The worker's body on a thread of the test's, so that every status it
// posts can be read, not only the last one.
class WorkerRun {
public:
    explicit WorkerRun(std::shared_ptr<Paired> paired) {
        dir = std::filesystem::temp_directory_path() /
              ("sarn-keeps-worker-" + std::to_string(::getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir);
        auto [command_tx, command_rx] = make_queue<SyncCommand>(kSyncCommandCapacity);
        auto [event_tx, event_rx] = make_queue<SyncWorkerEvent>(0);
        commands.emplace(std::move(command_tx));
        events.emplace(std::move(event_rx));
        thread = std::thread([this, paired, tx = std::move(event_tx), rx = std::move(command_rx)]() mutable {
            device_sync_worker(dir / "vorn-sarn" / "grayjay-peers.json", "LOCALKEY",
                               std::make_unique<PairingTransport>(paired), std::move(tx), std::move(rx), {});
        });
    }
    ~WorkerRun() {
        (void)commands->try_send(sync_command::Shutdown{});
        thread.join();
        std::filesystem::remove_all(dir);
    }

    // The status texts posted until one equals `last` (which is included).
    std::vector<std::string> statuses_until(const std::string& last) {
        std::vector<std::string> seen;
        const auto give_up = std::chrono::steady_clock::now() + 5s;
        while (std::chrono::steady_clock::now() < give_up) {
            std::optional<SyncWorkerEvent> event;
            if (events->receive_for(20ms, event) != QueueWait::Item) continue;
            if (const auto* status = std::get_if<sync_event::Status>(&*event)) {
                seen.push_back(status->status.message);
                peers = status->status.peers;
                if (status->status.message == last) return seen;
            }
        }
        ADD_FAILURE() << "no status " << last;
        return seen;
    }

    std::filesystem::path dir;
    std::optional<QueueSender<SyncCommand>> commands;
    std::optional<QueueReceiver<SyncWorkerEvent>> events;
    std::vector<PeerRecord> peers;
    std::thread thread;
};

TEST(SyncKeeps, APassWithoutAnApprovedDeviceSaysWhatIsMissing) {
    auto paired = std::make_shared<Paired>();
    WorkerRun run(paired);
    const std::string paste = "Paste a Grayjay pairing invite to add your first device.";
    const std::string review = "Device authenticated. Review its fingerprint and approve access.";
    EXPECT_EQ(run.statuses_until(paste), std::vector<std::string>{paste});

    ASSERT_TRUE(run.commands->try_send(sync_command::SyncNow{}));
    EXPECT_EQ(run.statuses_until(paste), std::vector<std::string>{paste});

    // A device awaiting approval is what a pass lacks.
    ASSERT_TRUE(run.commands->try_send(sync_command::Pair{"PEERKEY1"}));
    run.statuses_until(review);
    ASSERT_TRUE(run.commands->try_send(sync_command::SyncNow{}));
    EXPECT_EQ(run.statuses_until(review), std::vector<std::string>{review});

    // Once approved, a pass syncs and says so.
    ASSERT_TRUE(run.commands->try_send(sync_command::Approve{"PEERKEY1"}));
    run.statuses_until("Device approved. Sync is ready.");
    sync_command::SyncNow now;
    now.channels = {PeerChannel{"https://www.youtube.com/channel/UC1", {}, "UC1", "One"}};
    ASSERT_TRUE(run.commands->try_send(now));
    EXPECT_EQ(run.statuses_until("Device sync is up to date."),
              (std::vector<std::string>{"Syncing approved devices…", "Device sync is up to date."}));
    std::lock_guard lock(paired->mutex);
    EXPECT_EQ(paired->pushed_urls, std::vector<std::string>{"https://www.youtube.com/channel/UC1"});
}

TEST(SyncKeeps, ADeviceIsNamedAsItAnnouncedItself) {
    struct Row {
        std::optional<std::string> announced;
        std::string name;
    };
    const Row rows[] = {
        {"Google-Pixel 7a", "Google-Pixel 7a"},
        {" \tTablet\n", "Tablet"},
        {std::string(70, 'x'), std::string(64, 'x')},
        {"", "Grayjay PEERKEY0"},
        {"\x01\x02", "Grayjay PEERKEY0"},
        {std::nullopt, "Grayjay PEERKEY0"},
    };
    const std::string review = "Device authenticated. Review its fingerprint and approve access.";
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        auto paired = std::make_shared<Paired>();
        paired->announced = row.announced;
        WorkerRun run(paired);
        run.statuses_until("Paste a Grayjay pairing invite to add your first device.");
        ASSERT_TRUE(run.commands->try_send(sync_command::Pair{"PEERKEY0123"}));
        run.statuses_until(review);
        ASSERT_EQ(run.peers.size(), 1u);
        EXPECT_EQ(run.peers[0].name, row.name);
        auto stored = load_peer_store(run.dir / "vorn-sarn" / "grayjay-peers.json");
        ASSERT_TRUE(stored.has_value());
        EXPECT_EQ((*stored)[0].name, row.name);
    }
}

}  // namespace
