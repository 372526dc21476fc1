#include "sarn/backend/ytdlp_backend.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

#include <fmt/format.h>

#include "bounded_command/bounded_command.h"
#include "sarn/backend/json_read.h"
#include "sarn/backend/platform.h"
#include "sarn/backend/text.h"
#include "sarn/model/platform_url.h"

namespace sarn {

namespace ytdlp {

using json_read::Json;

namespace {

// Day number of the first of the month plus the day's offset, so that an
// impossible date (the 31st of a 30-day month) counts forward.
std::int64_t day_number(std::int64_t year, unsigned month, unsigned day) {
    year -= month <= 2 ? 1 : 0;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const auto yoe = static_cast<unsigned>(year - era * 400);
    const unsigned doy = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5;  // first of the month
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468 + static_cast<std::int64_t>(day) - 1;
}

std::uint64_t saturating_mul(std::uint64_t a, std::uint64_t b) {
    if (a != 0 && b > std::numeric_limits<std::uint64_t>::max() / a) return std::numeric_limits<std::uint64_t>::max();
    return a * b;
}

std::uint64_t saturating_add(std::uint64_t a, std::uint64_t b) {
    return b > std::numeric_limits<std::uint64_t>::max() - a ? std::numeric_limits<std::uint64_t>::max() : a + b;
}

std::uint32_t clamp_u32(std::uint64_t value) {
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(value, std::numeric_limits<std::uint32_t>::max()));
}

// Best thumbnail of an entry: greatest width x height + preference among
// entries with a url; the later one wins ties.
std::string best_entry_thumbnail(const Json& entry) {
    const Json* thumbnails = json_read::array(entry, "thumbnails");
    if (thumbnails == nullptr) return {};
    std::string best;
    std::uint64_t best_key = 0;
    bool found = false;
    for (const Json& thumb : *thumbnails) {
        std::string url = json_read::text(thumb, "url");
        if (url.empty()) continue;
        const std::uint64_t key =
            saturating_add(saturating_mul(json_read::count(thumb, "width"), json_read::count(thumb, "height")),
                           json_read::count(thumb, "preference"));
        if (!found || key >= best_key) {
            best = std::move(url);
            best_key = key;
            found = true;
        }
    }
    return best;
}

}  // namespace

std::int64_t today_day_number() {
    const auto since = std::chrono::system_clock::now().time_since_epoch();
    if (since.count() < 0) return 0;
    return std::chrono::duration_cast<std::chrono::days>(since).count();
}

std::string published_text(std::string_view upload_date, std::int64_t today) {
    if (upload_date.size() != 8 ||
        !std::all_of(upload_date.begin(), upload_date.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return std::string(upload_date);
    }
    const auto digits = [&](std::size_t from, std::size_t count) {
        unsigned value = 0;
        for (std::size_t i = from; i < from + count; ++i) value = value * 10 + static_cast<unsigned>(upload_date[i] - '0');
        return value;
    };
    const unsigned year = digits(0, 4);
    const unsigned month = digits(4, 2);
    const unsigned day = digits(6, 2);
    if (month < 1 || month > 12 || day < 1 || day > 31) return std::string(upload_date);

    static constexpr std::string_view kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const std::string absolute = fmt::format("{} {}, {}", kMonths[month - 1], day, year);
    const std::int64_t days = today - day_number(year, month, day);
    if (days < 0) return absolute;
    if (days == 0) return "today";
    if (days == 1) return "1 day ago";
    if (days < 7) return fmt::format("{} days ago", days);
    if (days < 14) return "1 week ago";
    if (days < 30) return fmt::format("{} weeks ago", days / 7);
    if (days < 60) return "1 month ago";
    if (days < 365) return fmt::format("{} months ago", days / 30);
    return absolute;
}

Video video_from_entry(const Json& entry, std::string_view category, std::int64_t today) {
    Video video;
    video.id = json_read::text(entry, "id");
    video.seed = video.id;
    video.title = json_read::first_text(entry, {"title", "fulltitle"});
    video.channel_id = json_read::first_text(entry, {"channel_id", "uploader_id"});
    video.channel_name = json_read::first_text(entry, {"channel", "uploader", "uploader_id"});
    if (video.channel_name.empty()) video.channel_name = "Unknown";
    video.channel_seed = video.channel_id.empty() ? video.id : video.channel_id;
    video.views = json_read::count(entry, "view_count");
    video.likes = json_read::count(entry, "like_count");
    const double duration = json_read::number(entry, "duration");
    video.duration = static_cast<std::uint32_t>(
        std::clamp(duration, 0.0, static_cast<double>(std::numeric_limits<std::uint32_t>::max())));
    video.description = json_read::text(entry, "description");
    video.category = std::string(category);
    // A flat list entry tells a live stream by its "live_status" and counts
    // its viewers apart from the views of an upload.
    video.live = json_read::flag(entry, "is_live") || json_read::text(entry, "live_status") == "is_live";
    if (video.live && video.views == 0) video.views = json_read::count(entry, "concurrent_view_count");
    video.published = published_text(json_read::text(entry, "upload_date"), today);
    video.thumbnail_url = best_entry_thumbnail(entry);
    if (video.thumbnail_url.empty()) video.thumbnail_url = thumbnail_url(video.id);
    return video;
}

std::vector<Video> videos_from_result(const Json& result, std::string_view category, std::int64_t today) {
    std::vector<Video> videos;
    const Json* entries = json_read::array(result, "entries");
    if (entries == nullptr) return videos;
    videos.reserve(entries->size());
    for (const Json& entry : *entries) {
        if (json_read::text(entry, "id").empty()) continue;
        videos.push_back(video_from_entry(entry, category, today));
    }
    return videos;
}

namespace {

// The address of the largest sized entry (by width, then height; the later
// of equal ones) whose size `fits`; empty when none does.
template <typename Fits>
std::string largest_thumbnail(const Json& thumbnails, Fits fits) {
    std::pair<std::uint64_t, std::uint64_t> best{0, 0};
    bool found = false;
    std::string url;
    for (const Json& thumb : thumbnails) {
        const std::uint64_t w = json_read::count(thumb, "width");
        const std::uint64_t h = json_read::count(thumb, "height");
        if (w == 0 || h == 0 || !fits(w, h)) continue;
        if (!found || std::pair{w, h} >= best) {
            best = {w, h};
            url = json_read::text(thumb, "url");
            found = true;
        }
    }
    return url;
}

}  // namespace

CatalogPage::Channel channel_from_result(const Json& result, std::int64_t today) {
    Channel channel;
    channel.id = json_read::first_text(result, {"channel_id", "id"});
    channel.name = json_read::first_text(result, {"channel", "uploader", "title"});
    channel.handle = json_read::first_text(result, {"uploader_id", "channel_id"});
    if (channel.handle.empty()) channel.handle = channel.id;
    channel.subscribers = json_read::count(result, "channel_follower_count");
    channel.verified = json_read::flag(result, "channel_is_verified");
    channel.description = json_read::text(result, "description");
    channel.seed = channel.id;

    if (const Json* thumbnails = json_read::array(result, "thumbnails")) {
        // The first uncropped entry of each kind wins.
        bool avatar_found = false, banner_found = false;
        for (const Json& thumb : *thumbnails) {
            const std::string id = json_read::text(thumb, "id");
            if (!avatar_found && id == "avatar_uncropped") {
                channel.avatar_url = json_read::text(thumb, "url");
                avatar_found = true;
            } else if (!banner_found && id == "banner_uncropped") {
                channel.banner_url = json_read::text(thumb, "url");
                banner_found = true;
            }
        }
        if (channel.banner_url.empty()) {
            channel.banner_url = largest_thumbnail(*thumbnails, [](std::uint64_t w, std::uint64_t h) {
                return static_cast<double>(w) / static_cast<double>(h) >= 3.0;
            });
        }
        if (channel.avatar_url.empty()) {
            channel.avatar_url = largest_thumbnail(*thumbnails, [](std::uint64_t w, std::uint64_t h) {
                const std::uint64_t slack = std::max<std::uint64_t>(w / 4, 1);
                const std::uint64_t gap = w > h ? w - h : h - w;
                return gap <= slack;
            });
        }
    }

    std::vector<Video> uploads = videos_from_result(result, "Channel", today);
    for (Video& upload : uploads) {
        if (!channel.id.empty()) upload.channel_id = channel.id;
        if (upload.channel_name.empty() || upload.channel_name == "Unknown") upload.channel_name = channel.name;
        upload.channel_seed = channel.id;
    }
    return CatalogPage::Channel{std::move(channel), std::move(uploads)};
}

PlaylistAnswer playlist_from_result(const Json& result, std::string_view requested_id, std::int64_t today) {
    PlaylistAnswer answer;
    answer.videos = videos_from_result(result, "Playlist", today);
    Playlist& playlist = answer.playlist;
    playlist.id = json_read::text(result, "id");
    if (playlist.id.empty()) playlist.id = std::string(requested_id);
    playlist.title = json_read::first_text(result, {"title", "playlist_title"});
    playlist.channel_id = json_read::first_text(result, {"channel_id", "uploader_id"});
    playlist.channel_name = json_read::first_text(result, {"channel", "uploader"});
    playlist.thumbnail_url = answer.videos.empty() ? std::string() : answer.videos.front().thumbnail_url;
    playlist.seed = playlist.id;
    for (const Video& video : answer.videos) playlist.video_ids.push_back(video.id);
    playlist.video_count = json_read::count_if_present(result, "playlist_count").value_or(answer.videos.size());
    return answer;
}

CatalogResult<PlaybackSource> playback_from_fields(const Json& fields, std::string_view video_id) {
    PlaybackSource source;
    source.url = json_read::text(fields, "url");
    if (source.url.empty()) {
        return std::unexpected(
            fmt::format("no directly-playable https format for {}! (DRM-only or extraction changed)", video_id));
    }
    source.quality = json_read::text(fields, "format_note");
    if (source.quality.empty()) source.quality = json_read::text(fields, "resolution");
    source.format = fmt::format("{}; {}", json_read::text(fields, "ext"), json_read::text(fields, "vcodec"));
    source.width = clamp_u32(json_read::count(fields, "width"));
    source.height = clamp_u32(json_read::count(fields, "height"));
    const std::string acodec = json_read::text(fields, "acodec");
    source.has_audio = !acodec.empty() && acodec != "none";
    const double fps = std::round(json_read::number(fields, "fps"));
    source.fps = static_cast<std::uint8_t>(std::clamp(fps, 1.0, 255.0));
    return source;
}

std::string print_template(std::span<const std::string_view> fields) {
    std::string out;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i > 0) out.push_back('\t');
        out += fmt::format("%({})j", fields[i]);
    }
    return out;
}

