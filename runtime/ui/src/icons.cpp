#include "vorn_ui/icons.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <numbers>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace vorn_ui::icons {
namespace {

enum class Paint : std::uint8_t { Stroke, Fill, Both };

struct Prim {
  Paint paint;
  Shape shape;
};

// Parses "M x y L x y C x1 y1 x2 y2 x y Z" (absolute commands only).
Path parse(std::string_view d) {
  Path p;
  std::size_t i = 0;
  auto skip = [&] {
    while (i < d.size() && (d[i] == ' ' || d[i] == ',')) ++i;
  };
  auto number = [&]() -> double {
    skip();
    double v = 0;
    auto [ptr, ec] = std::from_chars(d.data() + i, d.data() + d.size(), v);
    (void)ec;
    i = static_cast<std::size_t>(ptr - d.data());
    return v;
  };
  auto point = [&]() -> Point {
    double x = number();
    double y = number();
    return {x, y};
  };
  char cmd = 'M';
  while (true) {
    skip();
    if (i >= d.size()) break;
    if (std::isalpha(static_cast<unsigned char>(d[i]))) cmd = d[i++];
    switch (cmd) {
      case 'M':
        p.move_to(point());
        cmd = 'L';
        break;
      case 'L':
        p.line_to(point());
        break;
      case 'C': {
        Point a = point(), b = point(), c = point();
        p.cubic_to(a, b, c);
        break;
      }
      case 'Z':
        p.close();
        break;
      default:
        return p;
    }
  }
  return p;
}

Prim stroke(std::string_view d) { return {Paint::Stroke, parse(d)}; }
Prim both(std::string_view d) { return {Paint::Both, parse(d)}; }
Prim circle(double x, double y, double r, Paint paint = Paint::Stroke) { return {paint, Circle{{x, y}, r}}; }
Prim rrect(double x0, double y0, double x1, double y1, double r, Paint paint = Paint::Stroke) {
  return {paint, RoundedRect{Rect{x0, y0, x1, y1}, r}};
}

std::vector<Prim> gear() {
  std::vector<Prim> out{circle(12, 12, 3), circle(12, 12, 7)};
  for (int k = 0; k < 8; ++k) {
    const double a = k * std::numbers::pi / 4;
    const double c = std::cos(a), s = std::sin(a);
    Path p;
    p.move_to({12 + 7 * c, 12 + 7 * s}).line_to({12 + 9.5 * c, 12 + 9.5 * s});
    out.push_back({Paint::Stroke, p});
  }
  return out;
}

const std::unordered_map<std::uint16_t, std::vector<Prim>>& table() {
  static const std::unordered_map<std::uint16_t, std::vector<Prim>> icons = {
      {code(Icon::User), {circle(12, 8, 4), stroke("M4 21 C4 16.5 7.5 14 12 14 C16.5 14 20 16.5 20 21")}},
      {code(Icon::Devices), {rrect(2, 4, 15, 14, 2), stroke("M5 18 L12 18"), stroke("M8.5 14 L8.5 18"), rrect(17, 8, 22, 20, 1.5)}},
      {code(Icon::Monitor), {rrect(2, 4, 22, 16, 2), stroke("M8 20 L16 20"), stroke("M12 16 L12 20")}},
      {code(Icon::Key), {circle(7.5, 15.5, 4.5), stroke("M10.7 12.3 L21 2"), stroke("M16 7 L19 10"), stroke("M18.5 4.5 L21 7")}},
      {code(Icon::Search), {circle(11, 11, 7), stroke("M16.2 16.2 L21 21")}},
      {code(Icon::Settings), gear()},
      {code(Icon::Home), {stroke("M3 10.5 L12 3 L21 10.5"), stroke("M5 9 L5 21 L19 21 L19 9"), stroke("M10 21 L10 15 L14 15 L14 21")}},
      {code(Icon::ArrowLeft), {stroke("M19 12 L5 12"), stroke("M11 6 L5 12 L11 18")}},
      {code(Icon::ArrowUpRight), {stroke("M7 17 L17 7"), stroke("M8 7 L17 7 L17 16")}},
      {code(Icon::Verified), {circle(12, 12, 9), stroke("M8 12.5 L11 15.5 L16.5 9.5")}},
      {code(Icon::Trending),
       {stroke("M12 3 C12 7 17 9 17 14 C17 17.5 14.8 21 12 21 C9.2 21 7 18.5 7 15.5 C7 12.5 9 11 10 9 C10.5 11 11.5 12 "
               "12.5 12 C12.5 9 12 6 12 3 Z")}},
      {code(Icon::Subscriptions), {stroke("M6 3 L18 3"), stroke("M4.5 5.5 L19.5 5.5"), rrect(3, 8, 21, 21, 2), both("M10 11.5 L15 14.5 L10 17.5 Z")}},
      {code(Icon::History), {circle(12, 12, 9), stroke("M12 7 L12 12 L15.5 14")}},
      {code(Icon::Heart),
       {stroke("M12 20.5 C12 20.5 3 15 3 9 C3 6 5.2 4 7.8 4 C9.6 4 11.1 5 12 6.5 C12.9 5 14.4 4 16.2 4 C18.8 4 21 6 21 9 "
               "C21 15 12 20.5 12 20.5 Z")}},
      {code(Icon::ThumbsDown),
       {stroke("M17 14 L13 21 C11.5 21 10.5 20 10.8 18.5 L11.5 15 L5.5 15 C4 15 3 13.7 3.3 12.3 L4.8 5.3 C5.1 4 6 3 7.4 3 "
               "L17 3 Z"),
        stroke("M17 3 L21 3 L21 14 L17 14")}},
      {code(Icon::List),
       {stroke("M8 6 L21 6"), stroke("M8 12 L21 12"), stroke("M8 18 L21 18"), circle(3.5, 6, 1.2, Paint::Fill),
        circle(3.5, 12, 1.2, Paint::Fill), circle(3.5, 18, 1.2, Paint::Fill)}},
      {code(Icon::Inbox), {rrect(3, 4, 21, 20, 2), stroke("M3 13 L7.5 13 L9.5 16 L14.5 16 L16.5 13 L21 13")}},
      {code(Icon::Menu), {stroke("M4 6 L20 6"), stroke("M4 12 L20 12"), stroke("M4 18 L20 18")}},
      {code(Icon::Check), {stroke("M5 12.5 L10 17.5 L19 7")}},
      {code(Icon::Play), {both("M8 5 L19 12 L8 19 Z")}},
      {code(Icon::Pause), {rrect(6, 5, 10, 19, 1, Paint::Both), rrect(14, 5, 18, 19, 1, Paint::Both)}},
      {code(Icon::Volume),
       {both("M11 5 L6 9 L3 9 L3 15 L6 15 L11 19 Z"), stroke("M15.5 8.5 C16.5 9.5 17 10.7 17 12 C17 13.3 16.5 14.5 15.5 15.5"),
        stroke("M18.5 5.5 C20.2 7.2 21 9.5 21 12 C21 14.5 20.2 16.8 18.5 18.5")}},
      {code(Icon::VolumeMuted), {both("M11 5 L6 9 L3 9 L3 15 L6 15 L11 19 Z"), stroke("M16 9 L22 15"), stroke("M22 9 L16 15")}},
      {code(Icon::Trash),
       {stroke("M4 7 L20 7"), stroke("M10 3 L14 3"), stroke("M6 7 L7 20 C7 20.6 7.4 21 8 21 L16 21 C16.6 21 17 20.6 17 20 L18 7"),
        stroke("M10 11 L10 17"), stroke("M14 11 L14 17")}},
      {code(Icon::Fullscreen),
       {stroke("M3 9 L3 3 L9 3"), stroke("M15 3 L21 3 L21 9"), stroke("M21 15 L21 21 L15 21"), stroke("M9 21 L3 21 L3 15")}},
      {code(Icon::FullscreenExit),
       {stroke("M9 3 L9 9 L3 9"), stroke("M15 3 L15 9 L21 9"), stroke("M21 15 L15 15 L15 21"), stroke("M3 15 L9 15 L9 21")}},
      {code(Icon::SkipBack), {both("M19 5 L9 12 L19 19 Z"), stroke("M5 5 L5 19")}},
      {code(Icon::Close), {stroke("M6 6 L18 18"), stroke("M18 6 L6 18")}},
      {code(Icon::ChevronDown), {stroke("M6 9 L12 15 L18 9")}},
      {code(Icon::ChevronRight), {stroke("M9 6 L15 12 L9 18")}},
      {code(Icon::Captions),
       {rrect(3, 5, 21, 19, 2), stroke("M10.5 10 C9.5 9.3 7 9.5 7 12 C7 14.5 9.5 14.7 10.5 14"),
        stroke("M17 10 C16 9.3 13.5 9.5 13.5 12 C13.5 14.5 16 14.7 17 14")}},
      {code(Icon::SkipForward), {both("M5 5 L15 12 L5 19 Z"), stroke("M19 5 L19 19")}},
  };
  return icons;
}

}  // namespace

