#include "sarn/actions/owner_identity.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <uuid/uuid.h>

#include <cerrno>
#include <cstdlib>

#include <fmt/format.h>

#include "atomic_file/atomic_file.h"
#include "platform_dirs/dirs.h"
#include "json_reader/text.h"

namespace sarn {

namespace {

constexpr std::size_t kMaxIdentityFile = 4096;

enum class FileState { Usable, Missing, Malformed, Untrusted };

struct FileRead {
  FileState state;
  std::string identity;
};

// Reads the identity file. Missing and malformed files may be replaced;
// anything else (a link, a directory, a FIFO, another user's file, a read
// error) is left alone.
FileRead read_identity_file(const std::filesystem::path& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return {errno == ENOENT ? FileState::Missing : FileState::Untrusted, {}};
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != ::geteuid()) {
    return {FileState::Untrusted, {}};
  }
  std::string bytes(kMaxIdentityFile + 1, '\0');
  std::size_t filled = 0;
  while (filled < bytes.size()) {
    ssize_t n = ::read(fd, bytes.data() + filled, bytes.size() - filled);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return {FileState::Untrusted, {}};
    if (n == 0) break;
    filled += static_cast<std::size_t>(n);
  }
  if (filled > kMaxIdentityFile) return {FileState::Malformed, {}};
  bytes.resize(filled);
  if (!json_reader::is_valid_utf8(bytes) || !bytes.starts_with("user:") || bytes.size() < 6) {
    return {FileState::Malformed, {}};
  }
  return {FileState::Usable, std::move(bytes)};
}

std::string env_text(const OwnerIdentitySources& sources, const char* name) {
  if (!sources.env) return {};
  auto value = sources.env(name);
  if (!value || !json_reader::is_valid_utf8(*value)) return {};
  return *value;
}

}  // namespace

std::uint64_t fnv1a64(std::string_view bytes) {
  std::uint64_t hash = 0xcbf29ce484222325ULL;
  for (unsigned char c : bytes) {
    hash ^= c;
    hash *= 0x100000001b3ULL;
  }
  return hash;
}

std::string random_owner_id() {
  uuid_t uuid;
  uuid_generate_random(uuid);
  char text[37] = {};
  uuid_unparse_lower(uuid, text);
  return fmt::format("user:{}", text);
}

OwnerIdentitySources process_identity_sources() {
  OwnerIdentitySources sources;
  sources.runtime_identity = [] { return runtime_identity::unix::load(); };
  sources.local_data_dir = platform_dirs::local_data_dir();
  sources.env = [](const char* name) -> std::optional<std::string> {
    const char* value = std::getenv(name);
    if (value == nullptr) return std::nullopt;
    return std::string(value);
  };
  return sources;
}

std::string history_owner_id() { return history_owner_id_from(process_identity_sources()); }

std::string history_owner_id_from(const OwnerIdentitySources& sources) {
  // 1. The runtime's identity of the local user.
  if (sources.runtime_identity) {
    if (auto identity = sources.runtime_identity()) {
      std::string out = "user:";
      for (auto byte : identity->identifier) out += fmt::format("{:02x}", byte);
      return out;
    }
  }

  // 2 and 3. The identity file under the local data directory only.
  std::optional<std::string> unstored;
  if (sources.local_data_dir) {
    const auto path = *sources.local_data_dir / "vorn" / "sarn" / "history-owner";
    auto read = read_identity_file(path);
    if (read.state == FileState::Usable) return read.identity;
    if (read.state == FileState::Missing || read.state == FileState::Malformed) {
      std::string fresh = random_owner_id();
      if (atomic_file::write_creating_parent_with_mode(path, fresh, 0600)) return fresh;
      unstored = std::move(fresh);
    }
  }

  // 4. A name from the environment.
  std::string user = env_text(sources, "USER");
  if (user.empty()) user = env_text(sources, "USERNAME");
  const std::string host = env_text(sources, "HOSTNAME");
  const std::string name = user + "@" + host;
  if (name == "@") return unstored ? *unstored : random_owner_id();
  return fmt::format("user:{:016x}", fnv1a64(name));
}

}  // namespace sarn
