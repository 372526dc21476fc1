// Pure pieces of device sync: base64, invites, packets and streams, gzip,
// packages, the peer store file and the handle's queues.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "sarn/sync/base64.h"
#include "sarn/sync/handle.h"
#include "sarn/sync/invite.h"
#include "sarn/sync/packages.h"
#include "sarn/sync/packet.h"
#include "sarn/sync/peer_store.h"

namespace {

using namespace sarn;

SyncBytes bytes_of(std::string_view text) { return SyncBytes(text.begin(), text.end()); }

const std::string kKey = encode_base64(SyncBytes(32, 0xAB));

std::string url_safe_unpadded(std::string_view text) {
    std::string b64 = encode_base64(bytes_of(text));
    for (char& c : b64) {
        if (c == '+') c = '-';
        if (c == '/') c = '_';
    }
    while (!b64.empty() && b64.back() == '=') b64.pop_back();
    return b64;
}

std::string invite_json(const std::string& key, const std::string& addresses, const std::string& port,
                        const std::string& extra = "") {
    return R"({"publicKey":")" + key + R"(","addresses":)" + addresses + R"(,"port":)" + port + extra + "}";
}

TEST(SyncBase64, DecodesAllFourVariantsAndRefusesTheRest) {
    const SyncBytes data = {0xfb, 0xff, 0xbf, 0x01};
    const char* accepted[] = {"+/+/AQ==", "+/+/AQ", "-_-_AQ==", "-_-_AQ", "  +/+/AQ==\n"};
    for (const char* text : accepted) EXPECT_EQ(decode_base64_any(text).value(), data) << text;
    const char* refused[] = {"+/+/AQ=", "+/-/AQ==x", "!!!!", "+/+/A"};
    for (const char* text : refused) {
        auto decoded = decode_base64_any(text);
        ASSERT_FALSE(decoded.has_value()) << text;
        EXPECT_EQ(decoded.error().display(), "pairing failed: invalid base64 value");
    }
    EXPECT_EQ(encode_base64(data), "+/+/AQ==");
    EXPECT_EQ(kKey.size(), 44u);
}

TEST(SyncInvite, AcceptsEveryForm) {
    const std::string json = invite_json(kKey, R"(["192.168.1.5","phone.local"])", "12315", R"(,"pairingCode":"ABCD1234")");
    // Standard base64 of an invite may itself hold "/" (from a "?" or a
    // non-ASCII character in the JSON): it is not a path.
    const std::string questioning = invite_json(kKey, R"(["192.168.1.5","phone.local"])", "12315", R"(,"pairingCode":"ABCD1234","x":"???")");
    const std::string slashed = encode_base64(bytes_of(questioning));
    ASSERT_NE(slashed.find('/'), std::string::npos);
    const std::string forms[] = {
        json,
        "  \n" + json + "\r\n ",
        "\u00a0\u3000" + json + "\u2029",  // Unicode white space around it
        encode_base64(bytes_of(json)),
        slashed,
        url_safe_unpadded(json),
        "grayjay://sync/" + url_safe_unpadded(json),
        "prefix:" + encode_base64(bytes_of(json)),
    };
    for (const std::string& form : forms) {
        auto info = parse_pairing_invite(form);
        ASSERT_TRUE(info.has_value()) << form << " -> " << info.error().display();
        EXPECT_EQ(info->public_key, kKey);
        EXPECT_EQ(info->addresses, (std::vector<std::string>{"192.168.1.5", "phone.local"}));
        EXPECT_EQ(info->port, 12315);
        EXPECT_EQ(info->pairing_code, "ABCD1234");
    }
}

TEST(SyncInvite, RefusesEveryMalformedInvite) {
    const std::string key31 = encode_base64(SyncBytes(31, 1));
    const std::string nine = R"(["a","b","c","d","e","f","g","h","i"])";
    const std::string long_address = "[\"" + std::string(256, 'a') + "\"]";
    const std::string long_code = ",\"pairingCode\":\"" + std::string(1025, 'c') + "\"";
    const std::string malformed = "pairing failed: pairing metadata is malformed or exceeds its bounds";
    struct Case {
        std::string invite;
        std::string error;  // display text, or its prefix when ending in "*"
    };
    const Case cases[] = {
        {"", "pairing failed: pairing invite is empty or too large"},
        {"   \n", "pairing failed: pairing invite is empty or too large"},
        {std::string(16385, 'A'), "pairing failed: pairing invite is empty or too large"},
        {"not base64 at all!", "pairing failed: invalid base64 value"},
        {"grayjay://sync/", "pairing failed: unrecognized pairing blob: *"},
        {encode_base64(bytes_of("[1,2,3]")), "pairing failed: unrecognized pairing blob: *"},
        {encode_base64(bytes_of(R"({"addresses":["a"],"port":1})")), "pairing failed: unrecognized pairing blob: *"},
        {invite_json(key31, R"(["a"])", "1"), malformed},
        {invite_json("%%%", R"(["a"])", "1"), "pairing failed: invalid base64 value"},
        {invite_json(kKey, "[]", "1"), malformed},
        {invite_json(kKey, nine, "1"), malformed},
        {invite_json(kKey, R"([""])", "1"), malformed},
        {invite_json(kKey, long_address, "1"), malformed},
        {invite_json(kKey, R"(["a"])", "0"), malformed},
        {invite_json(kKey, R"(["a"])", "65536"), malformed},
        {invite_json(kKey, R"(["a"])", "-1"), malformed},
        {invite_json(kKey, R"(["a"])", "1", long_code), malformed},
    };
    for (const Case& c : cases) {
        auto info = parse_pairing_invite(c.invite);
        ASSERT_FALSE(info.has_value()) << c.invite.substr(0, 80);
        const std::string text = info.error().display();
        if (c.error.ends_with('*')) {
            EXPECT_TRUE(text.starts_with(c.error.substr(0, c.error.size() - 1))) << text;
        } else {
            EXPECT_EQ(text, c.error) << c.invite.substr(0, 80);
        }
    }
    // The size bound is on the trimmed text: 16384 bytes is decoded (and fails later).
    auto at_bound = parse_pairing_invite(std::string(16384, 'A'));
    EXPECT_NE(at_bound.error().text, "pairing invite is empty or too large");
}

TEST(SyncPackets, EncodeAndParseWithBadInputTable) {
    const SyncBytes packet = encode_packet(4, 202, 1, bytes_of("xyz"));
    EXPECT_EQ(packet, (SyncBytes{6, 0, 0, 0, 4, 202, 1, 'x', 'y', 'z'}));
    auto parsed = parse_packet(packet);
    ASSERT_TRUE(parsed.has_value());
    EXPECT_EQ(parsed->payload, bytes_of("xyz"));

    EXPECT_EQ(parse_packet(SyncBytes(6, 0)).error().text(), "packet shorter than header (7 bytes)");
    EXPECT_EQ(parse_packet(SyncBytes{9, 0, 0, 0, 4, 0, 0, 1}).error().text(),
              "incomplete packet: size field 9 != actual 4");
}

struct Sent {
    std::vector<SyncPacket> packets;
};

Sent split(std::size_t size, std::uint32_t& next_id) {
    Sent sent;
    SyncBytes payload(size);
    for (std::size_t i = 0; i < size; ++i) payload[i] = static_cast<std::uint8_t>(i * 7);
    auto r = encode_payload_packets(SyncOpcode::Data, 203, payload, false, next_id, [&](SyncByteView packet) {
        EXPECT_LE(packet.size() + 16, kMaxFrameBytes);
        sent.packets.push_back(*parse_packet(packet));
        return std::expected<void, DeviceSyncError>{};
    });
    EXPECT_TRUE(r.has_value());
    return sent;
}

TEST(SyncStreams, LargePayloadsSplitAtTheBoundsAndReassemble) {
    std::uint32_t next_id = 0;
    EXPECT_EQ(split(65512, next_id).packets.size(), 1u);
    EXPECT_EQ(next_id, 0u);

    auto two = split(65513, next_id);
    ASSERT_EQ(two.packets.size(), 2u);
    EXPECT_EQ(two.packets[0].subopcode, 0);  // StreamStart
    EXPECT_EQ(two.packets[0].payload.size(), 11u + 65501u);
    EXPECT_EQ(two.packets[1].subopcode, 2);  // StreamEnd
    EXPECT_EQ(two.packets[1].payload.size(), 8u + 12u);
    EXPECT_EQ(parse_stream_segment(two.packets[1].payload)->word, 65501u);

    auto three = split(65501 + 65504 + 1, next_id);
    ASSERT_EQ(three.packets.size(), 3u);
    EXPECT_EQ(three.packets[1].subopcode, 1);
    EXPECT_EQ(three.packets[1].payload.size(), 8u + 65504u);
    EXPECT_EQ(three.packets[2].payload.size(), 8u + 1u);
    EXPECT_EQ(parse_stream_segment(three.packets[2].payload)->id, 1u);  // ids 0 then 1
    EXPECT_EQ(next_id, 2u);

    StreamReassembler streams;
    std::optional<SyncPacket> done;
    for (const SyncPacket& p : three.packets) {
        auto r = streams.handle(p.subopcode, p.payload);
        ASSERT_TRUE(r.has_value()) << r.error().text;
        if (*r) done = std::move(**r);
    }
    ASSERT_TRUE(done.has_value());
    EXPECT_EQ(done->opcode, 4);
    EXPECT_EQ(done->subopcode, 203);
    ASSERT_EQ(done->payload.size(), 65501u + 65504u + 1u);
    EXPECT_EQ(done->payload[70000], static_cast<std::uint8_t>(70000 * 7));
    EXPECT_EQ(streams.open_streams(), 0u);

    SyncBytes huge(kMaxSyncPayload + 1);
    auto too_big = encode_payload_packets(SyncOpcode::Data, 202, huge, false, next_id,
                                          [](SyncByteView) { return std::expected<void, DeviceSyncError>{}; });
    EXPECT_EQ(too_big.error().text, "outgoing sync payload exceeds resource bound");

    // 8 MiB that gzip cannot shrink grows past the bound once encoded.
    SyncBytes noise_bytes(kMaxSyncPayload);
    std::uint32_t x = 2463534242u;
    for (auto& b : noise_bytes) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = static_cast<std::uint8_t>(x);
    }
    auto grown = encode_payload_packets(SyncOpcode::Data, 202, noise_bytes, true, next_id,
                                        [](SyncByteView) { return std::expected<void, DeviceSyncError>{}; });
    EXPECT_EQ(grown.error().text, "encoded sync payload exceeds resource bound");
}

