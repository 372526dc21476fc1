// A stand-in for the platform's web API on 127.0.0.1: checks each request's
// shape and answers from the recorded (or hand-written) answers.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "recorded_answers.h"
#include "vorn_test/local_server.h"

namespace sarn::innertube::testing {

using Json = nlohmann::json;

// What the platform sends; httplib does not compress this exact type, which
// keeps the test server from brotli-packing every recorded answer.
inline constexpr const char* kJsonType = "application/json; charset=UTF-8";

// start() returns before the server thread listens; stopping it before then
// would leave the thread listening forever.
inline bool start_and_wait(vorn_test::LocalServer& server) {
    if (!server.start()) return false;
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!server.server().is_running()) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

inline std::string project_fixture(const std::string& name) {
    return read_file(std::filesystem::path(VORN_SOURCE_DIR) / "tests/innertube/fixtures" / name)
        .value_or("");
}

// Stands in for the platform: checks every request's shape and answers
// from the recorded files by endpoint and request members.
class FakePlatform {
public:
    FakePlatform() {
        m_server.server().Post(R"(/youtubei/v1/(.+))", [this](const httplib::Request& req, httplib::Response& res) {
            handle(req, res);
        });
        // Every other address (the crowd-sourced services, Invidious) is
        // missing, after the same delay.
        m_server.server().Get(".*", [this](const httplib::Request& req, httplib::Response& res) {
            ++m_requests;
            wait_delay();
            {
                std::lock_guard lock(m_mutex);
                m_keys.push_back("GET " + req.path);
            }
            res.status = 404;
            res.set_content("not here", "text/plain");
        });
        m_started = start_and_wait(m_server);
    }

    // Handlers may still run while the server stops: stop it before the
    // members they use go away.
    ~FakePlatform() { m_server.stop(); }

    bool started() const { return m_started; }
    std::string origin() const { return m_server.base_url(); }
    int requests() const { return m_requests.load(); }

    std::vector<Json> bodies() {
        std::lock_guard lock(m_mutex);
        return m_bodies;
    }

    // "endpoint:member" of every API request (the member as answer() takes
    // it), and "GET {path}" of every other request, in arrival order.
    std::vector<std::string> keys() {
        std::lock_guard lock(m_mutex);
        return m_keys;
    }
    int count(std::string_view key) {
        std::lock_guard lock(m_mutex);
        return static_cast<int>(std::count(m_keys.begin(), m_keys.end(), key));
    }

    // The client's port of every request, in order: equal ports mean the
    // connection was kept and reused.
    std::vector<int> client_ports() {
        std::lock_guard lock(m_mutex);
        return m_ports;
    }

    // Answers the next `count` requests with this status and body.
    void fail_next(int count, int status, std::string body = "{}") {
        std::lock_guard lock(m_mutex);
        m_failures = count;
        m_failure_status = status;
        m_failure_body = std::move(body);
    }

    void delay_answers(std::chrono::milliseconds delay) { m_delay = delay; }

