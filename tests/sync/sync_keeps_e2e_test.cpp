// Device sync end to end: the root widget and the real device-sync worker
// against a phone that behaves as a Grayjay phone does, over 127.0.0.1, with
// the history file, the shared document and the peer store in folders of the
// test's own, so that a second root over the same folders is a restart.

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <mutex>
#include <set>
#include <thread>

#include <nlohmann/json.hpp>

#include "../app/page_test_support.h"
#include "../app/root_harness.h"
#include "fake_phone.h"
#include "sarn/actions/owner_history.h"
#include "sarn/app/action_tree.h"
#include "sarn/sync/worker.h"
#include "vorn_ui/persist.h"

namespace sarn {
namespace {

using namespace std::chrono_literals;
using namespace sarn::testing;
using screens::test::control_names;
using screens::test::texts_of;
using test::RootHarness;

const std::string kAlpha = "UCalphaalphaalphaalpha01";
const std::string kBravo = "UCbravobravobravobravo02";
const std::string kCharlie = "UCcharliecharliecharli03";
const std::string kLocal = "UClocallocallocallocal04";
const std::string kWww = "https://www.youtube.com/";

// The catalogue as the fetch worker sees it: only Charlie's channel page is
// known; every call is recorded.
struct Catalogue {
    std::mutex mutex;
    std::vector<std::string> channel_calls;
};

class CatalogueBackend final : public LiveCatalogBackend {
public:
    explicit CatalogueBackend(std::shared_ptr<Catalogue> catalogue) : m_catalogue(std::move(catalogue)) {}
    std::string_view name() const override { return "local catalogue"; }
    CatalogResult<CatalogPage> search(std::string_view) override { return std::unexpected(std::string("no search")); }
    CatalogResult<CatalogPage> video(std::string_view) override { return std::unexpected(std::string("no video")); }
    CatalogResult<CatalogPage> channel(std::string_view id) override {
        {
            std::lock_guard lock(m_catalogue->mutex);
            m_catalogue->channel_calls.emplace_back(id);
        }
        if (id != kCharlie) return std::unexpected(std::string("unknown channel"));
        Channel charlie;
        charlie.id = kCharlie;
        charlie.name = "Charlie";
        charlie.handle = "@charlie";
        charlie.subscribers = 1200;
        charlie.seed = kCharlie;
        charlie.avatar_url = "http://127.0.0.1:9/charlie.jpg";
        return CatalogPage::of_channel(charlie, {});
    }
    CatalogResult<CatalogPage> related(std::string_view) override { return std::unexpected(std::string("none")); }
    CatalogResult<CatalogPage> trending() override { return std::unexpected(std::string("no trending")); }
    CatalogResult<SearchItems> search_items(std::string_view) override {
        return std::unexpected(std::string("no search"));
    }
    CatalogResult<PlaylistAnswer> fetch_playlist(std::string_view) override {
        return std::unexpected(std::string("no playlist"));
    }

private:
    std::shared_ptr<Catalogue> m_catalogue;
};

// The phone: three subscriptions (one stored under its handle address, one
// without a name or picture) and four watched videos with their dates.
std::unique_ptr<FakeGrayjayPhone> make_phone(std::int64_t now_s) {
    const std::int64_t day_ago_ms = (now_s - 86400) * 1000;
    std::vector<PhoneChannel> subscriptions = {
        {kWww + "channel/" + kAlpha, {}, kAlpha, "Alpha", "http://127.0.0.1:9/alpha.jpg", day_ago_ms},
        {kWww + "@bravo", {kWww + "channel/" + kBravo}, kBravo, "Bravo", "http://127.0.0.1:9/bravo.jpg", day_ago_ms},
        {kWww + "channel/" + kCharlie, {}, kCharlie, "", std::nullopt, day_ago_ms},
    };
    std::vector<PhoneWatch> history;
    for (int i = 1; i <= 4; ++i) {
        // Newest first, as the phone sends it: video 4 an hour ago, video 1 four hours ago.
        const int n = 5 - i;
        history.push_back({fmt::format("{}watch?v=phonevideo{}", kWww, n), fmt::format("Phone video {}", n),
                           fmt::format("http://127.0.0.1:9/v{}.jpg", n), kAlpha, "Alpha", now_s - 3600 * i});
    }
    return std::make_unique<FakeGrayjayPhone>("Google-Pixel 7a", std::move(subscriptions), std::move(history));
}

class SyncKeeps : public ::testing::Test {
protected:
    void SetUp() override {
        dir = std::filesystem::temp_directory_path() / ("sarn-sync-keeps-" + std::to_string(::getpid()));
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
    }
    void TearDown() override { std::filesystem::remove_all(dir); }

