#include "sarn/sync/connection.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sodium.h>
#include <sys/socket.h>
#include <unistd.h>
#include <uuid/uuid.h>

#include <cerrno>
#include <cstring>

#include <fmt/format.h>

#include "sarn/sync/base64.h"

namespace sarn {
namespace {

constexpr std::size_t kHandshakeBuffer = 512;
constexpr std::string_view kDeviceKeyLabel = "vorn-sarn grayjay device key v001";
static_assert(kDeviceKeyLabel.size() == 33);

void put_u32(std::uint8_t* out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) out[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint32_t get_u32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

int wait_ms(std::chrono::milliseconds io, std::optional<SyncClock::time_point> deadline, bool& limited_by_deadline) {
    auto wait = io;
    limited_by_deadline = false;
    if (deadline) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(*deadline - SyncClock::now());
        if (left < std::chrono::milliseconds(0)) left = std::chrono::milliseconds(0);
        if (left <= wait) {
            wait = left;
            limited_by_deadline = true;
        }
    }
    return static_cast<int>(wait.count());
}

std::string random_uuid() {
    uuid_t id;
    uuid_generate_random(id);
    char text[37];
    uuid_unparse_lower(id, text);
    return text;
}

// UTF-8 with every invalid sequence replaced by U+FFFD.
std::string lossy_utf8(const std::uint8_t* data, std::size_t size) {
    std::string out;
    out.reserve(size);
    std::size_t i = 0;
    while (i < size) {
        const std::uint8_t c = data[i];
        std::size_t length = 0;
        std::uint32_t min = 0;
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
            ++i;
            continue;
        }
        if (c >= 0xC2 && c <= 0xDF) {
            length = 2;
            min = 0x80;
        } else if (c >= 0xE0 && c <= 0xEF) {
            length = 3;
            min = 0x800;
        } else if (c >= 0xF0 && c <= 0xF4) {
            length = 4;
            min = 0x10000;
        }
        std::uint32_t code = length ? c & (0xFF >> (length + 1)) : 0;
        std::size_t used = 1;
        bool valid = length != 0;
        while (valid && used < length) {
            if (i + used >= size || (data[i + used] & 0xC0) != 0x80) {
                valid = false;
                break;
            }
            code = code << 6 | (data[i + used] & 0x3F);
            ++used;
        }
        if (valid && (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))) valid = false;
        if (valid) {
            out.append(reinterpret_cast<const char*>(data + i), length);
            i += length;
        } else {
            out.append("\xEF\xBF\xBD");
            i += used;
        }
    }
    return out;
}

}  // namespace

std::string_view utf8_prefix(std::string_view text, std::size_t max) {
    if (text.size() <= max) return text;
    std::size_t cut = max;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    return text.substr(0, cut);
}

std::string DeviceKeypair::public_key() const { return encode_base64(keys.public_key()); }

std::expected<DeviceKeypair, DeviceSyncError> device_keypair_from_secret(SyncByteView secret) {
    if (secret.size() != 32) return std::unexpected(DeviceSyncError::device_key("device key material has an invalid length"));
    if (!noise::crypto_ready()) return std::unexpected(DeviceSyncError::device_key("Curve25519 is unavailable"));
    auto pair = noise::KeyPair::from_private(secret);
    if (!pair) return std::unexpected(DeviceSyncError::device_key("Curve25519 is unavailable"));
    return DeviceKeypair{*pair};
}

std::expected<DeviceKeypair, DeviceSyncError> derive_device_keypair(SyncByteView material) {
    if (!noise::crypto_ready()) return std::unexpected(DeviceSyncError::device_key("Curve25519 is unavailable"));
    crypto_hash_sha256_state state;
    crypto_hash_sha256_init(&state);
    crypto_hash_sha256_update(&state, reinterpret_cast<const unsigned char*>(kDeviceKeyLabel.data()),
                              kDeviceKeyLabel.size());
    const unsigned char zero = 0;
    crypto_hash_sha256_update(&state, &zero, 1);
    crypto_hash_sha256_update(&state, material.data(), material.size());
    std::array<std::uint8_t, 32> digest{};
    crypto_hash_sha256_final(&state, digest.data());
    auto pair = device_keypair_from_secret(digest);
    sodium_memzero(digest.data(), digest.size());
    sodium_memzero(&state, sizeof state);
    return pair;
}

