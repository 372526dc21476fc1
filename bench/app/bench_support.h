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

#include "../../tests/support/detached_app_options.h"
#include "sarn/app/sarn_app.h"

namespace sarn::bench {

// Nothing of the user's is read or written.
inline SarnAppOptions detached_options() { return support::detached_app_options("bench", "benchmarks"); }

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
