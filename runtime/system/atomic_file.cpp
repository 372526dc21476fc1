#include "atomic_file/atomic_file.h"
#include "unique_fd/unique_fd.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <string>

#include <fmt/format.h>

namespace atomic_file {

namespace {

std::error_code last_error() { return {errno, std::generic_category()}; }

using Fd = unique_fd::UniqueFd;

std::string random_suffix() {
  std::array<std::uint8_t, 8> bytes{};
  std::size_t filled = 0;
  while (filled < bytes.size()) {
    ssize_t n = ::getrandom(bytes.data() + filled, bytes.size() - filled, 0);
    if (n <= 0) {
      if (n < 0 && errno == EINTR) continue;
      // No entropy source: fall back to something unique enough for an
      // exclusive create, which retries on a clash anyway.
      auto mix = static_cast<std::uint64_t>(::getpid()) * 0x9e3779b97f4a7c15ULL ^
                 static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(&bytes));
      for (auto& b : bytes) {
        b = static_cast<std::uint8_t>(mix);
        mix = mix * 6364136223846793005ULL + 1442695040888963407ULL;
      }
      break;
    }
    filled += static_cast<std::size_t>(n);
  }
  std::string out;
  for (auto b : bytes) out += fmt::format("{:02x}", b);
  return out;
}

std::error_code write_all(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return last_error();
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return {};
}

std::error_code sync_directory(const std::filesystem::path& dir) {
  int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return last_error();
  Fd guard(fd);
  if (::fsync(fd) != 0 && errno != EINVAL) return last_error();
  return guard.close();
}

}  // namespace

std::expected<void, std::error_code> write_with_mode(const std::filesystem::path& path, std::string_view bytes,
                                                     mode_t mode) {
  if (!path.has_filename()) return std::unexpected(std::make_error_code(std::errc::is_a_directory));
  const std::filesystem::path dir = path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
  const std::string base = path.filename().string();

  std::filesystem::path temp;
  int raw = -1;
  for (int attempt = 0; attempt < 16 && raw < 0; ++attempt) {
    temp = dir / fmt::format(".{}.{}.tmp", base, random_suffix());
    raw = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (raw < 0 && errno != EEXIST) return std::unexpected(last_error());
  }
  if (raw < 0) return std::unexpected(std::make_error_code(std::errc::file_exists));
  Fd file(raw);

  auto fail = [&](std::error_code error) -> std::expected<void, std::error_code> {
    file.close();
    ::unlink(temp.c_str());
    return std::unexpected(error);
  };

  if (auto error = write_all(file.get(), bytes)) return fail(error);
  if (::fchmod(file.get(), mode & 07777) != 0) return fail(last_error());
  if (::fsync(file.get()) != 0) return fail(last_error());
  if (auto error = file.close()) return fail(error);
  if (::rename(temp.c_str(), path.c_str()) != 0) return fail(last_error());
  // The new file is in place from here on; reporting a failure now would
  // make callers believe the old content is still there. Flushing the
  // directory is therefore best effort (it fails only on odd folders, such as
  // one without read permission).
  (void)sync_directory(dir);
  return {};
}

std::expected<void, std::error_code> write_creating_parent_with_mode(const std::filesystem::path& path,
                                                                     std::string_view bytes, mode_t mode) {
  if (path.has_parent_path()) {
    std::error_code error;
    std::filesystem::create_directories(path.parent_path(), error);
    if (error) return std::unexpected(error);
  }
  return write_with_mode(path, bytes, mode);
}

std::expected<void, std::error_code> write_creating_parent(const std::filesystem::path& path,
                                                           std::string_view bytes) {
  return write_creating_parent_with_mode(path, bytes, 0644);
}

}  // namespace atomic_file
