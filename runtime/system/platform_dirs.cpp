#include "platform_dirs/dirs.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

namespace platform_dirs {

namespace {

std::optional<std::filesystem::path> absolute_env(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr || value[0] != '/') return std::nullopt;
  return std::filesystem::path(value);
}

std::optional<std::filesystem::path> under_home(const char* xdg_name, const char* fallback) {
  if (auto dir = absolute_env(xdg_name)) return dir;
  auto home = home_dir();
  if (!home) return std::nullopt;
  return *home / fallback;
}

}  // namespace

std::optional<std::filesystem::path> home_dir() {
  if (const char* home = std::getenv("HOME"); home != nullptr) {
    // An empty or relative HOME is not a home.
    if (home[0] == '/') return std::filesystem::path(home);
    return std::nullopt;
  }
  std::vector<char> buffer(16384);
  struct passwd entry {};
  struct passwd* result = nullptr;
  if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &result) != 0 || result == nullptr ||
      result->pw_dir == nullptr || result->pw_dir[0] != '/') {
    return std::nullopt;
  }
  return std::filesystem::path(result->pw_dir);
}

std::optional<std::filesystem::path> local_data_dir() { return under_home("XDG_DATA_HOME", ".local/share"); }

std::optional<std::filesystem::path> state_dir() { return under_home("XDG_STATE_HOME", ".local/state"); }

}  // namespace platform_dirs
