// What the program's benchmarks share: the root's options that keep the
// user's files untouched, medians, and the resident size and processor time
// of a process.
#pragma once

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "sarn/app/sarn_app.h"

namespace sarn::bench {

// A fixed owner, memory-only history, no device sync and no worker that
// can start: nothing of the user's is read or written.
inline SarnAppOptions detached_options() {
    SarnAppOptions options;
    OwnerIdentitySources sources;
    sources.runtime_identity = []() -> std::expected<runtime_identity::unix::LocalIdentity,
                                                     runtime_identity::unix::IdentityError> {
        return std::unexpected(runtime_identity::unix::IdentityError{"none in benchmarks"});
    };
    sources.env = [](const char* name) -> std::optional<std::string> {
        if (std::string_view(name) == "USER") return "bench";
        return std::nullopt;
    };
    options.identity = std::move(sources);
    options.history_data_dir = std::optional<std::filesystem::path>{};
    options.fetch_config = [] {
        FetchWorkerConfig config;
        config.start_thread = [](std::function<void()>) -> std::expected<void, std::string> {
            return std::unexpected(std::string("no worker in benchmarks"));
        };
        return config;
    };
    options.start_device_sync = [](std::string_view) { return DeviceSyncHandle::unavailable(); };
    return options;
}

template <class T>
T median_of(std::vector<T> values) {
    if (values.empty()) return T{};
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// VmRSS of a process in MiB; 0 when it cannot be read.
inline double resident_mib(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("VmRSS:", 0) == 0) return std::stod(line.substr(6)) / 1024.0;
    }
    return 0.0;
}

// User and system processor time of a process (all its threads) in seconds.
inline double cpu_seconds(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto close = text.rfind(')');
    if (close == std::string::npos) return 0.0;
    std::istringstream fields(text.substr(close + 2));
    std::vector<std::string> f;
    for (std::string word; fields >> word;) f.push_back(word);
    // After the name: state is field 3; utime and stime are fields 14 and 15.
    if (f.size() < 13) return 0.0;
    const double ticks = static_cast<double>(sysconf(_SC_CLK_TCK));
    return (std::stod(f[11]) + std::stod(f[12])) / ticks;
}

}  // namespace sarn::bench
