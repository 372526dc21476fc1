// The scroll container every page sits in.
#include "sarn/app/screens/shell.h"

namespace sarn::screens {

vorn_ui::widget::scrollable::Scrollable scroll_page(widgets::Flex page) {
    return vorn_ui::widget::scrollable::Scrollable::with_child(std::move(page).with_block(true))
        .with_settings(24.0f, 0.9f, 0.9f, 0.92f);
}

}  // namespace sarn::screens
