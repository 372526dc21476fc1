#include "runtime_identity/unix.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <optional>
#include <string_view>

#include <fmt/format.h>

#include "blake3.h"

namespace runtime_identity::unix {

namespace {

constexpr std::size_t kMaxMachineIdFile = 4096;
constexpr const char* kDeriveContext = "vorn runtime_identity 2026-12 local user identifier v1";

// Reads a small regular file without blocking on a FIFO or device.
std::optional<std::string> read_small_file(const std::filesystem::path& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return std::nullopt;
  struct stat info {};
  std::optional<std::string> out;
  if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size <= static_cast<off_t>(kMaxMachineIdFile)) {
    std::string bytes(kMaxMachineIdFile + 1, '\0');
    std::size_t filled = 0;
    bool failed = false;
    while (filled < bytes.size()) {
      ssize_t n = ::read(fd, bytes.data() + filled, bytes.size() - filled);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        failed = true;
        break;
      }
      if (n == 0) break;
      filled += static_cast<std::size_t>(n);
    }
    if (!failed && filled <= kMaxMachineIdFile) {
      bytes.resize(filled);
      out = std::move(bytes);
    }
  }
  ::close(fd);
  return out;
}

std::optional<std::string> parse_machine_id(std::string_view text) {
  if (text.ends_with('\n')) text.remove_suffix(1);
  if (text.size() != 32) return std::nullopt;
  std::string id;
  bool all_zero = true;
  for (char c : text) {
    if (!std::isxdigit(static_cast<unsigned char>(c))) return std::nullopt;
    char lower = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (lower != '0') all_zero = false;
    id.push_back(lower);
  }
  if (all_zero) return std::nullopt;
  return id;
}

}  // namespace

std::expected<LocalIdentity, IdentityError> load_from(std::span<const std::filesystem::path> machine_id_files,
                                                      uid_t uid) {
  for (const auto& path : machine_id_files) {
    auto text = read_small_file(path);
    if (!text) continue;
    auto machine_id = parse_machine_id(*text);
    if (!machine_id) continue;
    const std::string material = fmt::format("machine-id:{}\nuid:{}", *machine_id, uid);
    blake3_hasher hasher;
    blake3_hasher_init_derive_key(&hasher, kDeriveContext);
    blake3_hasher_update(&hasher, material.data(), material.size());
    LocalIdentity identity;
    identity.uid = uid;
    blake3_hasher_finalize(&hasher, identity.identifier.data(), identity.identifier.size());
    return identity;
  }
  return std::unexpected(IdentityError{"no machine id is available for the local user identity"});
}

std::expected<LocalIdentity, IdentityError> load() {
  static const std::filesystem::path files[] = {"/etc/machine-id", "/var/lib/dbus/machine-id"};
  return load_from(files, ::geteuid());
}

}  // namespace runtime_identity::unix