SyncTransportConfig SyncTransportConfig::create(DeviceKeypair keypair, std::string device_name) {
    return SyncTransportConfig{std::move(keypair), std::move(device_name), SyncTiming{}, {}};
}

DeviceSyncError io_error_text(int error_number) {
    return DeviceSyncError::transport(fmt::format("io: {}", std::strerror(error_number)));
}

DeviceSyncError io_error_text(std::string_view message) { return DeviceSyncError::transport(fmt::format("io: {}", message)); }

DeviceSyncError noise_error_text(const noise::Error& error) {
    return DeviceSyncError::transport(fmt::format("noise: {}", error.message));
}

// ---- socket

SyncSocket SyncSocket::adopt(int fd, std::chrono::milliseconds io_timeout) { return SyncSocket(fd, io_timeout); }

SyncSocket::SyncSocket(SyncSocket&& other) noexcept
    : m_fd(other.m_fd), m_io_timeout(other.m_io_timeout), m_deadline_expired(other.m_deadline_expired) {
    other.m_fd = -1;
}

SyncSocket& SyncSocket::operator=(SyncSocket&& other) noexcept {
    if (this != &other) {
        if (m_fd >= 0) ::close(m_fd);
        m_fd = other.m_fd;
        m_io_timeout = other.m_io_timeout;
        m_deadline_expired = other.m_deadline_expired;
        other.m_fd = -1;
    }
    return *this;
}

SyncSocket::~SyncSocket() {
    if (m_fd >= 0) ::close(m_fd);
}

std::expected<void, DeviceSyncError> SyncSocket::read_exact(std::span<std::uint8_t> out,
                                                            std::optional<SyncClock::time_point> deadline) {
    m_deadline_expired = false;
    std::size_t done = 0;
    while (done < out.size()) {
        // Take what is already there first; wait only when nothing is.
        const ssize_t n = ::recv(m_fd, out.data() + done, out.size() - done, MSG_DONTWAIT);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n == 0) return std::unexpected(io_error_text("failed to fill whole buffer"));
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) return std::unexpected(io_error_text(errno));
        bool by_deadline = false;
        pollfd p{m_fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, wait_ms(m_io_timeout, deadline, by_deadline));
        if (ready < 0) {
            if (errno == EINTR) continue;
            return std::unexpected(io_error_text(errno));
        }
        if (ready == 0) {
            m_deadline_expired = by_deadline;
            return std::unexpected(io_error_text(EAGAIN));
        }
    }
    return {};
}

std::expected<void, DeviceSyncError> SyncSocket::write_all(SyncByteView data) {
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::send(m_fd, data.data() + done, data.size() - done, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n >= 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) return std::unexpected(io_error_text(errno));
        pollfd p{m_fd, POLLOUT, 0};
        const int ready = ::poll(&p, 1, static_cast<int>(m_io_timeout.count()));
        if (ready < 0 && errno != EINTR) return std::unexpected(io_error_text(errno));
        if (ready == 0) return std::unexpected(io_error_text(EAGAIN));
    }
    return {};
}

// ---- session

SyncSession::SyncSession(SyncSocket socket, noise::TransportState transport, std::string peer_public_key,
                         std::string local_public_key, std::string local_name, std::int32_t peer_version)
    : m_socket(std::move(socket)),
      m_transport(std::move(transport)),
      m_peer_public_key(std::move(peer_public_key)),
      m_local_public_key(std::move(local_public_key)),
      m_local_name(std::move(local_name)),
      m_peer_version(peer_version) {}

std::expected<void, DeviceSyncError> SyncSession::send_frame(SyncByteView packet) {
    if (packet.size() + noise::kTagLen > kMaxFrameBytes) {
        return std::unexpected(DeviceSyncError::transport("Noise produced an invalid ciphertext length"));
    }
    m_out.resize(4 + packet.size() + noise::kTagLen);
    auto written = m_transport.send.encrypt_with_ad({}, packet, std::span(m_out).subspan(4));
    if (!written) return std::unexpected(noise_error_text(written.error()));
    if (*written > packet.size() + noise::kTagLen) {
        return std::unexpected(DeviceSyncError::transport("Noise produced an invalid ciphertext length"));
    }
    put_u32(m_out.data(), static_cast<std::uint32_t>(*written));
    return m_socket.write_all(SyncByteView(m_out).first(4 + *written));
}