    // A live root over the test's folders: history under dir/data, the peer
    // store under dir/state, the shared document from dir/shared.automerge.
    std::unique_ptr<RootHarness> start_root() {
        SarnAppOptions options = test::quiet_options();
        options.history_data_dir = std::optional<std::filesystem::path>(dir / "data");
        options.start_device_sync = [this](std::string_view name) {
            DeviceSyncWorkerOptions worker;
            worker.timing = SyncTiming{2000ms, 700ms, 1500ms};
            return start_device_sync_worker_with(
                name, [] { return std::expected<std::vector<std::uint8_t>, std::string>(SyncBytes(32, 7)); },
                dir / "state" / "vorn-sarn" / "grayjay-peers.json", worker);
        };
        options.fetch_config = [catalogue = catalogue] {
            FetchWorkerConfig config;
            config.ytdlp_program = "/nonexistent/yt-dlp";
            config.live_backend = [catalogue]() -> CatalogResult<std::unique_ptr<LiveCatalogBackend>> {
                return std::make_unique<CatalogueBackend>(catalogue);
            };
            config.extras = {"http://127.0.0.1:9", "http://127.0.0.1:9", "http://127.0.0.1:9"};
            config.invidious = InvidiousProbeOptions{{"http://127.0.0.1:9/inv"}, 500ms, 1000ms};
            config.http_timeout = 1000ms;
            return config;
        };
        auto harness = std::make_unique<RootHarness>(SarnApp::create(std::move(options)).start_live());
        auto store = vorn_ui::persist::DocumentStore::open_at(dir / "shared.automerge");
        EXPECT_TRUE((harness->document().merge(store.document())).has_value());
        return harness;
    }

    // The shared document goes where the runtime keeps it.
    void keep_document(RootHarness& h) {
        auto store = vorn_ui::persist::DocumentStore::open_at(dir / "shared.automerge");
        ASSERT_TRUE(store.document().merge(h.document()).has_value());
        ASSERT_TRUE(store.save_if_changed().has_value());
    }

    template <typename Pred>
    static bool frames_until(RootHarness& h, Pred pred, std::chrono::milliseconds timeout = 20s) {
        const auto give_up = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < give_up) {
            h.frame();
            if (pred()) return true;
            std::this_thread::sleep_for(5ms);
        }
        return false;
    }

    static vorn_ui::OperationRequest operation(const SarnOperation& op) {
        return {1, std::string(kOperationKind), encode_json(op)};
    }

    // Waits for the phone's `pushes`-th push, the last step of a pass on the
    // wire, then for the pass's own closing status (its Syncing status was
    // queued before the push, so a later Ready is this pass's).
    void finish_pass(RootHarness& h, std::size_t pushes) {
        ASSERT_TRUE(frames_until(h, [&] { return phone->pushes() >= pushes; })) << h.app().device_sync().status_text();
        h.frame();
        ASSERT_TRUE(frames_until(h, [&] { return h.app().device_sync().state() != DeviceSyncState::Syncing; }));
        EXPECT_EQ(h.app().device_sync().status_text(), "Device sync is up to date.");
        h.frame();
    }

    void sync_now(RootHarness& h, std::size_t pushes) {
        ASSERT_TRUE(h.app().perform_operation(operation(operation::SyncDevices{})).is_handled());
        finish_pass(h, pushes);
    }

