// The scene widgets draw into: a recorded list of fills, strokes, clip
// layers, images and text runs. Recording is cheap; a backend turns the list
// into pixels (see offscreen.h). Interface thread only.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <variant>
#include <vector>

#include "vorn_ui/color.h"
#include "vorn_ui/geometry.h"
#include "vorn_ui/image.h"

namespace vorn_ui {

class TextLayout;  // shaped text, owned by the text renderer's cache

struct RoundedRect {
  Rect rect;
  double radius = 0.0;  // the same on all four corners; clamped to half the shorter side
};

struct Circle {
  Point center;
  double radius = 0.0;
};

// A path of straight and cubic segments.
class Path {
 public:
  enum class Verb : std::uint8_t { MoveTo, LineTo, CubicTo, Close };
  struct Element {
    Verb verb;
    Point p[3];
  };

  Path& move_to(Point p);
  Path& line_to(Point p);
  Path& cubic_to(Point c1, Point c2, Point p);
  Path& close();
  const std::vector<Element>& elements() const { return m_elements; }
  bool empty() const { return m_elements.empty(); }

 private:
  std::vector<Element> m_elements;
};

using Shape = std::variant<Rect, RoundedRect, Circle, Path>;

struct GradientStop {
  float offset = 0.0f;
  Color color;
};

// A linear gradient between two points with two stops.
struct LinearGradient {
  Point start;
  Point end;
  GradientStop stops[2];
};

using Brush = std::variant<Color, LinearGradient>;

enum class FillRule : std::uint8_t { NonZero, EvenOdd };
enum class LineJoin : std::uint8_t { Miter, Round, Bevel };
enum class LineCap : std::uint8_t { Butt, Round, Square };
enum class BlendMode : std::uint8_t { Normal };

struct Stroke {
  double width = 1.0;
  LineJoin join = LineJoin::Round;
  LineCap cap = LineCap::Round;
  double miter_limit = 4.0;

  static Stroke with_width(double w) {
    Stroke s;
    s.width = w;
    return s;
  }
};

struct FillCommand {
  Shape shape;
  Brush brush;
  FillRule rule;
  Affine transform;
};
struct StrokeCommand {
  Shape shape;
  Brush brush;
  Stroke stroke;
  Affine transform;
};
struct PushLayerCommand {
  Shape clip;
  Affine transform;
  float alpha;
  BlendMode blend;
  // Set on a scroll container's layer: how far its content is scrolled
  // (logical pixels), so that two frames tell how far it moved.
  std::optional<Point> scroll_offset = std::nullopt;
};
struct PopLayerCommand {};
// An image placed by `image_transform` (image pixels to scene units), drawn
// through `transform`; with `clip` set it is clipped to that rounded
// rectangle (scene units before `transform`).
struct ImageCommand {
  ImageRef image;
  Affine image_transform;
  Affine transform;
  float alpha;
  std::optional<RoundedRect> clip;
};
struct TextCommand {
  std::shared_ptr<const TextLayout> layout;
  Point origin;  // top-left of the layout box
  Color color;
  Affine transform;
};

using SceneCommand =
    std::variant<FillCommand, StrokeCommand, PushLayerCommand, PopLayerCommand, ImageCommand, TextCommand>;

class Scene {
 public:
  void fill(FillRule rule, const Affine& transform, const Brush& brush, const Shape& shape);
  void stroke(const Stroke& stroke, const Affine& transform, const Brush& brush, const Shape& shape);
  // Everything drawn until the matching pop_layer is clipped to `clip`.
  void push_layer(BlendMode blend, float alpha, const Affine& transform, const Shape& clip);
  // The clip layer of a scroll container: its viewport, with its content
  // scrolled to `offset`.
  void push_scroll_layer(const Affine& transform, const Rect& viewport, Point offset);
  void pop_layer();
  void draw_image(const ImageRef& image, const Affine& image_transform, const Affine& transform,
                  float alpha = 1.0f);
  // An image clipped to a rounded rectangle in one step (covers, avatars).
  void draw_image_clipped(const ImageRef& image, const Affine& image_transform, const Affine& transform,
                          const RoundedRect& clip, float alpha = 1.0f);
  void draw_text_layout(std::shared_ptr<const TextLayout> layout, Point origin, Color color,
                        const Affine& transform);

  const std::vector<SceneCommand>& commands() const { return m_commands; }
  std::size_t layer_depth() const { return m_depth; }
  void reset();

 private:
  std::vector<SceneCommand> m_commands;
  std::size_t m_depth = 0;
};

}  // namespace vorn_ui