Json parse_print_output(std::string_view output, std::span<const std::string_view> fields) {
    std::string_view line = output.substr(0, output.find('\n'));
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    std::vector<std::string_view> pieces;
    while (true) {
        const std::size_t tab = line.find('\t');
        pieces.push_back(line.substr(0, tab));
        if (tab == std::string_view::npos) break;
        line.remove_prefix(tab + 1);
    }
    Json object = Json::object();
    for (std::size_t i = 0; i < fields.size(); ++i) {
        Json value = nullptr;
        if (i < pieces.size()) {
            if (auto parsed = json_read::parse(pieces[i])) value = std::move(*parsed);
        }
        object[std::string(fields[i])] = std::move(value);
    }
    return object;
}

namespace {

CatalogResult<std::string> platform_address(std::string_view id) {
    if (auto normalized = normalize_watch_url(id)) return std::move(*normalized);
    return std::unexpected(fmt::format("refusing an address outside the platform: {}", id));
}

}  // namespace

CatalogResult<std::string> channel_videos_url(std::string_view id) {
    std::string url;
    if (id.starts_with("http")) {
        auto address = platform_address(id);
        if (!address) return address;
        url = std::move(*address);
        while (url.ends_with('/')) url.pop_back();
    } else if (id.starts_with("UC")) {
        url = channel_page_url(id);
    } else {
        if (id.starts_with('@')) id.remove_prefix(1);
        url = handle_page_url(id);
    }
    if (!url.ends_with("/videos")) url += "/videos";
    return url;
}

