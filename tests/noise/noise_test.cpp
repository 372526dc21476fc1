#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>

#include "noise/cipher_state.h"
#include "noise/handshake.h"

namespace {

using noise::Bytes;

Bytes hex(const std::string& text) {
    Bytes out;
    for (std::size_t i = 0; i + 1 < text.size(); i += 2) {
        out.push_back(static_cast<std::uint8_t>(std::stoi(text.substr(i, 2), nullptr, 16)));
    }
    return out;
}

noise::KeyPair pair_of(const std::string& private_hex) {
    auto pair = noise::KeyPair::from_private(hex(private_hex));
    EXPECT_TRUE(pair.has_value());
    return *pair;
}

noise::PublicKey public_of(const std::string& text) {
    noise::PublicKey key{};
    Bytes bytes = hex(text);
    std::copy(bytes.begin(), bytes.end(), key.begin());
    return key;
}

nlohmann::json load_vectors() {
    std::ifstream in(VORN_SOURCE_DIR "/tests/noise/cacophony-ik-n.json");
    return nlohmann::json::parse(in);
}

// Runs one published vector: both sides, every message, the handshake hash.
void run_vector(const nlohmann::json& v) {
    const std::string name = v["protocol_name"];
    const auto pattern = name == "Noise_IK_25519_ChaChaPoly_BLAKE2b" ? noise::Pattern::IK : noise::Pattern::N;
    ASSERT_EQ(noise::protocol_name(pattern), name);

    noise::HandshakeConfig init_cfg;
    init_cfg.pattern = pattern;
    init_cfg.role = noise::Role::Initiator;
    init_cfg.prologue = hex(v["init_prologue"]);
    if (v.contains("init_static")) init_cfg.local_static = pair_of(v["init_static"]);
    init_cfg.local_ephemeral = pair_of(v["init_ephemeral"]);
    init_cfg.remote_static = public_of(v["init_remote_static"]);

    noise::HandshakeConfig resp_cfg;
    resp_cfg.pattern = pattern;
    resp_cfg.role = noise::Role::Responder;
    resp_cfg.prologue = hex(v["resp_prologue"]);
    resp_cfg.local_static = pair_of(v["resp_static"]);
    if (v.contains("resp_ephemeral")) resp_cfg.local_ephemeral = pair_of(v["resp_ephemeral"]);
    ASSERT_EQ(resp_cfg.local_static->public_key(), *init_cfg.remote_static);

    auto initiator = noise::HandshakeState::create(init_cfg);
    auto responder = noise::HandshakeState::create(resp_cfg);
    ASSERT_TRUE(initiator && responder);

    std::optional<noise::TransportState> init_transport;
    std::optional<noise::TransportState> resp_transport;
    const bool one_way = pattern == noise::Pattern::N;
    std::size_t index = 0;
    for (const auto& message : v["messages"]) {
        SCOPED_TRACE(name + " message " + std::to_string(index));
        const Bytes payload = hex(message["payload"]);
        const Bytes expected = hex(message["ciphertext"]);
        const bool from_initiator = one_way || index % 2 == 0;
        if (!init_transport) {
            auto& writer = from_initiator ? *initiator : *responder;
            auto& reader = from_initiator ? *responder : *initiator;
            auto written = writer.write_message(payload);
            ASSERT_TRUE(written.has_value());
            EXPECT_EQ(*written, expected);
            auto read = reader.read_message(expected);
            ASSERT_TRUE(read.has_value());
            EXPECT_EQ(*read, payload);
            if (initiator->is_finished() && responder->is_finished()) {
                EXPECT_EQ(Bytes(initiator->handshake_hash().begin(), initiator->handshake_hash().end()),
                          hex(v["handshake_hash"]));
                EXPECT_EQ(initiator->handshake_hash(), responder->handshake_hash());
                init_transport = *initiator->split();
                resp_transport = *responder->split();
            }
        } else {
            auto& send = from_initiator ? init_transport->send : resp_transport->send;
            auto& receive = from_initiator ? resp_transport->receive : init_transport->receive;
            auto ciphertext = send.encrypt({}, payload);
            ASSERT_TRUE(ciphertext.has_value());
            EXPECT_EQ(*ciphertext, expected);
            auto plaintext = receive.decrypt({}, expected);
            ASSERT_TRUE(plaintext.has_value());
            EXPECT_EQ(*plaintext, payload);
        }
        ++index;
    }
    EXPECT_TRUE(init_transport.has_value());
}

TEST(NoiseVectors, PublishedIkAndNVectorsMatchEveryMessageAndTheHandshakeHash) {
    auto vectors = load_vectors();
    ASSERT_EQ(vectors["vectors"].size(), 2u);
    for (const auto& v : vectors["vectors"]) run_vector(v);
}

TEST(NoiseVectors, ResponderLearnsTheInitiatorsStaticKey) {
    auto vectors = load_vectors();
    const auto& v = vectors["vectors"][0];
    noise::HandshakeConfig init_cfg{noise::Pattern::IK, noise::Role::Initiator, {}, pair_of(v["init_static"]),
                                    public_of(v["init_remote_static"]), std::nullopt};
    noise::HandshakeConfig resp_cfg{noise::Pattern::IK, noise::Role::Responder, {}, pair_of(v["resp_static"]),
                                    std::nullopt, std::nullopt};
    auto a = noise::HandshakeState::create(init_cfg);
    auto b = noise::HandshakeState::create(resp_cfg);
    ASSERT_TRUE(a && b);
    auto m1 = a->write_message({});
    ASSERT_TRUE(m1 && b->read_message(*m1));
    ASSERT_TRUE(b->remote_static().has_value());
    EXPECT_EQ(*b->remote_static(), init_cfg.local_static->public_key());
    auto m2 = b->write_message({});
    ASSERT_TRUE(m2 && a->read_message(*m2));
    EXPECT_TRUE(a->is_finished() && b->is_finished());
}

TEST(NoiseHandshake, RefusesOutOfTurnShortAndTamperedMessages) {
    auto server = noise::KeyPair::generate();
    auto client = noise::KeyPair::generate();
    auto make = [&](noise::Role role) {
        noise::HandshakeConfig cfg;
        cfg.role = role;
        cfg.local_static = role == noise::Role::Initiator ? client : server;
        if (role == noise::Role::Initiator) cfg.remote_static = server.public_key();
        return *noise::HandshakeState::create(cfg);
    };
    {
        auto responder = make(noise::Role::Responder);
        EXPECT_EQ(responder.write_message({}).error().code, noise::ErrorCode::InvalidState);
        auto initiator = make(noise::Role::Initiator);
        EXPECT_EQ(initiator.read_message(Bytes(96)).error().code, noise::ErrorCode::InvalidState);
        EXPECT_FALSE(initiator.split().has_value());
    }
    const std::size_t short_lengths[] = {0, 31, 32, 79, 95};
    for (std::size_t length : short_lengths) {
        SCOPED_TRACE(length);
        auto initiator = make(noise::Role::Initiator);
        auto message = *initiator.write_message({});
        ASSERT_EQ(message.size(), 96u);
        auto responder = make(noise::Role::Responder);
        message.resize(length);
        EXPECT_FALSE(responder.read_message(message).has_value());
        // A failed state stays failed.
        EXPECT_FALSE(responder.read_message(Bytes(96)).has_value());
    }
    {
        auto initiator = make(noise::Role::Initiator);
        auto message = *initiator.write_message({});
        message[40] ^= 1;
        auto responder = make(noise::Role::Responder);
        EXPECT_EQ(responder.read_message(message).error().code, noise::ErrorCode::Decrypt);
    }
    {
        // A responder that holds a different static key cannot read the message.
        auto initiator = make(noise::Role::Initiator);
        auto message = *initiator.write_message({});
        noise::HandshakeConfig cfg;
        cfg.role = noise::Role::Responder;
        cfg.local_static = noise::KeyPair::generate();
        auto stranger = *noise::HandshakeState::create(cfg);
        EXPECT_FALSE(stranger.read_message(message).has_value());
    }
}

TEST(NoiseCipherState, NonceLimitTagAndBufferChecks) {
    noise::Key key{};
    key[0] = 7;
    noise::CipherState a;
    noise::CipherState b;
    a.initialize_key(key);
    b.initialize_key(key);
    a.set_nonce(noise::CipherState::kMaxNonce - 1);
    b.set_nonce(noise::CipherState::kMaxNonce - 1);
    const Bytes text = {1, 2, 3};
    auto last = a.encrypt({}, text);
    ASSERT_TRUE(last.has_value());
    EXPECT_EQ(*b.decrypt({}, *last), text);
    EXPECT_EQ(a.encrypt({}, text).error().code, noise::ErrorCode::NonceExhausted);
    EXPECT_EQ(b.decrypt({}, *last).error().code, noise::ErrorCode::NonceExhausted);

    noise::CipherState c;
    c.initialize_key(key);
    for (std::size_t size : {0u, 1u, 15u}) {
        EXPECT_EQ(c.decrypt({}, Bytes(size)).error().code, noise::ErrorCode::Decrypt) << size;
    }
    EXPECT_EQ(c.nonce(), 0u);  // failed decryptions do not consume a nonce
    std::array<std::uint8_t, 18> small{};
    EXPECT_EQ(c.encrypt_with_ad({}, text, small).error().code, noise::ErrorCode::BufferTooSmall);
}

}  // namespace