std::expected<void, DeviceSyncError> SyncSession::send_payload(SyncOpcode opcode, std::uint8_t subopcode,
                                                               SyncByteView payload, bool compress) {
    return encode_payload_packets(opcode, subopcode, payload, compress, m_next_stream_id,
                                  [this](SyncByteView packet) { return send_frame(packet); });
}

std::expected<void, DeviceSyncError> SyncSession::send_data(DataSubopcode subopcode, SyncByteView payload) {
    return send_payload(SyncOpcode::Data, static_cast<std::uint8_t>(subopcode), payload, true);
}

std::expected<void, DeviceSyncError> SyncSession::send_authorized_notice() {
    const std::string id = random_uuid();
    const std::string_view name = utf8_prefix(m_local_name, kNoticeTextMaxBytes);
    SyncBytes payload;
    payload.push_back(static_cast<std::uint8_t>(id.size()));
    payload.insert(payload.end(), id.begin(), id.end());
    payload.push_back(static_cast<std::uint8_t>(name.size()));
    payload.insert(payload.end(), name.begin(), name.end());
    return send_payload(SyncOpcode::Notify, static_cast<std::uint8_t>(NotifySubopcode::Authorized), payload, false);
}

std::expected<SyncMessage, DeviceSyncError> SyncSession::receive_message(std::optional<SyncClock::time_point> deadline) {
    for (;;) {
        if (deadline && SyncClock::now() >= *deadline) {
            m_socket.mark_deadline_expired();
            return std::unexpected(io_error_text(EAGAIN));
        }
        std::uint8_t length_bytes[4];
        if (auto r = m_socket.read_exact(length_bytes, deadline); !r) return std::unexpected(r.error());
        const std::uint32_t length = get_u32(length_bytes);
        if (length > kMaxFrameBytes) return std::unexpected(DeviceSyncError::transport(fmt::format("frame too large: {}", length)));
        m_frame.resize(length);
        if (auto r = m_socket.read_exact(m_frame, deadline); !r) return std::unexpected(r.error());
        m_plain.resize(length >= noise::kTagLen ? length - noise::kTagLen : 0);
        auto plain = m_transport.receive.decrypt_with_ad({}, m_frame, m_plain);
        if (!plain) return std::unexpected(noise_error_text(plain.error()));
        auto packet = parse_packet(SyncByteView(m_plain).first(*plain));
        if (!packet) return std::unexpected(DeviceSyncError::transport(fmt::format("frame decode: {}", packet.error().text())));

        std::optional<SyncPacket> current = std::move(*packet);
        if (current->opcode == static_cast<std::uint8_t>(SyncOpcode::Stream)) {
            auto done = m_streams.handle(current->subopcode, current->payload);
            if (!done) return std::unexpected(done.error());
            if (!*done) continue;
            current = std::move(**done);
            if (current->opcode != static_cast<std::uint8_t>(SyncOpcode::Data)) continue;
        }
        switch (static_cast<SyncOpcode>(current->opcode)) {
            case SyncOpcode::Ping: {
                const SyncBytes pong = encode_packet(static_cast<std::uint8_t>(SyncOpcode::Pong), 0, 0, {});
                if (auto r = send_frame(pong); !r) return std::unexpected(r.error());
                ++m_pings_answered;
                continue;
            }
            case SyncOpcode::Pong: continue;
            case SyncOpcode::Notify: {
                if (current->subopcode == static_cast<std::uint8_t>(NotifySubopcode::Authorized)) {
                    const SyncBytes& p = current->payload;
                    std::string name;
                    if (!p.empty()) {
                        const std::size_t n = p[0];
                        if (1 + n < p.size()) {
                            const std::size_t m = p[1 + n];
                            const std::size_t start = 2 + n;
                            const std::size_t available = std::min(m, p.size() - start);
                            name = lossy_utf8(p.data() + start, available);
                        }
                    }
                    m_peer_authorized = true;
                    m_peer_name = name;
                    return SyncMessage(sync_message::Authorized{std::move(name)});
                }
                if (current->subopcode == static_cast<std::uint8_t>(NotifySubopcode::Unauthorized)) {
                    m_peer_authorized = false;
                    return SyncMessage(sync_message::Unauthorized{});
                }
                continue;
            }
            case SyncOpcode::Data: {
                const std::uint8_t sub = current->subopcode;
                auto bytes = decompress_payload(std::move(*current));
                if (!bytes) return std::unexpected(bytes.error());
                return SyncMessage(sync_message::Data{sub, std::move(*bytes)});
            }
            default: continue;
        }
    }
}

