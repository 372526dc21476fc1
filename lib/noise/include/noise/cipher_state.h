#pragma once
// A Noise CipherState: ChaCha20-Poly1305 (IETF) with a 64-bit counter nonce.
// One object belongs to one thread at a time; it is not synchronised.

#include <cstdint>
#include <expected>
#include <span>

#include "noise/crypto.h"

namespace noise {

class CipherState {
public:
    // The largest nonce value is reserved: once n reaches it, the state refuses
    // to encrypt or decrypt (the Noise limit of 2^64 - 1 messages).
    static constexpr std::uint64_t kMaxNonce = UINT64_MAX;

    CipherState() = default;
    CipherState(const CipherState&) = default;
    CipherState& operator=(const CipherState&) = default;
    ~CipherState();

    void initialize_key(const Key& key);
    void clear_key();
    bool has_key() const { return m_has_key; }
    std::uint64_t nonce() const { return m_nonce; }
    // Test seam: positions the counter, for example just before the limit.
    void set_nonce(std::uint64_t nonce) { m_nonce = nonce; }

    // Encrypts into out (plaintext size + 16 with a key, plaintext size without)
    // and returns the bytes written. out may not overlap plaintext partially.
    std::expected<std::size_t, Error> encrypt_with_ad(ByteView ad, ByteView plaintext,
                                                      std::span<std::uint8_t> out);
    // Decrypts into out (ciphertext size - 16 with a key) and returns the bytes written.
    std::expected<std::size_t, Error> decrypt_with_ad(ByteView ad, ByteView ciphertext,
                                                      std::span<std::uint8_t> out);

    std::expected<Bytes, Error> encrypt(ByteView ad, ByteView plaintext);
    std::expected<Bytes, Error> decrypt(ByteView ad, ByteView ciphertext);

private:
    Key m_key{};
    bool m_has_key = false;
    std::uint64_t m_nonce = 0;
};

}  // namespace noise
