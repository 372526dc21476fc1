// The catalogue backend that runs the yt-dlp program as a child process and
// reads its JSON output. Every query starts a new child through
// bounded_command::run, bounded in time and in output.
//
// Threads: a YtDlpBackend is used by one thread at a time; runs block the
// calling thread. The mapping helpers in sarn::ytdlp are pure and safe on
// any thread.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "sarn/backend/catalog_backend.h"

namespace sarn {

namespace ytdlp {

inline constexpr std::size_t kProbeOutputLimit = 65'536;
inline constexpr std::chrono::seconds kProbeTimeout{3};
inline constexpr std::size_t kOutputLimit = 8'388'608;
inline constexpr int kResultCount = 30;
inline constexpr std::chrono::seconds kSearchTimeout{30};
inline constexpr std::chrono::seconds kTrendingTimeout{30};
inline constexpr std::chrono::seconds kVideoTimeout{45};
inline constexpr std::chrono::seconds kPlaybackTimeout{45};
inline constexpr std::chrono::seconds kPlaylistTimeout{60};
inline constexpr std::chrono::seconds kChannelTimeout{90};
inline constexpr std::string_view kStreamFormat =
    "best[protocol^=https][vcodec!=none][acodec!=none]/best[ext=mp4][protocol^=https]/best[protocol^=https]/best";

inline constexpr std::string_view kVideoFields[] = {"id",        "title",       "channel",     "channel_id",
                                                    "uploader_id", "view_count", "like_count", "duration",
                                                    "upload_date", "description", "is_live"};
inline constexpr std::string_view kPlaybackFields[] = {"url",        "width", "height", "fps",   "format_note",
                                                       "resolution", "ext",   "vcodec", "acodec"};

// Whole days since the Unix epoch of the system clock (0 before it).
std::int64_t today_day_number();

// "Mar 7, 2021", "today", "3 days ago" ... from an 8-digit upload date;
// any other text is answered unchanged.
std::string published_text(std::string_view upload_date, std::int64_t today);

// One entry of yt-dlp's JSON as a Video with the given category text.
Video video_from_entry(const nlohmann::json& entry, std::string_view category, std::int64_t today);
// The "entries" of a -J result, skipping entries without an id.
std::vector<Video> videos_from_result(const nlohmann::json& result, std::string_view category, std::int64_t today);
// The channel record and its uploads from a channel's -J result.
CatalogPage::Channel channel_from_result(const nlohmann::json& result, std::int64_t today);
PlaylistAnswer playlist_from_result(const nlohmann::json& result, std::string_view requested_id, std::int64_t today);
// Fails with "no directly-playable https format for {id}! ..." without a url.
CatalogResult<PlaybackSource> playback_from_fields(const nlohmann::json& fields, std::string_view video_id);

// "%(a)j\t%(b)j..." for the field names.
std::string print_template(std::span<const std::string_view> fields);
// The first line split at tabs, piece i parsed as field i (null when it
// does not parse or is missing), as one object.
nlohmann::json parse_print_output(std::string_view output, std::span<const std::string_view> fields);

// Addresses handed to yt-dlp. An id that starts with "http" must be an
// address on the platform's own web origins, else it is refused.
CatalogResult<std::string> channel_videos_url(std::string_view id);
CatalogResult<std::string> playlist_url(std::string_view id);

// "yt-dlp failed: {}" placeholder: the last line of standard error, trimmed.
std::string last_error_line(std::string_view stderr_text);

}  // namespace ytdlp

class YtDlpBackend final : public CatalogBackend {
public:
    // Runs "{program} --version", waiting at most `timeout`. The program is
    // "yt-dlp" from the search path; tests hand another one, and a longer
    // time-out when the real program starts on a loaded machine.
    static CatalogResult<YtDlpBackend> probe(std::string program = "yt-dlp",
                                             std::chrono::seconds timeout = ytdlp::kProbeTimeout);

    const std::string& version() const { return m_version; }

    std::string_view name() const override { return m_name; }
    CatalogResult<CatalogPage> search(std::string_view query) override;
    CatalogResult<CatalogPage> video(std::string_view id) override;
    CatalogResult<CatalogPage> channel(std::string_view id) override;
    CatalogResult<CatalogPage> related(std::string_view id) override;
    CatalogResult<CatalogPage> trending() override;
    CatalogResult<PlaylistAnswer> playlist(std::string_view id) override;
    CatalogResult<PlaybackSource> playback_source(std::string_view video_id) override;

private:
    YtDlpBackend(std::string program, std::string version);

    CatalogResult<std::string> run_ytdlp(std::span<const std::string> args, std::chrono::seconds timeout) const;
    CatalogResult<nlohmann::json> run_ytdlp_json(std::span<const std::string> args,
                                                 std::chrono::seconds timeout) const;
    CatalogResult<nlohmann::json> run_ytdlp_print(std::span<const std::string_view> fields,
                                                  std::optional<std::string_view> format, std::string_view url,
                                                  std::chrono::seconds timeout) const;
    CatalogResult<nlohmann::json> run_flat_list(std::string url, std::chrono::seconds timeout) const;

    std::string m_program;
    std::string m_version;
    std::string m_name;
};

}  // namespace sarn