void SyncSession::finish(std::chrono::milliseconds linger) {
    const int fd = m_socket.fd();
    if (fd < 0 || ::shutdown(fd, SHUT_WR) != 0) return;
    const auto give_up = SyncClock::now() + linger;
    std::uint8_t sink[4096];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(give_up - SyncClock::now());
        if (left.count() <= 0) return;
        pollfd p{fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return;
        const ssize_t n = ::recv(fd, sink, sizeof sink, MSG_DONTWAIT);
        if (n == 0) return;
        if (n < 0 && errno != EINTR && errno != EAGAIN) return;
    }
}

// ---- set-up

std::expected<SyncSocket, DeviceSyncError> connect_tcp(const PeerDescriptor& descriptor, const SyncTiming& timing) {
    DeviceSyncError last = DeviceSyncError::transport("no addresses to connect");
    for (const std::string& address : descriptor.addresses) {
        const std::string port = std::to_string(descriptor.port);
        addrinfo hints{};
        hints.ai_socktype = SOCK_STREAM;
        hints.ai_family = AF_UNSPEC;
        addrinfo* found = nullptr;
        const int rc = ::getaddrinfo(address.c_str(), port.c_str(), &hints, &found);
        if (rc != 0) {
            last = DeviceSyncError::transport(fmt::format("resolve {}:{}: {}", address, port,
                                                          rc == EAI_SYSTEM ? std::strerror(errno) : gai_strerror(rc)));
            continue;
        }
        for (addrinfo* ai = found; ai != nullptr; ai = ai->ai_next) {
            int fd = ::socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, ai->ai_protocol);
            if (fd < 0) {
                last = io_error_text(errno);
                continue;
            }
            int error = 0;
            if (::connect(fd, ai->ai_addr, ai->ai_addrlen) != 0) {
                error = errno;
                if (error == EINPROGRESS) {
                    pollfd p{fd, POLLOUT, 0};
                    int ready;
                    do {
                        ready = ::poll(&p, 1, static_cast<int>(timing.connect.count()));
                    } while (ready < 0 && errno == EINTR);
                    if (ready == 0) {
                        error = ETIMEDOUT;
                    } else if (ready < 0) {
                        error = errno;
                    } else {
                        socklen_t len = sizeof error;
                        ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len);
                    }
                }
            }
            if (error != 0) {
                ::close(fd);
                last = io_error_text(error);
                continue;
            }
            const int yes = 1;
            (void)::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
            ::freeaddrinfo(found);
            return SyncSocket::adopt(fd, timing.io);
        }
        ::freeaddrinfo(found);
    }
    return std::unexpected(last);
}

std::expected<std::int32_t, DeviceSyncError> exchange_protocol_version(SyncSocket& socket) {
    std::uint8_t ours[4];
    put_u32(ours, static_cast<std::uint32_t>(kSyncProtocolVersion));
    if (auto r = socket.write_all(ours); !r) return std::unexpected(r.error());
    std::uint8_t theirs[4];
    if (auto r = socket.read_exact(theirs); !r) return std::unexpected(r.error());
    const auto version = static_cast<std::int32_t>(get_u32(theirs));
    if (version < kSyncMinimumPeerVersion) {
        return std::unexpected(DeviceSyncError::transport(
            fmt::format("peer protocol version {} < minimum {}", version, kSyncMinimumPeerVersion)));
    }
    return version;
}

