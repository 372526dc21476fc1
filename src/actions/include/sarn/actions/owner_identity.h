#pragma once
// The owner identity: a text that starts with "user:" and names the local
// user across runs. It keys the owner-local history file and prefixes the
// mutation ids of its entries.
//
// Sources, first that succeeds:
//   1. the runtime's local user identity: "user:" + 64 hex digits;
//   2. the identity file vorn/sarn/history-owner under the local data
//      directory, when it is a regular file of ours, at most 4 KiB, UTF-8,
//      starting with "user:" and at least 6 bytes long (taken whole);
//   3. a new "user:<uuid v4>" written to that file (atomically, mode 0600)
//      when the file is missing or malformed;
//   4. "user:" + FNV-1a-64 hex of "$USER@$HOSTNAME" (USERNAME when USER is
//      unset); when both are empty, the unstored UUID identity.
// The identity file is never read from or written to the shared temporary
// directory, never through a link, and never replaced after a read error
// that may be transient (permission, I/O): those fall through to step 4.
//
// Interface thread (reads the environment and the file system).

#include <expected>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "runtime_identity/unix.h"

namespace sarn {

struct OwnerIdentitySources {
  std::function<std::expected<runtime_identity::unix::LocalIdentity, runtime_identity::unix::IdentityError>()>
      runtime_identity;
  std::optional<std::filesystem::path> local_data_dir;
  // Environment lookup; none for an unset variable.
  std::function<std::optional<std::string>(const char* name)> env;
};

// The sources of this process: runtime_identity::unix::load, the platform's
// local data directory and the process environment.
OwnerIdentitySources process_identity_sources();

std::string history_owner_id();
std::string history_owner_id_from(const OwnerIdentitySources& sources);

// "user:" followed by a random version-4 UUID, hyphenated, lower case.
std::string random_owner_id();

// 64-bit FNV-1a with the published offset basis and prime.
std::uint64_t fnv1a64(std::string_view bytes);

}  // namespace sarn
