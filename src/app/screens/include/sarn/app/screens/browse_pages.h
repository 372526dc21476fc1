#pragma once
// The creator, playlist and search result pages, with their loading and
// empty states and the search page's type filters. Interface thread only.

#include <string_view>

#include "sarn/app/screens/page_context.h"
#include "vorn_ui/widget/scrollable.h"

namespace sarn::screens {

vorn_ui::widget::scrollable::Scrollable channel_page(const PageContext& cx, std::string_view channel_id);
vorn_ui::widget::scrollable::Scrollable playlist_page(const PageContext& cx, std::string_view playlist_id);
vorn_ui::widget::scrollable::Scrollable search_page(const PageContext& cx, std::string_view query);

}  // namespace sarn::screens
