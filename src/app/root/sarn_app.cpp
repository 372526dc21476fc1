// Construction, the start states, the responsive rules and the hand-over of
// fetch requests to the worker.
#include "sarn/app/sarn_app.h"

#include <algorithm>
#include <chrono>

#include "platform_dirs/dirs.h"
#include "sarn/app/image_fetch.h"
#include "sarn/model/platform_url.h"
#include "sarn/innertube/fetch_wiring.h"
#include "sarn/sync/worker.h"

namespace sarn {

std::uint64_t unix_now_ms() {
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now).count();
    return ms > 0 ? static_cast<std::uint64_t>(ms) : 0;
}

namespace {

// The addresses other than its channel address that a phone may hold an
// entry's channel under: the entry's own and its record's, under "www.".
std::vector<std::string> peer_spellings(const Library& library, std::string_view entry) {
    std::vector<std::string> out;
    for (auto address : {normalize_watch_url(entry), library.subscription_url(entry)}) {
        if (!address) continue;
        std::string spelled = www_spelling(*address);
        if (std::find(out.begin(), out.end(), spelled) == out.end()) out.push_back(std::move(spelled));
    }
    return out;
}

}  // namespace

sync_command::SyncNow device_sync_snapshot(const Library& library) {
    sync_command::SyncNow snapshot{library.subscriptions, library.history, library.settings, {}, {}};
    // Each subscription as an address a phone can open and match: its own
    // spelling of the channel first, the other spellings we hold beside it.
    for (const std::string& entry : library.subscriptions) {
        auto url = library.peer_subscription_url(entry);
        if (!url) continue;  // never sent bare
        auto same = std::find_if(snapshot.channels.begin(), snapshot.channels.end(),
                                 [&](const PeerChannel& c) { return c.url == *url; });
        if (same == snapshot.channels.end()) {
            const Channel* channel = library.subscription_channel(entry);
            PeerChannel pushed;
            pushed.url = *url;
            pushed.id = library.channel_id_of(entry).value_or(*url);
            pushed.name = channel != nullptr && !channel->name.empty() ? channel->name : *url;
            snapshot.channels.push_back(std::move(pushed));
            same = snapshot.channels.end() - 1;
        }
        for (std::string& alternative : peer_spellings(library, entry)) {
            if (alternative != same->url && std::find(same->alternatives.begin(), same->alternatives.end(),
                                                      alternative) == same->alternatives.end()) {
                same->alternatives.push_back(std::move(alternative));
            }
        }
    }
    // Each removal under every spelling a phone may hold the channel by, unless
    // the channel is followed again under another key. The shared document
    // keeps no time of a removal: it is sent as of this pass, so that the
    // phone follows what this device holds.
    const auto removed_at = static_cast<std::int64_t>(unix_now_ms());
    auto add_removal = [&](std::string url) {
        const bool followed = std::any_of(snapshot.channels.begin(), snapshot.channels.end(), [&](const PeerChannel& c) {
            return c.url == url || std::find(c.alternatives.begin(), c.alternatives.end(), url) != c.alternatives.end();
        });
        const bool listed = std::any_of(snapshot.removals.begin(), snapshot.removals.end(),
                                        [&](const PeerRemoval& r) { return r.url == url; });
        if (!followed && !listed) snapshot.removals.push_back(PeerRemoval{std::move(url), removed_at});
    };
    for (const std::string& entry : library.subscription_removals) {
        auto url = library.peer_subscription_url(entry);
        if (!url) continue;
        if (std::any_of(snapshot.channels.begin(), snapshot.channels.end(),
                        [&](const PeerChannel& c) { return c.url == *url; })) {
            continue;
        }
        add_removal(*url);
        for (std::string& spelling : peer_spellings(library, entry)) add_removal(std::move(spelling));
    }
    return snapshot;
}

namespace {

OwnerHistoryStore open_history(const SarnAppOptions& options, std::string_view owner) {
    if (options.history_data_dir) return OwnerHistoryStore::open_in(*options.history_data_dir, owner);
    return OwnerHistoryStore::open(owner);
}

KeptRecordsStore open_kept_records(const SarnAppOptions& options) {
    if (options.records_data_dir) return KeptRecordsStore::open_in(*options.records_data_dir);
    if (options.history_data_dir) return KeptRecordsStore::open_in(*options.history_data_dir);
    return KeptRecordsStore::open_in(platform_dirs::local_data_dir());
}

}  // namespace

