// Internal seam between the Pango text backend and the Cairo scene backend.
#pragma once

#include <optional>

#include "vorn_ui/text.h"

typedef struct _cairo cairo_t;

namespace vorn_ui::detail {

// Draws a layout made by TextRenderer with its top-left at the current point
// of `cr`, in the current source colour.
void show_text_layout(const TextLayout& layout, cairo_t* cr);

// What show_text_layout inks, relative to the layout's top-left; none when it
// inks nothing.
std::optional<Rect> text_ink_bounds(const TextLayout& layout);

}  // namespace vorn_ui::detail