CatalogResult<std::string> playlist_url(std::string_view id) {
    if (id.starts_with("http")) return platform_address(id);
    return playlist_page_url(id);
}

std::string last_error_line(std::string_view stderr_text) {
    if (stderr_text.ends_with('\n')) stderr_text.remove_suffix(1);
    const std::size_t newline = stderr_text.rfind('\n');
    if (newline != std::string_view::npos) stderr_text.remove_prefix(newline + 1);
    return std::string(trim_ascii(stderr_text));
}

}  // namespace ytdlp

YtDlpBackend::YtDlpBackend(std::string program, std::string version)
    : m_program(std::move(program)), m_version(std::move(version)), m_name(fmt::format("yt-dlp {}", m_version)) {}

CatalogResult<YtDlpBackend> YtDlpBackend::probe(std::string program, std::chrono::seconds timeout) {
    const std::string args[] = {"--version"};
    auto run = bounded_command::run(program, args, ytdlp::kProbeOutputLimit, timeout);
    if (!run) {
        if (run.error().not_performed()) return std::unexpected(fmt::format("yt-dlp not runnable: {}", run.error().message));
        return std::unexpected(run.error().message);
    }
    if (run->exit_status != 0) return std::unexpected(std::string("yt-dlp --version failed"));
    std::string version(trim_ascii(utf8_lossy(run->stdout_bytes)));
    return YtDlpBackend(std::move(program), std::move(version));
}

