// Decrypted packet plaintexts and stream segments as a peer might send them:
// parse, reassemble (at most four open streams) and decompress within bounds.
#include <cstddef>
#include <cstdint>

#include "sarn/sync/packet.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    sarn::StreamReassembler streams;
    sarn::SyncByteView rest(data, size);
    // The input is a sequence of packets, each prefixed by a 2-byte length.
    while (rest.size() >= 2) {
        const std::size_t length = rest[0] | static_cast<std::size_t>(rest[1]) << 8;
        rest = rest.subspan(2);
        const std::size_t take = length < rest.size() ? length : rest.size();
        auto packet = sarn::parse_packet(rest.first(take));
        rest = rest.subspan(take);
        if (!packet) continue;
        if (packet->opcode == static_cast<std::uint8_t>(sarn::SyncOpcode::Stream)) {
            auto done = streams.handle(packet->subopcode, packet->payload);
            if (!done) return 0;
            if (streams.open_streams() > sarn::kMaxOpenStreams) __builtin_trap();
            if (*done) {
                auto payload = sarn::decompress_payload(std::move(**done));
                if (payload && payload->size() > sarn::kMaxSyncPayload) __builtin_trap();
            }
        } else {
            auto payload = sarn::decompress_payload(std::move(*packet));
            if (payload && payload->size() > sarn::kMaxSyncPayload) __builtin_trap();
        }
    }
    return 0;
}
