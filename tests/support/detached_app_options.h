// The root's options for tests and benchmarks that must leave the user's files
// alone: a fixed owner, memory-only history, no device sync and a fetch worker
// that can never start (requests see its refusal).
#pragma once

#include <expected>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include <fmt/format.h>

#include "sarn/app/sarn_app.h"

namespace sarn::support {

// `user` is the owner's login name; `where` names the runner in the refusals.
inline SarnAppOptions detached_app_options(std::string user, std::string_view where) {
    SarnAppOptions options;
    OwnerIdentitySources sources;
    sources.runtime_identity = [reason = fmt::format("none in {}", where)]()
        -> std::expected<runtime_identity::unix::LocalIdentity, runtime_identity::unix::IdentityError> {
        return std::unexpected(runtime_identity::unix::IdentityError{reason});
    };
    sources.env = [user = std::move(user)](const char* name) -> std::optional<std::string> {
        if (std::string_view(name) == "USER") return user;
        if (std::string_view(name) == "HOSTNAME") return "bench";
        return std::nullopt;
    };
    options.identity = std::move(sources);
    options.history_data_dir = std::optional<std::filesystem::path>{};
    options.fetch_config = [reason = fmt::format("no worker in {}", where)] {
        FetchWorkerConfig config;
        config.start_thread = [reason](std::function<void()>) -> std::expected<void, std::string> {
            return std::unexpected(reason);
        };
        return config;
    };
    options.start_device_sync = [](std::string_view) { return DeviceSyncHandle::unavailable(); };
    return options;
}

}  // namespace sarn::support
