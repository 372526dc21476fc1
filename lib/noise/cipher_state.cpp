#include "noise/cipher_state.h"

#include <sodium.h>

#include <cstring>

namespace noise {
namespace {

// ChaChaPoly nonce: 32 bits of zeros, then the counter little-endian.
std::array<std::uint8_t, 12> nonce_bytes(std::uint64_t n) {
    std::array<std::uint8_t, 12> out{};
    for (int i = 0; i < 8; ++i) out[4 + i] = static_cast<std::uint8_t>(n >> (8 * i));
    return out;
}

}  // namespace

CipherState::~CipherState() { sodium_memzero(m_key.data(), m_key.size()); }

void CipherState::initialize_key(const Key& key) {
    m_key = key;
    m_has_key = true;
    m_nonce = 0;
}

void CipherState::clear_key() {
    sodium_memzero(m_key.data(), m_key.size());
    m_has_key = false;
    m_nonce = 0;
}

std::expected<std::size_t, Error> CipherState::encrypt_with_ad(ByteView ad, ByteView plaintext,
                                                               std::span<std::uint8_t> out) {
    if (!m_has_key) {
        if (out.size() < plaintext.size()) {
            return std::unexpected(Error{ErrorCode::BufferTooSmall, "output buffer too small"});
        }
        if (!plaintext.empty()) std::memmove(out.data(), plaintext.data(), plaintext.size());
        return plaintext.size();
    }
    if (m_nonce == kMaxNonce) {
        return std::unexpected(Error{ErrorCode::NonceExhausted, "nonce exhausted"});
    }
    if (out.size() < plaintext.size() + kTagLen) {
        return std::unexpected(Error{ErrorCode::BufferTooSmall, "output buffer too small"});
    }
    auto nonce = nonce_bytes(m_nonce);
    unsigned long long written = 0;
    crypto_aead_chacha20poly1305_ietf_encrypt(out.data(), &written, plaintext.data(), plaintext.size(),
                                              ad.data(), ad.size(), nullptr, nonce.data(), m_key.data());
    ++m_nonce;
    return static_cast<std::size_t>(written);
}

std::expected<std::size_t, Error> CipherState::decrypt_with_ad(ByteView ad, ByteView ciphertext,
                                                               std::span<std::uint8_t> out) {
    if (!m_has_key) {
        if (out.size() < ciphertext.size()) {
            return std::unexpected(Error{ErrorCode::BufferTooSmall, "output buffer too small"});
        }
        if (!ciphertext.empty()) std::memmove(out.data(), ciphertext.data(), ciphertext.size());
        return ciphertext.size();
    }
    if (m_nonce == kMaxNonce) {
        return std::unexpected(Error{ErrorCode::NonceExhausted, "nonce exhausted"});
    }
    if (ciphertext.size() < kTagLen) {
        return std::unexpected(Error{ErrorCode::Decrypt, "ciphertext shorter than its tag"});
    }
    if (out.size() < ciphertext.size() - kTagLen) {
        return std::unexpected(Error{ErrorCode::BufferTooSmall, "output buffer too small"});
    }
    auto nonce = nonce_bytes(m_nonce);
    unsigned long long written = 0;
    if (crypto_aead_chacha20poly1305_ietf_decrypt(out.data(), &written, nullptr, ciphertext.data(),
                                                  ciphertext.size(), ad.data(), ad.size(), nonce.data(),
                                                  m_key.data()) != 0) {
        return std::unexpected(Error{ErrorCode::Decrypt, "decryption failed"});
    }
    ++m_nonce;
    return static_cast<std::size_t>(written);
}

std::expected<Bytes, Error> CipherState::encrypt(ByteView ad, ByteView plaintext) {
    Bytes out(plaintext.size() + (m_has_key ? kTagLen : 0));
    auto written = encrypt_with_ad(ad, plaintext, out);
    if (!written) return std::unexpected(written.error());
    out.resize(*written);
    return out;
}

std::expected<Bytes, Error> CipherState::decrypt(ByteView ad, ByteView ciphertext) {
    std::size_t size = ciphertext.size();
    if (m_has_key) size = size >= kTagLen ? size - kTagLen : 0;
    Bytes out(size);
    auto written = decrypt_with_ad(ad, ciphertext, out);
    if (!written) return std::unexpected(written.error());
    out.resize(*written);
    return out;
}

}  // namespace noise