SarnApp::SarnApp(SarnAppOptions options)
    : m_options(std::move(options)),
      m_history_store(OwnerHistoryStore::in_memory()),
      m_device_sync(std::make_unique<DeviceSyncHandle>(DeviceSyncHandle::unavailable())) {
    // The owner identity comes before the store it names; the store's open
    // result decides the history status text before the Library moves in.
    Library library = Library::sample();
    const std::string owner =
        m_options.identity ? history_owner_id_from(*m_options.identity) : history_owner_id();
    library.profile = owner;
    m_history_store = open_history(m_options, owner);
    if (m_history_store.recovery_required()) library.history_notice = std::string(kHistoryOpenFailedText);
    // The interface never waits for the disk's flush; sync shows a failure.
    if (m_history_store.path()) m_history_store.use_writer_thread();
    m_library = std::move(library);
    m_player = make_player(false);
}

SarnApp SarnApp::create(SarnAppOptions options) { return SarnApp(std::move(options)); }

SarnApp::SarnApp(SarnApp&&) noexcept = default;
SarnApp& SarnApp::operator=(SarnApp&&) noexcept = default;

SarnApp::~SarnApp() = default;

SarnApp SarnApp::start_live() && {
    m_live = true;
    if (m_options.start_device_sync) {
        m_device_sync = std::make_unique<DeviceSyncHandle>(m_options.start_device_sync(kLocalDeviceName));
    } else {
        m_device_sync = std::make_unique<DeviceSyncHandle>(start_device_sync_worker(kLocalDeviceName));
    }
    // The new Library keeps the profile and the history's status text: the
    // only sign, when the history file could not be opened, that new history
    // is not saved.
    Library library;
    library.profile = m_library.profile;
    library.history_notice = m_library.history_notice;
    library.home_loading = true;
    // The records of what the lists name, before the first frame shows them.
    m_kept_records = std::make_unique<KeptRecordsStore>(open_kept_records(m_options));
    if (m_kept_records->path()) m_kept_records->use_writer_thread();
    library.kept_videos = m_kept_records->records().videos;
    library.kept_channels = m_kept_records->records().channels;
    if (m_kept_records->read_error()) library.records_notice = std::string(kKeptRecordsUnreadableText);
    m_library = std::move(library);
    m_image_store = m_options.image_store ? m_options.image_store() : new_image_store();
    return std::move(*this);
}

SarnApp SarnApp::with_viewport_size(double width, double height) && {
    m_bounds = vorn_ui::Rect{0, 0, std::max(width, 0.0), std::max(height, 0.0)};
    m_compact = is_compact();
    return std::move(*this);
}

SarnApp SarnApp::with_route(Route route) && {
    if (route.kind == Route::Kind::Search) {
        m_library.search_query = route.text;
        m_search_text.publish(route.text);
    }
    m_navigation.current = route;
    m_navigation.back.clear();
    m_library.route = std::move(route);
    return std::move(*this);
}

SarnApp SarnApp::with_image_store(vorn_ui::image_store::ImageStore store) && {
    m_image_store = std::move(store);
    return std::move(*this);
}

SarnApp SarnApp::with_library(Library library) && {
    m_search_text.publish(library.search_query);
    m_palette_text.publish(library.palette_query);
    m_library = std::move(library);
    m_history_store = OwnerHistoryStore::in_memory();
    return std::move(*this);
}

SarnApp SarnApp::with_offline_empty_state() && {
    const std::string owner = m_library.profile;
    m_library = Library{};
    m_library.profile = owner;
    m_library.status.text = "offline — network unavailable";
    m_library.route = Route::home();
    m_navigation = Navigation{};
    return std::move(*this);
}

SarnApp SarnApp::with_loading_state() && {
    const std::string owner = m_library.profile;
    m_library = Library{};
    m_library.profile = owner;
    m_library.home_loading = true;
    m_library.route = Route::home();
    m_navigation = Navigation{};
    return std::move(*this);
}

