#include "sarn/backend/fetch_worker.h"

#include <pthread.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <map>
#include <set>
#include <system_error>
#include <thread>
#include <tuple>

#include <fmt/format.h>

#include "sarn/backend/network_failure.h"
#include "sarn/backend/ytdlp_backend.h"
#include "sarn/http/client.h"
#include "sarn/model/library.h"
#include "vorn_log/log.h"

namespace sarn {

namespace {

using Result = FetchResult;

// A query that could not reach the network at all says so at once: the
// interface shows the offline status instead of waiting on "connecting…".
void post_offline_if_unreachable(FetchResultSender& results, std::string_view error) {
    if (network_unreachable(error)) post_backend_status(results, false);
}

// Everything the worker thread owns, and the handling of one request.
class Worker {
public:
    Worker(FetchResultSender& results, FetchWorkerConfig& config, http::Client client)
        : m_results(results), m_config(config), m_client(std::move(client)) {}

    void start_up();
    void handle(const FetchRequest& request);

private:
    enum class Enrichment { Untried, Unavailable, Started };

    void send(Result::Value value) { (void)m_results.send(Result{std::move(value)}); }
    void note(std::string text) { send(Result::Note{std::move(text)}); }
    void status(std::string text, bool live) { send(Result::Status{std::move(text), live}); }
    void offline_if_unreachable(std::string_view error) { post_offline_if_unreachable(m_results, error); }

    CatalogResult<std::unique_ptr<LiveCatalogBackend>> start_live_backend();
    // The enrichment client, started on first need; null when unavailable.
    LiveCatalogBackend* ensure_enrichment();

    void video_extras(const std::string& id);
    void search(const std::string& query);
    void home_feed();
    void video(const std::string& id);
    void channel(const std::string& id);
    void playlist(const std::string& id);
    void stream(const std::string& id);

