// Painters for avatars, toggles and cover images. Interface thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "vorn_ui/access.h"
#include "vorn_ui/color.h"
#include "vorn_ui/geometry.h"
#include "vorn_ui/image.h"
#include "vorn_ui/scene.h"
#include "vorn_ui/text.h"
#include "vorn_ui/theme.h"

namespace vorn_ui {

class Avatar {
 public:
  // A stable colour for initials: the same initials give the same colour on
  // every run; readable under the theme's avatar text colour.
  static Color color_for_initials(std::string_view initials, const Theme& theme);
  // A filled circle inscribed in `bounds` with the initials centred on it.
  static void draw_at(Scene& scene, const Affine& transform, const Rect& bounds, std::string_view initials,
                      Color color, const Theme& theme, TextRenderer& text);
};

struct ToggleState {
  Rect bounds;
  bool on = false;
  bool hovered = false;
  bool focused = false;
  bool disabled = false;
};

class Toggle {
 public:
  // A pill track with a round knob, left when off and right when on.
  static void paint(Scene& scene, const Affine& transform, const Theme& theme, const ToggleState& state);
};

// The accessibility node of a toggle control.
AccessNode toggle_accessibility(bool on, bool focused, std::optional<std::string> label, bool enabled,
                                Rect bounds = {});

// Draws `image` scaled to cover `bounds` (the larger of the two scale
// factors, centred, an image side of 0 counting as 1), clipped to the
// rounded rectangle of `bounds`.
void paint_image_cover(Scene& scene, const Affine& transform, const Rect& bounds, double radius, const ImageRef& image);

}  // namespace vorn_ui
