#pragma once
// Noise handshakes over 25519, ChaChaPoly and BLAKE2b: the interactive IK pattern
// in both roles and the one-way N pattern. A HandshakeState belongs to one thread.
//
//   IK:  <- s  ...  -> e, es, s, ss   <- e, ee, se
//   N:   <- s  ...  -> e, es

#include <array>
#include <optional>
#include <string_view>

#include "noise/cipher_state.h"
#include "noise/crypto.h"

namespace noise {

enum class Pattern { IK, N };
enum class Role { Initiator, Responder };

// The protocol name of a pattern, e.g. "Noise_IK_25519_ChaChaPoly_BLAKE2b".
std::string_view protocol_name(Pattern pattern);

struct HandshakeConfig {
    Pattern pattern = Pattern::IK;
    Role role = Role::Initiator;
    Bytes prologue;
    std::optional<KeyPair> local_static;     // IK: both roles; N: the responder
    std::optional<PublicKey> remote_static;  // the initiator's copy of the responder's key
    // Test seam: the ephemeral key to use instead of a random one.
    std::optional<KeyPair> local_ephemeral;
};

// The two cipher states after a finished handshake, oriented for this side.
struct TransportState {
    CipherState send;
    CipherState receive;
};

class HandshakeState {
public:
    static std::expected<HandshakeState, Error> create(HandshakeConfig config);

    // Writes the next handshake message with the payload appended (encrypted
    // once a key exists). Fails when it is the peer's turn.
    std::expected<Bytes, Error> write_message(ByteView payload);
    // Reads the peer's next handshake message and returns its payload.
    std::expected<Bytes, Error> read_message(ByteView message);

    bool is_finished() const;
    bool is_my_turn() const;
    // The remote static key, once known (given or received).
    const std::optional<PublicKey>& remote_static() const { return m_rs; }
    // h: the handshake hash (final after the last message).
    const Hash& handshake_hash() const { return m_h; }

    // Splits into transport ciphers; only valid once finished.
    std::expected<TransportState, Error> split() const;

private:
    HandshakeState() = default;

    void mix_hash(ByteView data);
    void mix_key(ByteView ikm);
    std::expected<void, Error> mix_dh(const KeyPair& local, const PublicKey& remote);
    std::expected<void, Error> encrypt_and_hash(ByteView plaintext, Bytes& out);
    std::expected<Bytes, Error> decrypt_and_hash(ByteView ciphertext);

    Pattern m_pattern = Pattern::IK;
    Role m_role = Role::Initiator;
    std::size_t m_message_index = 0;
    Hash m_ck{};
    Hash m_h{};
    CipherState m_cipher;
    std::optional<KeyPair> m_s;
    std::optional<KeyPair> m_e;
    std::optional<PublicKey> m_rs;
    std::optional<PublicKey> m_re;
    bool m_failed = false;
};

}  // namespace noise
