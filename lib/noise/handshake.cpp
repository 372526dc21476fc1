#include "noise/handshake.h"

#include <sodium.h>

#include <cstring>

namespace noise {
namespace {

Error state_error(const char* text) { return Error{ErrorCode::InvalidState, text}; }

Key truncate_key(const Hash& hash) {
    Key key{};
    std::memcpy(key.data(), hash.data(), key.size());
    return key;
}

std::size_t message_count(Pattern pattern) { return pattern == Pattern::IK ? 2 : 1; }

}  // namespace

std::string_view protocol_name(Pattern pattern) {
    return pattern == Pattern::IK ? "Noise_IK_25519_ChaChaPoly_BLAKE2b" : "Noise_N_25519_ChaChaPoly_BLAKE2b";
}

std::expected<HandshakeState, Error> HandshakeState::create(HandshakeConfig config) {
    if (!crypto_ready()) return std::unexpected(Error{ErrorCode::Unavailable, "libsodium is unavailable"});
    const bool initiator = config.role == Role::Initiator;
    const bool needs_local_static = config.pattern == Pattern::IK || !initiator;
    if (needs_local_static && !config.local_static) return std::unexpected(state_error("missing local static key"));
    if (initiator && !config.remote_static) return std::unexpected(state_error("missing remote static key"));

    HandshakeState hs;
    hs.m_pattern = config.pattern;
    hs.m_role = config.role;
    if (config.pattern == Pattern::IK || !initiator) hs.m_s = config.local_static;
    hs.m_e = config.local_ephemeral;
    if (initiator) hs.m_rs = config.remote_static;

    // InitializeSymmetric: the name fits in HASHLEN, so it is zero-padded.
    std::string_view name = protocol_name(config.pattern);
    hs.m_h.fill(0);
    std::memcpy(hs.m_h.data(), name.data(), name.size());
    hs.m_ck = hs.m_h;
    hs.mix_hash(config.prologue);
    // Pre-message "<- s": the responder's static key.
    if (initiator) {
        hs.mix_hash(*hs.m_rs);
    } else {
        hs.mix_hash(hs.m_s->public_key());
    }
    return hs;
}

bool HandshakeState::is_finished() const { return m_message_index >= message_count(m_pattern); }

bool HandshakeState::is_my_turn() const {
    if (is_finished()) return false;
    const bool initiator_writes = m_message_index % 2 == 0;
    return initiator_writes == (m_role == Role::Initiator);
}

void HandshakeState::mix_hash(ByteView data) { m_h = blake2b({m_h, data}); }

void HandshakeState::mix_key(ByteView ikm) {
    auto [ck, temp_k] = hkdf2(m_ck, ikm);
    m_ck = ck;
    m_cipher.initialize_key(truncate_key(temp_k));
    sodium_memzero(temp_k.data(), temp_k.size());
}

std::expected<void, Error> HandshakeState::mix_dh(const KeyPair& local, const PublicKey& remote) {
    auto shared = dh(local, remote);
    if (!shared) return std::unexpected(shared.error());
    mix_key(*shared);
    sodium_memzero(shared->data(), shared->size());
    return {};
}

std::expected<void, Error> HandshakeState::encrypt_and_hash(ByteView plaintext, Bytes& out) {
    const std::size_t start = out.size();
    out.resize(start + plaintext.size() + (m_cipher.has_key() ? kTagLen : 0));
    auto written = m_cipher.encrypt_with_ad(m_h, plaintext, std::span(out).subspan(start));
    if (!written) return std::unexpected(written.error());
    out.resize(start + *written);
    mix_hash(ByteView(out).subspan(start));
    return {};
}

std::expected<Bytes, Error> HandshakeState::decrypt_and_hash(ByteView ciphertext) {
    auto plaintext = m_cipher.decrypt(m_h, ciphertext);
    if (!plaintext) return std::unexpected(plaintext.error());
    mix_hash(ciphertext);
    return plaintext;
}

std::expected<Bytes, Error> HandshakeState::write_message(ByteView payload) {
    if (m_failed) return std::unexpected(state_error("handshake already failed"));
    if (!is_my_turn()) return std::unexpected(state_error("not this side's turn to write"));
    m_failed = true;  // cleared on success
    Bytes out;
    out.reserve(2 * kDhLen + payload.size() + 2 * kTagLen);
    const bool initiator = m_role == Role::Initiator;

    if (m_message_index == 0) {
        // -> e, es [, s, ss]
        if (!m_e) m_e = KeyPair::generate();
        out.insert(out.end(), m_e->public_key().begin(), m_e->public_key().end());
        mix_hash(m_e->public_key());
        if (auto r = mix_dh(*m_e, *m_rs); !r) return std::unexpected(r.error());
        if (m_pattern == Pattern::IK) {
            if (auto r = encrypt_and_hash(m_s->public_key(), out); !r) return std::unexpected(r.error());
            if (auto r = mix_dh(*m_s, *m_rs); !r) return std::unexpected(r.error());
        }
    } else {
        // <- e, ee, se (written by the IK responder)
        if (initiator || !m_re || !m_rs) return std::unexpected(state_error("handshake out of order"));
        if (!m_e) m_e = KeyPair::generate();
        out.insert(out.end(), m_e->public_key().begin(), m_e->public_key().end());
        mix_hash(m_e->public_key());
        if (auto r = mix_dh(*m_e, *m_re); !r) return std::unexpected(r.error());
        if (auto r = mix_dh(*m_e, *m_rs); !r) return std::unexpected(r.error());
    }
    if (auto r = encrypt_and_hash(payload, out); !r) return std::unexpected(r.error());
    ++m_message_index;
    m_failed = false;
    return out;
}

std::expected<Bytes, Error> HandshakeState::read_message(ByteView message) {
    if (m_failed) return std::unexpected(state_error("handshake already failed"));
    if (is_finished() || is_my_turn()) return std::unexpected(state_error("not this side's turn to read"));
    m_failed = true;  // cleared on success
    auto take = [&message](std::size_t n) -> std::expected<ByteView, Error> {
        if (message.size() < n) return std::unexpected(Error{ErrorCode::InvalidMessage, "handshake message too short"});
        ByteView head = message.first(n);
        message = message.subspan(n);
        return head;
    };

    if (m_message_index == 0) {
        // The responder reads -> e, es [, s, ss]
        auto re = take(kDhLen);
        if (!re) return std::unexpected(re.error());
        m_re.emplace();
        std::memcpy(m_re->data(), re->data(), kDhLen);
        mix_hash(*re);
        if (auto r = mix_dh(*m_s, *m_re); !r) return std::unexpected(r.error());
        if (m_pattern == Pattern::IK) {
            auto encrypted_s = take(kDhLen + kTagLen);
            if (!encrypted_s) return std::unexpected(encrypted_s.error());
            auto rs = decrypt_and_hash(*encrypted_s);
            if (!rs) return std::unexpected(rs.error());
            m_rs.emplace();
            std::memcpy(m_rs->data(), rs->data(), kDhLen);
            if (auto r = mix_dh(*m_s, *m_rs); !r) return std::unexpected(r.error());
        }
    } else {
        // The initiator reads <- e, ee, se
        auto re = take(kDhLen);
        if (!re) return std::unexpected(re.error());
        m_re.emplace();
        std::memcpy(m_re->data(), re->data(), kDhLen);
        mix_hash(*re);
        if (auto r = mix_dh(*m_e, *m_re); !r) return std::unexpected(r.error());
        if (auto r = mix_dh(*m_s, *m_re); !r) return std::unexpected(r.error());
    }
    if (m_cipher.has_key() && message.size() < kTagLen) {
        return std::unexpected(Error{ErrorCode::InvalidMessage, "handshake message too short"});
    }
    auto payload = decrypt_and_hash(message);
    if (!payload) return std::unexpected(payload.error());
    ++m_message_index;
    m_failed = false;
    return payload;
}

std::expected<TransportState, Error> HandshakeState::split() const {
    if (!is_finished() || m_failed) return std::unexpected(state_error("handshake not finished"));
    auto [k1, k2] = hkdf2(m_ck, ByteView{});
    CipherState c1;
    CipherState c2;
    c1.initialize_key(truncate_key(k1));
    c2.initialize_key(truncate_key(k2));
    sodium_memzero(k1.data(), k1.size());
    sodium_memzero(k2.data(), k2.size());
    if (m_role == Role::Initiator) return TransportState{c1, c2};
    return TransportState{c2, c1};
}

}  // namespace noise