std::expected<SyncSession, DeviceSyncError> noise_handshake_initiator(SyncSocket socket,
                                                                      const SyncTransportConfig& config,
                                                                      std::string_view peer_public_key,
                                                                      std::optional<std::string_view> pairing_code) {
    auto peer_key = decode_base64_any(peer_public_key);
    if (!peer_key) return std::unexpected(peer_key.error());
    auto version = exchange_protocol_version(socket);
    if (!version) return std::unexpected(version.error());
    if (peer_key->size() != noise::kDhLen) return std::unexpected(noise_error_text({noise::ErrorCode::InvalidKey, "invalid remote public key"}));
    noise::PublicKey remote{};
    std::copy(peer_key->begin(), peer_key->end(), remote.begin());

    noise::HandshakeConfig ik;
    ik.pattern = noise::Pattern::IK;
    ik.role = noise::Role::Initiator;
    ik.local_static = config.keypair.keys;
    ik.remote_static = remote;
    auto handshake = noise::HandshakeState::create(ik);
    if (!handshake) return std::unexpected(noise_error_text(handshake.error()));

    noise::Bytes pairing;
    if (pairing_code) {
        noise::HandshakeConfig n;
        n.pattern = noise::Pattern::N;
        n.role = noise::Role::Initiator;
        n.remote_static = remote;
        auto one_way = noise::HandshakeState::create(n);
        if (!one_way) return std::unexpected(noise_error_text(one_way.error()));
        auto message = one_way->write_message(
            SyncByteView(reinterpret_cast<const std::uint8_t*>(pairing_code->data()), pairing_code->size()));
        if (!message) return std::unexpected(noise_error_text(message.error()));
        if (message->size() > kHandshakeBuffer) {
            return std::unexpected(noise_error_text({noise::ErrorCode::BufferTooSmall, "output buffer too small"}));
        }
        pairing = std::move(*message);
    }
    auto first = handshake->write_message({});
    if (!first) return std::unexpected(noise_error_text(first.error()));
    if (first->size() > kHandshakeBuffer) {
        return std::unexpected(DeviceSyncError::transport("Noise produced an invalid handshake length"));
    }

    SyncBytes request(12 + pairing.size() + first->size());
    put_u32(request.data(), static_cast<std::uint32_t>(8 + pairing.size() + first->size()));
    put_u32(request.data() + 4, 0);
    put_u32(request.data() + 8, static_cast<std::uint32_t>(pairing.size()));
    std::copy(pairing.begin(), pairing.end(), request.begin() + 12);
    std::copy(first->begin(), first->end(), request.begin() + 12 + static_cast<std::ptrdiff_t>(pairing.size()));
    if (auto r = socket.write_all(request); !r) return std::unexpected(r.error());

    std::uint8_t length_bytes[4];
    if (auto r = socket.read_exact(length_bytes); !r) return std::unexpected(r.error());
    const std::uint32_t length = get_u32(length_bytes);
    if (length > kMaxFrameBytes) {
        return std::unexpected(DeviceSyncError::transport(fmt::format("handshake response too large: {}", length)));
    }
    SyncBytes reply(length);
    if (auto r = socket.read_exact(reply); !r) return std::unexpected(r.error());
    if (auto r = handshake->read_message(reply); !r) return std::unexpected(noise_error_text(r.error()));

    if (!handshake->remote_static()) return std::unexpected(DeviceSyncError::transport("peer did not present a static key"));
    const std::string presented = encode_base64(*handshake->remote_static());
    if (presented != encode_base64(*peer_key)) {
        return std::unexpected(DeviceSyncError::pairing(
            fmt::format("peer key mismatch: expected {}, got {}", peer_public_key, presented)));
    }
    auto transport = handshake->split();
    if (!transport) return std::unexpected(noise_error_text(transport.error()));
    return SyncSession(std::move(socket), std::move(*transport), presented, config.keypair.public_key(),
                       config.device_name, *version);
}

std::expected<SyncSession, DeviceSyncError> connect_peer(const SyncTransportConfig& config,
                                                         const PeerDescriptor& descriptor,
                                                         std::optional<std::string_view> pairing_code) {
    auto socket = connect_tcp(descriptor, config.timing);
    if (!socket) return std::unexpected(socket.error());
    auto session = noise_handshake_initiator(std::move(*socket), config, descriptor.public_key, pairing_code);
    if (!session) return std::unexpected(session.error());
    const auto deadline = SyncClock::now() + config.timing.reply_wait;
    if (auto r = session->send_authorized_notice(); !r) return std::unexpected(r.error());
    for (;;) {
        if (SyncClock::now() >= deadline) {
            return std::unexpected(DeviceSyncError::transport("timed out waiting for peer authorization"));
        }
        auto message = session->receive_message(deadline);
        if (!message) {
            if (session->deadline_expired()) {
                return std::unexpected(DeviceSyncError::transport("timed out waiting for peer authorization"));
            }
            return std::unexpected(message.error());
        }
        if (std::holds_alternative<sync_message::Authorized>(*message)) return std::move(*session);
        if (std::holds_alternative<sync_message::Unauthorized>(*message)) {
            return std::unexpected(DeviceSyncError::pairing("peer refused authorization"));
        }
        // Data before the peer's authorization is dropped.
    }
}

}  // namespace sarn
