#include "sarn/sync/packet.h"

#include <zlib.h>

#include <cstring>

#include <fmt/format.h>

namespace sarn {
namespace {

void put_u32(SyncBytes& out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

std::uint32_t get_u32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

DeviceSyncError transport(std::string text) { return DeviceSyncError::transport(std::move(text)); }

std::string zlib_text(int code, const z_stream& stream) {
    return fmt::format("io: {}", stream.msg ? stream.msg : zError(code));
}

}  // namespace

std::string PacketError::text() const {
    if (kind == Kind::ShorterThanHeader) return fmt::format("packet shorter than header ({} bytes)", kPacketHeaderBytes);
    return fmt::format("incomplete packet: size field {} != actual {}", size_field, actual);
}

SyncBytes encode_packet(std::uint8_t opcode, std::uint8_t subopcode, std::uint8_t encoding, SyncByteView payload) {
    SyncBytes out;
    out.reserve(kPacketHeaderBytes + payload.size());
    put_u32(out, static_cast<std::uint32_t>(3 + payload.size()));
    out.push_back(opcode);
    out.push_back(subopcode);
    out.push_back(encoding);
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

std::expected<SyncPacket, PacketError> parse_packet(SyncByteView plaintext) {
    if (plaintext.size() < kPacketHeaderBytes) {
        return std::unexpected(PacketError{PacketError::Kind::ShorterThanHeader, 0, plaintext.size()});
    }
    const std::uint32_t size = get_u32(plaintext.data());
    if (size != plaintext.size() - 4) {
        return std::unexpected(PacketError{PacketError::Kind::Incomplete, size, plaintext.size() - 4});
    }
    SyncPacket packet;
    packet.opcode = plaintext[4];
    packet.subopcode = plaintext[5];
    packet.encoding = plaintext[6];
    packet.payload.assign(plaintext.begin() + kPacketHeaderBytes, plaintext.end());
    return packet;
}

std::expected<StreamSegment, DeviceSyncError> parse_stream_segment(SyncByteView segment) {
    if (segment.size() < 8) return std::unexpected(transport("stream segment too short"));
    return StreamSegment{get_u32(segment.data()), get_u32(segment.data() + 4), segment.subspan(8)};
}

std::expected<SyncBytes, DeviceSyncError> gzip_payload(SyncByteView payload) {
    z_stream stream{};
    int code = deflateInit2(&stream, 6, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
    if (code != Z_OK) return std::unexpected(transport(zlib_text(code, stream)));
    SyncBytes out(deflateBound(&stream, payload.size()));
    stream.next_in = const_cast<Bytef*>(payload.data());
    stream.avail_in = static_cast<uInt>(payload.size());
    stream.next_out = out.data();
    stream.avail_out = static_cast<uInt>(out.size());
    code = deflate(&stream, Z_FINISH);
    if (code != Z_STREAM_END) {
        deflateEnd(&stream);
        return std::unexpected(transport(zlib_text(code, stream)));
    }
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

std::expected<SyncBytes, DeviceSyncError> decompress_payload(SyncPacket packet) {
    if (packet.encoding != static_cast<std::uint8_t>(ContentEncoding::Gzip)) return std::move(packet.payload);
    z_stream stream{};
    int code = inflateInit2(&stream, 15 + 16);
    if (code != Z_OK) return std::unexpected(transport(zlib_text(code, stream)));
    // The output grows in steps and never past the bound plus one byte, so a
    // small bomb cannot make us reserve its claimed size.
    SyncBytes out;
    stream.next_in = packet.payload.data();
    stream.avail_in = static_cast<uInt>(packet.payload.size());
    const std::size_t limit = kMaxSyncPayload + 1;
    for (;;) {
        if (out.size() == limit) break;
        const std::size_t step = std::min<std::size_t>(limit - out.size(), std::max<std::size_t>(64 * 1024, out.size()));
        const std::size_t before = out.size();
        out.resize(before + step);
        stream.next_out = out.data() + before;
        stream.avail_out = static_cast<uInt>(step);
        code = inflate(&stream, Z_NO_FLUSH);
        out.resize(before + (step - stream.avail_out));
        if (code == Z_STREAM_END) break;
        if (code == Z_BUF_ERROR && stream.avail_in == 0) {
            inflateEnd(&stream);
            return std::unexpected(transport("io: truncated gzip stream"));
        }
        if (code != Z_OK && code != Z_BUF_ERROR) {
            std::string text = zlib_text(code, stream);
            inflateEnd(&stream);
            return std::unexpected(transport(text));
        }
    }
    inflateEnd(&stream);
    if (out.size() > kMaxSyncPayload) {
        return std::unexpected(transport("decompressed sync payload exceeds resource bound"));
    }
    return out;
}

std::expected<void, DeviceSyncError> encode_payload_packets(
    SyncOpcode opcode, std::uint8_t subopcode, SyncByteView payload, bool compress, std::uint32_t& next_stream_id,
    const std::function<std::expected<void, DeviceSyncError>(SyncByteView packet)>& emit) {
    if (payload.size() > kMaxSyncPayload) return std::unexpected(transport("outgoing sync payload exceeds resource bound"));
    SyncBytes compressed;
    std::uint8_t encoding = static_cast<std::uint8_t>(ContentEncoding::Raw);
    SyncByteView body = payload;
    if (opcode == SyncOpcode::Data && compress) {
        auto gz = gzip_payload(payload);
        if (!gz) return std::unexpected(gz.error());
        compressed = std::move(*gz);
        body = compressed;
        encoding = static_cast<std::uint8_t>(ContentEncoding::Gzip);
    }
    if (body.size() > kMaxSyncPayload) return std::unexpected(transport("encoded sync payload exceeds resource bound"));
    const auto op = static_cast<std::uint8_t>(opcode);
    if (body.size() <= kMaxPacketPayload) return emit(encode_packet(op, subopcode, encoding, body));

    const std::uint32_t id = next_stream_id++;
    const auto total = static_cast<std::uint32_t>(body.size());
    const auto stream_op = static_cast<std::uint8_t>(SyncOpcode::Stream);
    SyncBytes packet;
    packet.reserve(kPacketHeaderBytes + kMaxPacketPayload);
    auto start_packet = [&](StreamSubopcode sub, std::size_t segment_size) {
        packet.clear();
        put_u32(packet, static_cast<std::uint32_t>(3 + segment_size));
        packet.push_back(stream_op);
        packet.push_back(static_cast<std::uint8_t>(sub));
        packet.push_back(0);
    };
    start_packet(StreamSubopcode::StreamStart, 11 + kStreamStartPart);
    put_u32(packet, id);
    put_u32(packet, total);
    packet.push_back(op);
    packet.push_back(subopcode);
    packet.push_back(encoding);
    packet.insert(packet.end(), body.begin(), body.begin() + kStreamStartPart);
    if (auto sent = emit(packet); !sent) return sent;

    std::size_t offset = kStreamStartPart;
    while (offset < body.size()) {
        const std::size_t left = body.size() - offset;
        const bool last = left <= kStreamPart;
        const std::size_t part = last ? left : kStreamPart;
        if (offset + part > body.size()) return std::unexpected(transport("stream segment bounds are invalid"));
        start_packet(last ? StreamSubopcode::StreamEnd : StreamSubopcode::StreamData, 8 + part);
        put_u32(packet, id);
        put_u32(packet, static_cast<std::uint32_t>(offset));
        packet.insert(packet.end(), body.begin() + static_cast<std::ptrdiff_t>(offset),
                      body.begin() + static_cast<std::ptrdiff_t>(offset + part));
        if (auto sent = emit(packet); !sent) return sent;
        offset += part;
    }
    return {};
}

std::expected<std::optional<SyncPacket>, DeviceSyncError> StreamReassembler::handle(std::uint8_t subopcode,
                                                                                   SyncByteView payload) {
    switch (static_cast<StreamSubopcode>(subopcode)) {
        case StreamSubopcode::StreamStart: {
            auto segment = parse_stream_segment(payload);
            if (!segment) return std::unexpected(segment.error());
            if (segment->rest.size() < 3) return std::unexpected(transport("stream segment too short"));
            const std::size_t first = segment->rest.size() - 3;
            if (segment->word > kMaxSyncPayload || first > segment->word || m_streams.size() >= kMaxOpenStreams ||
                m_streams.contains(segment->id)) {
                return std::unexpected(transport("stream declaration exceeds resource bounds"));
            }
            Incoming incoming;
            incoming.opcode = segment->rest[0];
            incoming.subopcode = segment->rest[1];
            incoming.encoding = segment->rest[2];
            incoming.total = segment->word;
            incoming.bytes.reserve(segment->word);
            incoming.bytes.assign(segment->rest.begin() + 3, segment->rest.end());
            m_streams.emplace(segment->id, std::move(incoming));
            return std::optional<SyncPacket>{};
        }
        case StreamSubopcode::StreamData: {
            auto segment = parse_stream_segment(payload);
            if (!segment) return std::unexpected(segment.error());
            auto it = m_streams.find(segment->id);
            if (it == m_streams.end()) return std::unexpected(transport("stream data for unknown id"));
            Incoming& incoming = it->second;
            if (segment->word != incoming.bytes.size()) return std::unexpected(transport("stream offset mismatch"));
            if (segment->rest.size() > incoming.total - incoming.bytes.size()) {
                return std::unexpected(transport("stream data exceeds declared size"));
            }
            incoming.bytes.insert(incoming.bytes.end(), segment->rest.begin(), segment->rest.end());
            return std::optional<SyncPacket>{};
        }
        case StreamSubopcode::StreamEnd: {
            auto segment = parse_stream_segment(payload);
            if (!segment) return std::unexpected(segment.error());
            auto node = m_streams.extract(segment->id);
            if (node.empty()) return std::unexpected(transport("stream end for unknown id"));
            Incoming& incoming = node.mapped();
            if (segment->word != incoming.bytes.size()) return std::unexpected(transport("stream offset mismatch at end"));
            if (segment->rest.size() > incoming.total - incoming.bytes.size()) {
                return std::unexpected(transport("stream end exceeds declared size"));
            }
            incoming.bytes.insert(incoming.bytes.end(), segment->rest.begin(), segment->rest.end());
            if (incoming.bytes.size() != incoming.total) return std::unexpected(transport("reassembled stream size mismatch"));
            SyncPacket packet;
            packet.opcode = incoming.opcode;
            packet.subopcode = incoming.subopcode;
            packet.encoding = incoming.encoding;
            packet.payload = std::move(incoming.bytes);
            return std::optional<SyncPacket>(std::move(packet));
        }
    }
    return std::optional<SyncPacket>{};
}

}  // namespace sarn