SarnApp SarnApp::with_device_sync_demo() && {
    m_library.route = Route::settings();
    m_navigation = Navigation{Route::settings(), {}};
    m_device_sync = std::make_unique<DeviceSyncHandle>(demo_device_sync_handle());
    const double width = m_bounds.x1 - m_bounds.x0;
    m_scroll_offsets["settings"] = std::make_shared<vorn_ui::widget::scrollable::ScrollOffset>(
        vorn_ui::widget::scrollable::ScrollOffset{0.0f, width < kCompactWidth ? 1330.0f : 930.0f});
    return std::move(*this);
}

SarnApp SarnApp::with_palette(std::string query) && {
    m_library.palette_open = true;
    m_library.palette_query = query;
    m_palette_text.publish(std::move(query));
    return std::move(*this);
}

SarnApp SarnApp::with_narrow(bool narrow) && {
    m_narrow = narrow;
    // The sidebar starts shown; from then on the window is a compact one like
    // any other: the menu button and Escape hide and show it.
    if (narrow) m_sidebar_override = 1;
    return std::move(*this);
}

SarnApp SarnApp::with_device_sync(DeviceSyncHandle handle) && {
    m_device_sync = std::make_unique<DeviceSyncHandle>(std::move(handle));
    return std::move(*this);
}

// ---- responsive rules ----

bool SarnApp::is_compact() const {
    const double width = m_bounds.x1 - m_bounds.x0;
    if (width <= 0.0) return true;
    return m_scale >= kLargeScaleThreshold ? width < kCompactWidthLargeScale : width < kCompactWidth;
}

double SarnApp::sidebar_width() const {
    if (m_scale < kLargeScaleThreshold) return kSidebarRailWidth;
    const double width = m_bounds.x1 - m_bounds.x0;
    return width <= kSidebarFullWidthUpTo ? width : kSidebarWideWidth;
}

bool SarnApp::sidebar_visible() const {
    if (m_sidebar_override == 2) return !is_compact();
    return (m_sidebar_override & 1u) != 0;
}

double SarnApp::layout_metrics() const {
    const double width = m_bounds.x1 - m_bounds.x0;
    if (is_compact() || !sidebar_visible()) return width;
    return std::max(width - sidebar_width(), 0.0);
}

void SarnApp::reset_sidebar_override() {
    if (is_compact()) m_sidebar_override = 0;
}

bool SarnApp::images_pending() const { return m_image_store && m_image_store->pending() != 0; }

std::optional<double> SarnApp::current_video_duration() const {
    if (m_library.route.kind != Route::Kind::Watch) return std::nullopt;
    const Video* video = m_library.find_video(m_library.route.text);
    if (video == nullptr) return std::nullopt;
    return static_cast<double>(video->duration);
}

// ---- fetch requests ----

void SarnApp::request_when_live(FetchRequest request) {
    if (m_live) submit_request(std::move(request));
}

void SarnApp::submit_request(FetchRequest request) {
    if (!m_fetch_worker) {
        m_fetch_worker.emplace(m_options.fetch_config ? m_options.fetch_config() : live_fetch_worker_config());
    }
    const FetchRequestKind kind = request.kind;
    const std::string text = request.text;
    auto sent = m_fetch_worker->submit(std::move(request));
    if (sent) {
        if (kind == FetchRequestKind::Stream) m_stream_requests.push_back(text);
        return;
    }

    // A worker that could not start says so; it is tried again on the next
    // request. A full or closed queue asks the user to try again.
    std::string why = std::string(kTooManyRequestsText);
    if (sent.error() == FetchWorker::SubmitError::NotStarted) {
        why = m_fetch_worker->start_error().value_or("the fetch worker could not start");
        m_fetch_worker.reset();
    }
    if (kind == FetchRequestKind::Search) {
        if (text == m_library.search_query) {
            m_library.search_loading = false;
            m_library.search_error = why;
        }
    } else if (kind == FetchRequestKind::HomeFeed) {
        m_library.home_loading = false;
        m_library.home_error = why;
    } else {
        m_library.push_recent_entry(why);
    }
    // The player of the page says it too: no stream is on its way.
    if (kind == FetchRequestKind::Stream) m_stream_failure.emplace(text, why);
    m_structure_dirty = true;
}

}  // namespace sarn
