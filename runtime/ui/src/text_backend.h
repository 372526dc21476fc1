// Internal seam between the Pango text backend and the Cairo scene backend.
#pragma once

#include "vorn_ui/text.h"

typedef struct _cairo cairo_t;

namespace vorn_ui::detail {

// Draws a layout made by TextRenderer with its top-left at the current point
// of `cr`, in the current source colour.
void show_text_layout(const TextLayout& layout, cairo_t* cr);

}  // namespace vorn_ui::detail
