#include "noise/crypto.h"

#include <sodium.h>

#include <cstring>

namespace noise {

bool crypto_ready() {
    static const bool ready = sodium_init() >= 0;
    return ready;
}

Hash blake2b(std::initializer_list<ByteView> parts) {
    crypto_generichash_blake2b_state state;
    crypto_generichash_blake2b_init(&state, nullptr, 0, kHashLen);
    for (ByteView part : parts) {
        crypto_generichash_blake2b_update(&state, part.data(), part.size());
    }
    Hash out{};
    crypto_generichash_blake2b_final(&state, out.data(), out.size());
    sodium_memzero(&state, sizeof state);
    return out;
}

Hash hmac_blake2b(ByteView key, std::initializer_list<ByteView> data) {
    std::array<std::uint8_t, kBlockLen> block{};
    if (key.size() > kBlockLen) {
        Hash hashed = blake2b({key});
        std::memcpy(block.data(), hashed.data(), hashed.size());
        sodium_memzero(hashed.data(), hashed.size());
    } else if (!key.empty()) {
        std::memcpy(block.data(), key.data(), key.size());
    }

    std::array<std::uint8_t, kBlockLen> pad{};
    for (std::size_t i = 0; i < kBlockLen; ++i) pad[i] = block[i] ^ 0x36;
    crypto_generichash_blake2b_state state;
    crypto_generichash_blake2b_init(&state, nullptr, 0, kHashLen);
    crypto_generichash_blake2b_update(&state, pad.data(), pad.size());
    for (ByteView part : data) {
        crypto_generichash_blake2b_update(&state, part.data(), part.size());
    }
    Hash inner{};
    crypto_generichash_blake2b_final(&state, inner.data(), inner.size());

    for (std::size_t i = 0; i < kBlockLen; ++i) pad[i] = block[i] ^ 0x5c;
    Hash out = blake2b({pad, inner});

    sodium_memzero(block.data(), block.size());
    sodium_memzero(pad.data(), pad.size());
    sodium_memzero(inner.data(), inner.size());
    sodium_memzero(&state, sizeof state);
    return out;
}

std::array<Hash, 2> hkdf2(ByteView chaining_key, ByteView input_key_material) {
    Hash temp = hmac_blake2b(chaining_key, {input_key_material});
    const std::uint8_t one = 0x01;
    const std::uint8_t two = 0x02;
    Hash first = hmac_blake2b(temp, {ByteView(&one, 1)});
    Hash second = hmac_blake2b(temp, {first, ByteView(&two, 1)});
    sodium_memzero(temp.data(), temp.size());
    return {first, second};
}

std::array<Hash, 3> hkdf3(ByteView chaining_key, ByteView input_key_material) {
    Hash temp = hmac_blake2b(chaining_key, {input_key_material});
    const std::uint8_t one = 0x01;
    const std::uint8_t two = 0x02;
    const std::uint8_t three = 0x03;
    Hash first = hmac_blake2b(temp, {ByteView(&one, 1)});
    Hash second = hmac_blake2b(temp, {first, ByteView(&two, 1)});
    Hash third = hmac_blake2b(temp, {second, ByteView(&three, 1)});
    sodium_memzero(temp.data(), temp.size());
    return {first, second, third};
}

KeyPair::~KeyPair() { sodium_memzero(m_private.data(), m_private.size()); }

KeyPair KeyPair::generate() {
    crypto_ready();
    KeyPair pair;
    randombytes_buf(pair.m_private.data(), pair.m_private.size());
    crypto_scalarmult_base(pair.m_public.data(), pair.m_private.data());
    return pair;
}

std::expected<KeyPair, Error> KeyPair::from_private(ByteView private_key) {
    if (!crypto_ready()) return std::unexpected(Error{ErrorCode::Unavailable, "libsodium is unavailable"});
    if (private_key.size() != kKeyLen) {
        return std::unexpected(Error{ErrorCode::InvalidKey, "private key must be 32 bytes"});
    }
    KeyPair pair;
    std::memcpy(pair.m_private.data(), private_key.data(), kKeyLen);
    if (crypto_scalarmult_base(pair.m_public.data(), pair.m_private.data()) != 0) {
        return std::unexpected(Error{ErrorCode::InvalidKey, "private key gives no public key"});
    }
    return pair;
}

std::expected<Key, Error> dh(const KeyPair& local, ByteView remote_public) {
    if (remote_public.size() != kDhLen) {
        return std::unexpected(Error{ErrorCode::InvalidKey, "public key must be 32 bytes"});
    }
    Key shared{};
    if (crypto_scalarmult(shared.data(), local.private_key().data(), remote_public.data()) != 0) {
        return std::unexpected(Error{ErrorCode::InvalidKey, "degenerate Diffie-Hellman result"});
    }
    return shared;
}

}  // namespace noise
