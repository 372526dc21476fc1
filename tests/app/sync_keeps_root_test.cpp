// What the root does with what a paired device sent and what it sends back:
// pulled channels read as subscribed and can be removed under every key, a
// removal is never undone by a pull and travels to the phone, pulled history
// is recorded once at the phone's time, pushed entries are addresses, and
// what was pulled shows on the pages.
#include <gtest/gtest.h>

#include "page_test_support.h"
#include "root_harness.h"
#include "sarn/actions/owner_history.h"
#include "sarn/app/action_tree.h"

namespace sarn {
namespace {

using screens::test::control_names;
using screens::test::texts_of;
using test::quiet_options;
using test::RootHarness;

const std::string kA = "UCaaaaaaaaaaaaaaaaaaaaaa";
const std::string kB = "UCbbbbbbbbbbbbbbbbbbbbbb";
const std::string kC = "UCcccccccccccccccccccccc";
const std::string kBare = "https://youtube.com/";
const std::string kWww = "https://www.youtube.com/";

Channel channel(std::string id, std::string name, std::string handle) {
    Channel c = screens::test::channel_record(std::move(id), std::move(name));
    c.handle = std::move(handle);
    return c;
}

Video video(std::string id, std::string channel_id) {
    Video v;
    v.id = std::move(id);
    v.title = "Title " + v.id;
    v.channel_id = std::move(channel_id);
    v.channel_name = "Alpha";
    v.seed = v.id;
    v.duration = 100;
    return v;
}

// A root over a Library of the test's, with the handle above.
struct Root {
    explicit Root(Library library, Route route = Route::home()) {
        auto [handle, worker] = test::controlled_sync();
        peer.emplace(std::move(worker));
        h.emplace(SarnApp::create(quiet_options())
                      .with_library(std::move(library))
                      .with_route(std::move(route))
                      .with_device_sync(std::move(handle)));
        h->frame();
        (void)peer->commands.try_receive();  // the first frame's pass
    }
    void pulled(PullResult result) {
        ASSERT_TRUE(peer->events.try_send(sync_event::Pulled{std::move(result)}));
        h->frame();
    }
    const Library& library() { return h->app().library(); }
    // The page of the route as the window shows it.
    const vorn_ui::widget::Widget& page(Route route) {
        h->run({intent::Navigate{std::move(route)}});
        h->frame();
        return *h->app().page_tree();
    }
    std::optional<test::SyncPeer> peer;
    std::optional<RootHarness> h;
};

bool contains(const std::vector<std::string>& list, std::string_view item) {
    return std::find(list.begin(), list.end(), item) != list.end();
}

TEST(SyncKeeps, APulledChannelReadsSubscribedAndUnsubscribingRemovesEveryKey) {
    Library library;
    library.channels = {channel(kA, "Alpha", "@alpha")};
    library.videos = {video("v1", kA)};
    Root root(std::move(library), Route::watch("v1"));
    // Pulled under its address, and once under its handle too.
    root.h->apply_shared(action::SetSubscription{kBare + "channel/" + kA, true});
    root.h->apply_shared(action::SetSubscription{"@alpha", true});
    root.h->frame();
    EXPECT_TRUE(contains(texts_of(*root.h->app().page_tree()), "Subscribed"));

    // The creators' action of the resource tree removes the key it is followed
    // under, and the root follows with every other key of the channel.
    const auto tree = action_resources_tree(root.library());
    const auto* creator = vorn_actions::resource::find_resource_deep(tree, "sarn.channel:" + kA);
    ASSERT_NE(creator, nullptr);
    auto encoded = creator->find_action("subscribe")->run(nlohmann::json::object());
    ASSERT_TRUE(encoded.has_value());
    const auto decoded = decode_action(encoded->payload);
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(*decoded, SarnAction(action::SetSubscription{"@alpha", false}));
    root.h->apply_shared(*decoded);
    root.h->frame();
    EXPECT_TRUE(root.library().subscriptions.empty());
    EXPECT_FALSE(root.library().is_subscribed(kA));
    EXPECT_EQ(root.library().subscription_removals, (std::vector<std::string>{"@alpha", kBare + "channel/" + kA}));

    // Followed under both keys again, as the next pull of another phone may.
    root.h->apply_shared(action::SetSubscription{kBare + "channel/" + kA, true});
    root.h->apply_shared(action::SetSubscription{"@alpha", true});
    root.h->frame();
    EXPECT_TRUE(root.library().is_subscribed(kA));

    // The watch page's button writes false under both keys.
    root.h->run({intent::ToggleSubscription{kA}});
    EXPECT_FALSE(root.library().is_subscribed(kA));
    root.h->frame();
    EXPECT_FALSE(root.library().is_subscribed(kA));
    EXPECT_TRUE(root.library().subscriptions.empty());
    EXPECT_EQ(root.library().subscription_removals, (std::vector<std::string>{"@alpha", kBare + "channel/" + kA}));
    EXPECT_TRUE(contains(texts_of(*root.h->app().page_tree()), "Subscribe"));

    // Subscribing again writes the channel's id only, once.
    root.h->run({intent::ToggleSubscription{kA}});
    root.h->frame();
    EXPECT_EQ(root.library().subscriptions, std::vector<std::string>{kA});
}

TEST(SyncKeeps, ARemovalIsNeverUndoneByAPullAndTravelsToThePhone) {
    Library library;
    library.channels = {channel(kB, "Bravo", kBare + "@bravo")};
    Root root(std::move(library));
    // Removed here: A under its address, B under its id (the phone holds it by handle).
    root.h->apply_shared(action::SetSubscription{kBare + "channel/" + kA, false});
    root.h->apply_shared(action::SetSubscription{kB, false});
    root.h->frame();

    PullResult pulled;
    pulled.subscription_urls = {kWww + "channel/" + kA + "/", "https://m.youtube.com/@bravo", kWww + "channel/" + kC};
    pulled.channels = {{kWww + "@bravo", kB, "Bravo", ""}};
    for (int pass = 0; pass < 2; ++pass) {
        root.pulled(pulled);
        EXPECT_EQ(root.library().subscriptions, std::vector<std::string>{kBare + "channel/" + kC}) << pass;
    }

    const auto removed_before = static_cast<std::int64_t>(unix_now_ms());
    const sync_command::SyncNow push = device_sync_snapshot(root.library());
    std::vector<std::string> removal_urls;
    for (const PeerRemoval& r : push.removals) {
        removal_urls.push_back(r.url);
        EXPECT_GE(r.removed_at_ms, removed_before);
        EXPECT_LE(r.removed_at_ms, removed_before + 60'000);
    }
    // Under the form the phone stores, and the addresses held here.
    EXPECT_EQ(removal_urls,
              (std::vector<std::string>{kWww + "channel/" + kB, kWww + "@bravo", kWww + "channel/" + kA}));
    ASSERT_EQ(push.channels.size(), 1u);
    EXPECT_EQ(push.channels[0].url, kWww + "channel/" + kC);

    // Followed again under another key: no longer sent as removed.
    root.h->run({intent::ToggleSubscription{kA}});
    root.h->frame();
    const sync_command::SyncNow again = device_sync_snapshot(root.library());
    ASSERT_EQ(again.removals.size(), 2u);
    EXPECT_EQ(again.removals[0].url, kWww + "channel/" + kB);
    EXPECT_EQ(again.removals[1].url, kWww + "@bravo");
}

TEST(SyncKeeps, PulledHistoryIsRecordedOnceAtThePhonesTime) {
    Root root{Library{}};
    SarnApp& app = root.h->app();
    auto record = [&](const std::string& id, std::uint64_t at, bool present) {
        ASSERT_TRUE(app.dispatch_history_action(OwnerHistoryAction::set_entry(id, at, present, "m:" + id)));
    };
    record("cleared", 1000, true);
    ASSERT_TRUE(app.dispatch_history_action(OwnerHistoryAction::clear(2000, "c")));
    for (int i = 0; i < 55; ++i) record("kept" + std::to_string(i), 3000 + i, true);
    record("removed", 4000, false);
    root.h->frame();
    ASSERT_EQ(root.library().history.size(), 50u);  // kept0 to kept4 lie beyond it

    const std::uint64_t now = unix_now_ms();
    PullResult pulled;
    pulled.history_urls = {"kept0", "cleared", "removed", kWww + "watch?v=fromphone", "undated", "future", "kept54"};
    pulled.history = {{kWww + "watch?v=fromphone", 5000, "From the phone", "", "", "", "", 0, 0},
                      {"future", now + 86'400'000, "", "", "", "", "", 0, 0}};
    root.pulled(pulled);

    const auto& document = app.history_store().document();
    const auto map = *owner_history_map(document);
    const auto entries = *child_map(document, map, "entries");
    auto time_of = [&](const std::string& id) { return read_history_entry(document, entries, id)->watched_at_ms; };
    for (int i : {0, 54}) EXPECT_EQ(time_of("kept" + std::to_string(i)), 3000u + i);
    EXPECT_EQ(time_of("cleared"), 1000u);
    EXPECT_FALSE(read_history_entry(document, entries, "removed")->present);
    EXPECT_EQ(time_of("fromphone"), 5000u);  // a watch address is stored by its video id
    EXPECT_FALSE(holds_history_entry(document, kWww + "watch?v=fromphone"));
    EXPECT_GE(time_of("undated"), now - 4);
    EXPECT_LE(time_of("future"), unix_now_ms());  // never ahead of the import
    const std::vector<std::string> history = root.library().history;
    EXPECT_EQ(std::vector<std::string>(history.begin(), history.begin() + 3),
              (std::vector<std::string>{"future", "undated", "fromphone"}));
    EXPECT_FALSE(contains(history, "cleared"));
    EXPECT_FALSE(contains(history, "removed"));

    // The next pass brings the same list: nothing moves.
    const std::uint64_t undated_at = time_of("undated");
    root.pulled(pulled);
    EXPECT_EQ(root.library().history, history);
    EXPECT_EQ(time_of("undated"), undated_at);

    // A clear stays cleared.
    root.h->run({intent::ClearHistory{}});
    root.pulled(pulled);
    EXPECT_TRUE(root.library().history.empty());
}

TEST(SyncKeeps, PushedEntriesAreAddressesThePhoneStores) {
    Library library;
    library.channels = {channel(kB, "Bravo", kBare + "@bravo"), channel("ch_sample", "Sample", "@sample")};
    library.subscriptions = {kA,
                             kBare + "@bravo",
                             kBare + "channel/" + kB + "/",
                             kBare + "channel/" + kC,
                             "ch_sample",
                             "ch_unknown",
                             "@unknown"};
    const sync_command::SyncNow push = device_sync_snapshot(library);
    EXPECT_EQ(push.subscriptions, library.subscriptions);
    const std::vector<PeerChannel> expected = {
        {kWww + "channel/" + kA, {}, kA, kWww + "channel/" + kA},
        // One entry for B, with the other spellings held here beside it.
        {kWww + "channel/" + kB, {kWww + "@bravo", kWww + "channel/" + kB + "/"}, kB, "Bravo"},
        {kWww + "channel/" + kC, {}, kC, kWww + "channel/" + kC},
        {kWww + "@sample", {}, kWww + "@sample", "Sample"},
    };
    EXPECT_EQ(push.channels, expected);
    EXPECT_TRUE(push.removals.empty());
}

TEST(SyncKeeps, WhatWasPulledShowsOnItsPages) {
    Library library;
    // Known already, with more than the phone says: kept, its empty avatar filled.
    Channel known = channel(kC, "Charlie (catalogue)", "@charlie");
    known.subscribers = 99;
    library.channels = {known};
    Root root(std::move(library));

    PullResult pulled;
    pulled.subscription_urls = {kWww + "channel/" + kA, kWww + "@bravo", kWww + "channel/" + kC};
    pulled.channels = {{kWww + "channel/" + kA, kA, "Alpha", "https://img/alpha.jpg"},
                       {kWww + "@bravo", kB, "Bravo", ""},
                       {kWww + "channel/" + kC, kC, "Charlie", "https://img/charlie.jpg"}};
    pulled.history_urls = {kWww + "watch?v=v2", kWww + "watch?v=v1", "untitled"};
    pulled.history = {{kWww + "watch?v=v2", 2000, "Second", "https://img/v2.jpg", kA, "Alpha", "", 60, 5},
                      {kWww + "watch?v=v1", 1000, "First", "", kA, "Alpha", "", 0, 0}};
    root.pulled(pulled);

    const Library& lib = root.library();
    ASSERT_NE(lib.find_channel(kA), nullptr);
    EXPECT_EQ(lib.find_channel(kA)->avatar_url, "https://img/alpha.jpg");
    EXPECT_EQ(lib.find_channel(kB)->handle, kBare + "@bravo");
    EXPECT_EQ(lib.find_channel(kC)->name, "Charlie (catalogue)");
    EXPECT_EQ(lib.find_channel(kC)->subscribers, 99u);
    EXPECT_EQ(lib.find_channel(kC)->avatar_url, "https://img/charlie.jpg");
    EXPECT_EQ(lib.find_video("v2")->thumbnail_url, "https://img/v2.jpg");
    EXPECT_EQ(lib.find_video("v1")->thumbnail_url, "https://i.ytimg.com/vi/v1/hqdefault.jpg");

    const auto& subscriptions = root.page(Route::subscriptions());
    const auto controls = control_names(subscriptions);
    for (const char* name : {"Open creator: Alpha", "Open creator: Bravo", "Open creator: Charlie (catalogue)"}) {
        EXPECT_TRUE(contains(controls, name)) << name;
    }
    for (const std::string& text : texts_of(subscriptions)) EXPECT_EQ(text.find("need metadata"), std::string::npos);

    const auto history = texts_of(root.page(Route::history()));
    EXPECT_TRUE(contains(history, "Second"));
    EXPECT_TRUE(contains(history, "First"));
    EXPECT_TRUE(contains(history, "1 watched item(s) need metadata before they can be shown."));

    // The resource tree names them too and opens the channel behind the address.
    const auto tree = action_resources_tree(lib);
    const auto* item = vorn_actions::resource::find_resource_deep(tree, "sarn.subscription:" + kBare + "@bravo");
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->label, "Bravo");
    auto open = item->find_action("open")->run(nlohmann::json::object());
    ASSERT_TRUE(open.has_value());
    EXPECT_EQ(decode_operation(open->payload), SarnOperation(operation::OpenChannel{kB}));
}

}  // namespace
}  // namespace sarn
