#include "sarn/main/live_shots.h"

#include <algorithm>
#include <cstdlib>
#include <map>
#include <system_error>
#include <utility>
#include <vector>

#include <fmt/format.h>

#include "atomic_file/atomic_file.h"
#include "sarn/app/sarn_app.h"
#include "sarn/backend/platform.h"
#include "sarn/main/probe_text.h"
#include "vorn_ui/layout.h"
#include "vorn_ui/offscreen.h"
#include "vorn_ui/scene.h"
#include "vorn_ui/text.h"

namespace sarn::entry {

namespace {

namespace fs = std::filesystem;

void create_directories_quietly(const fs::path& dir) {
    if (dir.empty()) return;
    std::error_code ignored;
    fs::create_directories(dir, ignored);
}

fs::path shot_path(std::string_view directory, std::string_view name) { return fs::path(directory) / name; }

void mark_live(Library& library) {
    library.status.text = "live";
    library.status.live = true;
}

SarnApp shot_root(const DevServices& services, Library library, vorn_ui::image_store::ImageStore store) {
    return SarnApp::create(services.app_options ? services.app_options() : SarnAppOptions{})
        .with_viewport_size(static_cast<double>(kShotWidth), static_cast<double>(kShotHeight))
        .with_library(std::move(library))
        .with_image_store(std::move(store));
}

// Writes one still and the run's own line after write_shot's.
std::expected<void, MainError> shoot(const ModeOutput& output, SarnApp root, const fs::path& path,
                                     std::string_view done_line) {
    if (auto written = write_shot(root, path, output); !written) return written;
    output.say(done_line);
    return {};
}

// The watch still: metadata and a stream of the fixed video, its creator's avatar.
std::expected<void, MainError> watch_still(const DevServices& services, CatalogBackend& ytdlp,
                                           std::string_view directory) {
    const ModeOutput& output = services.output;
    output.say(fmt::format("live-shots[watch]: metadata + rangeable stream for [{}]…\n", kShotVideoId));
    Video video = shot_fallback_video();
    if (auto details = ytdlp.video(kShotVideoId); details && details->as_video() != nullptr) {
        video = std::move(details->as_video()->video);
    }

    std::optional<std::pair<std::string, std::string>> stream;  // (address, quality label)
    if (auto source = ytdlp.playback_source(kShotVideoId)) {
        stream.emplace(source->url, source->quality);
    } else if (auto invidious = services.probe_invidious(kShotVideoId)) {
        stream.emplace(invidious->url, invidious->quality);
    }
    if (!stream) {
        output.warn(
            "live-shots[watch]: no Invidious proxy served bytes and no direct URL resolved — skipped the watch still "
            "(reported honestly, not faked).\n");
        return {};
    }
    output.say(fmt::format("  resolved {} stream; decoding a real frame via the media engine…\n", stream->second));

    Library library;
    library.ensure_channel_stub(video.channel_id, video.channel_name);
    const std::string channel_id = video.channel_id;
    library.upsert_video(video);
    mark_live(library);

    vorn_ui::image_store::ImageStore store = services.new_image_store();
    if (auto answer = ytdlp.channel(channel_id); answer && answer->as_channel() != nullptr) {
        const Channel& channel = answer->as_channel()->channel;
        library.fill_channel_avatar(channel.id, channel.avatar_url);
        if (!channel.avatar_url.empty()) {
            output.say(fmt::format("  creator avatar: {}\n", url_for_display(channel.avatar_url)));
            (void)store.get(channel.avatar_url);
            store.block_until_idle(kWatchAvatarWait);
        }
    }

    SarnApp root = shot_root(services, std::move(library), std::move(store))
                       .open_and_play(std::string(kShotVideoId), stream->first);
    const fs::path path = shot_path(directory, "watch.png");
    return shoot(output, std::move(root), path, fmt::format("  wrote {}\n", path.string()));
}

// The playlist still from the first listed playlist that yt-dlp resolves.
std::expected<void, MainError> playlist_still(const DevServices& services, CatalogBackend& ytdlp,
                                              const std::vector<Playlist>& playlists, std::string_view directory) {
    const ModeOutput& output = services.output;
    std::optional<PlaylistAnswer> answer;
    for (const Playlist& listed : playlists) {
        output.say(fmt::format("live-shots[playlist]: fetching {} via yt-dlp…\n", listed.id));
        if (auto fetched = ytdlp.playlist(listed.id)) {
            answer = std::move(*fetched);
            break;
        }
    }
    if (!answer) {
        output.warn("live-shots[playlist]: no listed playlist resolved — skipping playlist still.\n");
        return {};
    }

    Library library;
    for (const Video& v : answer->videos) {
        library.ensure_channel_stub(v.channel_id, v.channel_name);
        library.fill_channel_avatar(v.channel_id, v.channel_avatar_url);
        library.upsert_video(v);
    }
    library.ensure_channel_stub(answer->playlist.channel_id, answer->playlist.channel_name);
    library.upsert_playlist(answer->playlist);
    library.route = Route::playlist(answer->playlist.id);
    // Its data is as live as the other stills': the top bar must not call it offline.
    mark_live(library);

    vorn_ui::image_store::ImageStore store = services.new_image_store();
    std::vector<std::string> addresses{answer->playlist.thumbnail_url};
    for (const Video& v : answer->videos) addresses.push_back(v.thumbnail_url);
    prewarm_images(store, addresses);
    store.block_until_idle(kPlaylistImagesWait);

    const fs::path path = shot_path(directory, "playlist.png");
    return shoot(output, shot_root(services, std::move(library), std::move(store)), path,
                 fmt::format("  wrote {} ({} videos)\n", path.string(), answer->videos.size()));
}

// The search, home and playlist stills over one mixed search.
std::expected<void, MainError> search_stills(const DevServices& services, CatalogBackend& ytdlp,
                                             LiveCatalogBackend& live, std::string_view directory,
                                             std::string_view search) {
    const ModeOutput& output = services.output;
    output.say(fmt::format("live-shots[search]: rustypipe search for {}…\n", debug_quoted(search)));
    auto items = live.search_items(search);
    if (!items) {
        output.warn(fmt::format("live-shots[search]: rustypipe search failed: {}\n", items.error()));
        return {};
    }
    if (items->videos.empty() && items->playlists.empty() && items->channels.empty()) {
        output.warn("live-shots[search]: empty result set — skipping search/home/playlist stills.\n");
        return {};
    }
    output.say(fmt::format("  {} videos, {} playlists, {} creators\n", items->videos.size(), items->playlists.size(),
                           items->channels.size()));

    Library library;
    for (const Video& v : items->videos) {
        library.ensure_channel_stub(v.channel_id, v.channel_name);
        library.fill_channel_avatars(v.channel_id, v.channel_name, v.channel_avatar_url);
        library.upsert_video(v);
    }
    for (const Playlist& p : items->playlists) {
        library.ensure_channel_stub(p.channel_id, p.channel_name);
        library.upsert_playlist(p);
    }
    for (const Channel& c : items->channels) {
        library.fill_channel_avatars(c.id, c.name, c.avatar_url);
        library.upsert_channel(c);
    }
    library.share_channel_avatars();

    // Channels still without an avatar, those with the most videos first.
    std::map<std::string, std::size_t> missing;
    for (const Video& v : items->videos) {
        const Channel* channel = library.find_channel(v.channel_id);
        if (channel == nullptr || channel->avatar_url.empty()) ++missing[v.channel_id];
    }
    std::vector<std::pair<std::string, std::size_t>> by_count(missing.begin(), missing.end());
    std::stable_sort(by_count.begin(), by_count.end(), [](const auto& a, const auto& b) { return a.second > b.second; });
    if (by_count.size() > kMissingAvatarLookups) by_count.resize(kMissingAvatarLookups);
    for (const auto& [channel_id, count] : by_count) {
        auto answer = ytdlp.channel(channel_id);
        if (!answer || answer->as_channel() == nullptr) continue;
        const Channel& channel = answer->as_channel()->channel;
        library.fill_channel_avatars(channel.id, channel.name, channel.avatar_url);
        output.say(fmt::format("  fetched avatar for {}: {}\n", debug_quoted(channel.name),
                               url_for_display(channel.avatar_url)));
    }

    library.share_channel_avatars();
    library.search_query = std::string(search);
    library.search_results_query = std::string(search);
    library.search_result_videos.clear();
    for (const Video& v : items->videos) library.search_result_videos.push_back(v.id);
    library.search_result_playlists.clear();
    for (const Playlist& p : items->playlists) library.search_result_playlists.push_back(p.id);
    library.search_result_channels.clear();
    for (const Channel& c : items->channels) library.search_result_channels.push_back(c.id);
    library.route = Route::search(std::string(search));
    mark_live(library);

    vorn_ui::image_store::ImageStore store = services.new_image_store();
    std::vector<std::string> addresses;
    for (const Video& v : items->videos) addresses.push_back(v.thumbnail_url);
    for (const Channel& c : library.channels) addresses.push_back(c.avatar_url);
    for (const Playlist& p : items->playlists) addresses.push_back(p.thumbnail_url);
    prewarm_images(store, addresses);
    const auto wanted = std::count_if(addresses.begin(), addresses.end(), [](const std::string& a) { return !a.empty(); });
    output.say(fmt::format("  prewarming {} thumbnails + avatars…\n", wanted));
    store.block_until_idle(kSearchImagesWait);
    output.say(fmt::format("  images settled: {} still pending\n", store.pending()));

    output.say("  -- render-time channel-record state --\n");
    for (const Channel& c : library.channels) {
        output.say(fmt::format("     id={} name={} avatar={} store={}\n", debug_quoted(c.id), debug_quoted(c.name),
                               c.avatar_url.empty() ? "<EMPTY>" : "set",
                               !c.avatar_url.empty() && store.get(c.avatar_url) ? "DECODED" : "miss"));
    }

    const fs::path search_path = shot_path(directory, "search.png");
    if (auto done = shoot(output, shot_root(services, library, store), search_path,
                          fmt::format("  wrote {}\n", search_path.string()));
        !done) {
        return done;
    }
    Library home = library;
    home.route = Route::home();
    const fs::path home_path = shot_path(directory, "home.png");
    if (auto done = shoot(output, shot_root(services, std::move(home), store), home_path,
                          fmt::format("  wrote {}\n", home_path.string()));
        !done) {
        return done;
    }
    return playlist_still(services, ytdlp, items->playlists, directory);
}

}  // namespace

Video shot_fallback_video() {
    Video video;
    video.id = std::string(kShotVideoId);
    video.title = "Big Buck Bunny";
    video.channel_name = "Blender";
    video.channel_seed = video.id;
    video.seed = video.id;
    video.thumbnail_url = thumbnail_url(video.id);
    video.category = "Video";
    return video;
}

vorn_ui::Theme shots_theme_from(std::optional<std::string_view> value) {
    if (value == "light") return vorn_ui::Theme::light();
    if (value == "high-contrast") return vorn_ui::Theme::high_contrast();
    return vorn_ui::Theme::dark();
}

vorn_ui::Theme shots_theme() {
    const char* value = std::getenv(kShotsThemeVariable.data());
    return shots_theme_from(value ? std::optional<std::string_view>(value) : std::nullopt);
}

void prewarm_images(const vorn_ui::image_store::ImageStore& store, std::span<const std::string> addresses) {
    for (const std::string& address : addresses) {
        if (!address.empty()) (void)store.get(address);
    }
}

std::expected<void, MainError> write_shot(vorn_ui::widget::Widget& root, const fs::path& path,
                                          const ModeOutput& output) {
    const vorn_ui::Theme theme = shots_theme();
    vorn_ui::widget::PresenceContext presence;
    vorn_ui::widget::PermissionContext permissions = vorn_ui::widget::PermissionContext::allow_all();
    vorn_ui::TextRenderer text;
    vorn_ui::layout::LayoutTree tree;
    vorn_ui::widget::NodeRegistry registry;
    vorn_ui::widget::RuntimeState state;
    vorn_ui::widget::Environment env;
    env.theme = theme;
    env.viewport = vorn_ui::Size{static_cast<double>(kShotWidth), static_cast<double>(kShotHeight)};

    root.sync(state);
    vorn_ui::widget::LayoutContext cx{tree, registry, env};
    auto nodes = vorn_ui::widget::build_root_layout(root, cx, env.viewport);
    if (!nodes) return std::unexpected(MainError::from_layout(nodes.error()));
    if (auto solved = vorn_ui::widget::solve_root_layout(tree, *nodes, env.viewport, registry, text); !solved) {
        return std::unexpected(MainError::from_layout(solved.error()));
    }
    root.apply_layout(tree, nodes->root, vorn_ui::Point{0, 0});
    root.sync(state);

    vorn_ui::Scene scene;
    vorn_ui::widget::DrawContext dc{theme, text, permissions};
    root.draw_with_presence(scene, vorn_ui::Affine::identity(), dc, presence);

    create_directories_quietly(path.parent_path());
    auto renderer = vorn_ui::offscreen::OffscreenRenderer::create(kShotWidth, kShotHeight);
    if (!renderer) return std::unexpected(MainError::from_text(fmt::format("offscreen renderer: {}", renderer.error().message)));
    auto picture = renderer->render_resilient(scene, vorn_ui::Color::transparent());
    if (!picture) return std::unexpected(MainError::from_text(fmt::format("render shot: {}", picture.error().message)));
    auto png = vorn_ui::offscreen::encode_png(picture->width, picture->height, picture->rgba);
    if (!png) return std::unexpected(MainError::from_text(fmt::format("encode png: {}", png.error().message)));
    const std::string_view bytes(reinterpret_cast<const char*>(png->data()), png->size());
    if (auto written = atomic_file::write_creating_parent(path, bytes); !written) {
        return std::unexpected(
            MainError::from_text(fmt::format("atomically publish png {}: {}", path.string(), written.error().message())));
    }
    output.say(fmt::format("sarn: wrote shot to {}\n", path.string()));
    return {};
}

std::expected<void, MainError> live_shots(const DevServices& services, std::string_view directory,
                                          std::string_view search) {
    create_directories_quietly(fs::path(directory));
    auto ytdlp = services.start_ytdlp();
    if (!ytdlp) return std::unexpected(MainError::from_text(fmt::format("yt-dlp backend: {}", ytdlp.error())));

    if (auto done = watch_still(services, **ytdlp, directory); !done) return done;

    auto live = services.start_live();
    if (!live) return std::unexpected(MainError::from_text(fmt::format("rustypipe backend: {}", live.error())));
    if (auto done = search_stills(services, **ytdlp, **live, directory, search); !done) return done;

    services.output.say(fmt::format("live-shots: done ({})\n", directory));
    return {};
}

}  // namespace sarn::entry