    // The page of the route, built.
    const vorn_ui::widget::Widget& page(RootHarness& h, Route route) {
        h.run({intent::Navigate{route}});
        h.frame();
        return *h.app().page_tree();
    }

    static std::vector<std::string> phone_urls(const FakeGrayjayPhone& phone) {
        std::vector<std::string> out;
        for (const PhoneChannel& c : phone.subscriptions()) out.push_back(c.url);
        return out;
    }

    std::filesystem::path dir;
    std::shared_ptr<Catalogue> catalogue = std::make_shared<Catalogue>();
    std::unique_ptr<FakeGrayjayPhone> phone;
};

bool contains(const std::vector<std::string>& list, const std::string& item) {
    return std::find(list.begin(), list.end(), item) != list.end();
}

TEST_F(SyncKeeps, APhoneKeepsWhatTheUserDecidesAcrossPassesAndARestart) {
    const auto now_s = static_cast<std::int64_t>(unix_now_seconds());
    phone = make_phone(now_s);
    auto h = start_root();

    // Before any device is paired, the first frame's pass claims nothing.
    h->frame();
    ASSERT_TRUE(frames_until(*h, [&] {
        return h->app().device_sync().status_text() == "Paste a Grayjay pairing invite to add your first device.";
    }));

    // Pairing names the device as it announced itself.
    ASSERT_TRUE(h->app().perform_operation(operation(operation::PairDevice{phone->invite("CODE1234")})).is_handled());
    ASSERT_TRUE(frames_until(*h, [&] {
        return h->app().device_sync().status_text() ==
               "Device authenticated. Review its fingerprint and approve access.";
    })) << h->app().device_sync().status_text();
    ASSERT_EQ(h->app().device_sync().peers().size(), 1u);
    EXPECT_EQ(h->app().device_sync().peers()[0].name, "Google-Pixel 7a");
    const std::string peer_id = h->app().device_sync().peers()[0].id;
    ASSERT_TRUE(h->app().perform_operation(operation(operation::ApproveDevice{peer_id})).is_handled());
    ASSERT_TRUE(frames_until(*h, [&] { return h->app().device_sync().status_text() == "Device approved. Sync is ready."; }));

    // Pass 1: three subscriptions and four watched videos come in.
    sync_now(*h, 1);
    const Library& library = h->app().library();
    const std::vector<std::string> pulled_subscriptions = {"https://youtube.com/@bravo",
                                                           "https://youtube.com/channel/" + kAlpha,
                                                           "https://youtube.com/channel/" + kCharlie};
    EXPECT_EQ(library.subscriptions, pulled_subscriptions);  // the document's key order
    const std::vector<std::string> pulled_history = {"phonevideo4", "phonevideo3", "phonevideo2", "phonevideo1"};
    EXPECT_EQ(library.history, pulled_history);
    // Each at the time it was watched on the phone.
    const auto& owner_document = h->app().history_store().document();
    const auto entries = entries_after_clear(owner_document, *owner_history_map(owner_document), Removals::Skip);
    ASSERT_EQ(entries.size(), 4u);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        EXPECT_EQ(entries[i].record.watched_at_ms, static_cast<std::uint64_t>(now_s - 3600 * (i + 1)) * 1000);
    }

    // The pages show them; the channel the phone named nothing for is asked
    // of the catalogue, and only that one.
    ASSERT_TRUE(frames_until(*h, [&] {
        const Channel* charlie = library.find_channel(kCharlie);
        return charlie != nullptr && charlie->name == "Charlie";
    }));
    {
        std::lock_guard lock(catalogue->mutex);
        EXPECT_EQ(catalogue->channel_calls, std::vector<std::string>{kCharlie});
    }
    {
        const auto& subscriptions_page = page(*h, Route::subscriptions());
        const auto controls = control_names(subscriptions_page);
        for (const char* name : {"Open creator: Alpha", "Open creator: Bravo", "Open creator: Charlie"}) {
            EXPECT_TRUE(contains(controls, name)) << name;
        }
        for (const std::string& text : texts_of(subscriptions_page)) {
            EXPECT_EQ(text.find("need metadata"), std::string::npos) << text;
        }
        h->shoot("sync-keeps-subscriptions");
        const auto texts = texts_of(page(*h, Route::history()));
        h->shoot("sync-keeps-history");
        for (int n = 1; n <= 4; ++n) EXPECT_TRUE(contains(texts, fmt::format("Phone video {}", n))) << n;
    }

