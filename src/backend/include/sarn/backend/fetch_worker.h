// The "sarn-fetch" worker: every network and child-process job of the
// catalogue runs on it, so that the interface thread never waits.
//
// The interface sends FetchRequests into a bounded queue (capacity 32, never
// waiting) and takes FetchResults out of a second one (capacity 128) every
// frame. The worker answers requests one at a time in arrival order and
// sends every result of one request before it reads the next.
//
// Threads: FetchWorkerHandle and FetchWorker belong to the interface
// thread; fetch_worker_main is the body of the worker thread and owns
// everything it builds (HTTP client, backends); nothing else is shared.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "sarn/backend/bounded_queue.h"
#include "sarn/backend/catalog_backend.h"
#include "sarn/backend/extras.h"
#include "sarn/backend/invidious.h"
#include "sarn/backend/live_catalog.h"
#include "sarn/model/records.h"

namespace sarn {

inline constexpr std::size_t kFetchRequestCapacity = 32;
inline constexpr std::size_t kFetchResultCapacity = 128;
inline constexpr std::string_view kFetchUserAgent = "sarn/0.1 (+vorn)";
inline constexpr std::chrono::milliseconds kFetchHttpTimeout{8000};
inline constexpr std::string_view kFetchThreadName = "sarn-fetch";

enum class FetchRequestKind : std::uint8_t { VideoExtras, Search, HomeFeed, Video, Channel, Playlist, Stream };

struct FetchRequest {
    FetchRequestKind kind = FetchRequestKind::HomeFeed;
    std::string text;  // video, channel or playlist id, or the search query; empty for HomeFeed

    static FetchRequest video_extras(std::string id) { return {FetchRequestKind::VideoExtras, std::move(id)}; }
    static FetchRequest search(std::string query) { return {FetchRequestKind::Search, std::move(query)}; }
    static FetchRequest home_feed() { return {FetchRequestKind::HomeFeed, {}}; }
    static FetchRequest video(std::string id) { return {FetchRequestKind::Video, std::move(id)}; }
    static FetchRequest channel(std::string id) { return {FetchRequestKind::Channel, std::move(id)}; }
    static FetchRequest playlist(std::string id) { return {FetchRequestKind::Playlist, std::move(id)}; }
    static FetchRequest stream(std::string id) { return {FetchRequestKind::Stream, std::move(id)}; }
    friend bool operator==(const FetchRequest&, const FetchRequest&) = default;
};

struct FetchResult {
    struct SponsorSegments {
        std::string video_id;
        std::vector<Segment> segments;
    };
    struct Branding {
        std::string video_id;
        std::optional<std::string> title;      // the crowd-sourced title
        std::optional<std::string> thumbnail;  // address of the crowd-sourced thumbnail
    };
    struct Dislikes {
        std::string video_id;
        std::uint64_t dislikes = 0;
    };
    struct SearchResults {
        std::string query;  // the request's text, unchanged
        std::vector<sarn::Video> videos;
        std::vector<sarn::Channel> channels;
        std::vector<sarn::Playlist> playlists;
    };
    struct PlaylistPage {
        sarn::Playlist playlist;
        std::vector<sarn::Video> videos;
    };
    struct HomeFeed {
        std::vector<sarn::Video> videos;
    };
    struct VideoDetails {
        sarn::Video video;
        std::vector<sarn::Video> related;
    };
    struct Comments {
        std::string video_id;
        std::vector<Comment> comments;
    };
    struct ChannelPage {
        sarn::Channel channel;
        std::vector<sarn::Video> videos;  // its uploads
    };
    struct Status {
        std::string text;
        bool live = false;
    };
    struct StreamReady {
        std::string video_id;
        std::string url;
        std::string quality;
        bool has_audio = false;
    };
    struct Note {
        std::string text;  // a free message for the log
    };
    using Value = std::variant<SponsorSegments, Branding, Dislikes, SearchResults, PlaylistPage, HomeFeed,
                               VideoDetails, Comments, ChannelPage, Status, StreamReady, Note>;

    Value value;

