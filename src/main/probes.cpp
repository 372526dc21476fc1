#include "sarn/main/probes.h"

#include <algorithm>
#include <map>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include <fmt/format.h>

#include "sarn/main/probe_text.h"

namespace sarn::entry {

namespace {

using Clock = std::chrono::steady_clock;

// What the yt-dlp probe says of an answer of another kind than the step
// expects (search, details or channel); the run then counts as finding nothing.
constexpr std::string_view kUnexpectedYtDlpAnswer = "probe-ytdlp: unexpected result variant\n";

// The debug form of a text: in double quotes, escaped.
std::string dq(std::string_view text) { return debug_quoted(text); }

std::string first_title(const std::vector<Video>& videos) {
    return dq(videos.empty() ? std::string_view("<none>") : std::string_view(videos.front().title));
}

// A stream the engine can open, from yt-dlp or else from Invidious.
struct ResolvedStream {
    std::string url;
    std::string quality;
};

std::optional<ResolvedStream> resolve_stream(const DevServices& services, CatalogBackend& ytdlp,
                                             std::string_view video_id) {
    if (auto source = ytdlp.playback_source(video_id)) return ResolvedStream{source->url, source->quality};
    if (auto stream = services.probe_invidious(video_id)) return ResolvedStream{stream->url, stream->quality};
    return std::nullopt;
}

// The channel line of the avatar probe for one backend's answer.
void report_dominant_channel(const ModeOutput& output, std::string_view backend, std::string_view requested_id,
                             const CatalogResult<CatalogPage>& answer) {
    if (!answer) {
        output.say(fmt::format("  {} channel FAILED: {}\n", backend, answer.error()));
        return;
    }
    const auto* page = answer->as_channel();
    if (page == nullptr) {
        output.say(fmt::format("  {} channel: unexpected variant\n", backend));
        return;
    }
    const Channel& channel = page->channel;
    output.say(fmt::format("  {} channel({}) → id={} name={} subs={} avatar={}\n", backend, requested_id,
                           dq(channel.id), dq(channel.name), channel.subscribers,
                           channel.avatar_url.empty() ? std::string("<EMPTY>") : url_for_display(channel.avatar_url)));
}

}  // namespace

// ---- trending ----

ModeResult probe_trending(const DevServices& services) {
    const ModeOutput& output = services.output;
    output.warn("probe-trending: constructing the live rustypipe backend…\n");
    auto live = services.start_live();
    if (!live) return std::unexpected(MainError::from_text(fmt::format("live backend construction failed: {}", live.error())));
    LiveCatalogBackend& backend = **live;

    output.say("probe-trending: calling the dedicated trending endpoint (FEtrending)…\n");
    auto trending = backend.trending();
    const auto* trending_videos = trending ? trending->as_videos() : nullptr;
    if (!trending) {
        output.say(fmt::format("  dedicated endpoint FAILED (as expected, it is retired): {}\n", trending.error()));
    } else if (trending_videos != nullptr && !trending_videos->videos.empty()) {
        output.say(fmt::format("  REAL trending returned {} videos:\n", trending_videos->videos.size()));
        const std::size_t shown = std::min<std::size_t>(trending_videos->videos.size(), 15);
        for (std::size_t i = 0; i < shown; ++i) {
            const Video& v = trending_videos->videos[i];
            output.say(fmt::format("  {:>2}. [{}] {} — {}\n", i + 1, v.id, v.title, v.channel_name));
        }
    } else {
        output.say("  dedicated endpoint returned EMPTY (no error, no videos).\n");
    }

    output.say("\nprobe-trending: composing a REAL popular feed via view-count-sorted, last-week search…\n");
    std::size_t total = 0;
    for (std::string_view topic : kPopularProbeTopics) {
        auto answer = backend.popular_search(topic);
        const auto* videos = answer ? answer->as_videos() : nullptr;
        if (!answer) {
            output.warn(fmt::format("  {:>10}: FAILED: {}\n", topic, answer.error()));
        } else if (videos != nullptr && !videos->videos.empty()) {
            total += videos->videos.size();
            const Video& top = videos->videos.front();
            output.say(fmt::format("  {:>10}: {} popular videos; top: [{}] {} ({} views)\n", topic,
                                   videos->videos.size(), top.id, top.title, top.views));
        } else {
            output.say(fmt::format("  {:>10}: empty\n", topic));
        }
    }
    if (total == 0) {
        output.warn("probe-trending: no popular results at all — network/parse failure.\n");
        return ModeExit::NothingFound;
    }
    output.say(fmt::format("probe-trending: composed feed draws on {} real popular videos across {} topics.\n", total,
                           std::size(kPopularProbeTopics)));
    return ModeExit::Success;
}

// ---- media engine ----

ModeResult probe_engine(const DevServices& services, std::string_view video_id) {
    const ModeOutput& output = services.output;
    output.warn("probe-engine: constructing the yt-dlp backend…\n");
    auto ytdlp = services.start_ytdlp();
    if (!ytdlp) return std::unexpected(MainError::from_text(fmt::format("yt-dlp backend: {}", ytdlp.error())));

    const auto stream = resolve_stream(services, **ytdlp, video_id);
    if (!stream) return std::unexpected(MainError::from_text("no directly-playable stream resolved"));
    output.say(fmt::format("probe-engine: resolved {}; url(host)={}\n", stream->quality, url_for_display(stream->url)));

    media::engine::MediaEngine engine = services.new_media_engine();
    output.say(fmt::format("probe-engine: engine real_decode={} (decode compiled={})\n", engine.decodes(), true));
    engine.open(stream->url);
    engine.play();

    const auto deadline = Clock::now() + services.engine_watch;
    std::set<std::uint64_t> seen;
    std::size_t distinct = 0;
    bool errored = false;
    std::optional<std::uint64_t> last_serial;
    while (Clock::now() < deadline) {
        for (const auto& event : engine.poll()) {
            if (const auto* buffering = std::get_if<media::engine::BufferingProgress>(&event)) {
                if (buffering->percent % 25 == 0) {
                    output.say(fmt::format("probe-engine: buffering {}%\n", buffering->percent));
                }
            } else if (const auto* duration = std::get_if<media::engine::DurationKnown>(&event)) {
                output.say(fmt::format("probe-engine: duration known = {} ms\n", duration->duration_ms));
            } else if (const auto* error = std::get_if<media::engine::EngineError>(&event)) {
                output.warn(fmt::format("probe-engine: ENGINE ERROR: {}\n", error->text));
                errored = true;
            }
        }
        // A picture already looked at gives the same checksum again.
        if (auto frame = engine.latest_frame(); frame && frame->pixels && frame->serial != last_serial) {
            last_serial = frame->serial;
            const std::size_t size = static_cast<std::size_t>(frame->stride) * frame->height;
            const std::uint64_t checksum = frame_checksum({frame->pixels.get(), size});
            if (seen.insert(checksum).second) {
                ++distinct;
                if (distinct <= 3) {
                    output.say(fmt::format("  frame {}: {}x{} pts={}ms checksum=0x{:016x}\n", distinct, frame->width,
                                           frame->height, frame->pts_ms, checksum));
                }
            }
        }
        std::this_thread::sleep_for(kEnginePollInterval);
    }

    const auto duration = engine.duration_ms();
    output.say(fmt::format("probe-engine: {} DISTINCT frames; final pos={}ms dur={}ms buffering={}%\n", distinct,
                           engine.position_ms(), duration ? fmt::format("Some({})", *duration) : std::string("None"),
                           engine.buffering_percent()));
    if (distinct > 0) {
        output.say(fmt::format("probe-engine: REAL playback through the media engine — {} distinct pictures.\n",
                               distinct));
        return ModeExit::Success;
    }
    output.warn(fmt::format(
        "probe-engine: the media engine produced NO frame (errored={}) — reported honestly, not faked.\n", errored));
    return ModeExit::NoPicture;
}

// ---- yt-dlp ----

ModeResult probe_ytdlp(const DevServices& services, std::string_view search) {
    const ModeOutput& output = services.output;
    output.warn("probe-ytdlp: constructing the yt-dlp backend…\n");
    auto started = services.start_ytdlp();
    if (!started) return std::unexpected(MainError::from_text(fmt::format("yt-dlp backend: {}", started.error())));
    CatalogBackend& ytdlp = **started;
    output.say(fmt::format("probe-ytdlp: backend = {}\n", ytdlp.name()));
    output.say(fmt::format("probe-ytdlp: searching YouTube for {} …\n", dq(search)));

    auto answer = ytdlp.search(search);
    if (!answer) return std::unexpected(MainError::from_text(answer.error()));
    const auto* found = answer->as_videos();
    if (found == nullptr) {
        // Not a result at all: reported, and the run counts as finding nothing.
        output.say(kUnexpectedYtDlpAnswer);
        return ModeExit::NothingFound;
    }
    const std::vector<Video>& videos = found->videos;
    output.say(fmt::format("  {} REAL results from YouTube:\n", videos.size()));
    for (std::size_t i = 0; i < std::min<std::size_t>(videos.size(), 10); ++i) {
        const Video& v = videos[i];
        output.say(fmt::format("  {:>2}. [{}] {} — {} ({} views)\n        thumb={}\n", i + 1, v.id, v.title,
                               v.channel_name, v.views, url_for_display(v.thumbnail_url)));
    }
    if (videos.empty()) {
        output.warn("probe-ytdlp: EMPTY result set — reached yt-dlp but nothing parsed.\n");
        return ModeExit::NothingFound;
    }

    const Video& first = videos.front();
    output.say(fmt::format("\nprobe-ytdlp: video_details [{}] …\n", first.id));
    auto details = ytdlp.video(first.id);
    if (!details) return std::unexpected(MainError::from_text(details.error()));
    const auto* details_page = details->as_video();
    if (details_page == nullptr) {
        output.say(kUnexpectedYtDlpAnswer);
        return ModeExit::NothingFound;
    }
    const Video& v = details_page->video;
    output.say(fmt::format("  title={} channel={} views={} likes={} desc_len={}\n  thumb={}\n", dq(v.title),
                           dq(v.channel_name), v.views, v.likes, v.description.size(),
                           url_for_display(v.thumbnail_url)));

    output.say(fmt::format("\nprobe-ytdlp: channel [{}] …\n", first.channel_id));
    auto channel_answer = ytdlp.channel(first.channel_id);
    if (!channel_answer) return std::unexpected(MainError::from_text(channel_answer.error()));
    const auto* channel_page = channel_answer->as_channel();
    if (channel_page == nullptr) {
        output.say(kUnexpectedYtDlpAnswer);
        return ModeExit::NothingFound;
    }
    const Channel& c = channel_page->channel;
    output.say(fmt::format("  {} ({} subscribers, verified={}); {} uploads\n", dq(c.name), c.subscribers, c.verified,
                           channel_page->videos.size()));
    output.say(fmt::format("  avatar_url = {}\n", url_for_display(c.avatar_url)));
    output.say(fmt::format("  banner_url = {}\n", url_for_display(c.banner_url)));
    if (c.avatar_url.empty() || c.banner_url.empty()) {
        output.warn("probe-ytdlp: WARNING — channel avatar/banner url missing.\n");
    }
    for (std::size_t i = 0; i < std::min<std::size_t>(channel_page->videos.size(), 3); ++i) {
        const Video& upload = channel_page->videos[i];
        output.say(fmt::format("    upload [{}] {} — thumb={}\n", upload.id, upload.title,
                               url_for_display(upload.thumbnail_url)));
    }
    return ModeExit::Success;
}

// ---- avatars ----

ModeResult probe_avatars(const DevServices& services, std::string_view search) {
    const ModeOutput& output = services.output;
    output.warn("probe-avatars: constructing yt-dlp + rustypipe backends…\n");
    auto started_ytdlp = services.start_ytdlp();
    if (!started_ytdlp) return std::unexpected(MainError::from_text(fmt::format("yt-dlp: {}", started_ytdlp.error())));
    auto started_live = services.start_live();
    if (!started_live) return std::unexpected(MainError::from_text(fmt::format("rustypipe: {}", started_live.error())));
    CatalogBackend& ytdlp = **started_ytdlp;
    LiveCatalogBackend& live = **started_live;

    // yt-dlp's side: the videos and how many each channel has.
    output.say(fmt::format("\n== yt-dlp search {} ==\n", dq(search)));
    auto searched = ytdlp.search(search);
    if (!searched) return std::unexpected(MainError::from_text(searched.error()));
    std::vector<Video> yt_videos;
    if (auto* page = searched->as_videos()) yt_videos = std::move(page->videos);
    for (std::size_t i = 0; i < std::min<std::size_t>(yt_videos.size(), 12); ++i) {
        const Video& v = yt_videos[i];
        output.say(fmt::format("  [{}] chan_id={} name={} avatar={}\n", v.id, dq(v.channel_id),
                               dq(v.channel_name), v.channel_avatar_url.empty() ? "<EMPTY>" : "present"));
    }
    std::map<std::string, std::pair<std::string, std::size_t>> tally;  // channel id → (first name, videos)
    for (const Video& v : yt_videos) {
        auto [it, inserted] = tally.try_emplace(v.channel_id, v.channel_name, 0);
        ++it->second.second;
    }

    // innertube's side: the avatar addresses by channel id.
    output.say(fmt::format("\n== rustypipe search_items {} ==\n", dq(search)));
    auto items = live.search_items(search);
    if (!items) return std::unexpected(MainError::from_text(items.error()));
    output.say(fmt::format("  {} videos, {} playlists, {} creators\n", items->videos.size(), items->playlists.size(),
                           items->channels.size()));
    std::map<std::string, std::string> avatars;  // channel id → the first address given for it
    for (std::size_t i = 0; i < std::min<std::size_t>(items->videos.size(), 12); ++i) {
        const Video& v = items->videos[i];
        output.say(fmt::format("  vid [{}] chan_id={} name={} avatar={}\n", v.id, dq(v.channel_id),
                               dq(v.channel_name), url_for_display(v.channel_avatar_url)));
        if (!v.channel_id.empty() && !v.channel_avatar_url.empty()) avatars.try_emplace(v.channel_id, v.channel_avatar_url);
    }
    for (const Channel& c : items->channels) {
        output.say(fmt::format("  creator id={} name={} avatar={}\n", dq(c.id), dq(c.name),
                               url_for_display(c.avatar_url)));
        if (!c.id.empty() && !c.avatar_url.empty()) avatars.try_emplace(c.id, c.avatar_url);
    }

    output.say("\n== fetch-test rustypipe avatar URLs through the real ImageStore ==\n");
    {
        vorn_ui::image_store::ImageStore store = services.new_image_store();
        for (const auto& [id, address] : avatars) (void)store.get(address);
        store.block_until_idle(kAvatarStoreWait);
        for (const auto& [id, address] : avatars) {
            output.say(fmt::format("  {} id={}\n     {}\n", store.get(address) ? "DECODED" : "FAILED ", dq(id),
                                   address));
        }
    }

    const std::size_t by_id = static_cast<std::size_t>(
        std::count_if(yt_videos.begin(), yt_videos.end(), [&](const Video& v) { return avatars.contains(v.channel_id); }));
    output.say(fmt::format("\n== by-CHANNEL-ID fold match: {}/{} yt-dlp videos would get an avatar ==\n", by_id,
                           yt_videos.size()));
    std::map<std::string, std::string> by_name_map;  // folded name → address; later entries win
    for (const Video& v : items->videos) {
        if (!v.channel_avatar_url.empty()) by_name_map[fold_name(v.channel_name)] = v.channel_avatar_url;
    }
    for (const Channel& c : items->channels) {
        if (!c.avatar_url.empty()) by_name_map[fold_name(c.name)] = c.avatar_url;
    }
    const std::size_t by_name = static_cast<std::size_t>(std::count_if(
        yt_videos.begin(), yt_videos.end(), [&](const Video& v) { return by_name_map.contains(fold_name(v.channel_name)); }));
    output.say(fmt::format("== by-NORMALIZED-NAME fold match: {}/{} yt-dlp videos would get an avatar ==\n", by_name,
                           yt_videos.size()));

    // The channel with the most yt-dlp videos, through both backends.
    std::optional<std::string> dominant;
    if (!tally.empty()) {
        const auto best = std::max_element(tally.begin(), tally.end(), [](const auto& a, const auto& b) {
            return a.second.second < b.second.second;
        });
        dominant = best->first;
        output.say(fmt::format("\n== dominant yt-dlp channel: {} id={} ({} videos) ==\n", dq(best->second.first),
                               dq(best->first), best->second.second));
        report_dominant_channel(output, "yt-dlp", *dominant, ytdlp.channel(*dominant));
        report_dominant_channel(output, "rustypipe", *dominant, live.channel(*dominant));
    }

    output.say("\n== fetch + decode avatar URLs (real transport + ImageStore decoder) ==\n");
    ImageProbeContext context{{}, services.new_image_store(), services.build_http_client()};
    auto first_address = [](const auto& list, auto field) -> std::string {
        for (const auto& item : list) {
            if (!(item.*field).empty()) return item.*field;
        }
        return {};
    };
    probe_image_url(context, output, "rustypipe video-item avatar",
                    first_address(items->videos, &Video::channel_avatar_url));
    probe_image_url(context, output, "rustypipe creator-row avatar", first_address(items->channels, &Channel::avatar_url));
    if (dominant) {
        auto again = ytdlp.channel(*dominant);
        if (again && again->as_channel() != nullptr) {
            probe_image_url(context, output, "yt-dlp channel-page avatar", again->as_channel()->channel.avatar_url);
        }
    }
    probe_image_url(context, output, "video thumbnail (control)", first_address(items->videos, &Video::thumbnail_url));
    return ModeExit::Success;
}

void probe_image_url(ImageProbeContext& context, const ModeOutput& output, std::string_view label,
                     std::string_view address, std::chrono::milliseconds store_wait) {
    if (address.empty() || context.probed.contains(address)) return;
    context.probed.emplace(address);
    (void)context.store.get(address);
    context.store.block_until_idle(store_wait);
    const bool decoded = context.store.get(address).has_value();
    const auto bytes = context.fetch(std::string(address));
    if (!bytes) {
        output.say(fmt::format("  {}: FETCH FAILED (store.decode={}) — {}\n", label, decoded, url_for_display(address)));
        return;
    }
    output.say(fmt::format("  {}: {} bytes, format={}, ImageStore.decode={} — {}\n", label, bytes->size(),
                           sniff_image_format(*bytes), decoded ? "OK" : "FAILED", url_for_display(address)));
}

// ---- live catalogue ----

ModeResult probe_live(const DevServices& services, std::string_view search) {
    const ModeOutput& output = services.output;
    output.warn("probe: constructing the live rustypipe backend…\n");
    auto started = services.start_live();
    if (!started) return std::unexpected(MainError::from_text(fmt::format("live backend construction failed: {}", started.error())));
    LiveCatalogBackend& live = **started;
    output.say(fmt::format("probe: backend = {}\n", live.name()));
    output.say(fmt::format("probe: searching YouTube for {} …\n", dq(search)));

    auto answer = live.search(search);
    if (!answer) {
        output.warn(fmt::format("probe: LIVE SEARCH FAILED (network/parse): {}\n", answer.error()));
        return ModeExit::NothingFound;
    }
    const auto* found = answer->as_videos();
    if (found == nullptr) {
        // Not a result at all: reported, and the run counts as finding nothing.
        output.say(fmt::format("probe: unexpected result variant: {}\n", catalog_page_debug(*answer)));
        return ModeExit::NothingFound;
    }
    const std::vector<Video>& videos = found->videos;
    output.say(fmt::format("probe: {} REAL results from YouTube:\n", videos.size()));
    for (std::size_t i = 0; i < std::min<std::size_t>(videos.size(), 15); ++i) {
        const Video& v = videos[i];
        output.say(fmt::format("  {:>2}. [{}] {}  — {} ({} views)\n", i + 1, v.id, v.title, v.channel_name, v.views));
    }
    if (videos.empty()) {
        output.warn("probe: EMPTY result set — network reached YouTube but no videos parsed.\n");
        return ModeExit::NothingFound;
    }

    // Details around the first result; their failures do not change the status.
    const std::string id = videos.front().id;
    const std::string channel_id = videos.front().channel_id;
    output.say(fmt::format("\nprobe: video_details [{}] …\n", id));
    if (auto details = live.video(id); !details) {
        output.warn(fmt::format("  video_details failed: {}\n", details.error()));
    } else if (const auto* page = details->as_video()) {
        const Video& v = page->video;
        output.say(fmt::format("  title={} channel={} views={} likes={} desc_len={}\n", dq(v.title),
                               dq(v.channel_name), v.views, v.likes, v.description.size()));
    }
    output.say(fmt::format("probe: related [{}] …\n", id));
    if (auto related = live.related(id); !related) {
        output.warn(fmt::format("  related failed: {}\n", related.error()));
    } else if (const auto* page = related->as_videos()) {
        output.say(fmt::format("  {} recommendations; first: {}\n", page->videos.size(), first_title(page->videos)));
    }
    output.say(fmt::format("probe: channel_videos [{}] …\n", channel_id));
    if (auto channel = live.channel(channel_id); !channel) {
        output.warn(fmt::format("  channel_videos failed: {}\n", channel.error()));
    } else if (const auto* page = channel->as_channel()) {
        const Channel& c = page->channel;
        output.say(fmt::format("  {} ({} subs, verified={}); {} uploads; first: {}\n", dq(c.name), c.subscribers,
                               c.verified, page->videos.size(), first_title(page->videos)));
    }
    output.say("probe: trending …\n");
    if (auto trending = live.trending(); !trending) {
        output.warn(fmt::format("  trending failed: {}\n", trending.error()));
    } else if (const auto* page = trending->as_videos()) {
        output.say(fmt::format("  {} videos; first: {}\n", page->videos.size(), first_title(page->videos)));
    }
    return ModeExit::Success;
}

}  // namespace sarn::entry
