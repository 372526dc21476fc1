#pragma once
// A scripted stand-in for a Grayjay device on 127.0.0.1: it listens, answers the
// version exchange and the Noise IK handshake as responder (reading the
// optional Noise N pairing message), then runs one script per connection.

#include <atomic>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "noise/crypto.h"
#include "sarn/sync/connection.h"

namespace sarn::testing {

struct FakePeerOptions {
    std::int32_t version = 5;
    std::chrono::milliseconds io_timeout{2000};
};

class FakePeer {
public:
    // Runs after the handshake; the session is the responder's side.
    using Script = std::function<void(SyncSession&)>;
    // Runs on the raw socket right after accept (no version, no handshake).
    using RawScript = std::function<void(int fd)>;

    explicit FakePeer(std::vector<Script> scripts, FakePeerOptions options = {});
    FakePeer(std::vector<RawScript> raw, bool);
    // Runs the script for every connection, one at a time, until destroyed.
    struct EveryConnection {};
    FakePeer(Script script, EveryConnection, FakePeerOptions options = {});
    ~FakePeer();

    std::uint16_t port() const { return m_port; }
    std::string public_key() const;
    PeerDescriptor descriptor() const;
    // Waits until every script ran (or the accept time-out passed).
    void wait();

    // Filled in by the peer thread; read after wait().
    std::vector<std::string> pairing_codes;
    std::vector<std::string> client_keys;
    std::vector<std::string> errors;

private:
    void open_listener();
    void serve(std::vector<Script> scripts, std::vector<RawScript> raw);
    void serve_every(Script script);
    // The version exchange and the handshake, then the script; false when
    // the client broke off before the script could run.
    bool serve_connection(int fd, Script& script);
    int m_listen = -1;
    std::uint16_t m_port = 0;
    noise::KeyPair m_static = noise::KeyPair::generate();
    FakePeerOptions m_options;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

// Script steps.
// Waits for the client's Authorized notice, then sends ours (or Unauthorized).
bool await_client_authorized(SyncSession& session);
void send_notify(SyncSession& session, NotifySubopcode sub, std::string_view name = "Fake phone");
void send_ping(SyncSession& session);
std::optional<sync_message::Data> await_data(SyncSession& session);

}  // namespace sarn::testing
