#pragma once
// Packets, stream segments and payload encoding of the sync protocol. All
// integers little-endian. Pure functions and one per-connection value type;
// whoever owns the connection calls these on its own thread.
//
// Packet:  u32 size (= 3 + payload) | u8 opcode | u8 subopcode | u8 encoding | payload
// Stream segments (payload of a Stream packet):
//   StreamStart  u32 id | u32 total | u8 opcode | u8 subopcode | u8 encoding | first part
//   StreamData   u32 id | u32 offset | part
//   StreamEnd    u32 id | u32 offset | last part

#include <cstdint>
#include <expected>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "sarn/sync/error.h"

namespace sarn {

using SyncBytes = std::vector<std::uint8_t>;
using SyncByteView = std::span<const std::uint8_t>;

enum class SyncOpcode : std::uint8_t { Ping = 0, Pong = 1, Notify = 2, Stream = 3, Data = 4 };
enum class NotifySubopcode : std::uint8_t { Authorized = 0, Unauthorized = 1 };
enum class StreamSubopcode : std::uint8_t { StreamStart = 0, StreamData = 1, StreamEnd = 2 };
enum class DataSubopcode : std::uint8_t { SyncStateExchange = 150, SyncSubscriptions = 202, SyncHistory = 203 };
enum class ContentEncoding : std::uint8_t { Raw = 0, Gzip = 1 };

inline constexpr std::size_t kPacketHeaderBytes = 7;
inline constexpr std::size_t kMaxFrameBytes = 65535;
inline constexpr std::size_t kMaxPacketPayload = 65512;  // 65535 - 16 tag - 7 header
inline constexpr std::size_t kStreamStartPart = 65501;   // 65512 - 11
inline constexpr std::size_t kStreamPart = 65504;        // 65512 - 8
inline constexpr std::size_t kMaxSyncPayload = 8 * 1024 * 1024;
inline constexpr std::size_t kMaxOpenStreams = 4;

struct SyncPacket {
    std::uint8_t opcode = 0;
    std::uint8_t subopcode = 0;
    std::uint8_t encoding = 0;
    SyncBytes payload;
};

struct PacketError {
    enum class Kind { ShorterThanHeader, Incomplete };
    Kind kind;
    std::uint32_t size_field = 0;
    std::size_t actual = 0;  // received length minus 4
    std::string text() const;
};

SyncBytes encode_packet(std::uint8_t opcode, std::uint8_t subopcode, std::uint8_t encoding, SyncByteView payload);
std::expected<SyncPacket, PacketError> parse_packet(SyncByteView plaintext);

struct StreamSegment {
    std::uint32_t id = 0;
    std::uint32_t word = 0;  // total (start) or offset (data, end)
    SyncByteView rest;
};
std::expected<StreamSegment, DeviceSyncError> parse_stream_segment(SyncByteView segment);

// gzip at level 6.
std::expected<SyncBytes, DeviceSyncError> gzip_payload(SyncByteView payload);
// Encoding 1 is gunzipped into at most 8 MiB; anything else is returned as is.
std::expected<SyncBytes, DeviceSyncError> decompress_payload(SyncPacket packet);

// Encodes one logical message into packets (one, or a stream), handing each
// plaintext packet to `emit` in order. `next_stream_id` advances for a stream.
std::expected<void, DeviceSyncError> encode_payload_packets(
    SyncOpcode opcode, std::uint8_t subopcode, SyncByteView payload, bool compress, std::uint32_t& next_stream_id,
    const std::function<std::expected<void, DeviceSyncError>(SyncByteView packet)>& emit);

// The incoming streams of one connection.
class StreamReassembler {
public:
    // Handles one Stream packet. Returns the completed inner packet, nothing
    // while a stream is still open, or the error that ends the receive.
    std::expected<std::optional<SyncPacket>, DeviceSyncError> handle(std::uint8_t subopcode, SyncByteView payload);
    std::size_t open_streams() const { return m_streams.size(); }

private:
    struct Incoming {
        std::uint8_t opcode = 0;
        std::uint8_t subopcode = 0;
        std::uint8_t encoding = 0;
        std::uint32_t total = 0;
        SyncBytes bytes;
    };
    std::map<std::uint32_t, Incoming> m_streams;
};

}  // namespace sarn
