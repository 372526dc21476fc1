#pragma once
// The checks made before the bytes of a history file are trusted, in order:
// the name (not followed if a link) is a regular file of the effective user
// of at most 4194304 bytes; it opens without following a link and without
// blocking; the open file is the same regular file, still in bounds; its
// mode is forced to 0600; at most 4194305 bytes are read. `after_inspect`
// runs between the inspection and the open (tests swap the file there).
// Interface thread.

#include <expected>
#include <filesystem>
#include <functional>
#include <string>

#include "sarn/actions/history_store.h"

namespace sarn {

std::expected<std::string, HistoryIoError> read_history_file(const std::filesystem::path& path,
                                                             const std::function<void()>& after_inspect = {});

}  // namespace sarn
