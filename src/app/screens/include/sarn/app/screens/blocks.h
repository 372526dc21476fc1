#pragma once
// Screen building blocks: the small set of builders every page is put
// together from. Each is a plain function that returns a freshly built
// widget and keeps no state; pages only arrange blocks and supply texts.
//
// Sizes are logical pixels. Colours and radii come from the theme by role
// (chrome, raised, control, control_hover, border, input_border, text,
// text_muted, accent, selection, selection_hover, danger, ...); the theme's
// `scale` of 1.5 or more selects the large-scale forms of `page_header`,
// `video_grid` and `video_card`.
//
// A control either carries a ControlIntent with the root's shared intent
// queue (activating it appends the intent; its accessible label is the
// intent's palette label unless a builder says otherwise) or carries an
// action binding (the queue toggle).
//
// Pictures come through the optional image store: a missing store shows
// every placeholder and initials avatar without fetching anything.
//
// Interface thread only.

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "sarn/app/control_intent.h"
#include "sarn/app/widgets/channel_avatar.h"
#include "sarn/app/widgets/flex.h"
#include "sarn/app/widgets/switch.h"
#include "sarn/app/widgets/thumbnail.h"
#include "sarn/model/library.h"
#include "vorn_actions/resource.h"
#include "vorn_ui/icons.h"
#include "vorn_ui/theme.h"
#include "vorn_ui/widget/icon_widget.h"
#include "vorn_ui/widget/text_widget.h"
#include "vorn_ui/widget/video_player.h"

