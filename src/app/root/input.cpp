// Input: keyboard shortcuts, the edge-swipe-back gesture, the page tree's
// controls and the control intents they queue.
//
// Key rules, on presses only (a release never acts):
//   Ctrl+K                    opens the action search (its field takes the
//                             keyboard), or closes it when open
//   Enter in the search input starts the search typed there
//   Browser Back, Alt+Left,   go back (palette closed, back stack not empty)
//   the mouse's back button
//   Up, Down (palette open)   move the selection over the palette's rows
//   Enter (palette open)      opens the selected row, else the first
//   Escape                    closes the palette; else, unless a field took it
//                             (it leaves the field), hides a shown sidebar in
//                             a compact window; else goes back
// The palette's keys act only when nothing in the tree took them (a focused
// row opens itself).
#include <algorithm>
#include <cmath>
#include <limits>

#include <fmt/format.h>

#include "sarn/actions/shared_reducer.h"
#include "sarn/app/format.h"
#include "sarn/app/sarn_app.h"
#include "sarn/app/screens/shell.h"
#include "sarn/actions/application.h"
#include "vorn_ui/action_host.h"

namespace sarn {

namespace {

using vorn_ui::NamedKey;

constexpr std::string_view kSearchInputId = "search_input";
constexpr std::string_view kPaletteInputId = "palette_input";

bool is_press(const vorn_ui::KeyEvent& key) { return !key.released; }

bool is_back_button_press(const vorn_ui::Event& event) {
    const auto* button = std::get_if<vorn_ui::PointerButtonEvent>(&event);
    return button != nullptr && button->pressed && button->button == vorn_ui::PointerButton::Back;
}

// The widget that holds the keyboard focus, depth first.
const vorn_ui::widget::Widget* focused_widget(const vorn_ui::widget::Widget& widget) {
    if (widget.has_focus()) return &widget;
    for (const auto& child : widget.children()) {
        if (!child) continue;
        if (const auto* found = focused_widget(*child)) return found;
    }
    return nullptr;
}

SponsorMode next_mode(SponsorMode mode) {
    switch (mode) {
        case SponsorMode::Skip: return SponsorMode::Show;
        case SponsorMode::Show: return SponsorMode::Disabled;
        case SponsorMode::Disabled: return SponsorMode::Skip;
    }
    return SponsorMode::Skip;
}

SponsorMode stored_mode(const PlaybackSettings& settings, SponsorCategory category) {
    const auto found = settings.sponsor_categories.find(category_key(category));
    return found == settings.sponsor_categories.end() ? SponsorMode::Skip : found->second;
}

}  // namespace

void SarnApp::dispatch_shared(automerge::Document* document, const SarnAction& action) {
    if (document == nullptr) return;
    seed_absent_lists(*document);
    dispatch_action(*document, action);
}

void SarnApp::dispatch_action(automerge::Document& document, const SarnAction& action) {
    vorn_actions::ActionContext context;
    context.label = "Sarn";
    context.origin = vorn_actions::ActionOrigin{std::string(kApplicationId), "Sarn"};
    vorn_ui::action_host::ActionHost::dispatch_with_context(m_shared_dispatch, document, kSharedActionKind,
                                                            TypedSarnAction(action), &context);
}

void SarnApp::handle_event(const vorn_ui::Event& event, vorn_ui::widget::EventContext& cx,
                           vorn_ui::widget::NodeId node) {
    const auto* key = std::get_if<vorn_ui::KeyEvent>(&event);

    // 1. The action-search shortcut.
    if (key != nullptr && is_press(*key) && key->kind == vorn_ui::KeyEvent::Kind::Character &&
        (key->text == "k" || key->text == "K") && key->modifiers.control()) {
        m_intents.push(m_library.palette_open ? ControlIntent(intent::CloseActionSearch{})
                                              : ControlIntent(intent::OpenActionSearch{}));
        cx.handled = true;
    }

    // 2. Enter starts a search only from the top bar's search input: Enter on
    // a focused control or in another field belongs to that widget.
    if (key != nullptr && is_press(*key) && key->is_named(NamedKey::Enter) && m_child) {
        const auto* focused = focused_widget(*m_child);
        if (focused != nullptr && focused->widget_id() == kSearchInputId) m_intents.push(intent::Search{});
    }

    // 3. Back keys, and the mouse's back button.
    const bool back_key = key != nullptr && is_press(*key) &&
                          (key->is_named(NamedKey::BrowserBack) ||
                           (key->is_named(NamedKey::ArrowLeft) && key->modifiers.alt()));
    if ((back_key || is_back_button_press(event)) && !m_library.palette_open && m_navigation.can_go_back()) {
        m_intents.push(intent::GoBack{});
        cx.handled = true;
    }

    // 4. Pointer moves and the edge swipe.
    if (const auto* move = std::get_if<vorn_ui::PointerMoveEvent>(&event)) {
        const double scale = m_scale > 0 ? m_scale : 1.0;
        m_pointer = {move->position.x / scale, move->position.y / scale};
        if (m_edge_swipe.tracking && !m_edge_swipe.fired) {
            const double dx = m_pointer.x - m_edge_swipe.start_x;
            const double dy = std::fabs(m_pointer.y - m_edge_swipe.start_y);
            if (dx >= EdgeSwipe::kTriggerDistance && dx > dy) {
                m_edge_swipe.fired = true;
                if (m_navigation.can_go_back()) m_intents.push(intent::GoBack{});
            }
        }
    }
    // 5. The primary button starts and ends the gesture.
    if (const auto* button = std::get_if<vorn_ui::PointerButtonEvent>(&event);
        button != nullptr && button->button == vorn_ui::PointerButton::Primary) {
        if (button->pressed) {
            if (m_pointer.x <= EdgeSwipe::kEdgeWidth) {
                m_edge_swipe.tracking = true;
                m_edge_swipe.start_x = m_pointer.x;
                m_edge_swipe.start_y = m_pointer.y;
            }
            m_edge_swipe.fired = false;
        } else {
            m_edge_swipe.tracking = false;
            m_edge_swipe.fired = false;
        }
    }

    // 6. The page tree; its controls queue their intents now.
    // The root's node is the page tree's own node.
    if (m_child) m_child->handle_event(event, cx, node);

    // The palette's own keys.
    if (key != nullptr && is_press(*key) && !cx.handled && m_library.palette_open) handle_palette_key(*key, cx);

    // 7. Escape.
    if (key != nullptr && is_press(*key) && key->is_named(NamedKey::Escape)) {
        if (m_library.palette_open) {
            m_intents.push(intent::CloseActionSearch{});
            cx.handled = true;
        } else if (cx.handled) {
            // A field took it: the user left the field, not the page.
        } else if (is_compact() && sidebar_visible()) {
            m_sidebar_override = 0;
            m_structure_dirty = true;
        } else if (m_navigation.can_go_back()) {
            m_intents.push(intent::GoBack{});
            cx.handled = true;
        }
    }

    // 8. The queued intents, in order.
    const auto intents = m_intents.take();
    for (const ControlIntent& intent : intents) run_intent(intent, cx.state.document);

    // A field the intents asked for takes the keyboard (now, or once built).
    if (m_focus_request) {
        cx.focus_id = std::move(*m_focus_request);
        m_focus_request.reset();
    }

    // 9. and 10.
    sync_stream_target();
    const bool results = apply_fetch_results();
    if (!intents.empty() || results) m_structure_dirty = true;
}

std::optional<std::size_t> SarnApp::palette_selected_row() const {
    if (!m_palette_selection || m_palette_selection->query != m_library.palette_query) return std::nullopt;
    return m_palette_selection->row;
}

// Up and Down move the selection over the rows shown (from none, Down picks
// the first and Up the last); Enter opens the selected row, else the first.
// A new query drops the selection (it was made for the old rows).
void SarnApp::handle_palette_key(const vorn_ui::KeyEvent& key, vorn_ui::widget::EventContext& cx) {
    const bool down = key.is_named(NamedKey::ArrowDown), up = key.is_named(NamedKey::ArrowUp);
    if (!down && !up && !key.is_named(NamedKey::Enter)) return;
    // Text typed in the same batch of input as this key is not in the query
    // yet (the frame takes it over): the rows are those of the field's text.
    if (std::string typed = m_palette_text.text(); typed != m_library.palette_query) {
        m_library.palette_query = std::move(typed);
        m_structure_dirty = true;
    }
    const auto rows = screens::palette_rows(m_library);
    const auto selected = palette_selected_row();
    cx.handled = true;
    if (rows.empty()) return;
    if (down || up) {
        std::size_t row = 0;
        if (!selected) {
            row = down ? 0 : rows.size() - 1;
        } else {
            row = down ? std::min(*selected + 1, rows.size() - 1) : (*selected > 0 ? *selected - 1 : 0);
        }
        m_palette_selection = PaletteSelection{m_library.palette_query, row};
        m_structure_dirty = true;
        return;
    }
    m_intents.push(intent::OpenSearchResult{rows[std::min(selected.value_or(0), rows.size() - 1)].link});
}

void SarnApp::run_intent(const ControlIntent& intent, automerge::Document* document) {
    // First the library changes, on the shared document.
    if (const auto* sub = std::get_if<intent::ToggleSubscription>(&intent)) {
        // Unsubscribing removes the channel under every key that names it
        // (its id, its handle, its address as a peer sent it).
        const std::vector<std::string> keys = m_library.subscription_keys(sub->channel_id);
        if (keys.empty()) dispatch_shared(document, action::SetSubscription{sub->channel_id, true});
        for (const std::string& key : keys) dispatch_shared(document, action::SetSubscription{key, false});
    } else if (const auto* cycle = std::get_if<intent::CycleSegmentMode>(&intent)) {
        // From the stored mode, as the local effect steps it: while SponsorBlock
        // is off every category is Disabled in effect, and stepping from that
        // would store Skip over the user's choice.
        dispatch_shared(document, action::SetSponsorCategory{
                                      cycle->category, next_mode(stored_mode(m_library.settings, cycle->category))});
    } else if (const auto* toggle = std::get_if<intent::ToggleSetting>(&intent)) {
        dispatch_shared(document, action::SetSetting{toggle->setting, !m_library.settings.flag(toggle->setting)});
    } else if (const auto* quality = std::get_if<intent::SetQuality>(&intent)) {
        if (is_accepted_quality(quality->quality)) dispatch_shared(document, action::SetPreferredQuality{quality->quality});
    } else if (const auto* like = std::get_if<intent::ToggleLike>(&intent)) {
        dispatch_shared(document, action::SetVideoLiked{like->video_id, !m_library.is_liked(like->video_id)});
    }

    // Then the local effect.
    std::visit(
        [&](const auto& i) {
            using I = std::decay_t<decltype(i)>;
            if constexpr (std::is_same_v<I, intent::Navigate>) {
                if (i.route.kind == Route::Kind::Search) {
                    m_library.search_query = i.route.text;
                    m_search_text.publish(i.route.text);
                }
                navigate(i.route);
                reset_sidebar_override();
            } else if constexpr (std::is_same_v<I, intent::OpenVideo>) {
                open_video(i.video_id);
                reset_sidebar_override();
            } else if constexpr (std::is_same_v<I, intent::ClearHistory>) {
                const std::uint64_t now = unix_now_ms();
                if (dispatch_history_action(
                        OwnerHistoryAction::clear(now, fmt::format("{}:clear:all:{}", owner(), now)))) {
                    m_library.history.clear();
                    m_library.push_recent_entry("Watch history cleared for this profile");
                }
            } else if constexpr (std::is_same_v<I, intent::OpenCreator>) {
                navigate(Route::channel(i.channel_id));
                reset_sidebar_override();
                request_when_live(FetchRequest::channel(i.channel_id));
            } else if constexpr (std::is_same_v<I, intent::OpenPlaylist>) {
                navigate(Route::playlist(i.playlist_id));
                reset_sidebar_override();
                request_when_live(FetchRequest::playlist(i.playlist_id));
            } else if constexpr (std::is_same_v<I, intent::ToggleResultType>) {
                toggle_result_type(m_library.search_filter, i.type);
            } else if constexpr (std::is_same_v<I, intent::GoBack>) {
                if (m_navigation.go_back()) {
                    m_library.route = m_navigation.current;
                    reset_sidebar_override();
                    refresh_home_on_return();
                }
            } else if constexpr (std::is_same_v<I, intent::ToggleSubscription>) {
                m_library.toggle_subscription(i.channel_id);
            } else if constexpr (std::is_same_v<I, intent::Seek>) {
                const auto duration = current_video_duration();
                if (!duration || *duration <= 0.0) return;  // 0: unknown (a live stream)
                const double fraction = std::isfinite(i.fraction) ? i.fraction : 0.0;
                const double target = std::clamp(fraction * *duration, 0.0, *duration);
                m_library.position = target;
                seek_player_seconds(target);
                auto_skip();
                autoplay_next();
            } else if constexpr (std::is_same_v<I, intent::TogglePlayback>) {
                current_video_resource();
                if (m_play_pause_emitter) (void)m_play_pause_emitter->emit();
            } else if constexpr (std::is_same_v<I, intent::CycleSegmentMode>) {
                m_library.settings.sponsor_categories[std::string(category_key(i.category))] =
                    next_mode(stored_mode(m_library.settings, i.category));
            } else if constexpr (std::is_same_v<I, intent::SkipSegment>) {
                const auto duration = current_video_duration();
                if (!duration || *duration <= 0.0) return;
                const double seconds = std::isfinite(i.target_seconds) ? i.target_seconds : 0.0;
                const double target = std::clamp(seconds, 0.0, *duration);
                m_library.position = target;
                seek_player_seconds(target);
                m_library.push_recent_entry(fmt::format("Skipped to {}", timecode_from_secs(target)));
            } else if constexpr (std::is_same_v<I, intent::ToggleSetting>) {
                m_library.settings.set_flag(i.setting, !m_library.settings.flag(i.setting));
            } else if constexpr (std::is_same_v<I, intent::Search>) {
                std::string text = m_search_text.text();
                m_library.search_query = text;
                m_library.search_error.reset();
                navigate(Route::search(text));
                if (!text.empty()) {
                    if (m_live) m_library.search_loading = true;
                    submit_request(FetchRequest::search(std::move(text)));
                }
            } else if constexpr (std::is_same_v<I, intent::SetQuality>) {
                if (is_accepted_quality(i.quality)) m_library.settings.preferred_quality = i.quality;
            } else if constexpr (std::is_same_v<I, intent::ToggleLike>) {
                m_library.toggle_like(i.video_id);
            } else if constexpr (std::is_same_v<I, intent::CopyShareLink>) {
                if (m_library.route.kind != Route::Kind::Watch || m_library.route.text != i.video_id) return;
                current_video_resource();
                if (m_share_emitter) (void)m_share_emitter->emit();
            } else if constexpr (std::is_same_v<I, intent::ToggleNavigation>) {
                m_sidebar_override = sidebar_visible() ? 0 : 1;
            } else if constexpr (std::is_same_v<I, intent::OpenActionSearch>) {
                if (!m_library.palette_open) m_palette_selection.reset();
                m_library.palette_open = true;
                m_focus_request = std::string(kPaletteInputId);
            } else if constexpr (std::is_same_v<I, intent::CloseActionSearch>) {
                m_library.palette_open = false;
                m_palette_selection.reset();
            } else if constexpr (std::is_same_v<I, intent::OpenSearchResult>) {
                if (const auto video_id = parse_watch_link(i.link)) {
                    if (!video_id->empty()) open_video(*video_id);
                } else if (const auto channel_id = parse_channel_link(i.link)) {
                    if (!channel_id->empty()) {
                        navigate(Route::channel(*channel_id));
                        request_when_live(FetchRequest::channel(*channel_id));
                    }
                }
                m_library.palette_open = false;
                m_palette_selection.reset();
                reset_sidebar_override();
            } else if constexpr (std::is_same_v<I, intent::PairDevice>) {
                if (!dispatch_device_operation("pair", std::nullopt)) {
                    m_library.push_recent_entry("Paste a pairing invite first, or unlock the desktop secret broker");
                }
            } else if constexpr (std::is_same_v<I, intent::SyncDevices>) {
                if (!dispatch_device_operation("sync", std::nullopt)) {
                    m_library.push_recent_entry("Device sync is unavailable");
                }
            } else if constexpr (std::is_same_v<I, intent::ApproveDevice>) {
                if (!dispatch_device_operation("approve", i.peer_id)) {
                    m_library.push_recent_entry("Device approval is unavailable");
                }
            } else if constexpr (std::is_same_v<I, intent::RevokeDevice>) {
                if (!dispatch_device_operation("revoke", i.peer_id)) {
                    m_library.push_recent_entry("Device revocation is unavailable");
                }
            }
        },
        intent);
}

void toggle_result_type(SearchTypeFilter& filter, intent::ResultType type) {
    bool* flag = type == intent::ResultType::Videos      ? &filter.video
                 : type == intent::ResultType::Playlists ? &filter.playlist
                                                         : &filter.creator;
    if (filter.all) {
        filter = SearchTypeFilter{false, false, false, false};
        *flag = true;
        return;
    }
    *flag = !*flag;
    if (!filter.video && !filter.playlist && !filter.creator) filter = SearchTypeFilter{};
}

}  // namespace sarn
