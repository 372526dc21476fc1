#pragma once
// SarnApp: the root widget the runtime drives and, at the same time, the
// whole state of the interactive application: the Library, navigation, the
// owner-local history store, device sync, the fetch worker, the image store,
// the shared video player, the control-intent queue shared with every page
// control, the two text cells of the search and palette inputs, and the page
// tree built for the current route.
//
// Where each concern lives:
//   sarn_app.cpp      construction, start states, responsive rules, fetch requests
//   navigate.cpp      navigation with the Library following
//   frame_hooks.cpp   sync and the between-frame answers, device-sync import,
//                     history projection and migration, playback follow-up
//   projection_memo.cpp the projections skipped while nothing they use moved
//   fetch_results.cpp results of the fetch worker
//   input.cpp         input events and control intents
//   operations.cpp    runtime operations, control bindings, device operations
//   player.cpp        the shared player and its demonstration states
//   page_tree.cpp     the page tree: build, place, draw, accessibility
//   kept_records.cpp  the kept records of the live app and the requests for
//                     the missing ones
//   shared_library.cpp the document's file state, the lists a new library
//                     map starts from, convergence of concurrent maps
//
// Everything here runs on the interface thread. Only the two text cells are
// shared with other threads (they carry their own lock). Builders take the
// record by value and return it so that calls chain.

#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "sarn/actions/history_store.h"
#include "sarn/actions/kept_records.h"
#include "sarn/actions/owner_identity.h"
#include "sarn/app/action_emitter.h"
#include "sarn/app/control_intent.h"
#include "sarn/app/navigation.h"
#include "sarn/app/record_requests.h"
#include "sarn/app/projection_memo.h"
#include "sarn/backend/fetch_worker.h"
#include "sarn/model/library.h"
#include "sarn/model/action.h"
#include "sarn/model/operation.h"
#include "sarn/sync/handle.h"
#include "vorn_ui/bound_dispatch.h"
#include "vorn_ui/image_store.h"
#include "vorn_ui/local_state.h"
#include "vorn_ui/widget.h"
#include "vorn_ui/widget/scrollable.h"
#include "vorn_ui/widget/video_player.h"

