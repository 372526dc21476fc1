// Device sync against a fake Grayjay device on 127.0.0.1, and the encrypted
// frame layer over a socket pair.

#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <random>

#include "fake_peer.h"
#include "sarn/sync/base64.h"
#include "sarn/sync/packages.h"
#include "sarn/sync/peer_store.h"
#include "sarn/sync/transport.h"
#include "sarn/sync/worker.h"

namespace {

using namespace sarn;
using namespace sarn::testing;
using namespace std::chrono_literals;

SyncBytes bytes_of(std::string_view text) { return SyncBytes(text.begin(), text.end()); }
std::string text_of(SyncByteView bytes) { return std::string(bytes.begin(), bytes.end()); }

const SyncTiming kFast{2000ms, 700ms, 1500ms};

GrayjaySyncTransport make_transport(SyncTiming timing = kFast) {
    auto config = SyncTransportConfig::create(*device_keypair_from_secret(SyncBytes(32, 9)), "Vorn Sarn");
    config.timing = timing;
    return GrayjaySyncTransport(std::move(config));
}

std::string invite_for(const FakePeer& peer, const std::string& code) {
    const std::string json = R"({"publicKey":")" + peer.public_key() + R"(","addresses":["127.0.0.1"],"port":)" +
                             std::to_string(peer.port()) + R"(,"pairingCode":")" + code + R"("})";
    std::string b64 = encode_base64(bytes_of(json));
    for (char& c : b64) {
        if (c == '+') c = '-';
        if (c == '/') c = '_';
    }
    while (b64.back() == '=') b64.pop_back();
    return "grayjay://sync/" + b64;
}

std::string random_text(std::mt19937& rng, std::size_t n) {
    static const char alphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-_";
    std::string out(n, 'a');
    for (char& c : out) c = alphabet[rng() % 64];
    return out;
}

std::string subscriptions_json(const std::vector<std::string>& urls, const std::vector<std::string>& removals = {}) {
    nlohmann::json doc;
    doc["subscriptions"] = nlohmann::json::array();
    for (const auto& url : urls) {
        doc["subscriptions"].push_back({{"channel", {{"id", {{"platform", "YouTube"}, {"value", url}}}, {"name", url},
                                                     {"url", url}, {"thumbnail", nullptr}}},
                                        {"creationTime", 100}});
    }
    doc["subscriptionRemovals"] = nlohmann::json::object();
    for (const auto& r : removals) doc["subscriptionRemovals"][r] = 200;
    return doc.dump();
}

void authorize(SyncSession& s) {
    if (await_client_authorized(s)) send_notify(s, NotifySubopcode::Authorized);
}

void send_json(SyncSession& s, std::uint8_t sub, const std::string& json) {
    (void)s.send_payload(SyncOpcode::Data, sub, bytes_of(json), true);
}

// ---- connection set-up

TEST(SyncConnection, PairsWithCodeAndLearnsThePeerId) {
    auto pairing = [](SyncSession& s) {
        send_ping(s);  // a ping before the authorization is answered
        authorize(s);
        (void)await_data(s);  // until the client closes
    };
    FakePeer peer({pairing, pairing});
    auto transport = make_transport();
    auto id = transport.pair(invite_for(peer, "ABCD1234"));
    ASSERT_TRUE(id.has_value()) << id.error().display();
    EXPECT_EQ(*id, peer.public_key());
    ASSERT_TRUE(transport.peer_route(*id).has_value());
    EXPECT_EQ(transport.peer_route(*id)->public_key, *id);

    // The same key spelled URL-safe without padding, and an empty code: the
    // same canonical id, and no pairing message in the request.
    std::string key = peer.public_key();
    for (char& c : key) {
        if (c == '+') c = '-';
        if (c == '/') c = '_';
    }
    while (key.back() == '=') key.pop_back();
    const std::string json = R"({"publicKey":")" + key + R"(","addresses":["127.0.0.1"],"port":)" +
                             std::to_string(peer.port()) + R"(,"pairingCode":""})";
    auto again = transport.pair(json);
    ASSERT_TRUE(again.has_value()) << again.error().display();
    EXPECT_EQ(*again, *id);
    peer.wait();
    EXPECT_EQ(peer.pairing_codes, std::vector<std::string>{"ABCD1234"});
    EXPECT_EQ(peer.client_keys.front(), transport.config().keypair.public_key());
    EXPECT_TRUE(peer.errors.empty());
}

TEST(SyncConnection, FailuresOfTheSetUpTable) {
    struct Case {
        const char* name;
        FakePeerOptions options;
        FakePeer::Script script;
        std::string error;
    };
    const std::vector<Case> cases = {
        {"refusal", {}, [](SyncSession& s) {
             if (await_client_authorized(s)) send_notify(s, NotifySubopcode::Unauthorized);
         }, "pairing failed: peer refused authorization"},
        {"old version", {3, 2000ms}, [](SyncSession&) {}, "transport error: peer protocol version 3 < minimum 4"},
        {"vanishes before authorizing", {}, [](SyncSession&) {}, "transport error: io: failed to fill whole buffer"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakePeer peer({c.script}, c.options);
        auto transport = make_transport();
        auto session = connect_peer(transport.config(), peer.descriptor(), std::nullopt);
        ASSERT_FALSE(session.has_value());
        if (std::string(c.name) == "old version") {
            EXPECT_EQ(session.error().display(), c.error);
        } else if (std::string(c.name) == "refusal") {
            EXPECT_EQ(session.error().display(), c.error);
        } else {
            EXPECT_EQ(session.error().kind, DeviceSyncErrorKind::Transport) << session.error().display();
        }
    }
}

TEST(SyncConnection, APeerThatOnlyPingsCannotHoldTheAuthorizationWait) {
    FakePeer peer({[](SyncSession& s) {
        // Pings well inside the read time-out, forever (until the client leaves).
        for (int i = 0; i < 200; ++i) {
            if (!s.send_payload(SyncOpcode::Ping, 0, {}, false)) break;
            std::this_thread::sleep_for(50ms);
        }
    }});
    auto transport = make_transport(SyncTiming{2000ms, 700ms, 600ms});
    const auto start = SyncClock::now();
    auto session = connect_peer(transport.config(), peer.descriptor(), std::nullopt);
    const auto took = SyncClock::now() - start;
    ASSERT_FALSE(session.has_value());
    EXPECT_EQ(session.error().display(), "transport error: timed out waiting for peer authorization");
    EXPECT_LT(took, 1500ms);
}

// A host name with a 64-byte label cannot be resolved, and the resolver refuses
// it without asking any name server, so the test sends nothing off this host.
const std::string kUnresolvable = std::string(64, 'x') + ".invalid";

TEST(SyncConnection, SecondAddressIsTriedAndTheLastErrorReported) {
    FakePeer peer({[](SyncSession& s) { authorize(s); (void)await_data(s); }});
    auto transport = make_transport();
    // A port on 127.0.0.1 that refuses connections.
    int probe = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(probe, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    ::getsockname(probe, reinterpret_cast<sockaddr*>(&addr), &len);
    ::close(probe);
    PeerDescriptor closed{peer.public_key(), {"127.0.0.1", kUnresolvable}, ntohs(addr.sin_port)};
    auto failed = connect_tcp(closed, kFast);
    ASSERT_FALSE(failed.has_value());
    EXPECT_TRUE(failed.error().text.starts_with("resolve " + kUnresolvable + ":" + std::to_string(closed.port) + ": "))
        << failed.error().text;
    closed.addresses = {kUnresolvable, "127.0.0.1"};
    EXPECT_EQ(connect_tcp(closed, kFast).error().display(), "transport error: io: Connection refused");
    EXPECT_EQ(connect_tcp(PeerDescriptor{"k", {}, 1}, kFast).error().text, "no addresses to connect");

    // The first address fails, the second reaches the peer.
    PeerDescriptor descriptor = peer.descriptor();
    descriptor.addresses = {kUnresolvable, "127.0.0.1"};
    auto session = connect_peer(transport.config(), descriptor, std::nullopt);
    EXPECT_TRUE(session.has_value()) << session.error().display();
}

TEST(SyncConnection, HandshakeReplyOver65535IsRefusedBeforeReading) {
    FakePeer peer(std::vector<FakePeer::RawScript>{[](int fd) {
                      std::uint8_t buffer[4096];
                      const std::uint8_t version[4] = {5, 0, 0, 0};
                      ::send(fd, version, 4, MSG_NOSIGNAL);
                      (void)::recv(fd, buffer, sizeof buffer, 0);
                      const std::uint8_t length[4] = {0x00, 0x00, 0x01, 0x00};  // 65536
                      ::send(fd, length, 4, MSG_NOSIGNAL);
                      (void)::recv(fd, buffer, sizeof buffer, 0);
                  }},
                  true);
    auto transport = make_transport();
    PeerDescriptor d{encode_base64(SyncBytes(32, 3)), {"127.0.0.1"}, peer.port()};
    auto session = connect_peer(transport.config(), d, std::nullopt);
    ASSERT_FALSE(session.has_value());
    EXPECT_EQ(session.error().text, "handshake response too large: 65536");
}

// ---- pull and push

TEST(SyncPull, CollectsSubscriptionsAndStreamedHistoryWhileAnsweringPingsAndDroppingEarlyData) {
    std::mt19937 rng(7);
    std::vector<std::string> history;
    nlohmann::json hist = nlohmann::json::array();
    for (int i = 0; i < 3000; ++i) {
        history.push_back("https://www.youtube.com/watch?v=" + random_text(rng, 11));
        hist.push_back({{"video", {{"url", history.back()}, {"name", random_text(rng, 20)}}}, {"position", i}});
    }
    hist.push_back({{"video", nullptr}});
    std::string seen_exchange;
    std::uint64_t pongs = 0;
    FakePeer peer({[&](SyncSession& s) {
        // Data before the peer's Authorized is dropped. Like Grayjay with a key
        // it knows, the peer authorizes before our notice has arrived.
        send_json(s, 202, subscriptions_json({"https://www.youtube.com/channel/UCearly"}));
        send_notify(s, NotifySubopcode::Authorized);
        if (!await_client_authorized(s)) return;
        send_ping(s);
        auto exchange = await_data(s);
        if (!exchange || exchange->subopcode != 150) return;
        seen_exchange = text_of(exchange->payload);
        send_ping(s);
        send_json(s, 202, subscriptions_json({"https://www.youtube.com/channel/UC1", "https://www.youtube.com/channel/UC2"}));
        send_json(s, 204, "[]");
        send_json(s, 203, hist.dump());
        (void)await_data(s);
        pongs = s.pings_answered();
    }});
    auto transport = make_transport();
    ASSERT_TRUE(transport.register_peer(peer.public_key(), peer.descriptor()).has_value());
    auto result = transport.pull(peer.public_key());
    ASSERT_TRUE(result.has_value()) << result.error().display();
    peer.wait();
    EXPECT_EQ(result->subscription_urls,
              (std::vector<std::string>{"https://www.youtube.com/channel/UC1", "https://www.youtube.com/channel/UC2"}));
    EXPECT_EQ(result->history_urls, history);
    EXPECT_EQ(seen_exchange, R"({"publicKey":")" + transport.config().keypair.public_key() +
                                 R"(","lastHistory":-1,"lastSubscription":-1})");
    EXPECT_EQ(pongs, 0u);  // the peer pinged; we answered and it never had to
}

// A pull that ends before the peer's subscriptions arrived keeps what did
// arrive but says why it is incomplete; once they are in, the end of the
// connection is the normal end of the pull.
TEST(SyncPull, PeersThatStallOrBreakBeforeTheirSubscriptionsLeaveThePullIncomplete) {
    const std::string history = R"([{"video":{"url":"https://www.youtube.com/watch?v=h1"}}])";
    const auto history_then = [&](std::function<void(SyncSession&)> then) {
        return [&history, then](SyncSession& s) {
            authorize(s);
            (void)await_data(s);
            send_json(s, 203, history);
            then(s);
        };
    };
    struct Case {
        const char* name;
        FakePeer::Script script;
        std::vector<std::string> subscriptions;
        std::vector<std::string> history;
        std::optional<std::string> incomplete;
    };
    const std::vector<Case> cases = {
        {"silent", [](SyncSession& s) { authorize(s); (void)await_data(s); std::this_thread::sleep_for(1200ms); }, {}, {},
         "transport error: the peer's subscriptions did not arrive: io: Resource temporarily unavailable"},
        {"pings only", [](SyncSession& s) {
             authorize(s);
             for (int i = 0; i < 60; ++i) {
                 send_ping(s);
                 std::this_thread::sleep_for(50ms);
             }
         }, {}, {}, "transport error: timed out waiting for the peer's subscriptions"},
        {"history, then a frame too large", history_then([](SyncSession& s) {
             const SyncBytes length{0xff, 0xff, 0xff, 0xff};
             (void)s.socket().write_all(length);
             std::this_thread::sleep_for(300ms);
         }),
         {}, {"https://www.youtube.com/watch?v=h1"},
         "transport error: the peer's subscriptions did not arrive: frame too large: 4294967295"},
        {"history, then the connection closes", history_then([](SyncSession&) {}), {},
         {"https://www.youtube.com/watch?v=h1"},
         "transport error: the peer's subscriptions did not arrive: io: failed to fill whole buffer"},
        {"vanishes mid-stream after its subscriptions", [](SyncSession& s) {
             authorize(s);
             (void)await_data(s);
             send_json(s, 202, subscriptions_json({"c1"}));
             // A stream start of a large payload, then the connection drops.
             SyncBytes start;
             for (std::uint32_t v : {7u, 200000u}) {
                 for (int i = 0; i < 4; ++i) start.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
             }
             start.insert(start.end(), {4, 203, 0, '[', '{'});
             (void)s.send_payload(SyncOpcode::Stream, 0, start, false);
         }, {"c1"}, {}, std::nullopt},
        {"subscriptions, then silent", [](SyncSession& s) {
             authorize(s);
             (void)await_data(s);
             send_json(s, 202, subscriptions_json({"c2"}));
             std::this_thread::sleep_for(1200ms);
         }, {"c2"}, {}, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakePeer peer({c.script});
        auto transport = make_transport();
        ASSERT_TRUE(transport.register_peer(peer.public_key(), peer.descriptor()).has_value());
        auto result = transport.pull(peer.public_key());
        ASSERT_TRUE(result.has_value()) << result.error().display();
        EXPECT_EQ(result->subscription_urls, c.subscriptions);
        EXPECT_EQ(result->history_urls, c.history);
        if (c.incomplete) {
            ASSERT_TRUE(result->incomplete.has_value());
            EXPECT_EQ(result->incomplete->display(), *c.incomplete);
        } else {
            EXPECT_FALSE(result->incomplete.has_value()) << result->incomplete->display();
        }
    }
    auto transport = make_transport();
    EXPECT_EQ(transport.pull("nobody").error().display(), "pairing failed: unknown peer nobody");
}

TEST(SyncPush, SendsTheExactPackageAndSurvivesAPeerThatVanishes) {
    std::string received;
    FakePeer peer({[&](SyncSession& s) {
        authorize(s);
        // Like Grayjay, ask for our state, then read late: closing on unread
        // data must not reset the connection before our package is read.
        send_json(s, 150, R"({"publicKey":"x","lastHistory":-1,"lastSubscription":-1})");
        std::this_thread::sleep_for(300ms);
        if (auto data = await_data(s); data && data->subopcode == 202) received = text_of(data->payload);
    }});
    auto transport = make_transport();
    ASSERT_TRUE(transport.register_peer(peer.public_key(), peer.descriptor()).has_value());
    sync_command::SyncNow command;
    command.channels = {PeerChannel{"abc", {}, "abc", "abc"}};
    ASSERT_TRUE(transport.push_subscriptions(peer.public_key(), command).has_value());
    peer.wait();
    auto json = nlohmann::json::parse(received);
    const auto& channel = json["subscriptions"][0]["channel"];
    EXPECT_EQ(channel["name"], "abc");
    EXPECT_EQ(channel["url"], "abc");
    EXPECT_EQ(channel["id"]["value"], "abc");
    EXPECT_EQ(channel["id"]["platform"], "YouTube");
    EXPECT_EQ(channel["id"]["claimFieldType"], -1);
    for (const char* key : {"thumbnail", "banner", "description", "subscribers", "links"}) {
        EXPECT_TRUE(channel.contains(key)) << key;
    }
    EXPECT_TRUE(json.contains("subscriptionRemovals"));
    EXPECT_NEAR(json["subscriptions"][0]["creationTime"].get<double>(), static_cast<double>(unix_now_seconds()), 5);

    // Mid-push the peer closes: a large, incompressible package fails with an
    // I/O error instead of killing the process with SIGPIPE.
    std::mt19937 rng(3);
    sync_command::SyncNow big;
    for (int i = 0; i < 8000; ++i) {
        const std::string text = random_text(rng, 24);
        big.channels.push_back(PeerChannel{text, {}, text, text});
    }
    FakePeer vanishing({[](SyncSession& s) { authorize(s); }});
    ASSERT_TRUE(transport.register_peer(vanishing.public_key(), vanishing.descriptor()).has_value());
    auto pushed = transport.push_subscriptions(vanishing.public_key(), big);
    ASSERT_FALSE(pushed.has_value());
    EXPECT_TRUE(pushed.error().text.starts_with("io: ")) << pushed.error().display();
}

// ---- frames over a socket pair

struct SessionPair {
    std::optional<SyncSession> a;
    std::optional<SyncSession> b;
    int raw_a = -1;  // a second handle on a's socket, for writing raw bytes to b
};

SessionPair make_pair() {
    int fds[2];
    ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds);
    auto server = noise::KeyPair::generate();
    auto client = noise::KeyPair::generate();
    auto i = *noise::HandshakeState::create({noise::Pattern::IK, noise::Role::Initiator, {}, client, server.public_key(), std::nullopt});
    auto r = *noise::HandshakeState::create({noise::Pattern::IK, noise::Role::Responder, {}, server, std::nullopt, std::nullopt});
    (void)r.read_message(*i.write_message({}));
    (void)i.read_message(*r.write_message({}));
    SessionPair pair;
    pair.raw_a = ::dup(fds[0]);
    // No test of the pair waits for a time-out: a long one only keeps a
    // sender that a loaded machine holds back (compressing and encrypting a
    // large payload) from failing the receiver's read.
    pair.a.emplace(SyncSocket::adopt(fds[0], 10s), *i.split(), "b", "a", "A", 5);
    pair.b.emplace(SyncSocket::adopt(fds[1], 10s), *r.split(), "a", "b", "B", 5);
    return pair;
}

TEST(SyncFrames, BadFramesTable) {
    struct Case {
        const char* name;
        SyncBytes raw;  // written by a's side unencrypted
        std::string error;
    };
    SyncBytes short_cipher = {10, 0, 0, 0};
    short_cipher.resize(14, 1);
    SyncBytes garbage = {32, 0, 0, 0};
    garbage.resize(36, 7);
    const Case cases[] = {
        {"65536", {0x00, 0x00, 0x01, 0x00}, "frame too large: 65536"},
        {"0xFFFFFFFF", {0xff, 0xff, 0xff, 0xff}, "frame too large: 4294967295"},
        {"under 16 bytes", short_cipher, "noise: ciphertext shorter than its tag"},
        {"not ours", garbage, "noise: decryption failed"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto pair = make_pair();
        ASSERT_EQ(::send(pair.raw_a, c.raw.data(), c.raw.size(), MSG_NOSIGNAL), static_cast<ssize_t>(c.raw.size()));
        auto message = pair.b->receive_message();
        ASSERT_FALSE(message.has_value());
        EXPECT_EQ(message.error().text, c.error);
        ::close(pair.raw_a);
    }
    {
        auto pair = make_pair();
        ASSERT_TRUE(pair.a->send_frame(SyncBytes(6, 0)).has_value());
        EXPECT_EQ(pair.b->receive_message().error().text, "frame decode: packet shorter than header (7 bytes)");
        ::close(pair.raw_a);
    }
}

TEST(SyncFrames, PingsNoticesStreamsAndEncodings) {
    auto pair = make_pair();
    SyncSession& a = *pair.a;
    SyncSession& b = *pair.b;
    send_ping(a);
    // A completed stream that carries a Notify packet is dropped.
    SyncBytes start;
    for (std::uint32_t v : {0u, 1u}) {
        for (int i = 0; i < 4; ++i) start.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    }
    start.insert(start.end(), {2, 0, 0});
    ASSERT_TRUE(a.send_payload(SyncOpcode::Stream, 0, start, false).has_value());
    SyncBytes end = {0, 0, 0, 0, 0, 0, 0, 0, 'x'};
    ASSERT_TRUE(a.send_payload(SyncOpcode::Stream, 2, end, false).has_value());
    ASSERT_TRUE(a.send_frame(encode_packet(4, 9, 5, bytes_of("raw"))).has_value());  // encoding 5: raw
    auto data = b.receive_message();
    ASSERT_TRUE(data.has_value()) << data.error().text;
    EXPECT_EQ(b.pings_answered(), 1u);
    ASSERT_TRUE(std::holds_alternative<sync_message::Data>(*data));
    EXPECT_EQ(std::get<sync_message::Data>(*data).payload, bytes_of("raw"));

    // Notices: a full one, one cut short inside the name, an empty one.
    const SyncBytes notices[] = {{3, 'a', 'b', 'c', 4, 'N', 'a', 'm', 'e'}, {1, 'x', 9, 'N', 'a'}, {}, {0, 3, 'A', 0xff, 'B'}};
    const char* names[] = {"Name", "Na", "", "A\xEF\xBF\xBD" "B"};
    for (int i = 0; i < 4; ++i) {
        ASSERT_TRUE(a.send_payload(SyncOpcode::Notify, 0, notices[i], false).has_value());
        auto notice = b.receive_message();
        ASSERT_TRUE(notice.has_value());
        EXPECT_EQ(std::get<sync_message::Authorized>(*notice).name, names[i]);
        EXPECT_TRUE(b.peer_authorized());
    }
    ASSERT_TRUE(a.send_payload(SyncOpcode::Notify, 1, {}, false).has_value());
    EXPECT_TRUE(std::holds_alternative<sync_message::Unauthorized>(*b.receive_message()));
    EXPECT_FALSE(b.peer_authorized());

    // A big gzip payload crosses as a stream; the next uses the next stream id.
    std::mt19937 rng(1);
    std::string big = random_text(rng, 200000);
    for (int i = 0; i < 2; ++i) {
        std::thread sender([&] { EXPECT_TRUE(a.send_data(DataSubopcode::SyncHistory, bytes_of(big)).has_value()); });
        auto got = b.receive_message();
        sender.join();
        EXPECT_EQ(a.next_stream_id(), static_cast<std::uint32_t>(i + 1));
        ASSERT_TRUE(got.has_value()) << got.error().text;
        EXPECT_EQ(text_of(std::get<sync_message::Data>(*got).payload), big);
    }
    // Our own notice: a UUID and the name, each at most 64 bytes.
    ASSERT_TRUE(a.send_authorized_notice().has_value());
    EXPECT_EQ(std::get<sync_message::Authorized>(*b.receive_message()).name, "A");
    ::close(pair.raw_a);
}

TEST(SyncFrames, LongDeviceNamesAreCutToSixtyFourBytes) {
    EXPECT_EQ(utf8_prefix(std::string(70, 'x'), 64).size(), 64u);
    EXPECT_EQ(utf8_prefix(std::string(63, 'x') + "é", 64).size(), 63u);
    EXPECT_EQ(utf8_prefix("short", 64), "short");
}

// ---- the worker with the Grayjay transport

std::filesystem::path temp_store(const std::string& name) {
    auto dir = std::filesystem::temp_directory_path() / ("sarn-sync-" + std::to_string(::getpid()) + "-" + name);
    std::filesystem::remove_all(dir);
    return dir / "vorn-sarn" / "grayjay-peers.json";
}

template <typename Pred>
bool wait_for(DeviceSyncHandle& handle, Pred pred, std::vector<PullResult>* pulled = nullptr,
              std::chrono::milliseconds timeout = 10s) {
    const auto give_up = SyncClock::now() + timeout;
    while (SyncClock::now() < give_up) {
        handle.drain_device_sync([&](PullResult r) {
            if (pulled) pulled->push_back(std::move(r));
        });
        if (pred()) return true;
        std::this_thread::sleep_for(5ms);
    }
    return false;
}

TEST(SyncWorker, PairsApprovesPullsAndPushesWithoutReturningRemovedChannels) {
    std::string pushed;
    FakePeer peer({
        [](SyncSession& s) { authorize(s); (void)await_data(s); },  // pairing
        [](SyncSession& s) {                                          // pull
            authorize(s);
            (void)await_data(s);
            send_json(s, 202, subscriptions_json({"https://www.youtube.com/channel/UCa"}, {"UCgone"}));
            send_json(s, 203, R"([{"video":{"url":"https://www.youtube.com/watch?v=v1"}}])");
            (void)await_data(s);
        },
        [&](SyncSession& s) {  // push
            authorize(s);
            if (auto data = await_data(s)) pushed = text_of(data->payload);
        },
    });
    const auto store = temp_store("pair");
    DeviceSyncWorkerOptions options;
    options.timing = kFast;
    auto handle = start_device_sync_worker_with(
        "Vorn Sarn", [] { return std::expected<std::vector<std::uint8_t>, std::string>(SyncBytes(32, 5)); }, store,
        options);
    ASSERT_TRUE(wait_for(handle, [&] { return handle.status_text() == "Paste a Grayjay pairing invite to add your first device."; }));
    EXPECT_EQ(handle.local_key()->size(), 44u);

    ASSERT_TRUE(handle.send(sync_command::Pair{invite_for(peer, "CODE")}));
    ASSERT_TRUE(wait_for(handle, [&] { return handle.status_text() == "Device authenticated. Review its fingerprint and approve access."; }))
        << handle.status_text();
    ASSERT_EQ(handle.peers().size(), 1u);
    const PeerRecord paired = handle.peers()[0];
    EXPECT_EQ(paired.id, peer.public_key());
    EXPECT_EQ(paired.name, "Fake phone");  // as it announced itself
    EXPECT_TRUE(paired.pending_approval);

    ASSERT_TRUE(handle.send(sync_command::Approve{paired.id}));
    ASSERT_TRUE(wait_for(handle, [&] { return handle.status_text() == "Device approved. Sync is ready."; }));

    sync_command::SyncNow now;
    now.channels = {PeerChannel{"https://www.youtube.com/channel/UCgone", {}, "UCgone", "Gone"},
                    PeerChannel{"https://www.youtube.com/channel/UCkept", {}, "UCkept", "Kept"}};
    std::vector<PullResult> pulled;
    ASSERT_TRUE(handle.send(now));
    ASSERT_TRUE(wait_for(handle, [&] { return handle.status_text() == "Device sync is up to date."; }, &pulled))
        << handle.status_text();
    peer.wait();
    ASSERT_EQ(pulled.size(), 1u);
    EXPECT_EQ(pulled[0].subscription_urls, std::vector<std::string>{"https://www.youtube.com/channel/UCa"});
    EXPECT_EQ(pulled[0].history_urls, std::vector<std::string>{"https://www.youtube.com/watch?v=v1"});
    auto json = nlohmann::json::parse(pushed);
    ASSERT_EQ(json["subscriptions"].size(), 1u);
    EXPECT_EQ(json["subscriptions"][0]["channel"]["url"], "https://www.youtube.com/channel/UCkept");
    EXPECT_TRUE(handle.peers()[0].last_sync_at.has_value());

    auto stored = load_peer_store(store);
    ASSERT_TRUE(stored.has_value());
    EXPECT_TRUE((*stored)[0].is_approved());
    handle.send(sync_command::Shutdown{});
    EXPECT_TRUE(wait_for(handle, [&] { return !handle.worker_running(); }));
    std::filesystem::remove_all(store.parent_path().parent_path());
}

// A phone whose reply stalls before its subscriptions package is a failed
// device, not an up-to-date one: its last_error says why, the pass counts it,
// its last sync time stays unset and nothing is pushed to it (one failure, not
// two); the history it did send is still imported.
TEST(SyncWorker, APeerThatSendsNoSubscriptionsFailsThePassButWhatArrivedIsImported) {
    FakePeer peer({
        [](SyncSession& s) { authorize(s); (void)await_data(s); },  // pairing
        [](SyncSession& s) {                                          // pull
            authorize(s);
            (void)await_data(s);
            send_json(s, 203, R"([{"video":{"url":"https://www.youtube.com/watch?v=v9"}}])");
            std::this_thread::sleep_for(1200ms);
        },
    });
    const auto store = temp_store("stalled");
    DeviceSyncWorkerOptions options;
    options.timing = kFast;
    auto handle = start_device_sync_worker_with(
        "Vorn Sarn", [] { return std::expected<std::vector<std::uint8_t>, std::string>(SyncBytes(32, 6)); }, store,
        options);
    ASSERT_TRUE(wait_for(handle, [&] { return handle.status_text() == "Paste a Grayjay pairing invite to add your first device."; }));
    ASSERT_TRUE(handle.send(sync_command::Pair{invite_for(peer, "CODE")}));
    ASSERT_TRUE(wait_for(handle, [&] { return handle.status_text() == "Device authenticated. Review its fingerprint and approve access."; }))
        << handle.status_text();
    ASSERT_TRUE(handle.send(sync_command::Approve{handle.peers()[0].id}));
    ASSERT_TRUE(wait_for(handle, [&] { return handle.status_text() == "Device approved. Sync is ready."; }));

    sync_command::SyncNow now;
    now.subscriptions = {"UCmine"};
    std::vector<PullResult> pulled;
    ASSERT_TRUE(handle.send(now));
    ASSERT_TRUE(wait_for(handle, [&] { return handle.state() != DeviceSyncState::Syncing && !pulled.empty(); }, &pulled))
        << handle.status_text();
    peer.wait();
    EXPECT_EQ(handle.state(), DeviceSyncState::NeedsAttention);
    EXPECT_EQ(handle.status_text(), "1 device operation(s) failed.");
    ASSERT_EQ(handle.peers().size(), 1u);
    EXPECT_EQ(handle.peers()[0].last_error,
              "transport error: the peer's subscriptions did not arrive: io: Resource temporarily unavailable");
    EXPECT_FALSE(handle.peers()[0].last_sync_at.has_value());
    ASSERT_EQ(pulled.size(), 1u);
    EXPECT_TRUE(pulled[0].subscription_urls.empty());
    EXPECT_EQ(pulled[0].history_urls, std::vector<std::string>{"https://www.youtube.com/watch?v=v9"});
    EXPECT_FALSE(pulled[0].incomplete.has_value());

    auto stored = load_peer_store(store);
    ASSERT_TRUE(stored.has_value());
    EXPECT_EQ((*stored)[0].last_error, handle.peers()[0].last_error);
    handle.send(sync_command::Shutdown{});
    EXPECT_TRUE(wait_for(handle, [&] { return !handle.worker_running(); }));
    std::filesystem::remove_all(store.parent_path().parent_path());
}

TEST(SyncWorker, StartFailures) {
    auto short_secret = start_device_sync_worker_with(
        "Vorn Sarn", [] { return std::expected<std::vector<std::uint8_t>, std::string>(SyncBytes(15, 1)); },
        temp_store("short"));
    EXPECT_EQ(short_secret.status_text(), "device key unavailable: host secret broker returned insufficient key material");
    EXPECT_EQ(short_secret.state(), DeviceSyncState::Unavailable);
    EXPECT_FALSE(short_secret.send(sync_command::SyncNow{}));
    auto broker_error = start_device_sync_worker_with(
        "Vorn Sarn", [] { return std::expected<std::vector<std::uint8_t>, std::string>(std::unexpected("no portal")); },
        temp_store("broker"));
    EXPECT_EQ(broker_error.status_text(), "device key unavailable: no portal");
    EXPECT_EQ(device_keypair_from_secret(SyncBytes(31)).error().text, "device key material has an invalid length");

    // The same material always gives the same key.
    auto a = derive_device_keypair(SyncBytes(16, 4));
    auto b = derive_device_keypair(SyncBytes(16, 4));
    EXPECT_EQ(a->public_key(), b->public_key());
    EXPECT_NE(a->public_key(), derive_device_keypair(SyncBytes(16, 5))->public_key());

    const auto store = temp_store("v2");
    std::filesystem::create_directories(store.parent_path());
    std::ofstream(store) << R"({"version":2,"peers":[]})";
    auto v2 = start_device_sync_worker_with(
        "Vorn Sarn", [] { return std::expected<std::vector<std::uint8_t>, std::string>(SyncBytes(32, 1)); }, store);
    ASSERT_TRUE(wait_for(v2, [&] { return v2.state() == DeviceSyncState::NeedsAttention; }));
    EXPECT_EQ(v2.status_text(), "peer store error: unsupported peer store version");
    EXPECT_TRUE(wait_for(v2, [&] { return !v2.worker_running(); }));
    std::filesystem::remove_all(store.parent_path().parent_path());
}

}  // namespace