CatalogResult<std::string> YtDlpBackend::run_ytdlp(std::span<const std::string> args,
                                                   std::chrono::seconds timeout) const {
    auto run = bounded_command::run(m_program, args, ytdlp::kOutputLimit, timeout);
    if (!run) {
        if (run.error().not_performed()) return std::unexpected(fmt::format("yt-dlp failed safely: {}", run.error().message));
        return std::unexpected(run.error().message);
    }
    if (run->exit_status != 0) {
        return std::unexpected(fmt::format("yt-dlp failed: {}", ytdlp::last_error_line(utf8_lossy(run->stderr_bytes))));
    }
    return utf8_lossy(run->stdout_bytes);
}

CatalogResult<nlohmann::json> YtDlpBackend::run_ytdlp_json(std::span<const std::string> args,
                                                           std::chrono::seconds timeout) const {
    auto output = run_ytdlp(args, timeout);
    if (!output) return std::unexpected(std::move(output.error()));
    auto parsed = json_read::parse(trim_ascii(*output));
    if (!parsed) return std::unexpected(fmt::format("yt-dlp JSON parse: {}", parsed.error()));
    return std::move(*parsed);
}

CatalogResult<nlohmann::json> YtDlpBackend::run_ytdlp_print(std::span<const std::string_view> fields,
                                                            std::optional<std::string_view> format,
                                                            std::string_view url, std::chrono::seconds timeout) const {
    std::vector<std::string> args = {"--no-warnings", "--no-playlist"};
    if (format) {
        args.emplace_back("-f");
        args.emplace_back(*format);
    }
    args.emplace_back("--print");
    args.push_back(ytdlp::print_template(fields));
    args.emplace_back(url);
    auto output = run_ytdlp(args, timeout);
    if (!output) return std::unexpected(std::move(output.error()));
    return ytdlp::parse_print_output(*output, fields);
}

CatalogResult<nlohmann::json> YtDlpBackend::run_flat_list(std::string url, std::chrono::seconds timeout) const {
    const std::string args[] = {"-J", "--flat-playlist", "--no-warnings", "--playlist-end",
                                std::to_string(ytdlp::kResultCount), std::move(url)};
    return run_ytdlp_json(args, timeout);
}

CatalogResult<CatalogPage> YtDlpBackend::search(std::string_view query) {
    const std::string args[] = {"-J", "--flat-playlist", "--no-warnings",
                                fmt::format("ytsearch{}:{}", ytdlp::kResultCount, query)};
    auto result = run_ytdlp_json(args, ytdlp::kSearchTimeout);
    if (!result) return std::unexpected(std::move(result.error()));
    return CatalogPage::of_videos(ytdlp::videos_from_result(*result, "Search", ytdlp::today_day_number()));
}

CatalogResult<CatalogPage> YtDlpBackend::trending() {
    auto result = run_flat_list(trending_page_url(), ytdlp::kTrendingTimeout);
    if (!result) return std::unexpected(std::move(result.error()));
    return CatalogPage::of_videos(ytdlp::videos_from_result(*result, "Trending", ytdlp::today_day_number()));
}

CatalogResult<CatalogPage> YtDlpBackend::video(std::string_view id) {
    auto fields = run_ytdlp_print(ytdlp::kVideoFields, std::nullopt, watch_page_url(id), ytdlp::kVideoTimeout);
    if (!fields) return std::unexpected(std::move(fields.error()));
    return CatalogPage::of_video(ytdlp::video_from_entry(*fields, "Video", ytdlp::today_day_number()));
}

CatalogResult<CatalogPage> YtDlpBackend::channel(std::string_view id) {
    auto url = ytdlp::channel_videos_url(id);
    if (!url) return std::unexpected(std::move(url.error()));
    auto result = run_flat_list(std::move(*url), ytdlp::kChannelTimeout);
    if (!result) return std::unexpected(std::move(result.error()));
    return CatalogPage{ytdlp::channel_from_result(*result, ytdlp::today_day_number())};
}

CatalogResult<CatalogPage> YtDlpBackend::related(std::string_view) { return CatalogPage::of_videos({}); }

CatalogResult<PlaylistAnswer> YtDlpBackend::playlist(std::string_view id) {
    auto url = ytdlp::playlist_url(id);
    if (!url) return std::unexpected(std::move(url.error()));
    auto result = run_flat_list(std::move(*url), ytdlp::kPlaylistTimeout);
    if (!result) return std::unexpected(std::move(result.error()));
    return ytdlp::playlist_from_result(*result, id, ytdlp::today_day_number());
}

CatalogResult<PlaybackSource> YtDlpBackend::playback_source(std::string_view video_id) {
    auto fields =
        run_ytdlp_print(ytdlp::kPlaybackFields, ytdlp::kStreamFormat, watch_page_url(video_id), ytdlp::kPlaybackTimeout);
    if (!fields) return std::unexpected(std::move(fields.error()));
    return ytdlp::playback_from_fields(*fields, video_id);
}

}  // namespace sarn