    FetchResultSender& m_results;
    FetchWorkerConfig& m_config;
    http::Client m_client;
    std::unique_ptr<CatalogBackend> m_primary;
    Enrichment m_enrichment_state = Enrichment::Untried;
    std::unique_ptr<LiveCatalogBackend> m_enrichment;
};

CatalogResult<std::unique_ptr<LiveCatalogBackend>> Worker::start_live_backend() {
    if (!m_config.live_backend) return std::unexpected(std::string(kNoLiveBackendText));
    auto started = m_config.live_backend();
    if (started && *started == nullptr) return std::unexpected(std::string(kNoLiveBackendText));
    return started;
}

void Worker::start_up() {
    if (auto probed = YtDlpBackend::probe(m_config.ytdlp_program)) {
        m_primary = std::make_unique<YtDlpBackend>(std::move(*probed));
        note(fmt::format("live backend ready: {}", m_primary->name()));
    } else {
        note(fmt::format("yt-dlp unavailable ({}); falling back to rustypipe", probed.error()));
        if (auto live = start_live_backend()) {
            m_primary = std::move(*live);
            note(fmt::format("live backend ready (fallback): {}", m_primary->name()));
        } else {
            note(fmt::format("live backend unavailable ({}); no live catalogue available", live.error()));
        }
    }
    status(m_primary ? "connecting…" : "offline", false);
    m_enrichment_state = Enrichment::Untried;
}

LiveCatalogBackend* Worker::ensure_enrichment() {
    if (m_enrichment_state == Enrichment::Untried) {
        if (auto live = start_live_backend()) {
            m_enrichment = std::move(*live);
            m_enrichment_state = Enrichment::Started;
        } else {
            note(fmt::format("rustypipe enrichment unavailable ({})", live.error()));
            m_enrichment_state = Enrichment::Unavailable;
        }
    }
    return m_enrichment.get();
}

void Worker::handle(const FetchRequest& request) {
    switch (request.kind) {
        case FetchRequestKind::VideoExtras: return video_extras(request.text);
        case FetchRequestKind::Search: return search(request.text);
        case FetchRequestKind::HomeFeed: return home_feed();
        case FetchRequestKind::Video: return video(request.text);
        case FetchRequestKind::Channel: return channel(request.text);
        case FetchRequestKind::Playlist: return playlist(request.text);
        case FetchRequestKind::Stream: return stream(request.text);
    }
}

void Worker::video_extras(const std::string& id) {
    if (auto segments = fetch_skip_segments(m_client, m_config.extras, id)) {
        send(Result::SponsorSegments{id, std::move(*segments)});
    } else {
        note(fmt::format("SponsorBlock: {}", segments.error()));
    }
    if (auto branding = fetch_branding(m_client, m_config.extras, id)) {
        send(Result::Branding{id, std::move(branding->title), std::move(branding->thumbnail)});
    } else {
        note(fmt::format("DeArrow: {}", branding.error()));
    }
    if (auto dislikes = fetch_dislikes(m_client, m_config.extras, id)) {
        send(Result::Dislikes{id, *dislikes});
    } else {
        note(fmt::format("Dislikes: {}", dislikes.error()));
    }
}

void Worker::search(const std::string& query) {
    Result::SearchResults results;
    results.query = query;
    if (auto page = run_catalog_query(m_primary.get(), CatalogQuery{CatalogQuery::Search{query}}, m_results)) {
        if (auto* videos = page->as_videos()) {
            post_backend_status(m_results, true);
            results.videos = std::move(videos->videos);
        }
    }
    if (LiveCatalogBackend* enrichment = ensure_enrichment()) {
        if (auto items = enrichment->search_items(query)) {
            // Avatars by channel id, then by lower-cased channel name; the
            // first entry under a key stays.
            std::map<std::string, std::string, std::less<>> by_id;
            std::map<std::string, std::string, std::less<>> by_name;
            const auto remember = [&](const std::string& id, const std::string& name, const std::string& avatar) {
                if (avatar.empty()) return;
                if (!id.empty()) by_id.emplace(id, avatar);
                if (std::string key = lowercase(name); !key.empty()) by_name.emplace(std::move(key), avatar);
            };
            for (const Video& v : items->videos) remember(v.channel_id, v.channel_name, v.channel_avatar_url);
            for (const Channel& c : items->channels) remember(c.id, c.name, c.avatar_url);
            for (Video& v : results.videos) {
                if (!v.channel_avatar_url.empty()) continue;
                if (auto found = by_id.find(v.channel_id); found != by_id.end()) {
                    v.channel_avatar_url = found->second;
                } else if (auto named = by_name.find(lowercase(v.channel_name)); named != by_name.end()) {
                    v.channel_avatar_url = named->second;
                }
            }
            if (results.videos.empty()) results.videos = std::move(items->videos);
            results.channels = std::move(items->channels);
            results.playlists = std::move(items->playlists);
        } else {
            note(fmt::format("search enrich: {}", items.error()));
            offline_if_unreachable(items.error());
        }
    }
    send(std::move(results));
}

void Worker::home_feed() {
    LiveCatalogBackend* enrichment = ensure_enrichment();
    if (auto page = run_catalog_query(m_primary.get(), CatalogQuery{CatalogQuery::Trending{}}, m_results)) {
        if (auto* videos = page->as_videos(); videos != nullptr && !videos->videos.empty()) {
            send(Result::HomeFeed{std::move(videos->videos)});
            status("live · trending", true);
            return;
        }
    }
    CatalogBackend* seed = enrichment != nullptr ? static_cast<CatalogBackend*>(enrichment) : m_primary.get();
    if (seed == nullptr) {
        post_backend_status(m_results, false);
        return;
    }
    std::vector<std::vector<Video>> lists;
    for (std::string_view topic : kPopularTopics) {
        auto page = seed->popular_search(topic);
        if (!page) {
            note(fmt::format("popular seed {}: {}", debug_quoted(topic), page.error()));
            offline_if_unreachable(page.error());
            continue;
        }
        if (auto* videos = page->as_videos(); videos != nullptr && !videos->videos.empty()) {
            lists.push_back(std::move(videos->videos));
        }
    }
    if (lists.empty()) {
        post_backend_status(m_results, false);
        return;
    }
    std::vector<Video> merged = interleave_video_lists(std::move(lists));
    std::vector<Video> feed;
    feed.reserve(merged.size());
    std::set<std::string, std::less<>> seen;
    for (Video& v : merged) {
        if (seen.insert(v.id).second) feed.push_back(std::move(v));
    }
    note(fmt::format(
        "dedicated trending endpoint retired — composed real popular feed ({} videos, view-sorted across {} topics)",
        feed.size(), std::size(kPopularTopics)));
    send(Result::HomeFeed{std::move(feed)});
    status("live · popular", true);
}

void Worker::video(const std::string& id) {
    std::vector<Video> related;
    if (auto page = run_catalog_query(m_primary.get(), CatalogQuery{CatalogQuery::Related{id}}, m_results)) {
        if (auto* videos = page->as_videos()) related = std::move(videos->videos);
    }
    if (auto page = run_catalog_query(m_primary.get(), CatalogQuery{CatalogQuery::Video{id}}, m_results)) {
        if (auto* details = page->as_video()) {
            post_backend_status(m_results, true);
            send(Result::VideoDetails{std::move(details->video), std::move(related)});
        }
    }
    if (LiveCatalogBackend* enrichment = ensure_enrichment()) {
        if (auto comments = enrichment->comments(id)) {
            if (!comments->empty()) send(Result::Comments{id, std::move(*comments)});
        } else {
            note(fmt::format("comments: {}", comments.error()));
            offline_if_unreachable(comments.error());
        }
    }
}

void Worker::channel(const std::string& id) {
    if (auto page = run_catalog_query(m_primary.get(), CatalogQuery{CatalogQuery::Channel{id}}, m_results)) {
        if (auto* found = page->as_channel()) {
            post_backend_status(m_results, true);
            send(Result::ChannelPage{std::move(found->channel), std::move(found->videos)});
        }
    }
}

void Worker::playlist(const std::string& id) {
    std::optional<PlaylistAnswer> answer;
    if (m_primary) {
        if (auto found = m_primary->playlist(id)) {
            answer = std::move(*found);
        } else {
            offline_if_unreachable(found.error());
        }
    }
    if (!answer) {
        if (LiveCatalogBackend* enrichment = ensure_enrichment()) {
            if (auto found = enrichment->fetch_playlist(id)) {
                answer = std::move(*found);
            } else {
                offline_if_unreachable(found.error());
            }
        }
    }
    if (answer) {
        send(Result::PlaylistPage{std::move(answer->playlist), std::move(answer->videos)});
    } else {
        note(fmt::format("playlist {}: unavailable", id));
    }
}

void Worker::stream(const std::string& id) {
    std::string url, quality;
    bool has_audio = false;
    if (m_primary) {
        if (auto source = m_primary->playback_source(id); source && !source->url.empty()) {
            url = std::move(source->url);
            quality = std::move(source->quality);
            has_audio = source->has_audio;
        }
    }
    if (url.empty()) {
        const auto found = m_config.invidious ? probe_invidious(id, *m_config.invidious) : probe_invidious(id);
        if (!found) {
            note(std::string(kNoStreamNote));
            return;
        }
        url = found->url;
        quality = found->quality;
        has_audio = found->has_audio;
    }
    note(fmt::format("stream: {} {} [{}]", quality, has_audio ? "video+audio" : "video only", stream_host_label(url)));
    send(Result::StreamReady{id, std::move(url), std::move(quality), has_audio});
}

ThreadStarter default_thread_starter() {
    return [](std::function<void()> body) -> std::expected<void, std::string> {
        try {
            std::thread thread(std::move(body));
            thread.detach();
            return {};
        } catch (const std::system_error& error) {
            return std::unexpected(std::string(error.what()));
        }
    };
}

}  // namespace

std::optional<CatalogPage> run_catalog_query(CatalogBackend* backend, const CatalogQuery& query,
                                             FetchResultSender& results) {
    if (backend == nullptr) return std::nullopt;
    auto page = backend->run_query(query);
    if (!page) {
        (void)results.send(Result{Result::Note{fmt::format("live {}: {}", query.debug_text(), page.error())}});
        post_offline_if_unreachable(results, page.error());
        return std::nullopt;
    }
    return std::move(*page);
}

void post_backend_status(FetchResultSender& results, bool live) {
    (void)results.send(Result{Result::Status{live ? "live (rustypipe)" : "offline — no live data", live}});
}

std::string stream_host_label(std::string_view url) {
    url = url.substr(0, url.find('?'));
    const std::size_t scheme = url.find("://");
    if (scheme == std::string_view::npos) return "stream";
    url.remove_prefix(scheme + 3);
    return std::string(url.substr(0, url.find('/')));
}

void fetch_worker_main(FetchRequestReceiver requests, FetchResultSender results, FetchWorkerConfig config) {
    auto client = http::Client::create(http::ClientOptions{config.user_agent, config.http_timeout,
                                                           kExtrasBodyLimit, 10});
    if (!client) {
        std::fputs("reqwest client builder cannot fail with these fixed options\n", stderr);
        std::abort();
    }
    Worker worker(results, config, std::move(*client));
    worker.start_up();
    while (auto request = requests.recv()) {
        try {
            worker.handle(*request);
        } catch (const std::exception& error) {
            (void)results.send(Result{Result::Note{fmt::format("fetch worker: {}", error.what())}});
        }
    }
}

std::expected<FetchWorkerHandle, std::string> spawn_fetch_worker(FetchWorkerConfig config) {
    auto [request_tx, request_rx] = bounded_queue<FetchRequest>(kFetchRequestCapacity);
    auto [result_tx, result_rx] = bounded_queue<FetchResult>(kFetchResultCapacity);
    ThreadStarter start = config.start_thread ? config.start_thread : default_thread_starter();

    // The body owns the worker's halves of both queues; shared pointers let
    // the body be copied into std::function while owning them once.
    auto state = std::make_shared<std::tuple<FetchRequestReceiver, FetchResultSender, FetchWorkerConfig>>(
        std::move(request_rx), std::move(result_tx), std::move(config));
    auto started = start([state] {
        pthread_setname_np(pthread_self(), std::string(kFetchThreadName).c_str());
        auto& [requests, results, worker_config] = *state;
        fetch_worker_main(std::move(requests), std::move(results), std::move(worker_config));
    });
    if (!started) {
        std::string text = fmt::format("failed to spawn the sarn-fetch worker thread: {}", started.error());
        vorn_log::error("sarn::api", text);
        return std::unexpected(std::move(text));
    }
    return FetchWorkerHandle(std::move(request_tx), std::move(result_rx));
}

std::expected<void, FetchWorker::SubmitError> FetchWorker::submit(FetchRequest request) {
    if (!m_handle) {
        auto spawned = spawn_fetch_worker(m_config);
        if (!spawned) {
            m_start_error = std::move(spawned.error());
            return std::unexpected(SubmitError::NotStarted);
        }
        m_start_error.reset();
        m_handle.emplace(std::move(*spawned));
    }
    auto sent = m_handle->try_submit(std::move(request));
    if (!sent) return std::unexpected(sent.error() == TrySendError::Full ? SubmitError::Full : SubmitError::Closed);
    return {};
}

std::vector<FetchResult> FetchWorker::take_results(std::size_t max) {
    std::vector<FetchResult> out;
    if (!m_handle) return out;
    while (out.size() < max) {
        auto result = m_handle->try_take();
        if (!result) break;
        out.push_back(std::move(*result));
    }
    return out;
}

}  // namespace sarn