namespace sarn {

using SharedPlayer = std::shared_ptr<vorn_ui::widget::video_player::VideoPlayer>;
using TextCell = vorn_ui::local_state::TextState;

// Responsive rules.
inline constexpr float kLargeScaleThreshold = 1.5f;
inline constexpr double kCompactWidth = 760.0;
inline constexpr double kCompactWidthLargeScale = 1760.0;
inline constexpr double kSidebarRailWidth = 86.0;
inline constexpr double kSidebarWideWidth = 264.0;
inline constexpr double kSidebarFullWidthUpTo = 480.0;

// Frame-hook limits.
inline constexpr std::size_t kPulledSubscriptionsPerMessage = 100;
inline constexpr std::size_t kPulledHistoryPerMessage = 100;
inline constexpr std::size_t kLongestPulledSubscription = 256;
inline constexpr std::size_t kLongestPulledHistoryId = 256;
inline constexpr std::size_t kFetchResultsPerPass = 32;
inline constexpr std::size_t kChannelDetailsPerSearch = 6;
inline constexpr double kEndOfVideoMargin = 0.001;
inline constexpr std::uint64_t kNearEndWindowMs = 250;

inline constexpr std::string_view kLocalDeviceName = "Vorn Sarn";
inline constexpr std::string_view kMprisBusName = "vorn-sarn";
inline constexpr std::string_view kMprisDisplayName = "Vorn Sarn";
inline constexpr std::string_view kShareLinkOrigin = "https://youtu.be/";
inline constexpr std::string_view kDemoClipAddress = "https://demo.vorn.invalid/clip.webm";
inline constexpr std::string_view kDemoVideoId = "vid_donut";

// User-visible texts of the root.
inline constexpr std::string_view kTooManyRequestsText = "Too many requests are pending. Please try again.";
inline constexpr std::string_view kHistoryOpenFailedText =
    "Watch history couldn't be opened. The existing local file was preserved; new history will not save. Restore or "
    "replace it in Sarn's local data folder, then restart.";
inline constexpr std::string_view kHistorySaveFailedText =
    "Watch history could not be saved locally. Your shared library was not changed; retry after checking local "
    "storage.";
inline constexpr std::string_view kOfflinePlayerText = "Offline: videos play once the app is connected.";
inline constexpr std::string_view kOperationContractMismatch = "Sarn operation kind does not match its declared contract";
inline constexpr std::string_view kLibraryOpenFailedText =
    "Your library couldn't be opened. The existing library file was preserved; changes to likes, the queue, "
    "subscriptions and settings are not being saved. Restore or replace it in Sarn's local data folder, then restart.";
inline constexpr std::string_view kKeptRecordsUnreadableText =
    "The saved details of your videos and channels couldn't be read. The file was left as it is; the details are "
    "fetched again as your lists need them.";

// Milliseconds since the Unix epoch; 0 before it.
std::uint64_t unix_now_ms();

// The payload of SyncCommand::SyncNow: the subscriptions, the watch history
// and the playback settings.
sync_command::SyncNow device_sync_snapshot(const Library& library);

// The search page's type filter: from "all", only the given type; otherwise
// the type flips, and no type left selects all four again.
void toggle_result_type(SearchTypeFilter& filter, intent::ResultType type);

// What SarnApp::create builds on. The defaults are the user's own identity,
// history folder and the real services; tests hand temporary ones.
struct SarnAppOptions {
    // Owner identity sources; unset: the process's.
    std::optional<OwnerIdentitySources> identity;
    // Local data directory of the owner-local history; unset: the platform's.
    // A present but empty optional inside means memory only.
    std::optional<std::optional<std::filesystem::path>> history_data_dir;
    // Local data directory of the kept records of the live app; unset: the
    // history's (history_data_dir, else the platform's). A present but empty
    // optional inside means memory only.
    std::optional<std::optional<std::filesystem::path>> records_data_dir;
    // Builds the fetch worker's configuration on the first request; unset:
    // the live configuration of the program.
    std::function<FetchWorkerConfig()> fetch_config;
    // Starts device sync for start_live; unset: the real worker.
    std::function<DeviceSyncHandle(std::string_view device_name)> start_device_sync;
    // Creates the image store for start_live; unset: new_image_store.
    std::function<vorn_ui::image_store::ImageStore()> image_store;
};

// The scroll position of one page, kept across rebuilds.
using SharedScrollOffset = vorn_ui::widget::scrollable::SharedScrollOffset;

// The skip-segment state of the playing video.
struct ActiveSegment {
    bool inside = false;
    double end = 0.0;  // seconds; meaningful while inside
    friend bool operator==(const ActiveSegment&, const ActiveSegment&) = default;
};

// The edge-swipe-back gesture.
struct EdgeSwipe {
    static constexpr double kEdgeWidth = 24.0;
    static constexpr double kTriggerDistance = 80.0;
    bool tracking = false;
    double start_x = 0.0;
    double start_y = 0.0;
    bool fired = false;
};

class SarnApp final : public vorn_ui::widget::Widget, public vorn_ui::widget::PlayerHostAccess {
public:
    // The record with the sample catalogue, the owner's history store and an
    // unavailable device sync (SarnApp::new).
    static SarnApp create(SarnAppOptions options = {});
    SarnApp(SarnApp&&) noexcept;
    SarnApp& operator=(SarnApp&&) noexcept;
    ~SarnApp() override;

    // The live start: device sync, an empty Library whose home feed is
    // loading with the kept records read back, the image store.
    SarnApp start_live() &&;

    // Start states.
    SarnApp with_viewport_size(double width, double height) &&;
    SarnApp with_route(Route route) &&;
    SarnApp with_image_store(vorn_ui::image_store::ImageStore store) &&;
    SarnApp with_library(Library library) &&;
    SarnApp with_offline_empty_state() &&;
    SarnApp with_loading_state() &&;
    SarnApp with_device_sync_demo() &&;
    SarnApp with_palette(std::string query) &&;
    SarnApp with_demo_player(std::string video_id) &&;
    SarnApp with_play_demo() &&;
    SarnApp open_and_play(std::string video_id, std::string stream_address) &&;
    SarnApp with_narrow(bool narrow) &&;
    // Tests: a device-sync handle of their own.
    SarnApp with_device_sync(DeviceSyncHandle handle) &&;

