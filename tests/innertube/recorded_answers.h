// Access to the recorded answers of the platform's web API that live beside
// the checkout (../shared/fixtures/innertube); tests skip when absent.
#pragma once

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

namespace sarn::innertube::testing {

inline std::filesystem::path recorded_dir() {
    return std::filesystem::path(VORN_SHARED_DIR) / "fixtures" / "innertube";
}

inline std::optional<std::string> read_file(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

inline std::optional<std::string> recorded(const std::string& name) { return read_file(recorded_dir() / name); }

}  // namespace sarn::innertube::testing

// Reads a recorded answer into `var`, or skips the test when it is absent.
#define SARN_RECORDED_OR_SKIP(var, name)                                             \
    auto var##_file = ::sarn::innertube::testing::recorded(name);                    \
    if (!var##_file) GTEST_SKIP() << "recorded answers not present: " << (name);     \
    const std::string& var = *var##_file
