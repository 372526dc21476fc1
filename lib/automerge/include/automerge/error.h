// Errors of the automerge engine. Every fallible call answers
// std::expected<T, automerge::Error>; nothing here throws across the border.
// Any thread may use these types.
#pragma once

#include <string>

namespace automerge {

enum class ErrorKind {
    invalid_argument,   // a bad call: unknown object, wrong object kind, bad key
    invalid_utf8,       // a string value or key that is not valid UTF-8
    malformed,          // bytes that are not a well-formed chunk
    checksum_mismatch,  // a chunk whose checksum does not match its contents
    heads_mismatch,     // a document whose recorded heads differ from its changes
    missing_dependency, // a loaded change that depends on a change the bytes do not hold
    too_large,          // a size, count or run beyond the engine's limits
    unsupported,        // well-formed input that this engine does not handle
};

struct Error {
    ErrorKind kind = ErrorKind::invalid_argument;
    std::string message;
};

}  // namespace automerge
