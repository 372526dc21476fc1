#include "vorn_ui/offscreen.h"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>

#include "atomic_file/atomic_file.h"
#include "cairo_backend.h"
#include "scroll_blit.h"
#include "vorn_ui/widget.h"
#include "vorn_ui/widget/scrollable.h"

namespace vorn_ui::offscreen {

std::uint32_t RenderedImage::rgba_at(std::uint32_t x, std::uint32_t y) const {
  if (x >= width || y >= height) return 0;
  const std::uint8_t* p = &rgba[(std::size_t{y} * width + x) * 4];
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

struct OffscreenRenderer::Impl {
  std::unique_ptr<detail::CairoTarget> target;
  // The scene the picture shows, when render_frame drew it.
  std::optional<Scene> shown;
  Color shown_clear;
};

namespace {

// Calls `fn` on every widget of the tree, parents first, until it answers true.
template <class F>
bool any_widget(widget::Widget& w, F& fn) {
  if (fn(w)) return true;
  for (const auto& child : w.children())
    if (child && any_widget(*child, fn)) return true;
  return false;
}

}  // namespace

std::optional<ScrollBlit> scroll_only_change(widget::Widget& root) {
  widget::Scrollable* scrolled = nullptr;
  auto find = [&scrolled](widget::Widget& w) {
    auto* s = dynamic_cast<widget::Scrollable*>(&w);
    if (s == nullptr) return false;
    const Point moved = s->scroll_since_drawn();
    if (moved.x == 0 && moved.y == 0) return false;
    if (scrolled != nullptr) return true;  // a second one
    scrolled = s;
    return false;
  };
  if (any_widget(root, find) || scrolled == nullptr) return std::nullopt;
  // Anything else asking for a redraw (through the root, as for any frame),
  // the scrolled container's own state included, needs the whole picture. The
  // containers around it ask on its behalf too, so its scroll is left out
  // while asking.
  scrolled->set_pending_scroll_ignored(true);
  const bool other = root.needs_redraw();
  scrolled->set_pending_scroll_ignored(false);
  if (other) return std::nullopt;
  return ScrollBlit{scrolled->bounds(), scrolled->scroll_since_drawn()};
}

OffscreenRenderer::OffscreenRenderer(std::unique_ptr<Impl> impl) : m_impl(std::move(impl)) {}
OffscreenRenderer::~OffscreenRenderer() = default;
OffscreenRenderer::OffscreenRenderer(OffscreenRenderer&&) noexcept = default;
OffscreenRenderer& OffscreenRenderer::operator=(OffscreenRenderer&&) noexcept = default;

std::expected<OffscreenRenderer, RenderError> OffscreenRenderer::create(std::uint32_t width, std::uint32_t height) {
  auto target = detail::CairoTarget::create(width, height);
  if (!target)
    return std::unexpected(RenderError{RenderError::Kind::Surface,
                                       fmt::format("cannot create a {}x{} picture", width, height)});
  auto impl = std::make_unique<Impl>();
  impl->target = std::move(target);
  return OffscreenRenderer(std::move(impl));
}

std::expected<RenderedImage, RenderError> OffscreenRenderer::render_resilient(const Scene& scene, Color clear) {
  m_impl->shown.reset();
  m_impl->target->render(scene, clear, true);
  return RenderedImage{width(), height(), m_impl->target->read_rgba()};
}

void OffscreenRenderer::render_into(const Scene& scene, Color clear) {
  m_impl->shown.reset();
  m_impl->target->render(scene, clear, true);
}

bool OffscreenRenderer::render_frame(const Scene& scene, Color clear, const std::optional<ScrollBlit>& scroll) {
  Impl& m = *m_impl;
  std::optional<detail::ScrollBlitPlan> plan;
  if (scroll && m.shown && m.shown_clear == clear)
    plan = detail::plan_scroll_blit(*m.shown, scene, *scroll, width(), height());
  if (plan) {
    m.target->move_pixels(plan->moved, plan->dx, plan->dy);
    for (const auto& area : plan->redraw) m.target->render_area(scene, clear, area.rect, area.keep);
  } else {
    m.target->render(scene, clear, true);
  }
  if (m.shown) {
    *m.shown = scene;
  } else {
    m.shown.emplace(scene);
  }
  m.shown_clear = clear;
  return plan.has_value();
}

std::optional<OffscreenRenderer::PixelArea> OffscreenRenderer::render_frame_area(const Scene& scene, Color clear,
                                                                                 const Rect& area) {
  Impl& m = *m_impl;
  if (!m.shown || m.shown_clear != clear) {
    render_frame(scene, clear);
    return std::nullopt;
  }
  const auto clamp_to = [](double v, std::uint32_t limit) {
    return static_cast<int>(std::clamp(v, 0.0, static_cast<double>(limit)));
  };
  const detail::PixelRect pixels{clamp_to(std::floor(area.x0), width()), clamp_to(std::floor(area.y0), height()),
                                 clamp_to(std::ceil(area.x1), width()), clamp_to(std::ceil(area.y1), height())};
  // Commands that touch nothing in the area are left out.
  if (!pixels.empty()) m.target->render_area(scene, clear, pixels, detail::commands_touching(scene, pixels));
  *m.shown = scene;
  if (pixels.empty()) return PixelArea{};
  return PixelArea{static_cast<std::uint32_t>(pixels.x0), static_cast<std::uint32_t>(pixels.y0),
                   static_cast<std::uint32_t>(pixels.x1), static_cast<std::uint32_t>(pixels.y1)};
}

std::uint32_t OffscreenRenderer::width() const { return m_impl->target->width(); }
std::uint32_t OffscreenRenderer::height() const { return m_impl->target->height(); }
std::span<const std::uint8_t> OffscreenRenderer::argb32_pixels() const { return m_impl->target->argb32(); }
std::size_t OffscreenRenderer::stride() const { return m_impl->target->stride(); }

std::expected<std::vector<std::uint8_t>, RenderError> encode_png(std::uint32_t width, std::uint32_t height,
                                                                 std::span<const std::uint8_t> rgba) {
  if (width == 0 || height == 0 || rgba.size() / 4 < std::size_t{width} * height)
    return std::unexpected(RenderError{RenderError::Kind::Encode, "picture size does not match its pixels"});
  auto bytes = detail::encode_png_rgba(width, height, rgba);
  if (bytes.empty()) return std::unexpected(RenderError{RenderError::Kind::Encode, "png encoding failed"});
  return bytes;
}

std::expected<void, RenderError> write_file_atomically(const std::filesystem::path& path,
                                                       std::span<const std::uint8_t> bytes) {
  const std::string_view view(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  if (auto written = atomic_file::write_creating_parent(path, view); !written)
    return std::unexpected(
        RenderError{RenderError::Kind::Write, fmt::format("cannot write {}: {}", path.string(), written.error().message())});
  return {};
}

std::expected<RenderedImage, RenderError> render_widget(widget::Widget& root, std::uint32_t width,
                                                        std::uint32_t height, const Theme& theme) {
  auto renderer = OffscreenRenderer::create(width, height);
  if (!renderer) return std::unexpected(renderer.error());
  layout::LayoutTree tree;
  widget::NodeRegistry registry;
  widget::Environment env{theme, theme.scale, 1.0f};
  widget::LayoutContext lcx{tree, registry, env};
  TextRenderer text;
  const Size viewport{static_cast<double>(width), static_cast<double>(height)};
  auto nodes = widget::build_root_layout(root, lcx, viewport);
  if (!nodes) return std::unexpected(RenderError{RenderError::Kind::Layout, nodes.error().message});
  if (auto solved = widget::solve_root_layout(tree, *nodes, viewport, registry, text); !solved)
    return std::unexpected(RenderError{RenderError::Kind::Layout, solved.error().message});
  root.apply_layout(tree, nodes->root, Point{0, 0});
  Scene scene;
  widget::PermissionContext permissions;
  widget::DrawContext dcx{theme, text, permissions};
  widget::PresenceContext presence{Rect{0, 0, viewport.width, viewport.height}};
  root.draw_with_presence(scene, Affine::identity(), dcx, presence);
  return renderer->render_resilient(scene, theme.background);
}

std::expected<void, RenderError> write_widget_png(widget::Widget& root, std::uint32_t width, std::uint32_t height,
                                                  const Theme& theme, const std::filesystem::path& path) {
  auto image = render_widget(root, width, height, theme);
  if (!image) return std::unexpected(image.error());
  auto png = encode_png(image->width, image->height, image->rgba);
  if (!png) return std::unexpected(png.error());
  return write_file_atomically(path, *png);
}

}  // namespace vorn_ui::offscreen