bool has_icon(std::uint16_t icon) { return table().contains(icon); }

std::span<const std::uint16_t> all_icons() {
  static const std::vector<std::uint16_t> ids = [] {
    std::vector<std::uint16_t> v;
    for (const auto& [id, prims] : table()) v.push_back(id);
    std::sort(v.begin(), v.end());
    return v;
  }();
  return ids;
}

void draw_icon(Scene& scene, const Affine& transform, std::uint16_t icon, Point top_left, double size, Color color,
               double stroke_width) {
  auto it = table().find(icon);
  if (it == table().end() || !(size > 0)) return;
  const Affine t = transform * Affine::translate(top_left.x, top_left.y) * Affine::scale(size / 24.0);
  // Strokes are given in the 24-unit grid of the glyph: a glyph drawn at
  // 12 px has lines half as thick as at 24 px.
  Stroke st = Stroke::with_width(stroke_width > 0 ? stroke_width : 1.5);
  st.join = LineJoin::Round;
  st.cap = LineCap::Round;
  for (const Prim& p : it->second) {
    if (p.paint != Paint::Stroke) scene.fill(FillRule::NonZero, t, color, p.shape);
    if (p.paint != Paint::Fill) scene.stroke(st, t, color, p.shape);
  }
}

}  // namespace vorn_ui::icons