    // Responsive rules, evaluated from the bounds and the scale each time.
    bool is_compact() const;
    double sidebar_width() const;
    bool sidebar_visible() const;
    // The content width beside the sidebar.
    double layout_metrics() const;
    void reset_sidebar_override();
    bool images_pending() const;
    std::optional<double> current_video_duration() const;

    // Fetch requests.
    void submit_request(FetchRequest request);
    void request_when_live(FetchRequest request);

    // Navigation and the effects that pages and operations share.
    void navigate(const Route& route);
    void open_video(const std::string& video_id);
    void ensure_channel_details(const std::string& channel_id);
    bool dispatch_history_action(const OwnerHistoryAction& action);
    bool dispatch_device_operation(std::string_view name, const std::optional<std::string>& peer_id);
    void current_video_resource();
    // Asks the fetch worker (live only) for the records the Library lacks of
    // these video ids and subscription entries, a few at a time: the kept
    // lists' pages and device sync's pulled ids both go through here.
    void request_missing_records(std::span<const std::string> video_ids, std::span<const std::string> channel_entries);

    // Frame hooks (also called by the developer modes).
    bool load_shared_state(const automerge::Document& document);
    // The projections as sync runs them: skipped when nothing they read or
    // wrote changed since the last one (projection_memo.h).
    bool project_shared_state(automerge::Document& document);
    bool project_history_state();
    // The next sync projects both documents whatever they hold.
    void forget_projections();
    bool apply_fetch_results();
    // Applies one result; the pass above collects the channels whose details
    // it asks for afterwards.
    bool apply_fetch_result(FetchResult result, std::vector<std::string>& pending_channels);
    void sync_stream_target();
    // What the player shows on a watch page whose stream it has not opened:
    // the video's picture or a dark stage, with the loading mark while the
    // stream is on its way, or the line saying why none came.
    void sync_player_standby();
    bool auto_skip();
    bool autoplay_next();

    // Read access for pages, developer modes and tests.
    const Library& library() const { return m_library; }
    Library& library_mut() { return m_library; }
    const Navigation& navigation() const { return m_navigation; }
    const IntentQueue& intents() const { return m_intents; }
    const SharedPlayer& player() const { return m_player; }
    const DeviceSyncHandle& device_sync() const { return *m_device_sync; }
    const OwnerHistoryStore& history_store() const { return m_history_store; }
    // The kept records' store; none before start_live.
    const KeptRecordsStore* kept_records() const { return m_kept_records.get(); }
    // Waits for the pending writes of the kept records (tests, benchmarks).
    void finish_record_writes();
    const RecordRequests& record_requests() const { return m_record_requests; }
    const std::optional<vorn_ui::image_store::ImageStore>& image_store() const { return m_image_store; }
    const TextCell& search_text() const { return m_search_text; }
    const TextCell& palette_text() const { return m_palette_text; }
    const std::optional<std::string>& loaded_video() const { return m_loaded_video; }
    const std::optional<std::string>& stream_target() const { return m_stream_target; }
    // The watch page whose stream request ended without a stream, and why.
    const std::optional<std::pair<std::string, std::string>>& stream_failure() const { return m_stream_failure; }
    const ActiveSegment& active_segment() const { return m_active_segment; }
    std::uint8_t sidebar_override() const { return m_sidebar_override; }
    // The palette row the arrow keys picked for the current query.
    std::optional<std::size_t> palette_selected_row() const;
    bool live() const { return m_live; }
    bool narrow() const { return m_narrow; }
    bool fetch_worker_exists() const { return m_fetch_worker.has_value(); }
    const std::map<std::string, SharedScrollOffset, std::less<>>& scroll_offsets() const { return m_scroll_offsets; }
    Widget* page_tree() { return m_child.get(); }
    const Widget* page_tree() const { return m_child.get(); }
    const vorn_ui::widget::scrollable::Scrollable* page_scroller() const;