SyncBytes segment(std::uint32_t id, std::uint32_t word, SyncBytes rest) {
    SyncBytes out;
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(id >> (8 * i)));
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(word >> (8 * i)));
    out.insert(out.end(), rest.begin(), rest.end());
    return out;
}

TEST(SyncStreams, BadSegmentsTable) {
    const SyncBytes header = {4, 202, 0};
    struct Step {
        std::uint8_t sub;
        SyncBytes payload;
    };
    struct Case {
        const char* name;
        std::vector<Step> steps;
        const char* error;  // of the last step
    };
    auto start = [&](std::uint32_t id, std::uint32_t total, std::size_t first = 0) {
        SyncBytes rest = header;
        rest.resize(rest.size() + first, 1);
        return Step{0, segment(id, total, rest)};
    };
    const Case cases[] = {
        {"short segment", {{0, SyncBytes(7)}}, "stream segment too short"},
        {"start without header", {{0, segment(1, 5, {4, 202})}}, "stream segment too short"},
        {"total over 8 MiB", {start(1, kMaxSyncPayload + 1)}, "stream declaration exceeds resource bounds"},
        {"first part over total", {start(1, 2, 3)}, "stream declaration exceeds resource bounds"},
        {"fifth stream", {start(1, 10), start(2, 10), start(3, 10), start(4, 10), start(5, 10)},
         "stream declaration exceeds resource bounds"},
        {"reused id", {start(1, 10), start(1, 10)}, "stream declaration exceeds resource bounds"},
        {"data unknown id", {{1, segment(9, 0, {1})}}, "stream data for unknown id"},
        {"data offset", {start(1, 10, 2), {1, segment(1, 3, {1})}}, "stream offset mismatch"},
        {"data too long", {start(1, 4, 2), {1, segment(1, 2, {1, 2, 3})}}, "stream data exceeds declared size"},
        {"end unknown id", {{2, segment(9, 0, {1})}}, "stream end for unknown id"},
        {"end offset", {start(1, 10, 2), {2, segment(1, 0, {1})}}, "stream offset mismatch at end"},
        {"end too long", {start(1, 4, 2), {2, segment(1, 2, {1, 2, 3})}}, "stream end exceeds declared size"},
        {"end short", {start(1, 10, 2), {2, segment(1, 2, {1})}}, "reassembled stream size mismatch"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        StreamReassembler streams;
        for (std::size_t i = 0; i < c.steps.size(); ++i) {
            auto r = streams.handle(c.steps[i].sub, c.steps[i].payload);
            if (i + 1 < c.steps.size()) {
                ASSERT_TRUE(r.has_value()) << r.error().text;
            } else {
                ASSERT_FALSE(r.has_value());
                EXPECT_EQ(r.error().text, c.error);
            }
        }
    }
    StreamReassembler streams;
    EXPECT_TRUE(streams.handle(7, SyncBytes(3)).has_value());  // unknown stream subopcode: ignored
}

TEST(SyncGzip, RoundTripsRawPassThroughAndBoundsBombs) {
    const SyncBytes text = bytes_of(std::string(100000, 'a') + "tail");
    auto gz = gzip_payload(text);
    ASSERT_TRUE(gz.has_value());
    EXPECT_EQ((*gz)[0], 0x1f);
    EXPECT_EQ(decompress_payload(SyncPacket{4, 202, 1, *gz}).value(), text);
    EXPECT_EQ(decompress_payload(SyncPacket{4, 202, 5, text}).value(), text);  // unknown encoding: raw

    // Exactly 8 MiB decompresses; one byte more is refused without growing past the bound.
    auto at_bound = gzip_payload(SyncBytes(kMaxSyncPayload, 0));
    EXPECT_EQ(decompress_payload(SyncPacket{4, 202, 1, *at_bound})->size(), kMaxSyncPayload);
    auto bomb = gzip_payload(SyncBytes(64 * 1024 * 1024, 0));
    ASSERT_TRUE(bomb.has_value());
    EXPECT_LT(bomb->size(), 100000u);
    auto refused = decompress_payload(SyncPacket{4, 202, 1, *bomb});
    ASSERT_FALSE(refused.has_value());
    EXPECT_EQ(refused.error().text, "decompressed sync payload exceeds resource bound");

    SyncBytes corrupt = *gz;
    corrupt[corrupt.size() / 2] ^= 0xff;
    corrupt[12] ^= 0xff;
    EXPECT_TRUE(decompress_payload(SyncPacket{4, 202, 1, corrupt}).error().text.starts_with("io: "));
    SyncBytes truncated(gz->begin(), gz->begin() + 20);
    EXPECT_TRUE(decompress_payload(SyncPacket{4, 202, 1, truncated}).error().text.starts_with("io: "));
}

TEST(SyncPackages, ExactJsonOfWhatWeSend) {
    EXPECT_EQ(encode_state_exchange("KEY=").value(), R"({"publicKey":"KEY=","lastHistory":-1,"lastSubscription":-1})");
    EXPECT_EQ(encode_subscriptions_package({}, {}, 5).value(), R"({"subscriptions":[],"subscriptionRemovals":{}})");
    EXPECT_EQ(encode_subscriptions_package({PeerChannel{"abc", {}, "abc", "abc"}}, {}, 1700000000).value(),
              R"({"subscriptions":[{"channel":{"id":{"platform":"YouTube","value":"abc","pluginId":null,)"
              R"("claimType":0,"claimFieldType":-1},"name":"abc","thumbnail":null,"banner":null,"subscribers":0,)"
              R"("description":null,"url":"abc","links":{},"urlAlternatives":[]},"creationTime":1700000000}],)"
              R"("subscriptionRemovals":{}})");
}

TEST(SyncPackages, DecodesWhatGrayjaySendsAndIgnoresTheBroken) {
    const std::string channel = R"({"id":{"platform":"YouTube","value":"UC1"},"name":"One","url":"https://www.youtube.com/channel/UC1","extra":1})";
    auto package = decode_subscriptions_package(bytes_of(
        R"({"subscriptions":[{"channel":)" + channel + R"(,"creationTime":5}],"subscriptionRemovals":{"https://www.youtube.com/channel/UC9":17}})"));
    ASSERT_TRUE(package.has_value());
    EXPECT_EQ(package->urls, std::vector<std::string>{"https://www.youtube.com/channel/UC1"});
    EXPECT_EQ(package->removals, std::vector<std::string>{"https://www.youtube.com/channel/UC9"});
    EXPECT_TRUE(decode_subscriptions_package(bytes_of(R"({"subscriptions":[]})")).has_value());

    const char* broken[] = {
        R"({"subscriptionRemovals":{}})",
        R"({"subscriptions":[{"creationTime":1}]})",
        R"({"subscriptions":[{"channel":{"id":{"platform":"YouTube"},"name":"x"}}]})",
        R"({"subscriptions":[{"channel":{"id":{},"name":"x","url":"u"}}]})",
        R"({"subscriptions":[],"subscriptionRemovals":{"a":"b"}})",
        R"({"subscriptions":[{"channel":{"id":{"platform":"Y"},"name":"x","url":"u","subscribers":"many"}}]})",
        "not json",
        "",
    };
    for (const char* text : broken) EXPECT_FALSE(decode_subscriptions_package(bytes_of(text)).has_value()) << text;

    auto history = decode_history_package(bytes_of(
        R"([{"video":{"url":"https://youtu.be/a","name":"A"},"date":1},{"video":null},{},{"video":{"name":"x"}},{"video":{"url":"https://youtu.be/b"}}])"));
    EXPECT_EQ(history.value(), (std::vector<std::string>{"https://youtu.be/a", "https://youtu.be/b"}));
    EXPECT_FALSE(decode_history_package(bytes_of(R"({"video":{}})")).has_value());
    EXPECT_FALSE(decode_history_package(bytes_of(R"([1])")).has_value());
}

class PeerStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir = std::filesystem::temp_directory_path() / ("sarn-peers-" + std::to_string(::getpid()) + "-" +
                                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
        path = dir / "vorn-sarn" / "grayjay-peers.json";
    }
    void TearDown() override {
        std::error_code ec;
        std::filesystem::permissions(dir / "vorn-sarn", std::filesystem::perms::owner_all, ec);
        std::filesystem::remove_all(dir, ec);
    }
    void write(const std::string& text) {
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << text;
    }
    static PeerRecord record(std::string id) {
        PeerRecord r;
        r.id = std::move(id);
        r.name = "Grayjay " + r.id.substr(0, 8);
        r.descriptor = PeerDescriptor{r.id, {"192.168.1.2"}, 12315};
        r.approved_at = 1700000000;
        r.pending_approval = true;
        return r;
    }
    std::filesystem::path dir;
    std::filesystem::path path;
};

TEST_F(PeerStoreTest, SavesAtomicallyAndLoadsBack) {
    EXPECT_TRUE(load_peer_store(path)->empty());
    std::vector<PeerRecord> peers = {record(kKey), record("other")};
    peers[1].revoked_at = 5;
    peers[1].last_error = "transport error: io: x";
    ASSERT_TRUE(save_peer_store(path, peers).has_value());
    EXPECT_EQ(load_peer_store(path).value(), peers);
    EXPECT_EQ(std::filesystem::status(path.parent_path()).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_all);
    for (const auto& entry : std::filesystem::directory_iterator(path.parent_path())) {
        EXPECT_FALSE(entry.path().filename().string().starts_with(".peers-"));
    }
    std::ifstream in(path);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_TRUE(text.starts_with("{\n  \"version\": 1,\n  \"peers\": [\n    {\n      \"id\": ")) << text;
    EXPECT_EQ(save_peer_store("grayjay-peers.json", peers).error().text, "peer store has no parent");
}

TEST_F(PeerStoreTest, OptionalFieldsDefault) {
    write(R"({"version":1,"peers":[{"id":"a","name":"n","descriptor":{"public_key":"a","addresses":["h"],"port":1},"approved_at":3}]})");
    auto peers = load_peer_store(path);
    ASSERT_TRUE(peers.has_value());
    ASSERT_EQ(peers->size(), 1u);
    EXPECT_TRUE((*peers)[0].is_approved());
    EXPECT_FALSE((*peers)[0].last_sync_at || (*peers)[0].last_error);
}

TEST_F(PeerStoreTest, CorruptOrOversizedStoresAreRefusedAndKept) {
    const std::string ok_record = R"({"id":"a","name":"n","descriptor":{"public_key":"a","addresses":["h"],"port":1},"approved_at":3})";
    std::string many = R"({"version":1,"peers":[)";
    for (int i = 0; i < 65; ++i) many += (i ? "," : "") + ok_record;
    many += "]}";
    struct Case {
        std::string content;
        std::string error;  // exact, or prefix ending in "*"
    };
    const Case cases[] = {
        {R"({"version":2,"peers":[]})", "unsupported peer store version"},
        {"{", "[json.exception.parse_error*"},
        {R"({"version":1})", "missing field*"},
        {R"({"version":1,"peers":[{"id":"a","name":"n","descriptor":{"public_key":"a","addresses":["h"],"port":1}}]})", "missing field `approved_at`"},
        {R"({"version":1,"peers":[{"id":"a","name":"n","descriptor":{"public_key":"a","addresses":[""],"port":1},"approved_at":3}]})", "peer store exceeds its structural bounds"},
        {R"({"version":1,"peers":[{"id":")" + std::string(257, 'i') + R"(","name":"n","descriptor":{"public_key":"a","addresses":["h"],"port":1},"approved_at":3}]})", "peer store exceeds its structural bounds"},
        {R"({"version":1,"peers":[{"id":"a","name":"n","descriptor":{"public_key":"a","addresses":["1","2","3","4","5","6","7","8","9"],"port":1},"approved_at":3}]})", "peer store exceeds its structural bounds"},
        {R"({"version":1,"peers":[{"id":"a","name":"n","descriptor":{"public_key":"a","addresses":["h"],"port":1},"approved_at":-3}]})", "invalid type*"},
        {many, "peer store exceeds its structural bounds"},
    };
    for (const Case& c : cases) {
        write(c.content);
        auto loaded = load_peer_store(path);
        ASSERT_FALSE(loaded.has_value()) << c.content.substr(0, 60);
        EXPECT_EQ(loaded.error().kind, DeviceSyncErrorKind::PeerStore);
        if (c.error.ends_with('*')) {
            EXPECT_TRUE(loaded.error().text.starts_with(c.error.substr(0, c.error.size() - 1))) << loaded.error().text;
        } else {
            EXPECT_EQ(loaded.error().text, c.error);
        }
        std::ifstream in(path);
        EXPECT_EQ(std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>()), c.content);
    }

    // Size bound: exactly 1 MiB passes the size test (then parses), one byte more fails it.
    std::string padded = R"({"version":1,"peers":[]})";
    padded.resize(kPeerStoreMaxBytes, ' ');
    write(padded);
    EXPECT_TRUE(load_peer_store(path).has_value());
    write(padded + " ");
    EXPECT_EQ(load_peer_store(path).error().text, "invalid peer store");
}

TEST_F(PeerStoreTest, DirectoriesAndFifosAreRefusedWithoutBlocking) {
    std::filesystem::create_directories(path);
    EXPECT_EQ(load_peer_store(path).error().text, "invalid peer store");
    std::filesystem::remove(path);
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    EXPECT_EQ(load_peer_store(path).error().text, "invalid peer store");
}

TEST_F(PeerStoreTest, FailedSaveKeepsTheOldFile) {
    ASSERT_TRUE(save_peer_store(path, {record("first")}).has_value());
    // The target's place is taken by a directory: the rename fails and the
    // temporary file is removed again.
    std::filesystem::path taken = path.parent_path() / "taken.json";
    std::filesystem::create_directories(taken / "inside");
    auto failed = save_peer_store(taken, {record("x")});
    ASSERT_FALSE(failed.has_value());
    EXPECT_EQ(failed.error().kind, DeviceSyncErrorKind::PeerStore);
    for (const auto& entry : std::filesystem::directory_iterator(path.parent_path())) {
        EXPECT_FALSE(entry.path().filename().string().starts_with(".peers-")) << entry.path();
    }
    // A parent that is a file cannot be created.
    std::ofstream(dir / "blocked") << "file";
    EXPECT_FALSE(save_peer_store(dir / "blocked" / "grayjay-peers.json", {record("x")}).has_value());
    EXPECT_EQ(load_peer_store(path)->front().id, "first");
}

TEST(SyncHandle, OfflineHandleRefusesCommands) {
    auto handle = DeviceSyncHandle::unavailable();
    EXPECT_EQ(handle.status_text(), "Start the live app to initialize device sync.");
    EXPECT_EQ(handle.state(), DeviceSyncState::Unavailable);
    EXPECT_FALSE(handle.send(sync_command::SyncNow{}));
    EXPECT_FALSE(handle.drain_device_sync({}));
    EXPECT_EQ(device_sync_state_label(DeviceSyncState::Pairing), "Pairing…");
}

TEST(SyncHandle, TakePairingInviteTrimsOnceAndWipes) {
    auto handle = DeviceSyncHandle::unavailable();
    {
        std::lock_guard lock(handle.pending_invite()->mutex);
        handle.pending_invite()->text = "  grayjay://sync/abc \n";
    }
    const char* storage = handle.pending_invite()->text.data();
    const std::size_t capacity = handle.pending_invite()->text.capacity();
    EXPECT_EQ(handle.take_pairing_invite(), "grayjay://sync/abc");
    EXPECT_EQ(handle.take_pairing_invite(), "");
    EXPECT_TRUE(handle.pending_invite()->text.empty());
    if (handle.pending_invite()->text.data() == storage) {
        for (std::size_t i = 0; i < capacity; ++i) EXPECT_EQ(storage[i], '\0');
    }
}

TEST(SyncHandle, BoundedQueueDropsTheNinthCommandAndDrainDropsEqualStatus) {
    auto [commands, command_rx] = make_queue<SyncCommand>(kSyncCommandCapacity);
    auto [events, event_rx] = make_queue<SyncWorkerEvent>(0);
    DeviceSyncHandle handle(std::move(event_rx), std::move(commands), "Loading approved devices…", DeviceSyncState::Ready);
    for (int i = 0; i < 8; ++i) EXPECT_TRUE(handle.send(sync_command::SyncNow{})) << i;
    EXPECT_FALSE(handle.send(sync_command::SyncNow{}));

    SyncStatusEvent status{"KEY", "Device sync is up to date.", {}, DeviceSyncState::Ready};
    events.try_send(sync_event::Status{status});
    events.try_send(sync_event::Pulled{PullResult{{"a"}, {}, {}, {}}});
    std::vector<PullResult> imported;
    EXPECT_TRUE(handle.drain_device_sync([&](PullResult r) { imported.push_back(std::move(r)); }));
    EXPECT_EQ(handle.local_key(), "KEY");
    ASSERT_EQ(imported.size(), 1u);
    events.try_send(sync_event::Status{status});
    EXPECT_FALSE(handle.drain_device_sync({}));

    // Once the worker's end of the queue is gone, sending fails.
    EXPECT_TRUE(handle.worker_running());
    { auto gone = std::move(command_rx); }
    EXPECT_FALSE(handle.worker_running());
    EXPECT_FALSE(handle.send(sync_command::SyncNow{}));
}

TEST(SyncHandle, DemoHandleShowsTwoSampleDevices) {
    auto handle = demo_device_sync_handle();
    EXPECT_EQ(handle.state(), DeviceSyncState::Ready);
    EXPECT_EQ(handle.status_text(), "Two devices are ready; one awaits your approval.");
    ASSERT_EQ(handle.peers().size(), 2u);
    EXPECT_EQ(handle.local_key()->size(), 20u);
    EXPECT_EQ(handle.peers()[0].id.size(), 17u);
    EXPECT_TRUE(handle.peers()[0].is_approved());
    EXPECT_EQ(handle.peers()[1].name, "Living-room tablet");
    EXPECT_TRUE(handle.peers()[1].pending_approval);
    EXPECT_FALSE(handle.peers()[1].last_sync_at.has_value());
    EXPECT_FALSE(handle.send(sync_command::Shutdown{}));
}

}  // namespace
