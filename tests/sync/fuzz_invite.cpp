// Pairing invites of any shape: never a crash, and an accepted invite is within bounds.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "sarn/sync/invite.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    auto info = sarn::parse_pairing_invite(text);
    if (info) {
        if (info->addresses.empty() || info->addresses.size() > 8 || info->port < 1 || info->port > 65535) __builtin_trap();
    }
    return 0;
}
