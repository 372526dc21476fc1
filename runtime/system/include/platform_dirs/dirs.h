#pragma once
// The per-user directories of the freedesktop base-directory layout.
// Read the environment on every call; any thread (the environment must not
// be changed concurrently).

#include <filesystem>
#include <optional>

namespace platform_dirs {

// $HOME, else the home directory of the password database; none when
// neither gives an absolute path.
std::optional<std::filesystem::path> home_dir();

// The local data directory: $XDG_DATA_HOME when absolute, else
// $HOME/.local/share; none without a home.
std::optional<std::filesystem::path> local_data_dir();

// The state directory: $XDG_STATE_HOME when absolute, else
// $HOME/.local/state; none without a home.
std::optional<std::filesystem::path> state_dir();

}  // namespace platform_dirs
