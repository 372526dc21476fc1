// Received 202 and 203 packages and stored peer files: decode or refuse, never crash.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>

#include "sarn/sync/packages.h"
#include "sarn/sync/peer_store.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const sarn::SyncByteView bytes(data, size);
    (void)sarn::decode_subscriptions_package(bytes);
    (void)sarn::decode_history_package(bytes);
    static const std::filesystem::path path =
        std::filesystem::temp_directory_path() / ("sarn-fuzz-peers-" + std::to_string(::getpid()) + ".json");
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    auto peers = sarn::load_peer_store(path);
    if (peers && peers->size() > sarn::kPeerStoreMaxRecords) __builtin_trap();
    return 0;
}