namespace sarn::screens {

using widgets::Flex;
using widgets::FlexSize;
using widgets::ImageStoreHandle;
using vorn_ui::widget::Text;

// Icon numbers the blocks use.
inline constexpr std::uint16_t kIconVerified = vorn_ui::icons::code(vorn_ui::icons::Icon::Verified);  // 57
inline constexpr std::uint16_t kIconQueue = vorn_ui::icons::code(vorn_ui::icons::Icon::List);         // 64
inline constexpr std::uint16_t kIconEmpty = vorn_ui::icons::code(vorn_ui::icons::Icon::Inbox);        // 67

// Whether the theme asks for the large-scale forms (scale 1.5 or more).
bool is_large_scale(const vorn_ui::Theme& theme);

// ---- text labels ----
// Every text on the pages: a runtime Text of the size, in the theme's
// default text colour or the given one; nothing else varies.
Text label_text(std::string content, float size);
Text label_text(std::string_view content, float size);
Text label_text(const char* content, float size);
Text colored_label_text(std::string content, float size, vorn_ui::Color color);
Text colored_label_text(std::string_view content, float size, vorn_ui::Color color);
Text colored_label_text(const char* content, float size, vorn_ui::Color color);

// ---- icons ----
// Every icon on the pages: the glyph of the number at the size, drawn with
// the 1.5 stroke in the colour.
vorn_ui::widget::IconWidget icon(std::uint16_t number, float size, vorn_ui::Color color);

// ---- spacing ----
// An empty row with grow 1 (pushes what follows to the end).
Flex flex_spacer();
// An empty row of a fixed size.
Flex sized_box(float width, float height);
// An empty full-width row of a fixed height.
Flex spacer_row(float height);
// A `control`-coloured row at the radius (skeleton boxes, swatches).
Flex filled_box(FlexSize width, float height, double radius, const vorn_ui::Theme& theme);
// A full-width 1-high row in `border`.
Flex divider(const vorn_ui::Theme& theme);

// ---- headers and states ----
// The icon (22, accent) and the title (21) in a full-width row; below scale
// 1.5 the subtitle (13, muted) at the right end; at 1.5 or more no subtitle
// and a 38-high gap below (a column of the row and a 1 × 38 box).
Flex page_header(const vorn_ui::Theme& theme, std::uint16_t icon, std::string_view title, std::string_view subtitle);
// A centred full-width column, gap 8, padding 48: the empty mark (40,
// muted), the title (18) and the body (13, muted; added even when empty).
Flex empty_state(const vorn_ui::Theme& theme, std::string_view title, std::string_view body);

// ---- buttons ----
// A 40 × 40 button with the icon (20) centred; `control`, hover
// `control_hover`, radius `radius_control`; labelled by the intent.
Flex icon_intent_button(const vorn_ui::Theme& theme, const IntentQueue& queue, std::uint16_t icon, ControlIntent intent,
                        std::string id);
// A pill with an optional icon (16) and the text (14), labelled by the text.
// Active: `selection` at rest and on hover, contents in its contrast colour.
// Inactive: `control` with a 1 border in `border`, hover `control_hover`
// keeping the border, contents in `text`.
Flex pill_button(const vorn_ui::Theme& theme, const IntentQueue& queue, std::optional<std::uint16_t> icon,
                 std::string_view text, ControlIntent intent, bool active);
// A small bordered button (text 12.5), labelled by the text; the danger form
// has its border and text in `danger`.
Flex settings_button(const vorn_ui::Theme& theme, const IntentQueue& queue, std::string id, std::string_view text,
                     ControlIntent intent, bool danger);
// "In queue" / "Add to queue" with the queue icon, id "queue_btn_{id}",
// labelled "{text}: shared watch queue", bound to the video's queue action of
// the action tree. A video the library does not know gets the same button
// without a control.
Flex queue_toggle_button(const Library& library, const vorn_ui::Theme& theme, std::string_view video_id);
// The same button bound to the given binding (none: no control).
Flex queue_toggle_button(const Library& library, const vorn_ui::Theme& theme, std::string_view video_id,
                         std::optional<vorn_actions::resource::ActionBinding> binding);

// ---- settings ----
// A full-width `raised` card (radius `radius`, 1 border): the title (16.5),
// a 1 × 8 gap, then the rows with a divider between each two.
Flex settings_section(const vorn_ui::Theme& theme, std::string_view title, std::vector<Flex> rows);
// A full-width row: title (14.5, `text`, or `text_muted` when dimmed) over
// the description (12.5, muted) in a growing column, then the trailing
// control (a switch, a chip).
Flex settings_row(const vorn_ui::Theme& theme, std::string_view title, std::string_view description,
                  vorn_ui::widget::WidgetPtr trailing, bool dimmed);
template <widgets::WidgetValue W>
Flex settings_row(const vorn_ui::Theme& theme, std::string_view title, std::string_view description, W trailing,
                  bool dimmed) {
    return settings_row(theme, title, description,
                        vorn_ui::widget::WidgetPtr(std::make_unique<W>(std::move(trailing))), dimmed);
}
// The settings row of a switch.
Flex settings_switch_row(const vorn_ui::Theme& theme, std::string_view title, std::string_view description,
                         widgets::Switch toggle, bool dimmed);
Flex settings_switch_row(const vorn_ui::Theme& theme, std::string_view title, std::string_view description,
                         widgets::Switch toggle);

// ---- videos ----
// "{views} • {published}" without the parts that are missing: no view count
// for 0 views, no date for a blank publication text. The count of a live
// video is its viewers: "{count} watching".
std::string video_meta_line(std::uint64_t views, std::string_view published, bool live = false);
// The card of the grids: thumbnail (169 high; progress 0.35 for the most
// recently watched video) above the details (avatar and text block below
// scale 1.5, LargeVideoMeta at 1.5 or more). Id "video_card_{id}", intent
// "Open video", labelled "Open video: {title}". The title is the
// crowd-sourced one when both DeArrow switches are on.
Flex video_card(const Library& library, const vorn_ui::Theme& theme, const IntentQueue& queue,
                const ImageStoreHandle& store, const Video& video);
// One card per video, in order.
std::vector<Flex> video_card(const Library& library, const vorn_ui::Theme& theme, const IntentQueue& queue,
                             const ImageStoreHandle& store, std::span<const Video* const> videos);
// The list form (queue, history, up next): a 160-wide thumbnail (90 high,
// no progress) beside the title (13), channel (12) and meta line (11.5,
// only when not empty). Same intent and label as the card.
Flex video_row(const Library& library, const vorn_ui::Theme& theme, const IntentQueue& queue,
               const ImageStoreHandle& store, const Video& video);
// The cards in order: below scale 1.5 a full-width grid of columns at least
// 300 wide (gap 18); at 1.5 or more one full-width column (gap 24).
Flex video_grid(const vorn_ui::Theme& theme, std::string id, std::vector<Flex> cards);
// video_grid with the id "video_grid".
Flex video_grid(const vorn_ui::Theme& theme, std::vector<Flex> cards);
// `count` placeholder cards (no control) in the "video_grid" grid.
Flex skeleton_grid(const vorn_ui::Theme& theme, std::size_t count);

// ---- playlists ----
// The card of a playlist: its cover (no time badge) with a "{n} videos"
// badge in the lower right corner, the list icon and the title, "{channel} •
// Playlist" and "{n} videos" lines. Full width (in a grid cell or a column);
// id "playlist_card_{id}", intent "Open playlist", labelled "Open playlist:
// {title}".
Flex playlist_card(const vorn_ui::Theme& theme, const IntentQueue& queue, const ImageStoreHandle& store,
                   const Playlist& playlist);
// One card per playlist, in order.
std::vector<Flex> playlist_card(const vorn_ui::Theme& theme, const IntentQueue& queue, const ImageStoreHandle& store,
                                std::span<const Playlist* const> playlists);

// ---- avatars ----
// The channel's picture when the library knows the channel and its avatar
// address, else its initials; initials and colour come from the name.
widgets::ChannelAvatar channel_avatar_for(const Library& library, const ImageStoreHandle& store,
                                          std::string_view channel_id, std::string_view channel_name, float size);
// A 36-wide initials avatar without a picture.
widgets::ChannelAvatar small_avatar(std::string_view name);

// ---- the player ----
// One setting entry for VideoPlayer::set_setting; the selected index is
// clamped to the last option (an empty list keeps 0).
vorn_ui::widget::video_player::PlayerSetting player_setting(std::string id, std::uint32_t kind, std::string label,
                                                            std::int64_t value, std::vector<std::string> options,
                                                            std::size_t selected);

}  // namespace sarn::screens
