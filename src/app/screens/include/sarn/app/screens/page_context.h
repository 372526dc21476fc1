#pragma once
// What every page builder receives: the Library, the layout environment
// (its theme carries the colour roles and the display scale), the root's
// shared intent queue and the optional image store. Builders read these and
// nothing else; they keep no state and start no work.
//
// Interface thread only.

#include "sarn/app/control_intent.h"
#include "sarn/app/widgets/leaf_widget.h"
#include "sarn/model/library.h"
#include "vorn_ui/theme.h"
#include "vorn_ui/widget.h"

namespace sarn::screens {

struct PageContext {
    const Library& library;
    const vorn_ui::widget::Environment& env;
    IntentQueue intents;
    widgets::ImageStoreHandle images;

    const vorn_ui::Theme& theme() const { return env.theme; }
};

}  // namespace sarn::screens
