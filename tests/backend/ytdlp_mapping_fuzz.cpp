// Feeds arbitrary child output through the yt-dlp JSON mapping: decoding,
// parsing and every record mapping must answer, never crash or throw.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "sarn/backend/json_read.h"
#include "sarn/backend/text.h"
#include "sarn/backend/ytdlp_backend.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text = sarn::utf8_lossy(std::string_view(reinterpret_cast<const char*>(data), size));
    namespace ytdlp = sarn::ytdlp;
    const nlohmann::json fields = ytdlp::parse_print_output(text, ytdlp::kPlaybackFields);
    (void)ytdlp::playback_from_fields(fields, "id");
    (void)ytdlp::video_from_entry(ytdlp::parse_print_output(text, ytdlp::kVideoFields), "Video", 19000);
    auto parsed = sarn::json_read::parse(text);
    if (!parsed) return 0;
    (void)ytdlp::videos_from_result(*parsed, "Search", 19000);
    (void)ytdlp::channel_from_result(*parsed, 19000);
    (void)ytdlp::playlist_from_result(*parsed, "PL", 19000);
    (void)ytdlp::playback_from_fields(*parsed, "id");
    (void)ytdlp::video_from_entry(*parsed, "Video", -5);
    return 0;
}
