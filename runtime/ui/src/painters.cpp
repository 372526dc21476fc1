#include "vorn_ui/painters.h"

#include "fnv1a.h"

#include <algorithm>
#include <cmath>

namespace vorn_ui {
namespace {

using detail::fnv1a;

Color hsl(float h, float s, float l) {
  const float c = (1 - std::abs(2 * l - 1)) * s;
  const float hp = std::fmod(h, 360.0f) / 60.0f;
  const float x = c * (1 - std::abs(std::fmod(hp, 2.0f) - 1));
  float r = 0, g = 0, b = 0;
  switch (static_cast<int>(hp)) {
    case 0: r = c, g = x; break;
    case 1: r = x, g = c; break;
    case 2: g = c, b = x; break;
    case 3: g = x, b = c; break;
    case 4: r = x, b = c; break;
    default: r = c, b = x; break;
  }
  const float m = l - c / 2;
  return {r + m, g + m, b + m, 1.0f};
}

}  // namespace

Color Avatar::color_for_initials(std::string_view initials, const Theme& theme) {
  const float hue = static_cast<float>(fnv1a(initials) % 360);
  const float lightness = theme.kind == Theme::Kind::Light ? 0.42f : 0.38f;
  return hsl(hue, 0.45f, lightness);
}

void Avatar::draw_at(Scene& scene, const Affine& transform, const Rect& bounds, std::string_view initials,
                     Color color, const Theme& theme, TextRenderer& text) {
  const double w = bounds.width(), h = bounds.height();
  if (!(w > 0) || !(h > 0)) return;
  const double r = std::min(w, h) / 2.0;
  const Point c = bounds.center();
  scene.fill(FillRule::NonZero, transform, color, Circle{c, r});
  if (initials.empty()) return;
  TextStyle style = TextStyle::sized(static_cast<float>(std::max(6.0, r * 0.8)));
  style.weight = FontWeight::Semibold;
  style.line_height = 1.0f;
  const Size size = text.measure_style(initials, style);
  text.draw_style(scene, transform, initials, style, theme.avatar_text,
                  Point{c.x - size.width / 2.0, c.y - size.height / 2.0});
}

void Toggle::paint(Scene& scene, const Affine& transform, const Theme& theme, const ToggleState& st) {
  const Rect& b = st.bounds;
  if (!(b.width() > 0) || !(b.height() > 0)) return;
  const double radius = b.height() / 2.0;
  Color track = st.on ? theme.accent : theme.control_hover;
  if (st.hovered && !st.disabled) track = st.on ? theme.accent.multiply_alpha(0.85f) : theme.border;
  if (st.disabled) track = track.multiply_alpha(0.5f);
  scene.fill(FillRule::NonZero, transform, track, RoundedRect{b, radius});
  if (!st.on) scene.stroke(Stroke::with_width(1.0), transform, theme.border, RoundedRect{b.inset(0.5), radius - 0.5});
  const double knob_r = radius - 3.0;
  const double cx = st.on ? b.x1 - radius : b.x0 + radius;
  Color knob = st.on ? Color::white() : theme.text;
  if (st.disabled) knob = knob.multiply_alpha(0.6f);
  if (knob_r > 0) scene.fill(FillRule::NonZero, transform, knob, Circle{{cx, b.y0 + radius}, knob_r});
  if (st.focused)
    scene.stroke(Stroke::with_width(2.0), transform, theme.focus_ring, RoundedRect{b.inset(-2.5), radius + 2.5});
}

AccessNode toggle_accessibility(bool on, bool focused, std::optional<std::string> label, bool enabled, Rect bounds) {
  AccessNode node = AccessNode(Role::Switch, bounds).with_optional_name(std::move(label));
  node.toggled = on;
  node.focusable = true;
  node.focused = focused;
  node.enabled = enabled;
  return node;
}

void paint_image_cover(Scene& scene, const Affine& transform, const Rect& bounds, double radius,
                       const ImageRef& image) {
  if (!image) return;
  const double w = bounds.width(), h = bounds.height();
  if (!(w > 0) || !(h > 0)) return;
  const double iw = std::max<double>(image->width(), 1), ih = std::max<double>(image->height(), 1);
  const double s = std::max(w / iw, h / ih);
  const double ox = bounds.x0 + (w - iw * s) / 2.0, oy = bounds.y0 + (h - ih * s) / 2.0;
  scene.draw_image_clipped(image, Affine::translate(ox, oy) * Affine::scale(s), transform, RoundedRect{bounds, radius});
}

}  // namespace vorn_ui