    // Widget
    const vorn_ui::widget::PlayerHostAccess* as_player_host() const override { return this; }
    vorn_ui::widget::PlayerHostAccess* as_player_host_mut() override { return this; }
    void sync(vorn_ui::widget::RuntimeState& state) override;
    vorn_ui::widget::NodeId build_layout(vorn_ui::widget::LayoutContext& cx) override;
    void apply_layout(const vorn_ui::layout::LayoutTree& tree, vorn_ui::widget::NodeId node,
                      vorn_ui::Point origin) override;
    void draw(vorn_ui::Scene& scene, const vorn_ui::Affine& transform, vorn_ui::widget::DrawContext& cx) override;
    void handle_event(const vorn_ui::Event& event, vorn_ui::widget::EventContext& cx,
                      vorn_ui::widget::NodeId node) override;
    std::span<const std::unique_ptr<Widget>> children() const override;
    std::span<std::unique_ptr<Widget>> children_mut() override;
    std::vector<std::string> operation_kinds() const override;
    std::string_view type_name() const override { return "SarnApp"; }
    vorn_ui::Rect bounds() const override { return m_bounds; }
    std::optional<vorn_ui::AccessNode> accessibility() const override;
    std::optional<vorn_ui::ControlInvocation> take_control_invocation() override;
    std::vector<vorn_ui::ControlBindingMetadata> control_action_bindings() const override;
    void refresh_control_action_availability(const vorn_ui::AvailableActions& available) override;
    bool needs_idle_sync() const override;
    vorn_ui::widget::ActionResources action_resources() const override;
    vorn_ui::widget::SearchProviders search_providers() const override;
    std::optional<vorn_ui::widget::DispatchState> take_dispatch_state() override;
    vorn_ui::OperationResult perform_operation(const vorn_ui::OperationRequest& request) override;
    bool needs_animation_frame() const override;
    bool take_structure_dirty() override;
    bool needs_redraw() const override;
    void mark_drawn() override;
    bool is_layout_dirty() const override;
    void draw_with_presence(vorn_ui::Scene& scene, const vorn_ui::Affine& transform, vorn_ui::widget::DrawContext& cx,
                            const vorn_ui::widget::PresenceContext& presence) override;

    // PlayerHostAccess: the shared player's.
    std::optional<bool> state() const override;
    std::pair<std::int64_t, bool> value() const override;
    void set_state(bool on) override;

private:
    explicit SarnApp(SarnAppOptions options);

    // page_tree.cpp
    void prepare_page_fonts(vorn_ui::TextRenderer& text);

    // frame_hooks.cpp
    bool project_likes();
    void import_pulled(automerge::Document& document, const PullResult& pulled, bool& changed);
    // pulled_records.cpp: what a peer said of its channels and videos, kept
    // as the Library's records.
    static const PulledChannel* pulled_channel(const PullResult& pulled, std::string_view url);
    static const PulledHistoryEntry* pulled_history_entry(const PullResult& pulled, std::string_view url);
    // The id of the channel record behind a pulled subscription address.
    std::string remember_pulled_channel(const std::string& address, const PulledChannel& described, bool& changed);
    void remember_pulled_video(const std::string& video_id, bool id_from_address, const PulledHistoryEntry& described,
                               bool& changed);
    void migrate_legacy_history(const automerge::Document& document);
    bool project_owner_history();
    void follow_playback();
    // Back on an empty Home that is not loading, the feed is asked for again.
    void refresh_home_on_return();
    // kept_records.cpp
    // The records of what the lists hold join the kept records, and those of
    // what no list holds any more leave them; a change is saved.
    void keep_records();
    // The records the current page's list lacks are asked for, when the
    // lists or the page changed or requests are out.
    void request_page_records(bool changed);
    // shared_library.cpp
    // The document's state as the runtime reports it: a file that did not
    // load is said at the top of every page.
    void follow_document_state(const vorn_ui::widget::RuntimeState& state);
    // A list map the document gains starts from the list the user saw.
    void seed_new_library_maps(automerge::Document& document);
    // Before a write of the root's own: every list map the document lacks
    // is written with the Library's list.
    void seed_absent_lists(automerge::Document& document);
    // The Library's entries of one list that the document's map lacks.
    void seed_list(automerge::Document& document, std::string_view name);
    // Entries that only a losing copy of a library map holds are copied into
    // the winning one.
    void converge_library_maps(automerge::Document& document);
    // input.cpp
    void run_intent(const ControlIntent& intent, automerge::Document* document);
    void handle_palette_key(const vorn_ui::KeyEvent& key, vorn_ui::widget::EventContext& cx);
    // A library change of the root's: the lists the document lacks first.
    void dispatch_shared(automerge::Document* document, const SarnAction& action);
    // One action on the shared document through the runtime's typed dispatch.
    void dispatch_action(automerge::Document& document, const SarnAction& action);
    // frame_hooks.cpp: the keys a projection saw the channel removed under.
    void unfollow_other_keys(automerge::Document& document);
    // player.cpp
    void seek_player_seconds(double seconds);
    static SharedPlayer make_player(bool synthesized);

