// A cpp-httplib server on 127.0.0.1 and an ephemeral port, run on its own
// thread for the life of the object. Tests register handlers, call start(),
// and point the code under test at base_url().
#pragma once

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

namespace vorn_test {

class LocalServer {
public:
    LocalServer() = default;
    LocalServer(const LocalServer&) = delete;
    LocalServer& operator=(const LocalServer&) = delete;
    ~LocalServer() { stop(); }

    httplib::Server& server() { return m_server; }

    // Binds and starts serving; answers false when no port could be bound.
    bool start() {
        m_port = m_server.bind_to_any_port("127.0.0.1");
        if (m_port <= 0) return false;
        m_thread = std::thread([this] { m_server.listen_after_bind(); });
        // stop() only reaches a server that is already listening.
        for (int i = 0; i < 5000 && !m_server.is_running(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return m_server.is_running();
    }

    void stop() {
        m_stopping = true;
        if (m_thread.joinable()) {
            m_server.stop();
            m_thread.join();
        }
    }

    // Set when stop() began; slow handlers poll it to end early.
    bool stopping() const { return m_stopping; }
    int port() const { return m_port; }
    std::string base_url() const { return "http://127.0.0.1:" + std::to_string(m_port); }

private:
    httplib::Server m_server;
    std::thread m_thread;
    std::atomic<bool> m_stopping{false};
    int m_port = 0;
};

}  // namespace vorn_test
