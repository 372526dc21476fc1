#pragma once
// Control intents: what a page control asks the root widget to do. Controls
// append intents to the root's one shared queue while the tree handles an
// input event; the root takes the whole queue at the end of that event and
// carries each intent out in order.
//
// Interface thread only: the queue is shared by reference among the root and
// the controls of the current page tree, never across threads.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "sarn/model/route.h"
#include "sarn/model/settings.h"

namespace sarn {

namespace intent {

struct Navigate {
    Route route;
    friend bool operator==(const Navigate&, const Navigate&) = default;
};
struct OpenVideo {
    std::string video_id;
    friend bool operator==(const OpenVideo&, const OpenVideo&) = default;
};
struct ClearHistory {
    friend bool operator==(const ClearHistory&, const ClearHistory&) = default;
};
struct OpenCreator {
    std::string channel_id;
    friend bool operator==(const OpenCreator&, const OpenCreator&) = default;
};
struct OpenPlaylist {
    std::string playlist_id;
    friend bool operator==(const OpenPlaylist&, const OpenPlaylist&) = default;
};
// Result types of the search page's filter chips.
enum class ResultType : std::uint8_t { Videos = 0, Playlists = 1, Creators = 2 };
struct ToggleResultType {
    ResultType type = ResultType::Videos;
    friend bool operator==(const ToggleResultType&, const ToggleResultType&) = default;
};
struct GoBack {
    friend bool operator==(const GoBack&, const GoBack&) = default;
};
struct ToggleSubscription {
    std::string channel_id;
    friend bool operator==(const ToggleSubscription&, const ToggleSubscription&) = default;
};
struct Seek {
    double fraction = 0.0;  // of the watched video's duration
    friend bool operator==(const Seek&, const Seek&) = default;
};
struct TogglePlayback {
    friend bool operator==(const TogglePlayback&, const TogglePlayback&) = default;
};
struct CycleSegmentMode {
    SponsorCategory category = SponsorCategory::Sponsor;
    friend bool operator==(const CycleSegmentMode&, const CycleSegmentMode&) = default;
};
struct SkipSegment {
    double target_seconds = 0.0;
    friend bool operator==(const SkipSegment&, const SkipSegment&) = default;
};
struct ToggleSetting {
    Setting setting = Setting::SponsorBlock;
    friend bool operator==(const ToggleSetting&, const ToggleSetting&) = default;
};
// The query is read from the top bar's search input when the intent runs.
struct Search {
    friend bool operator==(const Search&, const Search&) = default;
};
struct SetQuality {
    std::string quality;
    friend bool operator==(const SetQuality&, const SetQuality&) = default;
};
struct ToggleLike {
    std::string video_id;
    friend bool operator==(const ToggleLike&, const ToggleLike&) = default;
};
struct CopyShareLink {
    std::string video_id;
    friend bool operator==(const CopyShareLink&, const CopyShareLink&) = default;
};
struct ToggleNavigation {
    friend bool operator==(const ToggleNavigation&, const ToggleNavigation&) = default;
};
struct OpenActionSearch {
    friend bool operator==(const OpenActionSearch&, const OpenActionSearch&) = default;
};
struct CloseActionSearch {
    friend bool operator==(const CloseActionSearch&, const CloseActionSearch&) = default;
};
// "sarn://watch/{id}" or "sarn://channel/{id}".
struct OpenSearchResult {
    std::string link;
    friend bool operator==(const OpenSearchResult&, const OpenSearchResult&) = default;
};
// The invite is read from the settings page's pairing field when the intent runs.
struct PairDevice {
    friend bool operator==(const PairDevice&, const PairDevice&) = default;
};
struct SyncDevices {
    friend bool operator==(const SyncDevices&, const SyncDevices&) = default;
};
struct ApproveDevice {
    std::string peer_id;
    friend bool operator==(const ApproveDevice&, const ApproveDevice&) = default;
};
struct RevokeDevice {
    std::string peer_id;
    friend bool operator==(const RevokeDevice&, const RevokeDevice&) = default;
};

}  // namespace intent

// Alternatives in declared order.
using ControlIntent =
    std::variant<intent::Navigate, intent::OpenVideo, intent::ClearHistory, intent::OpenCreator, intent::OpenPlaylist,
                 intent::ToggleResultType, intent::GoBack, intent::ToggleSubscription, intent::Seek,
                 intent::TogglePlayback, intent::CycleSegmentMode, intent::SkipSegment, intent::ToggleSetting,
                 intent::Search, intent::SetQuality, intent::ToggleLike, intent::CopyShareLink,
                 intent::ToggleNavigation, intent::OpenActionSearch, intent::CloseActionSearch,
                 intent::OpenSearchResult, intent::PairDevice, intent::SyncDevices, intent::ApproveDevice,
                 intent::RevokeDevice>;

inline constexpr std::size_t kControlIntentCount = std::variant_size_v<ControlIntent>;

// The label of a control carrying the intent: its accessible name and its
// action label ("Open Home", "Open video", "Go back", ...).
std::string_view action_palette_label(const ControlIntent& intent);

// The root's shared intent queue. Copies share one list.
class IntentQueue {
public:
    IntentQueue() : m_list(std::make_shared<std::vector<ControlIntent>>()) {}

    void push(ControlIntent intent) const { m_list->push_back(std::move(intent)); }
    // Every queued intent in the order appended; the queue is left empty.
    std::vector<ControlIntent> take() const {
        std::vector<ControlIntent> out;
        out.swap(*m_list);
        return out;
    }
    bool empty() const { return m_list->empty(); }
    std::size_t size() const { return m_list->size(); }
    bool same_queue(const IntentQueue& other) const { return m_list == other.m_list; }

private:
    std::shared_ptr<std::vector<ControlIntent>> m_list;
};

inline void push_intent(const IntentQueue& queue, ControlIntent intent) { queue.push(std::move(intent)); }
inline std::vector<ControlIntent> take_intents(const IntentQueue& queue) { return queue.take(); }

}  // namespace sarn