    template <class V>
    const V* as() const {
        return std::get_if<V>(&value);
    }
    template <class V>
    V* as() {
        return std::get_if<V>(&value);
    }
};

using FetchRequestSender = BoundedSender<FetchRequest>;
using FetchRequestReceiver = BoundedReceiver<FetchRequest>;
using FetchResultSender = BoundedSender<FetchResult>;
using FetchResultReceiver = BoundedReceiver<FetchResult>;

// Starts a detached thread running the body, or answers the system error.
using ThreadStarter = std::function<std::expected<void, std::string>(std::function<void()> body)>;

// What the worker builds on. The defaults are the real program, the real
// services and a real thread; tests hand local ones.
struct FetchWorkerConfig {
    std::string ytdlp_program = "yt-dlp";
    // Starts the innertube backend, for the fallback primary and for
    // enrichment. Unset: the start fails with kNoLiveBackendText.
    LiveBackendFactory live_backend;
    ExtrasEndpoints extras;
    // Unset: VORN_SARN_INVIDIOUS and the built-in instances.
    std::optional<InvidiousProbeOptions> invidious;
    std::string user_agent = std::string(kFetchUserAgent);
    std::chrono::milliseconds http_timeout = kFetchHttpTimeout;
    // Unset: a std::thread, detached.
    ThreadStarter start_thread;
};

inline constexpr std::string_view kNoLiveBackendText = "the innertube client is not part of this build";

// The note that ends a Stream request without a stream: the one result of
// such a request (every other one ends in StreamReady).
inline constexpr std::string_view kNoStreamNote =
    "could not resolve a playable stream (no Invidious instance served bytes, and no direct URL was available)";

// The six topics of the composed popular feed, in order.
inline constexpr std::string_view kPopularTopics[] = {"news", "music", "gaming", "technology", "sports", "science"};

// What the interface side keeps of a started worker.
class FetchWorkerHandle {
public:
    FetchWorkerHandle(FetchRequestSender requests, FetchResultReceiver results)
        : m_requests(std::move(requests)), m_results(std::move(results)) {}

    // Never waits: a full or closed queue refuses the request.
    std::expected<void, TrySendError> try_submit(FetchRequest request) {
        return m_requests.try_send(std::move(request));
    }
    // Never waits; Empty when nothing is queued, Closed once the worker ended.
    std::expected<FetchResult, TryRecvError> try_take() { return m_results.try_recv(); }

    FetchRequestSender& requests() { return m_requests; }
    FetchResultReceiver& results() { return m_results; }

private:
    FetchRequestSender m_requests;
    FetchResultReceiver m_results;
};

// Makes both queues and starts the thread "sarn-fetch" running
// fetch_worker_main. When the thread cannot be started the failure is
// logged (target "sarn::api") and answered with the text
// "failed to spawn the sarn-fetch worker thread: {}".
std::expected<FetchWorkerHandle, std::string> spawn_fetch_worker(FetchWorkerConfig config = {});

// The worker thread's body; returns when the request queue is closed and
// empty.
void fetch_worker_main(FetchRequestReceiver requests, FetchResultSender results, FetchWorkerConfig config = {});

// The interface side of a worker started on the first request. A worker
// that failed to start is tried again on the next request.
class FetchWorker {
public:
    enum class SubmitError { Full, Closed, NotStarted };

    explicit FetchWorker(FetchWorkerConfig config = {}) : m_config(std::move(config)) {}

    std::expected<void, SubmitError> submit(FetchRequest request);
    // Up to `max` results, oldest first, without waiting.
    std::vector<FetchResult> take_results(std::size_t max);

    bool started() const { return m_handle.has_value(); }
    // The text of the last failed start, if the last start failed.
    const std::optional<std::string>& start_error() const { return m_start_error; }

private:
    FetchWorkerConfig m_config;
    std::optional<FetchWorkerHandle> m_handle;
    std::optional<std::string> m_start_error;
};

// Helpers of the worker, open for tests.
// Answers the page, or sends Note "live {query}: {error}" (then, when the
// network could not be reached, the offline status) and answers none.
std::optional<CatalogPage> run_catalog_query(CatalogBackend* backend, const CatalogQuery& query,
                                             FetchResultSender& results);
void post_backend_status(FetchResultSender& results, bool live);
// "cdn.example" of "https://cdn.example/v?x=1"; "stream" without "://".
std::string stream_host_label(std::string_view url);

}  // namespace sarn
