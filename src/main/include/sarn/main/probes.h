#pragma once
// The developer probes: each exercises the real outside services through the
// program's own backends, without a window, and prints what it gets. They
// never fall back to sample data: an empty, failed or unexpected answer is
// reported as such and ends with its own exit status, and a backend that
// cannot be built ends the run with an error (status 1, written by main).
//
//   "--probe-trending"  probe_trending  the trending endpoint, then the popular topics
//   "--probe-engine"    probe_engine    a stream through the media engine for 20 s
//   "--probe-ytdlp"     probe_ytdlp     search, details and channel through yt-dlp
//   "--probe-avatars"   probe_avatars   channel avatars of both backends, fetched and decoded
//   "--probe"           probe_live      search, details, related, channel and trending via innertube
//
// Main thread; the probes block on their backends.

#include <chrono>
#include <set>
#include <string>
#include <string_view>

#include "sarn/main/dev_services.h"
#include "sarn/main/error.h"
#include "vorn_ui/image_store.h"

namespace sarn::entry {

// How a mode that did not fail wants the process to end.
enum class ModeExit : int {
    Success = 0,
    NothingFound = 2,  // a probe found no live results, or an answer of the wrong kind
    NoPicture = 3,     // the engine probe saw no decoded picture
};
using ModeResult = std::expected<ModeExit, MainError>;

inline constexpr std::string_view kPopularProbeTopics[] = {"news", "music", "gaming", "technology", "sports", "science"};
inline constexpr std::chrono::seconds kAvatarStoreWait{30};
inline constexpr std::chrono::seconds kImageProbeWait{15};
inline constexpr std::chrono::milliseconds kEnginePollInterval{15};

ModeResult probe_trending(const DevServices& services);
ModeResult probe_engine(const DevServices& services, std::string_view video_id);
ModeResult probe_ytdlp(const DevServices& services, std::string_view search);
ModeResult probe_avatars(const DevServices& services, std::string_view search);
ModeResult probe_live(const DevServices& services, std::string_view search);

// What probe_image_url keeps across calls of one run.
struct ImageProbeContext {
    std::set<std::string, std::less<>> probed;
    vorn_ui::image_store::ImageStore store;
    vorn_ui::image_store::FetchFunction fetch;
};

// One line for an address not probed before in this run (nothing for an
// empty one): whether the image store decodes it, and what a direct fetch
// gives (size and sniffed format).
void probe_image_url(ImageProbeContext& context, const ModeOutput& output, std::string_view label,
                     std::string_view address, std::chrono::milliseconds store_wait = kImageProbeWait);

}  // namespace sarn::entry
