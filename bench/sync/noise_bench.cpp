// Handshakes per second and transport throughput of our Noise layer and frame
// path, against the npm noise-protocol package measured in the same run
// (tests/sync/node, `node peer.js bench`). Prints ratios ours / npm.
//
// - handshakes: a full IK handshake, both roles, and the split, in one thread;
// - transport: one connection's transport phase over 127.0.0.1, a sending
//   thread sealing and writing Data packets of a given payload size and a
//   receiving thread reading, opening and parsing them (the npm side: the same
//   packets, a worker thread sending, the main thread receiving);
// - bare cipher: one full frame sealed and opened in one thread. Both sides
//   call the same libsodium ChaCha20-Poly1305 here, so this ratio stays near 1.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <thread>

#include <fmt/format.h>

#include "noise/handshake.h"
#include "sarn/sync/connection.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kRounds = 2000;
constexpr int kFrames = 4000;
constexpr std::size_t kTransportBytes = 64 * 1024 * 1024;
constexpr std::size_t kSizes[] = {1024, 16384, 65512};

double seconds_since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

noise::HandshakeState initiator_for(const noise::KeyPair& client, const noise::KeyPair& server) {
    return *noise::HandshakeState::create(
        {noise::Pattern::IK, noise::Role::Initiator, {}, client, server.public_key(), std::nullopt});
}

noise::HandshakeState responder_for(const noise::KeyPair& server) {
    return *noise::HandshakeState::create({noise::Pattern::IK, noise::Role::Responder, {}, server, std::nullopt, std::nullopt});
}

double our_handshakes_per_second(int rounds) {
    const auto server = noise::KeyPair::generate();
    const auto client = noise::KeyPair::generate();
    const auto start = Clock::now();
    for (int i = 0; i < rounds; ++i) {
        auto a = initiator_for(client, server);
        auto b = responder_for(server);
        auto m1 = a.write_message({});
        (void)b.read_message(*m1);
        auto m2 = b.write_message({});
        (void)a.read_message(*m2);
        if (!a.split() || !b.split()) std::abort();
    }
    return rounds / seconds_since(start);
}

double our_cipher_bytes_per_second(int frames) {
    noise::Key key{};
    key[3] = 1;
    noise::CipherState sealing;
    noise::CipherState opening;
    sealing.initialize_key(key);
    opening.initialize_key(key);
    std::vector<std::uint8_t> plain(65519, 7);
    std::vector<std::uint8_t> sealed(65535);
    std::vector<std::uint8_t> back(65519);
    const auto start = Clock::now();
    for (int i = 0; i < frames; ++i) {
        (void)sealing.encrypt_with_ad({}, plain, sealed);
        (void)opening.decrypt_with_ad({}, sealed, back);
    }
    return frames * static_cast<double>(plain.size()) / seconds_since(start);
}

