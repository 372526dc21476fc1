// Probes Invidious instances for a directly playable progressive stream
// when the primary backend has none: the first address that serves bytes.
//
// Threads: runs on the calling thread, blocking, one request at a time.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sarn {

struct InvidiousStream {
    std::string video_id;
    std::string url;
    std::string mime;
    std::string quality;
    std::uint32_t itag = 0;
    bool has_audio = true;
    friend bool operator==(const InvidiousStream&, const InvidiousStream&) = default;
};

inline constexpr std::string_view kInvidiousUserAgent =
    "Mozilla/5.0 (X11; Linux x86_64) AppleWebKit/537.36 (KHTML, like Gecko) Chrome/120.0 Safari/537.36";
inline constexpr std::size_t kInvidiousProbeBytes = 2048;

struct InvidiousProbeOptions {
    std::vector<std::string> instances;               // tried in order
    std::chrono::milliseconds request_timeout{2500};
    std::chrono::milliseconds deadline{6000};         // from the start of the probe
};

// The instances of VORN_SARN_INVIDIOUS (comma-separated, trimmed, empty
// pieces dropped), then the six built-in public ones.
std::vector<std::string> invidious_instances();
// The same for a given variable value (none when unset).
std::vector<std::string> invidious_instances_from(std::optional<std::string_view> variable);

// "{instance}/latest_version?id={id}&itag={itag}&local=true", trailing
// slashes of the instance removed, the id percent-encoded.
std::string invidious_stream_url(std::string_view instance, std::string_view video_id, std::uint32_t itag);

// Itag 22 (720p) then 18 (360p) on every instance; a status outside
// 200-299, an empty body or any failure moves on. At most 2048 bytes are
// read, so an instance that ignores the Range header still counts.
std::optional<InvidiousStream> probe_invidious(std::string_view video_id);
std::optional<InvidiousStream> probe_invidious(std::string_view video_id, const InvidiousProbeOptions& options);

}  // namespace sarn