    // Bravo (pulled) is unsubscribed, a channel of this device subscribed.
    h->run({intent::ToggleSubscription{kBravo}});
    EXPECT_FALSE(library.is_subscribed(kBravo));
    h->run({intent::ToggleSubscription{kLocal}});
    h->frame();
    ASSERT_TRUE(library.is_subscribed(kLocal));

    // Passes 2 and 3: Bravo stays removed here and leaves the phone; the
    // phone holds its other two and the local one, each once, each an
    // address it can open; the history keeps its order.
    const std::vector<std::string> expected_phone = {kWww + "channel/" + kAlpha, kWww + "channel/" + kCharlie,
                                                     kWww + "channel/" + kLocal};
    for (std::size_t pass = 2; pass <= 3; ++pass) {
        SCOPED_TRACE(pass);
        sync_now(*h, pass);
        EXPECT_FALSE(library.is_subscribed(kBravo));
        EXPECT_EQ(phone_urls(*phone), expected_phone);
        EXPECT_EQ(library.history, pulled_history);
    }
    for (const std::string& package : phone->pushed_packages()) {
        const auto json = nlohmann::json::parse(package);
        for (const auto& entry : json["subscriptions"]) {
            EXPECT_TRUE(entry["channel"]["url"].get<std::string>().starts_with(kWww)) << package;
        }
    }
    const auto removal = nlohmann::json::parse(phone->pushed_packages()[1])["subscriptionRemovals"];
    EXPECT_TRUE(removal.contains(kWww + "@bravo")) << removal.dump();
    EXPECT_NEAR(removal[kWww + "@bravo"].get<double>(), static_cast<double>(unix_now_ms()), 60'000.0);

    // A removal made on the phone is not pushed back to it.
    phone->unsubscribe(kWww + "channel/" + kCharlie, (now_s + 1) * 1000);
    sync_now(*h, 4);
    EXPECT_EQ(phone_urls(*phone), (std::vector<std::string>{kWww + "channel/" + kAlpha, kWww + "channel/" + kLocal}));

    // Restart: a new root over the same folders.
    const std::vector<std::string> subscriptions_before = library.subscriptions;
    keep_document(*h);
    h.reset();
    h = start_root();
    h->frame();
    EXPECT_EQ(h->app().library().subscriptions, subscriptions_before);
    EXPECT_EQ(h->app().library().history, pulled_history);
    // Its first frame's pass brings the phone's names and pictures back.
    finish_pass(*h, 5);
    EXPECT_FALSE(h->app().library().is_subscribed(kBravo));
    EXPECT_EQ(h->app().library().history, pulled_history);
    {
        const auto controls = control_names(page(*h, Route::subscriptions()));
        EXPECT_TRUE(contains(controls, "Open creator: Alpha"));
        const auto texts = texts_of(page(*h, Route::history()));
        for (int n = 1; n <= 4; ++n) EXPECT_TRUE(contains(texts, fmt::format("Phone video {}", n))) << n;
    }

    // A local clear stays cleared after a pass.
    h->run({intent::ClearHistory{}});
    ASSERT_TRUE(h->app().library().history.empty());
    sync_now(*h, 6);
    EXPECT_TRUE(h->app().library().history.empty());
    EXPECT_EQ(phone_urls(*phone), (std::vector<std::string>{kWww + "channel/" + kAlpha, kWww + "channel/" + kLocal}));
    h.reset();
}

}  // namespace
}  // namespace sarn