    std::string owner() const { return m_library.profile; }

    SarnAppOptions m_options;
    // The liked video ids as the shared document holds them, known or not;
    // none before the document has a likes map.
    std::optional<std::unordered_set<std::string>> m_liked_ids;
    LikesProjectionMemo m_likes_memo;
    // Subscription keys the last projection found no longer followed.
    std::vector<std::string> m_unfollowed_keys;
    bool m_subscriptions_projected = false;
    // The kept records (live only) and the requests for missing ones.
    std::unique_ptr<KeptRecordsStore> m_kept_records;
    RecordRequests m_record_requests;
    bool m_records_due = true;
    std::optional<Route> m_records_route;
    RecordRequests::Clock::time_point m_records_checked{};
    // Why the shared document's file did not load, as the runtime said.
    std::optional<std::string> m_document_error;
    // The library list maps the document did not hold at the last frame.
    std::set<std::string, std::less<>> m_absent_library_maps;
    bool m_library_maps_seen = false;
    std::vector<automerge::ChangeHash> m_converged_heads;

    // Application model and stores.
    Library m_library;
    Navigation m_navigation;
    OwnerHistoryStore m_history_store;
    std::unique_ptr<DeviceSyncHandle> m_device_sync;
    std::optional<FetchWorker> m_fetch_worker;
    std::optional<vorn_ui::image_store::ImageStore> m_image_store;
    IntentQueue m_intents;
    SharedPlayer m_player;
    std::optional<std::string> m_loaded_video;
    std::optional<std::string> m_stream_target;
    TextCell m_search_text;
    TextCell m_palette_text;
    std::map<std::string, SharedScrollOffset, std::less<>> m_scroll_offsets;
    std::set<std::string, std::less<>> m_requested_channels;
    ActiveSegment m_active_segment;
    SharedProjectionMemo m_shared_memo;
    HistoryProjectionMemo m_history_memo;
    // The ids of the Stream requests the worker has not answered yet, oldest
    // first: it answers in order, each with StreamReady or kNoStreamNote.
    std::deque<std::string> m_stream_requests;
    std::optional<std::pair<std::string, std::string>> m_stream_failure;
    // The picture of the video the standby shows, once the store has it.
    std::string m_standby_poster_address;
    vorn_ui::ImageRef m_standby_poster;

    // Action plumbing.
    std::deque<vorn_ui::ControlInvocation> m_invocations;
    std::optional<ActionEmitter> m_play_pause_emitter;
    std::optional<ActionEmitter> m_share_emitter;
    std::optional<std::string> m_bound_video;
    vorn_ui::bound_dispatch::DispatchState m_shared_dispatch;
    vorn_ui::bound_dispatch::DispatchState m_history_dispatch;

    // Layout and input.
    std::unique_ptr<Widget> m_child;
    vorn_ui::widget::scrollable::Scrollable* m_scroller = nullptr;  // inside m_child
    vorn_ui::Rect m_bounds{};
    float m_scale = 1.0f;
    vorn_ui::Point m_pointer{};
    EdgeSwipe m_edge_swipe;
    std::optional<bool> m_compact;
    std::optional<bool> m_last_layout_mode;
    std::uint8_t m_sidebar_override = 2;
    // The palette row picked with the arrow keys, for the query it was picked in.
    struct PaletteSelection {
        std::string query;
        std::size_t row = 0;
    };
    std::optional<PaletteSelection> m_palette_selection;
    // The id of a widget to take the keyboard focus, handed to the runtime at
    // the end of the event.
    std::optional<std::string> m_focus_request;
    bool m_narrow = false;

    // Flags.
    bool m_first_sync_done = false;
    bool m_page_fonts_requested = false;
    bool m_structure_dirty = false;
    bool m_live = false;
    bool m_home_requested = false;
    bool m_mpris_enabled = false;
};

}  // namespace sarn
