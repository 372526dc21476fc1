#pragma once
// The shell around every page: the top bar, the navigation sidebar, the
// action search overlay and the scroll container that holds a page.
// Pure builders of fresh widget trees. Interface thread only.

#include <optional>
#include <vector>

#include "sarn/app/palette_search.h"

#include "sarn/app/screens/page_context.h"
#include "sarn/app/widgets/flex.h"
#include "vorn_ui/local_state.h"
#include "vorn_ui/widget/scrollable.h"

namespace sarn::screens {

// The 66-high bar: navigation toggle, back button (when `can_go_back`), the
// search box over `search_text` (a search button when `compact`), the status
// pill while not live, the profile avatar.
widgets::Flex top_bar(const PageContext& cx, bool can_go_back, const vorn_ui::local_state::TextState& search_text,
                      bool compact);
// The navigation column of the given width (the 86 rail, or wide).
widgets::Flex sidebar(const PageContext& cx, double width);
widgets::Flex sidebar_item(const vorn_ui::Theme& theme, std::uint16_t icon, std::string_view label, const Route& route,
                           bool selected, bool wide);
// The rows the action search shows for the library's palette query, in order
// (at most eight; none for a blank query).
std::vector<PaletteEntry> palette_rows(const Library& library);
// The action search overlay, or nothing while the palette is closed; the
// selected row (picked with the arrow keys) is outlined.
std::optional<widgets::Flex> action_palette(const PageContext& cx, const vorn_ui::local_state::TextState& palette_text,
                                            std::optional<std::size_t> selected_row = std::nullopt);
// The notices of the user's stored data that cannot be trusted (a library
// file that could not be opened, kept records that could not be read), for
// the top of every page; nothing while there are none.
std::optional<widgets::Flex> storage_notices(const PageContext& cx);
// The page column in block layout inside the page scroll container.
vorn_ui::widget::scrollable::Scrollable scroll_page(widgets::Flex page);

}  // namespace sarn::screens
