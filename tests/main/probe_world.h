// A small outside world for the developer modes, all on 127.0.0.1: one HTTP
// server that stands in for the platform's innertube API (answers chosen per
// test from the fixtures in tests/main/fixtures), its image host (pictures
// drawn per address), Invidious ("/latest_version") and a clip made with
// gst-launch-1.0; the fake yt-dlp first on PATH with a scenario over the same
// fixtures; and the proxy settings pointed at a trap that counts any attempt
// to reach another address. The program runs as a child process with its
// home in a temporary folder.
//
// Test thread only; the server's handlers run on its own threads and only
// read what the test set before starting the program.
#pragma once

#include <chrono>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "program_process.h"
#include "vorn_test/local_server.h"

namespace sarn::test {

struct Finished {
    int status = -1;  // -1: still running at the limit (then killed)
    std::string out;
    std::string err;
};

// One innertube answer.
struct ApiAnswer {
    int status = 200;
    std::string fixture;  // file under tests/main/fixtures, {{ORIGIN}} replaced
};

class ProbeWorld {
public:
    ProbeWorld();
    ~ProbeWorld();
    ProbeWorld(const ProbeWorld&) = delete;
    ProbeWorld& operator=(const ProbeWorld&) = delete;

    bool ok() const { return m_ok; }
    std::string origin() const { return m_server.base_url(); }
    vorn_test::ProgramHome& home() { return m_home; }

    // Innertube answers by "endpoint:member", the member being the query
    // ("popular:" in front for the filtered search), the video id or the
    // browse id; a key ending in "*" matches every key with that prefix.
    // Unanswered calls get 404.
    void answer(std::string key, ApiAnswer answer);
    // Every innertube call answers this status.
    void fail_api(int status);
    // Invidious serves the clip for /latest_version.
    void serve_invidious() { m_invidious = true; }

    // The fake yt-dlp's scenario: directive lines; "{{name}}" refers to a
    // fixture written out with {{ORIGIN}} replaced.
    void set_ytdlp(const std::string& scenario);
    // The scenario of a working yt-dlp over every fixture.
    static std::string working_ytdlp();

    // Runs the program with the arguments; `ytdlp` false leaves no yt-dlp
    // on PATH. Extra variables override the world's.
    Finished run(const std::vector<std::string>& args, bool ytdlp = true,
                 const std::map<std::string, std::string>& extra = {},
                 std::chrono::seconds limit = std::chrono::seconds(120));

    std::vector<std::string> requests();
    int outside_attempts() const { return m_trap.connections(); }

    // The clip every stream answer points at.
    static const std::filesystem::path& clip();

    // The fixture's text with {{ORIGIN}} replaced.
    std::string fixture(const std::string& name) const;

private:
    void handle_api(const httplib::Request& request, httplib::Response& response);

    vorn_test::ProgramHome m_home;
    vorn_test::ConnectionTrap m_trap;
    vorn_test::LocalServer m_server;
    bool m_ok = false;
    std::mutex m_mu;
    std::map<std::string, ApiAnswer> m_answers;
    std::optional<int> m_api_failure;
    bool m_invidious = false;
    std::vector<std::string> m_requests;
};

// The picture the image host serves for a path: deterministic per path.
std::vector<std::uint8_t> picture_for(const std::string& path, bool jpeg);

}  // namespace sarn::test
