#pragma once
// Whole-file atomic replacement.
//
// The bytes go to a temporary file in the target's directory, created
// exclusively (an existing name, a symbolic link included, is never opened),
// written in full, given its mode, flushed to disk, and renamed over the
// target; the directory is then flushed so that the rename survives a crash
// (best effort: once the rename has happened the write counts as done).
// A reader sees the old file or the new one, never a mix. On failure the
// temporary file is removed and the target is unchanged.
//
// A symbolic link at the target is replaced by the file, never written
// through. Any thread; concurrent writers of one path leave one of the
// versions in place.

#include <sys/types.h>

#include <expected>
#include <filesystem>
#include <string_view>
#include <system_error>

namespace atomic_file {

// Replaces `path` with `bytes` and mode `mode` (permission bits, applied
// exactly, regardless of the umask); the parent must exist.
std::expected<void, std::error_code> write_with_mode(const std::filesystem::path& path, std::string_view bytes,
                                                     mode_t mode);

// As write_with_mode, creating the missing parent directories first (with
// the default permissions under the umask).
std::expected<void, std::error_code> write_creating_parent_with_mode(const std::filesystem::path& path,
                                                                     std::string_view bytes, mode_t mode);

// As write_creating_parent_with_mode with mode 0644.
std::expected<void, std::error_code> write_creating_parent(const std::filesystem::path& path,
                                                           std::string_view bytes);

}  // namespace atomic_file