// A connected pair of TCP sockets on 127.0.0.1.
std::pair<int, int> loopback_pair() {
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(listener, 1) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        std::abort();
    }
    const int client = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (::connect(client, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) std::abort();
    const int server = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    ::close(listener);
    const int yes = 1;
    ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    ::setsockopt(server, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    return {client, server};
}

double our_transport_bytes_per_second(std::size_t size, std::size_t count) {
    const auto server_key = noise::KeyPair::generate();
    const auto client_key = noise::KeyPair::generate();
    auto i = initiator_for(client_key, server_key);
    auto r = responder_for(server_key);
    (void)r.read_message(*i.write_message({}));
    (void)i.read_message(*r.write_message({}));
    const auto [client, server] = loopback_pair();
    const std::chrono::milliseconds io(5000);
    sarn::SyncSession sender(sarn::SyncSocket::adopt(client, io), *i.split(), "b", "a", "A", 5);
    sarn::SyncSession receiver(sarn::SyncSocket::adopt(server, io), *r.split(), "a", "b", "B", 5);
    const std::vector<std::uint8_t> payload(size, 3);
    const auto start = Clock::now();
    std::thread sending([&] {
        for (std::size_t n = 0; n < count; ++n) {
            if (!sender.send_payload(sarn::SyncOpcode::Data, 202, payload, false)) std::abort();
        }
    });
    std::size_t received = 0;
    for (std::size_t n = 0; n < count; ++n) {
        auto message = receiver.receive_message();
        if (!message) std::abort();
        received += std::get<sarn::sync_message::Data>(*message).payload.size();
    }
    const double seconds = seconds_since(start);
    sending.join();
    return static_cast<double>(received) / seconds;
}

std::optional<nlohmann::json> npm_baseline() {
    const std::filesystem::path dir = std::filesystem::path(VORN_SOURCE_DIR) / "tests/sync/node";
    if (!std::filesystem::exists(dir / "node_modules/noise-protocol")) return std::nullopt;
    std::string sizes;
    for (std::size_t size : kSizes) sizes += (sizes.empty() ? "" : ",") + std::to_string(size);
    const std::string command =
        fmt::format("cd '{}' && node peer.js bench {} {} {} {}", dir.string(), kRounds, kFrames, sizes, kTransportBytes);
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return std::nullopt;
    std::string out;
    char chunk[512];
    while (std::fgets(chunk, sizeof chunk, pipe)) out += chunk;
    if (::pclose(pipe) != 0) return std::nullopt;
    auto json = nlohmann::json::parse(out, nullptr, false);
    if (json.is_discarded() || !json.contains("transport")) return std::nullopt;
    return json;
}

struct Figures {
    double handshakes = 0;
    double cipher = 0;
    std::vector<double> transport = std::vector<double>(std::size(kSizes), 0.0);
};

}  // namespace

int main() {
    // The baseline runs first, then ours; each figure is the best of three so
    // that a busy machine penalises neither side more than the other.
    Figures npm;
    bool have_npm = false;
    for (int run = 0; run < 3; ++run) {
        auto json = npm_baseline();
        if (!json) break;
        have_npm = true;
        npm.handshakes = std::max(npm.handshakes, (*json)["handshakesPerSecond"].get<double>());
        npm.cipher = std::max(npm.cipher, (*json)["cipherBytesPerSecond"].get<double>());
        for (std::size_t k = 0; k < std::size(kSizes); ++k) {
            npm.transport[k] = std::max(npm.transport[k], (*json)["transport"][std::to_string(kSizes[k])].get<double>());
        }
    }
    Figures ours;
    for (int run = 0; run < 3; ++run) {
        ours.handshakes = std::max(ours.handshakes, our_handshakes_per_second(kRounds));
        ours.cipher = std::max(ours.cipher, our_cipher_bytes_per_second(kFrames));
        for (std::size_t k = 0; k < std::size(kSizes); ++k) {
            ours.transport[k] = std::max(ours.transport[k], our_transport_bytes_per_second(kSizes[k], kTransportBytes / kSizes[k]));
        }
    }

    fmt::print("{:<34} {:>14} {:>14} {:>8}\n", "", "ours", "npm 3.0.2", "ratio");
    auto row = [&](const std::string& name, double a, double b, double scale, const char* unit) {
        if (have_npm) {
            fmt::print("{:<34} {:>10.1f} {:<3} {:>10.1f} {:<3} {:>7.2f}x\n", name, a / scale, unit, b / scale, unit, a / b);
        } else {
            fmt::print("{:<34} {:>10.1f} {:<3}\n", name, a / scale, unit);
        }
    };
    row("IK handshakes", ours.handshakes, npm.handshakes, 1, "/s");
    for (std::size_t k = 0; k < std::size(kSizes); ++k) {
        row(fmt::format("transport, {}-byte payloads", kSizes[k]), ours.transport[k], npm.transport[k], 1e6, "MB/s");
    }
    row("bare cipher, one full frame", ours.cipher, npm.cipher, 1e6, "MB/s");
    if (!have_npm) fmt::print("npm noise-protocol baseline unavailable (run scripts/setup.sh); no ratios\n");
    return 0;
}
