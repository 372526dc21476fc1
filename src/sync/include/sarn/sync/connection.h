#pragma once
// One authenticated connection to a Grayjay peer: TCP with time-outs, the
// protocol-version exchange, the Noise IK handshake (with the optional Noise N
// pairing message), the authorization notices and encrypted frames. Blocking;
// a connection belongs to the thread that opened it (the sync worker).

#include <chrono>
#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <variant>

#include "noise/crypto.h"
#include "noise/error.h"
#include "noise/handshake.h"
#include "sarn/sync/error.h"
#include "sarn/sync/packet.h"
#include "sarn/sync/peer_record.h"

namespace sarn {

inline constexpr std::int32_t kSyncProtocolVersion = 5;
inline constexpr std::int32_t kSyncMinimumPeerVersion = 4;
// Grayjay refuses notice ids and names longer than this and never authorizes.
inline constexpr std::size_t kNoticeTextMaxBytes = 64;

using SyncClock = std::chrono::steady_clock;

struct DeviceKeypair {
    noise::KeyPair keys;
    // Standard base64 with padding, 44 characters.
    std::string public_key() const;
};

// The private key is the 32 given bytes; DeviceKey errors otherwise.
std::expected<DeviceKeypair, DeviceSyncError> device_keypair_from_secret(SyncByteView secret);
// SHA-256 over a fixed label, a zero byte and the broker's material, then the above.
std::expected<DeviceKeypair, DeviceSyncError> derive_device_keypair(SyncByteView material);

struct SyncTiming {
    std::chrono::milliseconds connect{10'000};
    std::chrono::milliseconds io{15'000};
    std::chrono::milliseconds reply_wait{20'000};
};

struct SyncTransportConfig {
    DeviceKeypair keypair;
    std::string device_name;
    SyncTiming timing;
    std::unordered_map<std::string, PeerDescriptor> peers;

    static SyncTransportConfig create(DeviceKeypair keypair, std::string device_name);
};

DeviceSyncError io_error_text(int error_number);
DeviceSyncError io_error_text(std::string_view message);
DeviceSyncError noise_error_text(const noise::Error& error);

// A connected TCP socket; every wait is bounded by the I/O time-out and, when
// given, a deadline. Writes never raise SIGPIPE.
class SyncSocket {
public:
    static SyncSocket adopt(int fd, std::chrono::milliseconds io_timeout);
    SyncSocket(SyncSocket&& other) noexcept;
    SyncSocket& operator=(SyncSocket&& other) noexcept;
    SyncSocket(const SyncSocket&) = delete;
    SyncSocket& operator=(const SyncSocket&) = delete;
    ~SyncSocket();

    int fd() const { return m_fd; }
    std::expected<void, DeviceSyncError> read_exact(std::span<std::uint8_t> out,
                                                    std::optional<SyncClock::time_point> deadline = {});
    std::expected<void, DeviceSyncError> write_all(SyncByteView data);
    // True when the last read failed because the deadline (not the peer) ran out.
    bool deadline_expired() const { return m_deadline_expired; }
    void mark_deadline_expired() { m_deadline_expired = true; }

private:
    SyncSocket(int fd, std::chrono::milliseconds io_timeout) : m_fd(fd), m_io_timeout(io_timeout) {}
    int m_fd = -1;
    std::chrono::milliseconds m_io_timeout;
    bool m_deadline_expired = false;
};

namespace sync_message {
struct Data {
    std::uint8_t subopcode = 0;
    SyncBytes payload;
};
struct Authorized {
    std::string name;
};
struct Unauthorized {};
}  // namespace sync_message

using SyncMessage = std::variant<sync_message::Data, sync_message::Authorized, sync_message::Unauthorized>;

class SyncSession {
public:
    // A session over a finished handshake; the test peers build theirs this way too.
    SyncSession(SyncSocket socket, noise::TransportState transport, std::string peer_public_key,
                std::string local_public_key, std::string local_name, std::int32_t peer_version);

    const std::string& peer_public_key() const { return m_peer_public_key; }
    const std::string& local_public_key() const { return m_local_public_key; }
    const std::string& local_name() const { return m_local_name; }
    std::int32_t peer_version() const { return m_peer_version; }
    bool peer_authorized() const { return m_peer_authorized; }
    // The name in the peer's last Authorized notice; empty before one.
    const std::string& peer_name() const { return m_peer_name; }
    std::uint32_t next_stream_id() const { return m_next_stream_id; }
    std::size_t open_streams() const { return m_streams.open_streams(); }
    std::uint64_t pings_answered() const { return m_pings_answered; }
    SyncSocket& socket() { return m_socket; }

    std::expected<void, DeviceSyncError> send_frame(SyncByteView packet);
    std::expected<void, DeviceSyncError> send_payload(SyncOpcode opcode, std::uint8_t subopcode, SyncByteView payload,
                                                      bool compress);
    std::expected<void, DeviceSyncError> send_data(DataSubopcode subopcode, SyncByteView payload);
    // The Authorized notice: a fresh UUID and the local name (each at most 64 bytes).
    std::expected<void, DeviceSyncError> send_authorized_notice();
    // Reads frames until a message for the caller is complete, answering pings.
    // With a deadline, it is checked before each frame and no read waits past it.
    std::expected<SyncMessage, DeviceSyncError> receive_message(std::optional<SyncClock::time_point> deadline = {});
    // Ends our side after the last send: a FIN after the data, then whatever the
    // peer still sends is read and dropped until it closes or `linger` passes,
    // so that closing never resets a connection whose last package is unread.
    void finish(std::chrono::milliseconds linger);
    // True when the last receive ended because its deadline passed.
    bool deadline_expired() const { return m_socket.deadline_expired(); }

private:
    SyncSocket m_socket;
    noise::TransportState m_transport;
    std::string m_peer_public_key;
    std::string m_local_public_key;
    std::string m_local_name;
    std::int32_t m_peer_version = 0;
    std::uint32_t m_next_stream_id = 0;
    bool m_peer_authorized = false;
    std::string m_peer_name;
    std::uint64_t m_pings_answered = 0;
    StreamReassembler m_streams;
    SyncBytes m_frame;
    SyncBytes m_plain;
    SyncBytes m_out;
};

// Connects to the first address that accepts within the connect time-out.
std::expected<SyncSocket, DeviceSyncError> connect_tcp(const PeerDescriptor& descriptor, const SyncTiming& timing);
// Writes our version, reads the peer's; refuses versions below 4.
std::expected<std::int32_t, DeviceSyncError> exchange_protocol_version(SyncSocket& socket);
std::expected<SyncSession, DeviceSyncError> noise_handshake_initiator(SyncSocket socket,
                                                                      const SyncTransportConfig& config,
                                                                      std::string_view peer_public_key,
                                                                      std::optional<std::string_view> pairing_code);
// TCP, handshake, our Authorized notice, then the wait for the peer's.
std::expected<SyncSession, DeviceSyncError> connect_peer(const SyncTransportConfig& config,
                                                         const PeerDescriptor& descriptor,
                                                         std::optional<std::string_view> pairing_code);

// Truncates to at most max bytes without splitting a UTF-8 sequence.
std::string_view utf8_prefix(std::string_view text, std::size_t max);

}  // namespace sarn