    // Adds or replaces an answer for a request member value.
    void answer(std::string key, std::string body) {
        std::lock_guard lock(m_mutex);
        m_extra[std::move(key)] = std::move(body);
    }

private:
    void wait_delay() {
        const std::chrono::milliseconds delay = m_delay.load();
        if (delay.count() <= 0) return;
        auto until = std::chrono::steady_clock::now() + delay;
        while (std::chrono::steady_clock::now() < until && !m_server.stopping()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }

    void handle(const httplib::Request& req, httplib::Response& res) {
        ++m_requests;
        wait_delay();
        Json body = Json::parse(req.body, nullptr, false);
        std::string endpoint = req.matches[1];
        {
            std::lock_guard lock(m_mutex);
            m_bodies.push_back(body);
            m_keys.push_back(endpoint + ":" + member(body));
            m_ports.push_back(req.remote_port);
            if (m_failures > 0) {
                --m_failures;
                res.status = m_failure_status;
                res.set_content(m_failure_body, kJsonType);
                return;
            }
        }
        const auto& client = body["context"]["client"];
        bool shaped = req.get_param_value("prettyPrint") == "false" && client.value("clientName", "") == "WEB" &&
                      client.value("hl", "") == "en" && client.value("gl", "") == "US" &&
                      !client.value("clientVersion", "").empty() &&
                      req.get_header_value("Content-Type").starts_with("application/json");
        if (!shaped) {
            res.status = 400;
            res.set_content(R"({"error":{"code":400,"message":"badly shaped request"}})", kJsonType);
            return;
        }
        std::string key = endpoint + ":" + member(body);
        std::optional<std::string> answer;
        {
            std::lock_guard lock(m_mutex);
            if (auto it = m_extra.find(key); it != m_extra.end()) answer = it->second;
        }
        if (!answer) answer = recorded_for(key);
        if (!answer) {
            res.status = 404;
            res.set_content(R"({"error":{"code":404,"message":"Requested entity was not found."}})", kJsonType);
            return;
        }
        if (key == "browse:FEtrending") res.status = 400;
        res.set_content(*answer, kJsonType);
    }

    static std::string member(const Json& body) {
        for (const char* name : {"query", "videoId", "continuation", "browseId", "url"}) {
            if (body.contains(name) && body[name].is_string()) {
                std::string value = body[name];
                if (std::string_view(name) == "query" && body.value("params", "") == "CAMSBAgDEAHwAQE%3D") {
                    value = "popular:" + value;
                }
                return value;
            }
        }
        return {};
    }

    static std::optional<std::string> recorded_for(const std::string& key) {
        static const std::pair<const char*, const char*> kFiles[] = {
            {"search:test", "search-all.json"},
            {"search:popular:test", "search-videos.json"},
            {"search:channels", "search-channels.json"},
            {"search:playlists", "search-playlists.json"},
            {"next:M4gD1WSo5mA", "next-video-cc.json"},
            {"next:X4VbdwhkE10", "next-video-live.json"},
            {"next:QqsLTNkzvaY", "next-comments-first.json"},
            {"next:Eg0SC1Fxc0xUTmt6dmFZGAYyJSIRIgtRcXNMVE5renZhWTAAeAJCEGNvbW1lbnRzLXNlY3Rpb24%3D",
             "next-comments-page.json"},
            {"browse:UCsXVk37bltHxD1rDPwtNM8Q", "browse-channel-home.json"},
            {"browse:UCTwECeGqMZee77BjdoYtI2Q", "browse-channel-videos.json"},
            {"browse:UCoaO4U_p7G7AwalqSbGCZOA", "browse-channel-unavailable.json"},
            {"browse:VLPL8dPuuaLjXtOAKed_MxxWBNaPno5h3Zs8", "browse-playlist.json"},
            {"browse:VLINVALID_ID", "browse-playlist-unavailable.json"},
            {"browse:FEtrending", "browse-trending-retired-400.json"},
        };
        for (const auto& [k, file] : kFiles) {
            if (key == k) return recorded(file);
        }
        // Every other filtered search (the popular feed's topics).
        if (key.starts_with("search:popular:")) return recorded("search-videos.json");
        if (key == "navigation/resolve_url:https://www.youtube.com/@kurzgesagt") {
            return std::string(R"({"endpoint":{"browseEndpoint":{"browseId":"UCsXVk37bltHxD1rDPwtNM8Q"}}})");
        }
        return std::nullopt;
    }

    vorn_test::LocalServer m_server;
    bool m_started = false;
    std::atomic<int> m_requests{0};
    std::mutex m_mutex;
    std::vector<Json> m_bodies;
    std::vector<std::string> m_keys;
    std::vector<int> m_ports;
    std::map<std::string, std::string> m_extra;
    int m_failures = 0;
    int m_failure_status = 500;
    std::string m_failure_body;
    std::atomic<std::chrono::milliseconds> m_delay{std::chrono::milliseconds(0)};
};

}  // namespace sarn::innertube::testing
