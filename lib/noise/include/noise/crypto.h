#pragma once
// The primitives of Noise_*_25519_ChaChaPoly_BLAKE2b: BLAKE2b-512, HMAC and HKDF
// over it, X25519 key pairs and agreement. Pure functions; any thread.

#include <array>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <initializer_list>
#include <span>
#include <vector>

#include "noise/error.h"

namespace noise {

inline constexpr std::size_t kHashLen = 64;
inline constexpr std::size_t kBlockLen = 128;
inline constexpr std::size_t kKeyLen = 32;
inline constexpr std::size_t kDhLen = 32;
inline constexpr std::size_t kTagLen = 16;

using Bytes = std::vector<std::uint8_t>;
using ByteView = std::span<const std::uint8_t>;
using Hash = std::array<std::uint8_t, kHashLen>;
using Key = std::array<std::uint8_t, kKeyLen>;
using PublicKey = std::array<std::uint8_t, kDhLen>;

// Makes sure libsodium is initialised; false when it cannot be.
bool crypto_ready();

// Unkeyed BLAKE2b with a 64-byte digest over the concatenation of the parts.
Hash blake2b(std::initializer_list<ByteView> parts);

// HMAC (RFC 2104) with BLAKE2b-512 and its 128-byte block. Not libsodium's keyed
// BLAKE2b, which is a different function.
Hash hmac_blake2b(ByteView key, std::initializer_list<ByteView> data);

// The Noise HKDF: two or three outputs of kHashLen bytes from a chaining key.
std::array<Hash, 2> hkdf2(ByteView chaining_key, ByteView input_key_material);
std::array<Hash, 3> hkdf3(ByteView chaining_key, ByteView input_key_material);

// An X25519 key pair. The private key is wiped on destruction.
class KeyPair {
public:
    // A fresh random key pair.
    static KeyPair generate();
    // The pair of a given 32-byte private key (any bytes; clamping is X25519's).
    static std::expected<KeyPair, Error> from_private(ByteView private_key);

    KeyPair(const KeyPair&) = default;
    KeyPair& operator=(const KeyPair&) = default;
    ~KeyPair();

    const Key& private_key() const { return m_private; }
    const PublicKey& public_key() const { return m_public; }

private:
    KeyPair() = default;
    Key m_private{};
    PublicKey m_public{};
};

// X25519 agreement; a degenerate (all-zero) result is refused.
std::expected<Key, Error> dh(const KeyPair& local, ByteView remote_public);

}  // namespace noise
