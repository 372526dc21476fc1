// Handshakes per second and transport throughput of our Noise layer, against
// the npm noise-protocol package measured in the same run (tests/sync/node,
// `node peer.js bench`). Prints ratios ours / npm. Also reports the full frame
// path (packets, encryption, a socket pair, decryption, parsing) for context.

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

double seconds_since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

double our_handshakes_per_second(int rounds) {
    const auto server = noise::KeyPair::generate();
    const auto client = noise::KeyPair::generate();
    const auto start = Clock::now();
    for (int i = 0; i < rounds; ++i) {
        auto a = *noise::HandshakeState::create({noise::Pattern::IK, noise::Role::Initiator, {}, client, server.public_key(), std::nullopt});
        auto b = *noise::HandshakeState::create({noise::Pattern::IK, noise::Role::Responder, {}, server, std::nullopt, std::nullopt});
        auto m1 = a.write_message({});
        (void)b.read_message(*m1);
        auto m2 = b.write_message({});
        (void)a.read_message(*m2);
        auto split = b.split();
        if (!split) std::abort();
    }
    return rounds / seconds_since(start);
}

double our_transport_bytes_per_second(int frames) {
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

// Raw Data payloads of 65512 bytes through two sessions over a socket pair.
double our_frame_path_bytes_per_second(int messages) {
    int fds[2];
    ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds);
    auto server = noise::KeyPair::generate();
    auto client = noise::KeyPair::generate();
    auto i = *noise::HandshakeState::create({noise::Pattern::IK, noise::Role::Initiator, {}, client, server.public_key(), std::nullopt});
    auto r = *noise::HandshakeState::create({noise::Pattern::IK, noise::Role::Responder, {}, server, std::nullopt, std::nullopt});
    (void)r.read_message(*i.write_message({}));
    (void)i.read_message(*r.write_message({}));
    sarn::SyncSession a(sarn::SyncSocket::adopt(fds[0], std::chrono::milliseconds(5000)), *i.split(), "b", "a", "A", 5);
    sarn::SyncSession b(sarn::SyncSocket::adopt(fds[1], std::chrono::milliseconds(5000)), *r.split(), "a", "b", "B", 5);
    std::vector<std::uint8_t> payload(65512, 3);
    const auto start = Clock::now();
    std::thread sender([&] {
        for (int n = 0; n < messages; ++n) (void)a.send_payload(sarn::SyncOpcode::Data, 202, payload, false);
    });
    std::size_t received = 0;
    for (int n = 0; n < messages; ++n) {
        auto message = b.receive_message();
        if (!message) break;
        received += std::get<sarn::sync_message::Data>(*message).payload.size();
    }
    sender.join();
    return static_cast<double>(received) / seconds_since(start);
}

std::optional<nlohmann::json> npm_baseline(int rounds, int frames) {
    const std::filesystem::path dir = std::filesystem::path(VORN_SOURCE_DIR) / "tests/sync/node";
    if (!std::filesystem::exists(dir / "node_modules/noise-protocol")) return std::nullopt;
    const std::string command = fmt::format("cd '{}' && node peer.js bench {} {}", dir.string(), rounds, frames);
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return std::nullopt;
    std::string out;
    char chunk[512];
    while (std::fgets(chunk, sizeof chunk, pipe)) out += chunk;
    if (::pclose(pipe) != 0) return std::nullopt;
    auto json = nlohmann::json::parse(out, nullptr, false);
    if (json.is_discarded()) return std::nullopt;
    return json;
}

}  // namespace

int main() {
    constexpr int kRounds = 2000;
    constexpr int kFrames = 4000;
    // The baseline runs first, then ours; each figure is the best of three so
    // that a busy machine penalises neither side more than the other.
    std::optional<nlohmann::json> npm;
    double npm_hs = 0;
    double npm_tx = 0;
    for (int i = 0; i < 3; ++i) {
        auto run = npm_baseline(kRounds, kFrames);
        if (!run) break;
        npm = run;
        npm_hs = std::max(npm_hs, (*run)["handshakesPerSecond"].get<double>());
        npm_tx = std::max(npm_tx, (*run)["transportBytesPerSecond"].get<double>());
    }
    double ours_hs = 0;
    double ours_tx = 0;
    double ours_path = 0;
    for (int i = 0; i < 3; ++i) {
        ours_hs = std::max(ours_hs, our_handshakes_per_second(kRounds));
        ours_tx = std::max(ours_tx, our_transport_bytes_per_second(kFrames));
        ours_path = std::max(ours_path, our_frame_path_bytes_per_second(kFrames));
    }
    fmt::print("ours: {:.0f} IK handshakes/s, transport {:.1f} MB/s, frame path over a socket pair {:.1f} MB/s\n",
               ours_hs, ours_tx / 1e6, ours_path / 1e6);
    if (!npm) {
        fmt::print("npm noise-protocol baseline unavailable (run scripts/setup.sh); no ratios\n");
        return 0;
    }
    fmt::print("npm noise-protocol 3.0.2: {:.0f} IK handshakes/s, transport {:.1f} MB/s\n", npm_hs, npm_tx / 1e6);
    fmt::print("ratio ours/npm handshakes:      {:.2f}x\n", ours_hs / npm_hs);
    fmt::print("ratio ours/npm transport:       {:.2f}x\n", ours_tx / npm_tx);
    fmt::print("ratio ours frame path/npm bare: {:.2f}x\n", ours_path / npm_tx);
    return 0;
}
