// Scroll blit planning. Between two frames that differ only by one scroll
// container's offset, the pixels of its viewport in the last picture are
// moved by the scroll, and these are drawn afresh, each area through a
// whole-pixel clip:
// - the strip that came into view;
// - what is drawn over the viewport after the container (its scroll bar,
//   overlays), where it is now and where it was;
// - content drawn in one frame but not the other: a widget left out of the
//   drawing outside the visible region may draw beyond its bounds;
// - content whose pixels depend on where it is drawn: pictures resampled at a
//   fraction of a pixel, gradients through a scale whose inverse is not exact
//   in fixed point, and shapes the viewport's edge cuts (Cairo rasterizes a
//   shape at a clip's edge otherwise than where no clip cuts it).
// An area takes in the whole of any shape, gradient, resampled picture or
// shaped layer it draws, so that its own clip cuts none of them. What lies
// under the viewport must be one flat colour, since it does not move.
#include "scroll_blit.h"

#include <algorithm>
#include <cmath>
#include <tuple>
#include <variant>

#include "text_backend.h"

namespace vorn_ui::detail {
namespace {

// Coordinates this close to a whole pixel count as whole: far below the
// 1/256 pixel the rasterizer resolves.
constexpr double kSnap = 1e-6;
// What is taken to be touched by a command whose extent cannot be bounded.
constexpr Rect kEverything{-1e12, -1e12, 1e12, 1e12};

bool finite(double v) { return std::isfinite(v); }
bool finite_rect(const Rect& r) { return finite(r.x0) && finite(r.y0) && finite(r.x1) && finite(r.y1); }
bool has_area(const Rect& r) { return r.x1 > r.x0 && r.y1 > r.y0; }

double snap(double v) {
  const double r = std::round(v);
  return std::abs(v - r) <= kSnap ? r : v;
}

Rect normalized(const Rect& r) {
  return {std::min(r.x0, r.x1), std::min(r.y0, r.y1), std::max(r.x0, r.x1), std::max(r.y0, r.y1)};
}

Rect outset(const Rect& r, double d) { return {r.x0 - d, r.y0 - d, r.x1 + d, r.y1 + d}; }

// The bounding box of a rectangle after a transform.
Rect map_rect(const Affine& t, const Rect& r) {
  const Point p[4] = {t.apply({r.x0, r.y0}), t.apply({r.x1, r.y0}), t.apply({r.x0, r.y1}), t.apply({r.x1, r.y1})};
  Rect out{p[0].x, p[0].y, p[0].x, p[0].y};
  for (const Point& q : p) {
    if (!finite(q.x) || !finite(q.y)) return kEverything;
    out = {std::min(out.x0, q.x), std::min(out.y0, q.y), std::max(out.x1, q.x), std::max(out.y1, q.y)};
  }
  return out;
}

// What a shape covers before its transform; none when the backend draws
// nothing for it (it skips shapes with coordinates that are not finite).
std::optional<Rect> shape_extent(const Shape& shape) {
  if (const auto* r = std::get_if<Rect>(&shape)) {
    if (!finite_rect(*r)) return std::nullopt;
    return normalized(*r);
  }
  if (const auto* rr = std::get_if<RoundedRect>(&shape)) {
    if (!finite_rect(rr->rect) || !finite(rr->radius)) return std::nullopt;
    return normalized(rr->rect);
  }
  if (const auto* c = std::get_if<Circle>(&shape)) {
    if (!finite(c->center.x) || !finite(c->center.y) || !finite(c->radius) || c->radius < 0) return std::nullopt;
    return Rect{c->center.x - c->radius, c->center.y - c->radius, c->center.x + c->radius, c->center.y + c->radius};
  }
  // A path lies within the hull of its points, control points included.
  const auto& path = std::get<Path>(shape);
  std::optional<Rect> out;
  for (const auto& el : path.elements()) {
    const int points = el.verb == Path::Verb::CubicTo ? 3 : el.verb == Path::Verb::Close ? 0 : 1;
    for (int i = 0; i < points; ++i) {
      const Point& p = el.p[i];
      if (!finite(p.x) || !finite(p.y)) return std::nullopt;
      out = out ? Rect{std::min(out->x0, p.x), std::min(out->y0, p.y), std::max(out->x1, p.x), std::max(out->y1, p.y)}
                : Rect{p.x, p.y, p.x, p.y};
    }
  }
  return out;
}

// The surface area a drawing command may touch (device pixels, not rounded);
// none when it draws nothing.
struct DeviceExtent {
  std::optional<Rect> operator()(const FillCommand& c) const {
    auto e = shape_extent(c.shape);
    if (!e) return std::nullopt;
    return map_rect(c.transform, *e);
  }
  std::optional<Rect> operator()(const StrokeCommand& c) const {
    const double w = c.stroke.width;
    if (!(w > 0) || !finite(w)) return std::nullopt;
    auto e = shape_extent(c.shape);
    if (!e) return std::nullopt;
    // Miter joins reach out to the miter limit times half the width, square
    // caps to half the diagonal of their square, everything else half the width.
    if (c.stroke.join == LineJoin::Miter && !finite(c.stroke.miter_limit)) return kEverything;
    const double miter = c.stroke.join == LineJoin::Miter ? std::max(1.0, c.stroke.miter_limit) : 1.0;
    const double cap = c.stroke.cap == LineCap::Square ? std::sqrt(2.0) : 1.0;
    return map_rect(c.transform, outset(*e, w / 2 * std::max(miter, cap)));
  }
  std::optional<Rect> operator()(const ImageCommand& c) const {
    if (!c.image || c.image->width() == 0 || c.image->height() == 0) return std::nullopt;
    // A clipped picture stays within its clip; an unclipped one within its own
    // rectangle. A pixel more on each side for the resampling.
    if (c.clip) {
      if (!finite_rect(c.clip->rect)) return kEverything;
      return outset(map_rect(c.transform, normalized(c.clip->rect)), 1);
    }
    const Rect own{0, 0, static_cast<double>(c.image->width()), static_cast<double>(c.image->height())};
    return outset(map_rect(c.transform * c.image_transform, own), 1);
  }
  std::optional<Rect> operator()(const TextCommand& c) const {
    if (!c.layout) return std::nullopt;
    auto ink = text_ink_bounds(*c.layout);
    if (!ink) return std::nullopt;
    return outset(map_rect(c.transform, ink->translated(c.origin.x, c.origin.y)), 1);
  }
  std::optional<Rect> operator()(const PushLayerCommand&) const { return std::nullopt; }
  std::optional<Rect> operator()(const PopLayerCommand&) const { return std::nullopt; }
};

// Whether a rectangle or rounded rectangle, drawn through a plain scale and
// translation, covers all of `v` (device pixels).
bool covers(const Shape& shape, const Affine& t, const Rect& v) {
  if (t.b != 0 || t.c != 0 || !finite(t.a) || !finite(t.d) || !finite(t.e) || !finite(t.f)) return false;
  Rect r;
  double radius = 0;
  if (const auto* p = std::get_if<Rect>(&shape)) {
    r = *p;
  } else if (const auto* rr = std::get_if<RoundedRect>(&shape)) {
    r = rr->rect;
    radius = rr->radius;
  } else {
    return false;
  }
  if (!finite_rect(r) || !finite(radius)) return false;
  // The corners are cut as the backend cuts them: the radius is held to half the shorter side.
  const double rad = std::max(0.0, std::min(radius, std::min(std::abs(r.width()), std::abs(r.height())) / 2.0));
  const Rect d = map_rect(t, r);
  const double rx = rad * std::abs(t.a), ry = rad * std::abs(t.d);
  auto inside = [&v](const Rect& box) { return v.x0 >= box.x0 && v.y0 >= box.y0 && v.x1 <= box.x1 && v.y1 <= box.y1; };
  return inside({d.x0 + rx, d.y0, d.x1 - rx, d.y1}) || inside({d.x0, d.y0 + ry, d.x1, d.y1 - ry});
}

// A solid colour filling all of `v`: what lies under the viewport stays the
// same when moved.
bool flat_cover(const SceneCommand& cmd, const Rect& v) {
  const auto* fill = std::get_if<FillCommand>(&cmd);
  return fill != nullptr && std::holds_alternative<Color>(fill->brush) && covers(fill->shape, fill->transform, v);
}

Rect as_rect(const PixelRect& p) {
  return {static_cast<double>(p.x0), static_cast<double>(p.y0), static_cast<double>(p.x1), static_cast<double>(p.y1)};
}

bool touches(const Rect& r, const PixelRect& p) { return r.x0 < p.x1 && r.x1 > p.x0 && r.y0 < p.y1 && r.y1 > p.y0; }

// The whole pixels a device area touches, within the surface.
PixelRect pixels_around(const Rect& r, const PixelRect& surface) {
  const double x0 = std::max(r.x0, static_cast<double>(surface.x0));
  const double y0 = std::max(r.y0, static_cast<double>(surface.y0));
  const double x1 = std::min(r.x1, static_cast<double>(surface.x1));
  const double y1 = std::min(r.y1, static_cast<double>(surface.y1));
  if (!(x1 > x0 && y1 > y0)) return {};
  return {static_cast<int>(std::floor(x0)), static_cast<int>(std::floor(y0)), static_cast<int>(std::ceil(x1)),
          static_cast<int>(std::ceil(y1))};
}

// The one scroll layer clipped to exactly the viewport.
std::optional<std::size_t> find_layer(const Scene& scene, const Rect& viewport) {
  std::optional<std::size_t> found;
  const auto& commands = scene.commands();
  for (std::size_t i = 0; i < commands.size(); ++i) {
    const auto* push = std::get_if<PushLayerCommand>(&commands[i]);
    if (push == nullptr || !push->scroll_offset) continue;
    const auto* clip = std::get_if<Rect>(&push->clip);
    if (clip == nullptr || !(*clip == viewport)) continue;
    if (found) return std::nullopt;  // two such layers: which one scrolled is unknown
    found = i;
  }
  return found;
}

// Whether a picture gives the same pixels when drawn a whole number of
// pixels further: the backend's cached covers (whole-pixel frames, copied
// from a cache) and unscaled pictures at whole-pixel places are; resampling a
// scaled picture at another place may round differently.
bool moves_exactly(const ImageCommand& c) {
  const Affine& t = c.transform;
  const Affine full = t * c.image_transform;
  auto whole = [](double v) { return std::abs(std::round(v) - v) <= 1e-6; };
  if (c.clip) {
    // The backend's cover cache takes these (see try_cached_cover).
    return t.b == 0 && t.c == 0 && full.b == 0 && full.c == 0 && t.a > 0 && t.d > 0 &&
           whole(t.a * c.clip->rect.x0 + t.e) && whole(t.d * c.clip->rect.y0 + t.f);
  }
  return full.a == 1 && full.b == 0 && full.c == 0 && full.d == 1 && whole(full.e) && whole(full.f);
}

// Whether a gradient gives the same pixels when drawn a whole number of
// pixels further: the backend maps pixels back into the gradient through the
// inverse of the transform in 16.16 fixed point, which is exact for scales
// that are powers of two.
bool moves_exactly(const Affine& gradient_transform) {
  auto power_of_two = [](double v) {
    int exp = 0;
    return std::isfinite(v) && v != 0 && std::abs(std::frexp(v, &exp)) == 0.5 && exp >= -15 && exp <= 17;
  };
  const Affine& t = gradient_transform;
  return t.b == 0 && t.c == 0 && power_of_two(t.a) && power_of_two(t.d);
}

// Whether a rectangle lands on whole device pixels.
bool whole_pixel_rect(const Shape& shape, const Affine& t) {
  const auto* r = std::get_if<Rect>(&shape);
  if (r == nullptr || t.b != 0 || t.c != 0 || !finite_rect(*r)) return false;
  const Rect d = map_rect(t, *r);
  auto whole = [](double c) { return std::abs(std::round(c) - c) <= kSnap; };
  return whole(d.x0) && whole(d.y0) && whole(d.x1) && whole(d.y1);
}

// Whether the backend draws the shape as a plain rectangle: a rectangle, or
// a rounded one whose radius comes to nothing (see rounded_rect_path).
bool drawn_as_rect(const Shape& shape) {
  if (std::holds_alternative<Rect>(shape)) return true;
  const auto* rr = std::get_if<RoundedRect>(&shape);
  if (rr == nullptr || !finite_rect(rr->rect) || !finite(rr->radius)) return false;
  const double shorter = std::min(std::abs(rr->rect.width()), std::abs(rr->rect.height()));
  return std::max(0.0, std::min(rr->radius, shorter / 2.0)) <= 0;
}

// Whether drawing the command through an extra whole-pixel clip gives the
// pixels an unclipped drawing gives. Text (glyph masks), solid rectangles and
// pictures copied at whole pixels do; Cairo rasterizes other shapes cut by a
// clip along another path, and computes gradients and resampled pictures
// along runs that a clip starts elsewhere, so those differ in the last bit
// here and there.
bool clip_exact(const SceneCommand& cmd) {
  if (std::holds_alternative<TextCommand>(cmd)) return true;
  if (const auto* image = std::get_if<ImageCommand>(&cmd)) return moves_exactly(*image) && image->alpha >= 1.0f;
  if (const auto* fill = std::get_if<FillCommand>(&cmd))
    return drawn_as_rect(fill->shape) && std::holds_alternative<Color>(fill->brush) &&
           fill->transform.b == 0 && fill->transform.c == 0;
  return false;
}

bool plain_transform(const Affine& t) {
  return t.b == 0 && t.c == 0 && finite(t.a) && finite(t.d) && finite(t.e) && finite(t.f);
}

// Whether a shape filled through a plain scale and translation, in one
// colour or a gradient that moves exactly, or a rectangle (rounded or not)
// stroked with round joins in one colour, gives the pixels of an unclipped
// drawing when whole-pixel clips cut it only across, along pixel rows (none
// reaching into its columns). Cairo keeps every edge of the shape's outline
// where such a clip cuts it, only shortened, and scan-converts each pixel row
// from the edges' exact positions; a gradient is computed along each row from
// the same first column. What it leaves out or simplifies lies beyond the
// clip. Clips that cut into its columns split its edges, and other strokes
// are simplified within reach of the clip, so those stay cut.
bool exact_across_rows(const SceneCommand& cmd) {
  if (const auto* fill = std::get_if<FillCommand>(&cmd)) {
    if (!plain_transform(fill->transform)) return false;
    return std::holds_alternative<Color>(fill->brush) || moves_exactly(fill->transform);
  }
  if (const auto* stroke = std::get_if<StrokeCommand>(&cmd)) {
    return plain_transform(stroke->transform) && std::holds_alternative<Color>(stroke->brush) &&
           stroke->stroke.join == LineJoin::Round &&
           (std::holds_alternative<Rect>(stroke->shape) || std::holds_alternative<RoundedRect>(stroke->shape));
  }
  return false;
}

// Whether an opaque layer clips to its shape through a plain scale and
// translation: Cairo cuts what is drawn inside it with the shape's outline,
// which whole-pixel clips across its rows leave as they leave a filled shape.
bool layer_exact_across_rows(const PushLayerCommand& push) {
  return push.alpha >= 1.0f && plain_transform(push.transform) && shape_extent(push.clip).has_value();
}

// A content command as the two frames can match it: its kind, what it
// draws, and where, in the content's own coordinates.
struct ContentKey {
  std::size_t kind;
  const void* source;  // the picture or the text layout; none for shapes
  long long x0, y0, x1, y1;  // 1/64 device pixels
  std::size_t index;  // in its scene
  auto tie() const { return std::tie(kind, source, x0, y0, x1, y1); }
  bool operator<(const ContentKey& o) const { return tie() < o.tie(); }
};

struct Walk {
  std::vector<std::optional<Rect>> extent;  // per drawing command: device area within the clips around it
  std::vector<std::optional<Rect>> layer_extent;  // per layer: device area of its clip, within those around it
  std::vector<bool> clip_exact;  // per command: drawn through any whole-pixel clip, it gives the
                                 // pixels of an unclipped drawing (see below)
  std::vector<bool> row_exact;   // per command: so does it through whole-pixel clips that leave its
                                 // columns whole (exact_across_rows, within such layers)
  std::size_t end = 0;                      // the layer's closing command (or the end of the scene)
  std::vector<ContentKey> content;          // the container's drawing commands, sorted
  std::vector<std::size_t> inexact;         // content pictures and gradients that do not move exactly
  std::vector<std::size_t> cut;             // content the viewport's edge cuts, drawn along a path that
                                            // depends on where it cuts (see clip_exact)
};

// Walks a scene whose container layer is command `layer`, with its content
// scrolled by `offset` device pixels, and whose viewport covers the device
// pixels `view`. With `check_under`, answers nothing unless everything drawn
// before the layer that reaches into the viewport is a flat cover of it, and
// unless the layers around the container are whole-pixel rectangles that
// neither cut nor blend the viewport.
std::optional<Walk> walk(const Scene& scene, std::size_t layer, Point offset, const PixelRect& view,
                         bool check_under) {
  const Rect v = as_rect(view);
  struct Open {
    Rect clip;                     // device area, within the layers around it
    bool neutral;                  // this layer and those around it leave the viewport whole and unblended
    std::optional<Rect> own_clip;  // within the container: the clips of the content's own layers
    bool plain;                    // this layer and those around it: opaque, clipped through plain
                                   // transforms (layer_exact_across_rows)
  };
  std::vector<Open> open;
  const auto& commands = scene.commands();
  Walk out;
  out.extent.resize(commands.size());
  out.layer_extent.resize(commands.size());
  out.clip_exact.resize(commands.size());
  out.row_exact.resize(commands.size());
  out.end = commands.size();
  std::size_t layer_depth = 0;
  bool closed = false;
  for (std::size_t i = 0; i < commands.size(); ++i) {
    const SceneCommand& cmd = commands[i];
    const bool in_content = i > layer && !closed;
    if (const auto* push = std::get_if<PushLayerCommand>(&cmd)) {
      auto e = shape_extent(push->clip);
      const Rect own = e ? map_rect(push->transform, *e) : Rect{};
      Rect clip = own;
      if (!open.empty()) clip = clip.intersect(open.back().clip);
      const bool around_neutral = open.empty() || open.back().neutral;
      if (i == layer) {
        if (!around_neutral || !(push->alpha >= 1.0f)) return std::nullopt;
        layer_depth = open.size();
      }
      std::optional<Rect> own_clip;
      if (in_content) own_clip = open.back().own_clip ? own.intersect(*open.back().own_clip) : own;
      const bool exact = push->alpha >= 1.0f && whole_pixel_rect(push->clip, push->transform);
      const bool plain = layer_exact_across_rows(*push) && (open.empty() || open.back().plain);
      open.push_back({clip, around_neutral && exact && covers(push->clip, push->transform, v), own_clip, plain});
      out.layer_extent[i] = clip;
      out.clip_exact[i] = exact;
      out.row_exact[i] = plain;
      continue;
    }
    if (std::holds_alternative<PopLayerCommand>(cmd)) {
      if (open.empty()) continue;
      open.pop_back();
      if (i > layer && !closed && open.size() == layer_depth) {
        out.end = i;
        closed = true;
      }
      continue;
    }
    const std::optional<Rect> raw = std::visit(DeviceExtent{}, cmd);
    if (!raw) continue;
    if (in_content) {
      // Matched between the frames where it lies in the content, before the
      // viewport clips it.
      const Rect here = open.back().own_clip ? raw->intersect(*open.back().own_clip) : *raw;
      const Rect r = here.translated(offset.x, offset.y);
      auto q = [](double c) { return std::llround(std::clamp(c, -1e12, 1e12) * 64.0); };
      const void* source = nullptr;
      if (const auto* image = std::get_if<ImageCommand>(&cmd)) {
        source = image->image.get();
        if (!moves_exactly(*image)) out.inexact.push_back(i);
      } else if (const auto* text = std::get_if<TextCommand>(&cmd)) {
        source = text->layout.get();
      } else if (const auto* fill = std::get_if<FillCommand>(&cmd)) {
        if (std::holds_alternative<LinearGradient>(fill->brush) && !moves_exactly(fill->transform))
          out.inexact.push_back(i);
      } else if (const auto* stroke = std::get_if<StrokeCommand>(&cmd)) {
        if (std::holds_alternative<LinearGradient>(stroke->brush) && !moves_exactly(stroke->transform))
          out.inexact.push_back(i);
      }
      out.content.push_back({cmd.index(), source, q(r.x0), q(r.y0), q(r.x1), q(r.y1), i});
      // The viewport's top and bottom edges cut across rows only, which such
      // shapes let pass: they move with the content as a whole drawing gives them.
      const bool across_rows = here.x0 >= v.x0 && here.x1 <= v.x1 && exact_across_rows(cmd) && open.back().plain;
      if (!clip_exact(cmd) && !across_rows &&
          (here.x0 < v.x0 || here.y0 < v.y0 || here.x1 > v.x1 || here.y1 > v.y1))
        out.cut.push_back(i);
    }
    Rect e = open.empty() ? *raw : raw->intersect(open.back().clip);
    if (!has_area(e)) continue;
    out.extent[i] = e;
    out.clip_exact[i] = clip_exact(cmd);
    out.row_exact[i] = exact_across_rows(cmd) && (open.empty() || open.back().plain);
    if (check_under && i < layer && touches(e, view)) {
      if (!(open.empty() || open.back().neutral) || !flat_cover(cmd, v)) return std::nullopt;
    }
  }
  std::sort(out.content.begin(), out.content.end());
  return out;
}

}  // namespace

std::optional<ScrollBlitPlan> plan_scroll_blit(const Scene& previous, const Scene& current,
                                               const offscreen::ScrollBlit& blit, std::uint32_t width,
                                               std::uint32_t height) {
  const PixelRect surface{0, 0, static_cast<int>(width), static_cast<int>(height)};
  if (!finite_rect(blit.viewport) || !finite(blit.shift.x) || !finite(blit.shift.y)) return std::nullopt;
  const auto now_at = find_layer(current, blit.viewport);
  const auto before_at = find_layer(previous, blit.viewport);
  if (!now_at || !before_at) return std::nullopt;
  const auto& now_layer = std::get<PushLayerCommand>(current.commands()[*now_at]);
  const auto& before_layer = std::get<PushLayerCommand>(previous.commands()[*before_at]);
  const Affine& t = now_layer.transform;
  if (!(before_layer.transform == t)) return std::nullopt;
  // The move is what the two pictures' offsets tell; the caller's account of
  // it must agree, or the picture is not the frame the caller last drew.
  const Point shift{before_layer.scroll_offset->x - now_layer.scroll_offset->x,
                    before_layer.scroll_offset->y - now_layer.scroll_offset->y};
  if (!finite(shift.x) || !finite(shift.y) || std::abs(shift.x - blit.shift.x) > kSnap ||
      std::abs(shift.y - blit.shift.y) > kSnap)
    return std::nullopt;
  if (t.b != 0 || t.c != 0 || !(t.a > 0) || !(t.d > 0) || !finite(t.a) || !finite(t.d) || !finite(t.e) ||
      !finite(t.f))
    return std::nullopt;

  // The viewport in device pixels. Its edges must lie between pixels: what a
  // clip with edges inside pixels holds, Cairo draws along another path when
  // a further clip comes in.
  const bool whole_viewport = whole_pixel_rect(blit.viewport, t);
  const Rect d = map_rect(t, blit.viewport);
  const PixelRect view = pixels_around({snap(d.x0), snap(d.y0), snap(d.x1), snap(d.y1)}, surface);
  if (!whole_viewport || view.empty()) return std::nullopt;

  // The move: a whole number of pixels, smaller than the viewport.
  const double sx = snap(t.a * shift.x), sy = snap(t.d * shift.y);
  if (sx != std::round(sx) || sy != std::round(sy)) return std::nullopt;
  if (std::abs(sx) >= view.x1 - view.x0 || std::abs(sy) >= view.y1 - view.y0) return std::nullopt;
  ScrollBlitPlan plan;
  plan.dx = static_cast<int>(sx);
  plan.dy = static_cast<int>(sy);
  plan.moved = view.intersect(view.translated(plan.dx, plan.dy));
  if (plan.moved.empty()) return std::nullopt;

  const Point now_offset{now_layer.scroll_offset->x * t.a, now_layer.scroll_offset->y * t.d};
  const Point before_offset{before_layer.scroll_offset->x * t.a, before_layer.scroll_offset->y * t.d};
  const auto now = walk(current, *now_at, now_offset, view, true);
  const auto before = walk(previous, *before_at, before_offset, view, false);
  if (!now || !before) return std::nullopt;

  // Drawn afresh: the viewport's pixels the move did not fill ...
  std::vector<PixelRect> redraw;
  const PixelRect& m = plan.moved;
  for (const PixelRect& band : {PixelRect{view.x0, view.y0, view.x1, m.y0}, PixelRect{view.x0, m.y1, view.x1, view.y1},
                                PixelRect{view.x0, m.y0, m.x0, m.y1}, PixelRect{m.x1, m.y0, view.x1, m.y1}}) {
    if (!band.empty()) redraw.push_back(band);
  }
  auto add = [&redraw, &surface](const PixelRect& r) {
    const PixelRect c = r.intersect(surface);
    if (!c.empty()) redraw.push_back(c);
  };
  // Where a command of the current frame draws over the viewport.
  auto add_now = [&](std::size_t i) {
    const auto& e = now->extent[i];
    if (e && touches(*e, view)) add(pixels_around(*e, surface));
  };
  // Where a command of the previous frame left pixels in the viewport: the
  // move took those of content along (no further than the moved pixels land);
  // those drawn over it also stay where they were.
  auto add_before = [&](std::size_t i, bool content) {
    const auto& e = before->extent[i];
    if (!e || !touches(*e, view)) return;
    const PixelRect was = pixels_around(*e, surface);
    if (!content) add(was);
    add(was.translated(plan.dx, plan.dy).intersect(plan.moved));
  };
  // ... whatever is drawn over the viewport after the container's layer ...
  for (std::size_t i = now->end + 1; i < now->extent.size(); ++i) add_now(i);
  for (std::size_t i = before->end + 1; i < before->extent.size(); ++i) add_before(i, false);
  // ... content drawn in one frame but not the other (a widget that came into
  // view or left it, whose drawing may reach beyond its bounds) ...
  for (auto a = before->content.begin(), b = now->content.begin(); a != before->content.end() || b != now->content.end();) {
    if (b == now->content.end() || (a != before->content.end() && *a < *b)) {
      add_before((a++)->index, true);
    } else if (a == before->content.end() || *b < *a) {
      add_now((b++)->index);
    } else {
      ++a;
      ++b;
    }
  }
  // ... pictures and gradients whose pixels differ from place to place ...
  for (std::size_t i : before->inexact) add_before(i, true);
  for (std::size_t i : now->inexact) add_now(i);
  // ... and shapes the viewport's edge cuts somewhere else in each frame.
  for (std::size_t i : before->cut) add_before(i, true);
  for (std::size_t i : now->cut) add_now(i);

  // Overlapping areas whose bounding box is hardly larger are drawn as one.
  for (bool merged = true; merged;) {
    merged = false;
    for (std::size_t i = 0; i < redraw.size() && !merged; ++i) {
      for (std::size_t j = i + 1; j < redraw.size() && !merged; ++j) {
        const PixelRect& a = redraw[i];
        const PixelRect& b = redraw[j];
        const PixelRect box{std::min(a.x0, b.x0), std::min(a.y0, b.y0), std::max(a.x1, b.x1), std::max(a.y1, b.y1)};
        auto area = [](const PixelRect& r) { return static_cast<long long>(r.x1 - r.x0) * (r.y1 - r.y0); };
        const PixelRect both = a.intersect(b);
        const long long overlap = both.empty() ? 0 : area(both);
        if (area(box) <= area(a) + area(b) - overlap + 64) {
          redraw[i] = box;
          redraw.erase(redraw.begin() + static_cast<std::ptrdiff_t>(j));
          merged = true;
        }
      }
    }
  }

  // Each area draws the commands that touch it, a layer only when something
  // inside it is drawn. An area takes in the whole of every shape, gradient,
  // resampled picture and shaped or translucent layer it draws, so that its
  // clip cuts none of them (see clip_exact).
  const auto& commands = current.commands();
  for (PixelRect r : redraw) {
    ScrollBlitPlan::Area area;
    for (bool widened = true; widened;) {
      widened = false;
      auto take_in = [&](const std::optional<Rect>& e) {
        if (!e) return;
        const PixelRect all = pixels_around(*e, surface);
        if (all.empty() || (all.x0 >= r.x0 && all.y0 >= r.y0 && all.x1 <= r.x1 && all.y1 <= r.y1)) return;
        r = {std::min(r.x0, all.x0), std::min(r.y0, all.y0), std::max(r.x1, all.x1), std::max(r.y1, all.y1)};
        widened = true;
      };
      // Only its columns, for a shape that the area may cut across rows.
      auto take_in_columns = [&](const std::optional<Rect>& e) {
        if (!e) return;
        const PixelRect all = pixels_around(*e, surface);
        if (all.empty() || (all.x0 >= r.x0 && all.x1 <= r.x1)) return;
        r.x0 = std::min(r.x0, all.x0);
        r.x1 = std::max(r.x1, all.x1);
        widened = true;
      };
      area = {r, std::vector<bool>(commands.size(), false)};
      std::vector<std::size_t> pushes;  // open layers
      for (std::size_t i = 0; i < commands.size(); ++i) {
        if (std::holds_alternative<PushLayerCommand>(commands[i])) {
          pushes.push_back(i);
        } else if (std::holds_alternative<PopLayerCommand>(commands[i])) {
          if (pushes.empty()) continue;
          area.keep[i] = area.keep[pushes.back()];
          pushes.pop_back();
        } else if (const auto& e = now->extent[i]; e && touches(*e, r)) {
          area.keep[i] = true;
          // A solid fill covering all of the area draws every pixel of it alike.
          if (!now->clip_exact[i] && !flat_cover(commands[i], as_rect(r))) {
            if (now->row_exact[i]) {
              take_in_columns(e);
            } else {
              take_in(e);
            }
          }
          for (auto it = pushes.rbegin(); it != pushes.rend() && !area.keep[*it]; ++it) {
            area.keep[*it] = true;
            if (now->clip_exact[*it]) continue;
            if (now->row_exact[*it]) {
              take_in_columns(now->layer_extent[*it]);
            } else {
              take_in(now->layer_extent[*it]);
            }
          }
        }
      }
    }
    area.rect = r;
    plan.redraw.push_back(std::move(area));
  }
  return plan;
}

std::vector<bool> commands_touching(const Scene& scene, const PixelRect& area) {
  const auto& commands = scene.commands();
  std::vector<bool> keep(commands.size(), true);
  for (std::size_t i = 0; i < commands.size(); ++i) {
    const SceneCommand& cmd = commands[i];
    if (std::holds_alternative<PushLayerCommand>(cmd) || std::holds_alternative<PopLayerCommand>(cmd)) continue;
    const std::optional<Rect> e = std::visit(DeviceExtent{}, cmd);
    keep[i] = e.has_value() && touches(*e, area);
  }
  return keep;
}

}  // namespace vorn_ui::detail
