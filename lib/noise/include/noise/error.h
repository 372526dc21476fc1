#pragma once
// Errors of the Noise layer. Plain values, safe to copy across threads.

#include <string>

namespace noise {

enum class ErrorCode {
    Unavailable,     // the crypto library could not be initialised
    InvalidKey,      // a key has the wrong length or gives a degenerate shared secret
    InvalidState,    // an operation out of turn (writing when a read is due, ...)
    InvalidMessage,  // a handshake message is shorter than its tokens need
    Decrypt,         // authentication failed
    NonceExhausted,  // the cipher state used its last nonce
    BufferTooSmall,  // the caller's output buffer cannot hold the result
};

struct Error {
    ErrorCode code;
    std::string message;
};

}  // namespace noise
