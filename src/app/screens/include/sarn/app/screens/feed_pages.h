#pragma once
// The feed pages: home, trending, subscriptions, the shared watch queue and
// the watch history. Each answers its page inside the page scroll container
// (scroll_page). Interface thread only.

#include "sarn/app/screens/page_context.h"
#include "vorn_ui/widget/scrollable.h"

namespace sarn::screens {

vorn_ui::widget::scrollable::Scrollable home_page(const PageContext& cx);
vorn_ui::widget::scrollable::Scrollable trending_page(const PageContext& cx);
vorn_ui::widget::scrollable::Scrollable subscriptions_page(const PageContext& cx);
// `content_width`: the width beside the sidebar (SarnApp::layout_metrics).
vorn_ui::widget::scrollable::Scrollable queue_page(const PageContext& cx, double content_width);
vorn_ui::widget::scrollable::Scrollable history_page(const PageContext& cx);

}  // namespace sarn::screens
