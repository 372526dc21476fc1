// Drives the fake yt-dlp program: writes its scenario file into a fresh
// temporary folder, points VORN_FAKE_YTDLP_SCENARIO at it and reads back the
// argument lists it recorded. One instance per test; not thread-safe.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace vorn_test {

class FakeYtDlp {
public:
    FakeYtDlp() {
        std::string pattern = (std::filesystem::temp_directory_path() / "fake-ytdlp-XXXXXX").string();
        if (::mkdtemp(pattern.data()) != nullptr) m_dir = pattern;
        ::setenv("VORN_FAKE_YTDLP_SCENARIO", scenario_path().c_str(), 1);
        set_scenario("");
    }
    ~FakeYtDlp() {
        ::unsetenv("VORN_FAKE_YTDLP_SCENARIO");
        std::error_code ignored;
        std::filesystem::remove_all(m_dir, ignored);
    }
    FakeYtDlp(const FakeYtDlp&) = delete;
    FakeYtDlp& operator=(const FakeYtDlp&) = delete;

    static std::string program() { return FAKE_YTDLP_PATH; }

    // The scenario text; every run is recorded whatever it says.
    void set_scenario(const std::string& text) {
        std::ofstream out(scenario_path(), std::ios::trunc);
        out << "record " << record_path() << "\n" << text;
    }

    // Writes a file in the folder (e.g. JSON for "stdout-file") and answers its path.
    std::string write_file(const std::string& name, const std::string& bytes) {
        const std::string path = (m_dir / name).string();
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << bytes;
        return path;
    }

    // Argument lists of every run so far, oldest first.
    std::vector<std::vector<std::string>> runs() const {
        std::vector<std::vector<std::string>> out;
        std::ifstream in(record_path());
        std::string line;
        while (std::getline(in, line)) {
            auto parsed = nlohmann::json::parse(line, nullptr, false);
            if (parsed.is_array()) out.push_back(parsed.get<std::vector<std::string>>());
        }
        return out;
    }

    const std::filesystem::path& dir() const { return m_dir; }

private:
    std::string scenario_path() const { return (m_dir / "scenario.txt").string(); }
    std::string record_path() const { return (m_dir / "runs.jsonl").string(); }

    std::filesystem::path m_dir;
};

}  // namespace vorn_test
