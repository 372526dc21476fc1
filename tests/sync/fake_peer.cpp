#include "fake_peer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "noise/handshake.h"
#include "sarn/sync/base64.h"

namespace sarn::testing {
namespace {

std::uint32_t get_u32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

void put_u32(std::uint8_t* out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) out[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

int accept_one(int listener) {
    pollfd p{listener, POLLIN, 0};
    if (::poll(&p, 1, 20000) <= 0) return -1;
    return ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
}

}  // namespace

void FakePeer::open_listener() {
    m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(m_listen, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::listen(m_listen, 8);
    socklen_t len = sizeof addr;
    ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&addr), &len);
    m_port = ntohs(addr.sin_port);
}

FakePeer::FakePeer(std::vector<Script> scripts, FakePeerOptions options) : m_options(options) {
    open_listener();
    m_thread = std::thread([this, scripts = std::move(scripts)]() mutable { serve(std::move(scripts), {}); });
}

FakePeer::FakePeer(Script script, EveryConnection, FakePeerOptions options) : m_options(options) {
    open_listener();
    m_thread = std::thread([this, script = std::move(script)]() mutable { serve_every(std::move(script)); });
}

FakePeer::FakePeer(std::vector<RawScript> raw, bool) : FakePeer(std::vector<Script>{}) {
    m_thread.join();
    m_thread = std::thread([this, raw = std::move(raw)]() mutable { serve({}, std::move(raw)); });
}

FakePeer::~FakePeer() {
    m_stop = true;
    wait();
    if (m_listen >= 0) ::close(m_listen);
}

void FakePeer::wait() {
    if (m_thread.joinable()) m_thread.join();
}

std::string FakePeer::public_key() const { return encode_base64(m_static.public_key()); }

PeerDescriptor FakePeer::descriptor() const { return PeerDescriptor{public_key(), {"127.0.0.1"}, m_port}; }

void FakePeer::serve(std::vector<Script> scripts, std::vector<RawScript> raw) {
    for (RawScript& script : raw) {
        int fd = accept_one(m_listen);
        if (fd < 0) return;
        script(fd);
        ::close(fd);
    }
    for (Script& script : scripts) {
        int fd = accept_one(m_listen);
        if (fd < 0) {
            errors.push_back("no connection");
            return;
        }
        (void)serve_connection(fd, script);
    }
}

void FakePeer::serve_every(Script script) {
    while (!m_stop) {
        pollfd p{m_listen, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0) continue;
        const int fd = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0) (void)serve_connection(fd, script);
    }
}

bool FakePeer::serve_connection(int fd, Script& script) {
    SyncSocket socket = SyncSocket::adopt(fd, m_options.io_timeout);
    std::uint8_t version[4];
    if (!socket.read_exact(version)) {
        errors.push_back("no version");
        return false;
    }
    std::uint8_t ours[4];
    put_u32(ours, static_cast<std::uint32_t>(m_options.version));
    (void)socket.write_all(ours);
    std::uint8_t length_bytes[4];
    if (!socket.read_exact(length_bytes)) {
        errors.push_back("no handshake request");
        return false;
    }
    std::vector<std::uint8_t> request(get_u32(length_bytes));
    if (request.size() < 8 || !socket.read_exact(request)) {
        errors.push_back("short handshake request");
        return false;
    }
    const std::uint32_t p = get_u32(request.data() + 4);
    if (8 + p > request.size()) {
        errors.push_back("bad pairing length");
        return false;
    }
    if (p > 0) {
        noise::HandshakeConfig n{noise::Pattern::N, noise::Role::Responder, {}, m_static, std::nullopt, std::nullopt};
        auto one_way = noise::HandshakeState::create(n);
        auto code = one_way->read_message(noise::ByteView(request).subspan(8, p));
        if (!code) {
            errors.push_back("bad pairing message");
            return false;
        }
        pairing_codes.emplace_back(code->begin(), code->end());
    }
    noise::HandshakeConfig ik{noise::Pattern::IK, noise::Role::Responder, {}, m_static, std::nullopt, std::nullopt};
    auto handshake = noise::HandshakeState::create(ik);
    if (!handshake->read_message(noise::ByteView(request).subspan(8 + p))) {
        errors.push_back("bad IK message");
        return false;
    }
    auto reply = handshake->write_message({});
    std::vector<std::uint8_t> framed(4 + reply->size());
    put_u32(framed.data(), static_cast<std::uint32_t>(reply->size()));
    std::copy(reply->begin(), reply->end(), framed.begin() + 4);
    (void)socket.write_all(framed);
    const std::string client = encode_base64(*handshake->remote_static());
    client_keys.push_back(client);
    SyncSession session(std::move(socket), *handshake->split(), client, public_key(), "Fake phone", get_u32(version));
    script(session);
    return true;
}

bool await_client_authorized(SyncSession& session) {
    for (;;) {
        auto message = session.receive_message();
        if (!message) return false;
        if (std::holds_alternative<sync_message::Authorized>(*message)) return true;
    }
}

void send_notify(SyncSession& session, NotifySubopcode sub, std::string_view name) {
    std::vector<std::uint8_t> payload;
    if (sub == NotifySubopcode::Authorized) {
        const std::string id = "6f9619ff-8b86-d011-b42d-00c04fc964ff";
        payload.push_back(static_cast<std::uint8_t>(id.size()));
        payload.insert(payload.end(), id.begin(), id.end());
        payload.push_back(static_cast<std::uint8_t>(name.size()));
        payload.insert(payload.end(), name.begin(), name.end());
    }
    (void)session.send_payload(SyncOpcode::Notify, static_cast<std::uint8_t>(sub), payload, false);
}

void send_ping(SyncSession& session) { (void)session.send_payload(SyncOpcode::Ping, 0, {}, false); }

std::optional<sync_message::Data> await_data(SyncSession& session) {
    for (;;) {
        auto message = session.receive_message();
        if (!message) return std::nullopt;
        if (auto* data = std::get_if<sync_message::Data>(&*message)) return std::move(*data);
    }
}

}  // namespace sarn::testing
