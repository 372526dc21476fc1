// Interop with an independent Noise implementation: a responder built on the npm
// noise-protocol package (tests/sync/node), listening on 127.0.0.1.

#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <nlohmann/json.hpp>

#include "sarn/sync/base64.h"
#include "sarn/sync/transport.h"

namespace {

using namespace sarn;
using namespace std::chrono_literals;

// The node peer as a child process: its stdout is read line by line.
class NodePeer {
public:
    static std::optional<NodePeer> start() {
        const std::filesystem::path dir = std::filesystem::path(VORN_SOURCE_DIR) / "tests/sync/node";
        if (!std::filesystem::exists(dir / "node_modules/noise-protocol")) return std::nullopt;
        int out[2];
        int in[2];
        if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(in, O_CLOEXEC) != 0) return std::nullopt;
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::dup2(out[1], 1);
            ::dup2(in[0], 0);
            ::chdir(dir.c_str());
            ::execlp("node", "node", "peer.js", "serve", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(out[1]);
        ::close(in[0]);
        NodePeer peer;
        peer.m_pid = pid;
        peer.m_out = out[0];
        peer.m_in = in[1];
        return peer;
    }
    NodePeer() = default;
    NodePeer(NodePeer&& o) noexcept : m_pid(o.m_pid), m_out(o.m_out), m_in(o.m_in), m_buffer(std::move(o.m_buffer)) {
        o.m_pid = -1;
        o.m_out = o.m_in = -1;
    }
    ~NodePeer() {
        if (m_in >= 0) ::close(m_in);  // the peer exits when its stdin ends
        if (m_pid > 0) {
            for (int i = 0; i < 100 && ::waitpid(m_pid, nullptr, WNOHANG) == 0; ++i) ::usleep(20000);
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
        if (m_out >= 0) ::close(m_out);
    }

    // The next JSON line, or nothing within the time-out (generous: node can
    // take long to start on a loaded machine).
    std::optional<nlohmann::json> next(std::chrono::milliseconds timeout = 60s) {
        const auto give_up = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            if (auto nl = m_buffer.find('\n'); nl != std::string::npos) {
                std::string line = m_buffer.substr(0, nl);
                m_buffer.erase(0, nl + 1);
                return nlohmann::json::parse(line, nullptr, false);
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(give_up - std::chrono::steady_clock::now());
            if (left <= 0ms) return std::nullopt;
            pollfd p{m_out, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) return std::nullopt;
            char chunk[4096];
            const ssize_t n = ::read(m_out, chunk, sizeof chunk);
            if (n <= 0) return std::nullopt;
            m_buffer.append(chunk, static_cast<std::size_t>(n));
        }
    }
    std::optional<nlohmann::json> next_event(const std::string& name) {
        while (auto line = next()) {
            if (line->value("event", "") == name) return line;
            if (line->value("event", "") == "error") return line;
        }
        return std::nullopt;
    }

private:
    pid_t m_pid = -1;
    int m_out = -1;
    int m_in = -1;
    std::string m_buffer;
};

TEST(SyncInterop, NodeNoisePeerPairsServesAPullAndReceivesAPush) {
    if (::system("node --version > /dev/null 2>&1") != 0) GTEST_SKIP() << "node is not installed";
    auto peer = NodePeer::start();
    if (!peer) GTEST_SKIP() << "tests/sync/node has no node_modules (run scripts/setup.sh)";
    auto hello = peer->next();
    ASSERT_TRUE(hello.has_value());
    const int port = (*hello)["port"];
    const std::string key = (*hello)["publicKey"];

    auto config = SyncTransportConfig::create(*device_keypair_from_secret(SyncBytes(32, 21)), "Vorn Sarn");
    config.timing = SyncTiming{2000ms, 1000ms, 3000ms};
    GrayjaySyncTransport transport(std::move(config));

    const std::string invite_json = R"({"publicKey":")" + key + R"(","addresses":["127.0.0.1"],"port":)" +
                                    std::to_string(port) + R"(,"pairingCode":"NODE4242"})";
    auto id = transport.pair(encode_base64(SyncBytes(invite_json.begin(), invite_json.end())));
    ASSERT_TRUE(id.has_value()) << id.error().display();
    EXPECT_EQ(*id, key);
    auto handshake = peer->next_event("handshake");
    ASSERT_TRUE(handshake.has_value());
    EXPECT_EQ((*handshake)["version"], 5);
    EXPECT_EQ((*handshake)["pairingCode"], "NODE4242");
    EXPECT_EQ((*handshake)["clientKey"], transport.config().keypair.public_key());
    auto authorized = peer->next_event("authorized");
    ASSERT_TRUE(authorized.has_value());
    EXPECT_EQ((*authorized)["name"], "Vorn Sarn");
    EXPECT_EQ(std::string((*authorized)["id"]).size(), 36u);

    auto pulled = transport.pull(*id);
    ASSERT_TRUE(pulled.has_value()) << pulled.error().display();
    EXPECT_EQ(pulled->subscription_urls, std::vector<std::string>{"https://www.youtube.com/channel/UCnode"});
    EXPECT_EQ(pulled->history_urls, (std::vector<std::string>{"https://www.youtube.com/watch?v=node1",
                                                               "https://www.youtube.com/watch?v=node2"}));
    auto state = peer->next_event("state");
    ASSERT_TRUE(state.has_value());
    EXPECT_EQ((*state)["json"]["publicKey"], transport.config().keypair.public_key());
    EXPECT_EQ((*state)["json"]["lastHistory"], -1);

    sync_command::SyncNow now;
    now.channels = {PeerChannel{"https://www.youtube.com/channel/UCdesk1", {}, "UCdesk1", "Desk 1"},
                    PeerChannel{"https://www.youtube.com/channel/UCdesk2", {}, "UCdesk2", "Desk 2"}};
    ASSERT_TRUE(transport.push_subscriptions(*id, now).has_value());
    auto pushed = peer->next_event("subscriptions");
    ASSERT_TRUE(pushed.has_value());
    ASSERT_EQ((*pushed)["json"]["subscriptions"].size(), 2u);
    EXPECT_EQ((*pushed)["json"]["subscriptions"][1]["channel"]["url"], "https://www.youtube.com/channel/UCdesk2");
}

}  // namespace

namespace {

// The published IK vector through the npm package: in IK both sides must send
// with the cipher the package calls `rx`; a peer written with `tx` would pass
// its own loopback tests and fail against any correct implementation.
TEST(SyncInterop, NpmPackageCipherNamesAgainstThePublishedVector) {
    const std::filesystem::path dir = std::filesystem::path(VORN_SOURCE_DIR) / "tests/sync/node";
    if (::system("node --version > /dev/null 2>&1") != 0) GTEST_SKIP() << "node is not installed";
    if (!std::filesystem::exists(dir / "node_modules/noise-protocol")) GTEST_SKIP() << "run scripts/setup.sh";
    const std::string command = "cd '" + dir.string() + "' && node check-vector.js ../../noise/cacophony-ik-n.json";
    FILE* pipe = ::popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string out;
    char chunk[512];
    while (std::fgets(chunk, sizeof chunk, pipe)) out += chunk;
    ASSERT_EQ(::pclose(pipe), 0) << out;
    auto result = nlohmann::json::parse(out);
    EXPECT_TRUE(result["handshakeMatches"].get<bool>());
    EXPECT_TRUE(result["initiatorSendsWithRx"].get<bool>());
    EXPECT_TRUE(result["responderSendsWithRx"].get<bool>());
    EXPECT_FALSE(result["initiatorSendsWithTx"].get<bool>());
    EXPECT_FALSE(result["responderSendsWithTx"].get<bool>());
}

}  // namespace
