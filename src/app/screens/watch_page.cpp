// A placeholder until the real page lands.
#include "sarn/app/screens/watch_page.h"

#include "sarn/app/screens/blocks.h"
#include "sarn/app/screens/browse_pages.h"
#include "sarn/app/screens/settings_page.h"
#include "sarn/app/screens/shell.h"
#include "sarn/app/screens/watch_page.h"

namespace sarn::screens {

namespace {
vorn_ui::widget::scrollable::Scrollable placeholder(const PageContext& cx, std::string_view title) {
    return scroll_page(Flex::column()
                           .with_width(FlexSize::fill())
                           .with_padding(24)
                           .with_gap(18)
                           .child(page_header(cx.theme(), 27, title, ""))
                           .child(empty_state(cx.theme(), title, "")));
}
}  // namespace

vorn_ui::widget::scrollable::Scrollable watch_page(const PageContext& cx, std::string_view,
                                                   const std::shared_ptr<vorn_ui::widget::video_player::VideoPlayer>&,
                                                   double, double) {
    return placeholder(cx, "Watch");
}
}  // namespace sarn::screens
