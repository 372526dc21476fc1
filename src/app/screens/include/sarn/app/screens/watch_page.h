#pragma once
// The watch page: the player stage with skip marks and the skip button, the
// title, counts and actions, the description, the comments and the up-next
// list, in a wide and a narrow form. Interface thread only.

#include <memory>
#include <string_view>

#include "sarn/app/screens/page_context.h"
#include "vorn_ui/widget/scrollable.h"
#include "vorn_ui/widget/video_player.h"

namespace sarn::screens {

// `player` is the root's shared player (the page's PlayerHost forwards to
// it); `content_width` the width beside the sidebar; `viewport_height` at least 1.
vorn_ui::widget::scrollable::Scrollable watch_page(
    const PageContext& cx, std::string_view video_id,
    const std::shared_ptr<vorn_ui::widget::video_player::VideoPlayer>& player, double content_width,
    double viewport_height);

}  // namespace sarn::screens
