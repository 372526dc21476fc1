// Frames as a peer might send them after the handshake, through the receiving
// side of a session: frame lengths, decryption, packets, pings, notices, stream
// reassembly and payload decoding. Never a crash, never more than four open
// streams, never a payload over the bound.
//
// Input: a sequence of items, each a tag byte, a 2-byte little-endian length and
// that many bytes. An even tag sends the bytes as a packet plaintext in a
// correctly encrypted frame; an odd tag writes them to the socket as they are.
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <variant>

#include "noise/cipher_state.h"
#include "sarn/sync/connection.h"

namespace {

noise::Key key_of(std::uint8_t seed) {
    noise::Key key{};
    for (std::size_t i = 0; i < key.size(); ++i) key[i] = static_cast<std::uint8_t>(seed + i);
    return key;
}

// Writes without waiting; false once the socket buffer is full.
bool put(int fd, const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::send(fd, data, size, MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n <= 0) return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) return 0;
    const int peer = fds[0];

    noise::TransportState transport;
    transport.send.initialize_key(key_of(1));
    transport.receive.initialize_key(key_of(2));
    noise::CipherState sealing;
    sealing.initialize_key(key_of(2));

    // Everything the peer sends is written first, then its side is shut, so
    // every receive ends at the latest with the end of the stream.
    std::size_t at = 0;
    std::vector<std::uint8_t> frame;
    while (at + 3 <= size) {
        const std::uint8_t tag = data[at];
        const std::size_t length = data[at + 1] | static_cast<std::size_t>(data[at + 2]) << 8;
        at += 3;
        const std::size_t take = length < size - at ? length : size - at;
        const noise::ByteView bytes(data + at, take);
        at += take;
        if (tag % 2 == 1) {
            if (!put(peer, bytes.data(), bytes.size())) break;
            continue;
        }
        frame.assign(4 + bytes.size() + noise::kTagLen, 0);
        auto sealed = sealing.encrypt_with_ad({}, bytes, std::span(frame).subspan(4));
        if (!sealed) break;
        for (int i = 0; i < 4; ++i) frame[i] = static_cast<std::uint8_t>(*sealed >> (8 * i));
        if (!put(peer, frame.data(), 4 + *sealed)) break;
    }
    ::shutdown(peer, SHUT_WR);

    sarn::SyncSession session(sarn::SyncSocket::adopt(fds[1], std::chrono::milliseconds(100)), std::move(transport),
                              "peer", "local", "Fuzz", 5);
    for (;;) {
        auto message = session.receive_message();
        if (session.open_streams() > sarn::kMaxOpenStreams) __builtin_trap();
        if (!message) break;
        if (auto* received = std::get_if<sarn::sync_message::Data>(&*message)) {
            if (received->payload.size() > sarn::kMaxSyncPayload) __builtin_trap();
        }
    }
    ::close(peer);
    return 0;
}
