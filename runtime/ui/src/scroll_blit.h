// Planning a scroll blit: whether the previous frame's pixels of a scroll
// container's viewport may be moved instead of drawn again, and what must be
// drawn afresh after the move. Pure geometry over two scenes; no drawing.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "cairo_backend.h"
#include "vorn_ui/offscreen.h"
#include "vorn_ui/scene.h"

namespace vorn_ui::detail {

struct ScrollBlitPlan {
  PixelRect moved;  // where the moved pixels land; they come from `moved` shifted back by (dx, dy)
  int dx = 0, dy = 0;
  struct Area {
    PixelRect rect;          // drawn afresh from the current scene, clipped to it
    std::vector<bool> keep;  // per command of the scene: false for those that touch nothing in it
  };
  std::vector<Area> redraw;
};

// `previous` is the scene the surface (width x height) shows; `current` the
// scene to show, which differs only by the scroll of the container whose
// viewport `blit` names. Answers nothing when moving pixels could give other
// pixels than drawing `current` whole: the viewport is not the clip of exactly
// one scroll layer in both scenes, the layers' offsets do not differ by the
// shift `blit` gives, the shift is not a whole number of pixels or not smaller
// than the viewport, the layer is not drawn through a plain scale and
// translation, or what lies under the viewport is not one flat colour.
std::optional<ScrollBlitPlan> plan_scroll_blit(const Scene& previous, const Scene& current,
                                               const offscreen::ScrollBlit& blit, std::uint32_t width,
                                               std::uint32_t height);

// Per command of the scene: whether drawing it may change a pixel of `area`.
// Layers always count (their pushes and pops stay paired); a drawing command
// counts unless all it may touch lies outside the area.
std::vector<bool> commands_touching(const Scene& scene, const PixelRect& area);

}  // namespace vorn_ui::detail
