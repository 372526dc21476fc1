#pragma once
// The identity of the local user on this machine.
//
// The identifier is stable across runs for one user on one machine: it is
// derived (BLAKE3 in key-derivation mode) from the machine id and the user
// id. It is not a secret. Any thread.

// Some compilers predefine `unix` in GNU modes; the namespace needs the word.
#ifdef unix
#undef unix
#endif

#include <sys/types.h>

#include <array>
#include <cstdint>
#include <expected>
#include <filesystem>
#include <span>
#include <string>

namespace runtime_identity::unix {

struct LocalIdentity {
  uid_t uid = 0;
  std::array<std::uint8_t, 32> identifier{};
};

struct IdentityError {
  std::string message;
};

// The identity of the effective user, from /etc/machine-id or
// /var/lib/dbus/machine-id; fails when neither holds a machine id.
std::expected<LocalIdentity, IdentityError> load();

// As load, with the machine-id files tried in order and the user id given.
// A file counts when it is a regular file of at most 4 KiB holding 32
// hexadecimal digits (an optional line end after them), not all zero.
std::expected<LocalIdentity, IdentityError> load_from(std::span<const std::filesystem::path> machine_id_files,
                                                      uid_t uid);

}  // namespace runtime_identity::unix
