// Points, sizes, rectangles and affine transforms in logical pixels.
// Plain values; any thread may use them.
#pragma once

#include <algorithm>
#include <cmath>

namespace vorn_ui {

struct Point {
  double x = 0.0;
  double y = 0.0;
  friend bool operator==(const Point&, const Point&) = default;
};

struct Size {
  double width = 0.0;
  double height = 0.0;
  friend bool operator==(const Size&, const Size&) = default;
};

// An axis-aligned rectangle: x0 <= x < x1, y0 <= y < y1.
struct Rect {
  double x0 = 0.0;
  double y0 = 0.0;
  double x1 = 0.0;
  double y1 = 0.0;

  static constexpr Rect from_origin_size(Point origin, Size size) {
    return {origin.x, origin.y, origin.x + size.width, origin.y + size.height};
  }
  constexpr double width() const { return x1 - x0; }
  constexpr double height() const { return y1 - y0; }
  constexpr double area() const { return width() * height(); }
  constexpr Point origin() const { return {x0, y0}; }
  constexpr Point center() const { return {(x0 + x1) / 2.0, (y0 + y1) / 2.0}; }
  // Half-open containment, the hit test every widget uses.
  constexpr bool contains(Point p) const { return p.x >= x0 && p.x < x1 && p.y >= y0 && p.y < y1; }
  // The overlap of two rectangles; an empty overlap has zero width or height.
  constexpr Rect intersect(const Rect& o) const {
    Rect r{std::max(x0, o.x0), std::max(y0, o.y0), std::min(x1, o.x1), std::min(y1, o.y1)};
    if (r.x1 < r.x0) r.x1 = r.x0;
    if (r.y1 < r.y0) r.y1 = r.y0;
    return r;
  }
  constexpr Rect translated(double dx, double dy) const { return {x0 + dx, y0 + dy, x1 + dx, y1 + dy}; }
  constexpr Rect inset(double d) const { return {x0 + d, y0 + d, x1 - d, y1 - d}; }
  friend bool operator==(const Rect&, const Rect&) = default;
};

// 2-D affine transform [a b c d e f]: x' = a x + c y + e, y' = b x + d y + f.
struct Affine {
  double a = 1.0, b = 0.0, c = 0.0, d = 1.0, e = 0.0, f = 0.0;

  static constexpr Affine identity() { return {}; }
  static constexpr Affine translate(double x, double y) { return {1, 0, 0, 1, x, y}; }
  static constexpr Affine scale(double s) { return {s, 0, 0, s, 0, 0}; }
  static constexpr Affine scale_xy(double sx, double sy) { return {sx, 0, 0, sy, 0, 0}; }
  // this * o: applies o first, then this.
  constexpr Affine operator*(const Affine& o) const {
    return {a * o.a + c * o.b,     b * o.a + d * o.b,     a * o.c + c * o.d,
            b * o.c + d * o.d,     a * o.e + c * o.f + e, b * o.e + d * o.f + f};
  }
  constexpr Point apply(Point p) const { return {a * p.x + c * p.y + e, b * p.x + d * p.y + f}; }
  constexpr bool is_identity() const { return a == 1 && b == 0 && c == 0 && d == 1 && e == 0 && f == 0; }
  friend bool operator==(const Affine&, const Affine&) = default;
};

}  // namespace vorn_ui
