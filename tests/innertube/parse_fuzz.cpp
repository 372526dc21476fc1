// Feeds arbitrary bytes to every parser of the web API answers.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "sarn/innertube/display_text.h"
#include "sarn/innertube/parse.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view body(reinterpret_cast<const char*>(data), size);
    using namespace sarn::innertube;
    (void)parse_search(body);
    (void)parse_watch(body);
    (void)parse_comments(body);
    (void)parse_channel(body);
    (void)parse_playlist(body, "PLfuzz");
    (void)parse_video_feed(body);
    (void)parse_resolved_channel(body);
    (void)api_error_message(body);
    (void)parse_count(body);
    (void)parse_duration(body);
    (void)comment_initials(body);
    return 0;
}
