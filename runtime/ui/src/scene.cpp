#include "vorn_ui/scene.h"

namespace vorn_ui {

Path& Path::move_to(Point p) {
  m_elements.push_back({Verb::MoveTo, {p, {}, {}}});
  return *this;
}
Path& Path::line_to(Point p) {
  m_elements.push_back({Verb::LineTo, {p, {}, {}}});
  return *this;
}
Path& Path::cubic_to(Point c1, Point c2, Point p) {
  m_elements.push_back({Verb::CubicTo, {c1, c2, p}});
  return *this;
}
Path& Path::close() {
  m_elements.push_back({Verb::Close, {}});
  return *this;
}

void Scene::fill(FillRule rule, const Affine& transform, const Brush& brush, const Shape& shape) {
  m_commands.emplace_back(FillCommand{shape, brush, rule, transform});
}

void Scene::stroke(const Stroke& stroke, const Affine& transform, const Brush& brush, const Shape& shape) {
  m_commands.emplace_back(StrokeCommand{shape, brush, stroke, transform});
}

void Scene::push_layer(BlendMode blend, float alpha, const Affine& transform, const Shape& clip) {
  m_commands.emplace_back(PushLayerCommand{clip, transform, alpha, blend});
  ++m_depth;
}

void Scene::push_scroll_layer(const Affine& transform, const Rect& viewport, Point offset) {
  m_commands.emplace_back(PushLayerCommand{viewport, transform, 1.0f, BlendMode::Normal, offset});
  ++m_depth;
}

void Scene::pop_layer() {
  // An unbalanced pop is ignored so that a faulty widget cannot undo a parent's clip.
  if (m_depth == 0) return;
  m_commands.emplace_back(PopLayerCommand{});
  --m_depth;
}

void Scene::draw_image(const ImageRef& image, const Affine& image_transform, const Affine& transform, float alpha) {
  if (!image) return;
  m_commands.emplace_back(ImageCommand{image, image_transform, transform, alpha, std::nullopt});
}

void Scene::draw_image_clipped(const ImageRef& image, const Affine& image_transform, const Affine& transform,
                               const RoundedRect& clip, float alpha) {
  if (!image) return;
  m_commands.emplace_back(ImageCommand{image, image_transform, transform, alpha, clip});
}

void Scene::draw_text_layout(std::shared_ptr<const TextLayout> layout, Point origin, Color color,
                             const Affine& transform) {
  if (!layout) return;
  m_commands.emplace_back(TextCommand{std::move(layout), origin, color, transform});
}

void Scene::reset() {
  m_commands.clear();
  m_depth = 0;
}

}  // namespace vorn_ui
