// Scene backend over Cairo. The only file that draws with Cairo.
#include <cairo.h>

#include <cmath>
#include <cstring>
#include <map>
#include <numbers>
#include <tuple>
#include <vector>

#include "cairo_backend.h"
#include "text_backend.h"

namespace vorn_ui::detail {
namespace {

void set_matrix(cairo_t* cr, const Affine& t) {
  cairo_matrix_t m;
  cairo_matrix_init(&m, t.a, t.b, t.c, t.d, t.e, t.f);
  cairo_set_matrix(cr, &m);
}

bool finite(double v) { return std::isfinite(v); }
bool finite_rect(const Rect& r) { return finite(r.x0) && finite(r.y0) && finite(r.x1) && finite(r.y1); }

void rounded_rect_path(cairo_t* cr, const Rect& r, double radius) {
  const double w = r.width(), h = r.height();
  double rad = std::max(0.0, std::min(radius, std::min(std::abs(w), std::abs(h)) / 2.0));
  if (rad <= 0) {
    cairo_rectangle(cr, r.x0, r.y0, w, h);
    return;
  }
  constexpr double pi = std::numbers::pi;
  cairo_new_sub_path(cr);
  cairo_arc(cr, r.x1 - rad, r.y0 + rad, rad, -pi / 2, 0);
  cairo_arc(cr, r.x1 - rad, r.y1 - rad, rad, 0, pi / 2);
  cairo_arc(cr, r.x0 + rad, r.y1 - rad, rad, pi / 2, pi);
  cairo_arc(cr, r.x0 + rad, r.y0 + rad, rad, pi, 3 * pi / 2);
  cairo_close_path(cr);
}

// Adds the shape to the current path; false when it cannot be drawn.
bool shape_path(cairo_t* cr, const Shape& shape) {
  cairo_new_path(cr);
  if (auto* r = std::get_if<Rect>(&shape)) {
    if (!finite_rect(*r)) return false;
    cairo_rectangle(cr, r->x0, r->y0, r->width(), r->height());
  } else if (auto* rr = std::get_if<RoundedRect>(&shape)) {
    if (!finite_rect(rr->rect) || !finite(rr->radius)) return false;
    rounded_rect_path(cr, rr->rect, rr->radius);
  } else if (auto* c = std::get_if<Circle>(&shape)) {
    if (!finite(c->center.x) || !finite(c->center.y) || !finite(c->radius) || c->radius < 0) return false;
    cairo_new_sub_path(cr);
    cairo_arc(cr, c->center.x, c->center.y, c->radius, 0, 2 * std::numbers::pi);
    cairo_close_path(cr);
  } else if (auto* p = std::get_if<Path>(&shape)) {
    for (const auto& el : p->elements()) {
      for (const Point& pt : el.p)
        if (!finite(pt.x) || !finite(pt.y)) return false;
      switch (el.verb) {
        case Path::Verb::MoveTo:
          cairo_move_to(cr, el.p[0].x, el.p[0].y);
          break;
        case Path::Verb::LineTo:
          cairo_line_to(cr, el.p[0].x, el.p[0].y);
          break;
        case Path::Verb::CubicTo:
          cairo_curve_to(cr, el.p[0].x, el.p[0].y, el.p[1].x, el.p[1].y, el.p[2].x, el.p[2].y);
          break;
        case Path::Verb::Close:
          cairo_close_path(cr);
          break;
      }
    }
  }
  return true;
}

// Sets the brush as the source; the returned pattern (if any) must be destroyed.
cairo_pattern_t* set_brush(cairo_t* cr, const Brush& brush) {
  if (auto* c = std::get_if<Color>(&brush)) {
    cairo_set_source_rgba(cr, c->r, c->g, c->b, c->a);
    return nullptr;
  }
  const auto& g = std::get<LinearGradient>(brush);
  cairo_pattern_t* pat = cairo_pattern_create_linear(g.start.x, g.start.y, g.end.x, g.end.y);
  for (const auto& stop : g.stops)
    cairo_pattern_add_color_stop_rgba(pat, stop.offset, stop.color.r, stop.color.g, stop.color.b, stop.color.a);
  cairo_set_source(cr, pat);
  return pat;
}

cairo_surface_t* wrap_image(const Image& image) {
  // Cairo only reads from a source surface; the pixels stay owned by the image.
  auto* data = reinterpret_cast<unsigned char*>(const_cast<std::uint32_t*>(image.data()));
  // An opaque picture is given without its alpha bytes: Cairo then copies it where
  // it would blend.
  return cairo_image_surface_create_for_data(data, image.opaque() ? CAIRO_FORMAT_RGB24 : CAIRO_FORMAT_ARGB32,
                                             static_cast<int>(image.width()),
                                             static_cast<int>(image.height()), static_cast<int>(image.stride()));
}

// Pictures already scaled and clipped to their rounded frame, keyed by the
// source picture and the frame's size in device pixels, so that scrolling a
// page of thumbnails blits instead of resampling.
struct CoverKey {
  const Image* image;
  int width, height;
  long radius_q, off_x_q, off_y_q, scale_x_q, scale_y_q;
  auto tie() const { return std::tie(image, width, height, radius_q, off_x_q, off_y_q, scale_x_q, scale_y_q); }
  bool operator<(const CoverKey& o) const { return tie() < o.tie(); }
};

struct CoverEntry {
  ImageRef keep;  // keeps the key's pointer valid
  cairo_surface_t* surface;
  std::uint64_t last_used;
};

class CairoTargetImpl final : public CairoTarget {
 public:
  CairoTargetImpl(cairo_surface_t* surface, std::uint32_t w, std::uint32_t h) : m_surface(surface), m_w(w), m_h(h) {}
  ~CairoTargetImpl() override {
    for (auto& [k, e] : m_covers) cairo_surface_destroy(e.surface);
    cairo_surface_destroy(m_surface);
  }

  std::uint32_t width() const override { return m_w; }
  std::span<const std::uint8_t> argb32() const override {
    return {cairo_image_surface_get_data(m_surface), stride() * m_h};
  }
  std::size_t stride() const override { return static_cast<std::size_t>(cairo_image_surface_get_stride(m_surface)); }
  std::uint32_t height() const override { return m_h; }

  void render(const Scene& scene, Color clear, bool clear_first) override {
    cairo_t* cr = cairo_create(m_surface);
    if (clear_first) paint_clear(cr, clear);
    replay(cr, scene, nullptr);
  }

  void move_pixels(const PixelRect& to, int dx, int dy) override {
    const PixelRect from = to.translated(-dx, -dy);
    const PixelRect all{0, 0, static_cast<int>(m_w), static_cast<int>(m_h)};
    if (to.empty() || to.intersect(all) != to || from.intersect(all) != from) return;
    cairo_surface_flush(m_surface);
    unsigned char* data = cairo_image_surface_get_data(m_surface);
    const std::size_t row_stride = stride();
    const std::size_t bytes = static_cast<std::size_t>(to.x1 - to.x0) * 4;
    auto row = [&](int y) {
      std::memmove(data + static_cast<std::size_t>(y) * row_stride + static_cast<std::size_t>(to.x0) * 4,
                   data + static_cast<std::size_t>(y - dy) * row_stride + static_cast<std::size_t>(from.x0) * 4,
                   bytes);
    };
    // Rows go in the order that reads each source row before it is overwritten.
    if (dy > 0) {
      for (int y = to.y1 - 1; y >= to.y0; --y) row(y);
    } else {
      for (int y = to.y0; y < to.y1; ++y) row(y);
    }
    cairo_surface_mark_dirty(m_surface);
  }

  void render_area(const Scene& scene, Color clear, const PixelRect& area, const std::vector<bool>& keep) override {
    if (area.empty()) return;
    cairo_t* cr = cairo_create(m_surface);
    cairo_rectangle(cr, area.x0, area.y0, area.x1 - area.x0, area.y1 - area.y0);
    cairo_clip(cr);
    paint_clear(cr, clear);
    replay(cr, scene, &keep);
  }

 private:
  static void paint_clear(cairo_t* cr, Color clear) {
    cairo_save(cr);
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    cairo_set_source_rgba(cr, clear.r, clear.g, clear.b, clear.a);
    cairo_paint(cr);
    cairo_restore(cr);
  }

  // Draws the scene's commands and destroys `cr`; with `keep`, commands whose
  // entry is false are left out.
  void replay(cairo_t* cr, const Scene& scene, const std::vector<bool>* keep) {
    ++m_frame;
    m_alpha.clear();
    std::vector<bool> groups;  // per open layer: whether it was pushed as a group
    const auto& commands = scene.commands();
    for (std::size_t i = 0; i < commands.size(); ++i) {
      if (keep && i < keep->size() && !(*keep)[i]) continue;
      std::visit([&](const auto& c) { draw(cr, c, groups); }, commands[i]);
    }
    while (!groups.empty()) {  // close layers a widget left open
      if (groups.back()) {
        cairo_pop_group_to_source(cr);
        cairo_paint_with_alpha(cr, m_alpha.empty() ? 1.0 : m_alpha.back());
      }
      cairo_restore(cr);
      groups.pop_back();
      if (!m_alpha.empty()) m_alpha.pop_back();
    }
    cairo_destroy(cr);
    cairo_surface_flush(m_surface);
    trim_covers();
  }

 public:
  std::vector<std::uint8_t> read_rgba() const override {
    std::vector<std::uint8_t> out(std::size_t{m_w} * m_h * 4);
    const unsigned char* data = cairo_image_surface_get_data(m_surface);
    const int stride = cairo_image_surface_get_stride(m_surface);
    for (std::uint32_t y = 0; y < m_h; ++y) {
      const auto* row = reinterpret_cast<const std::uint32_t*>(data + static_cast<std::size_t>(y) * stride);
      for (std::uint32_t x = 0; x < m_w; ++x) {
        const std::uint32_t px = row[x];
        const std::uint32_t a = px >> 24;
        auto un = [a](std::uint32_t c) -> std::uint8_t {
          return a == 0 ? 0 : static_cast<std::uint8_t>(std::min<std::uint32_t>(255, (c * 255 + a / 2) / a));
        };
        std::uint8_t* o = &out[(std::size_t{y} * m_w + x) * 4];
        o[0] = un((px >> 16) & 0xff);
        o[1] = un((px >> 8) & 0xff);
        o[2] = un(px & 0xff);
        o[3] = static_cast<std::uint8_t>(a);
      }
    }
    return out;
  }

 private:
  void draw(cairo_t* cr, const FillCommand& c, std::vector<bool>&) {
    set_matrix(cr, c.transform);
    if (!shape_path(cr, c.shape)) return;
    cairo_set_fill_rule(cr, c.rule == FillRule::EvenOdd ? CAIRO_FILL_RULE_EVEN_ODD : CAIRO_FILL_RULE_WINDING);
    cairo_pattern_t* pat = set_brush(cr, c.brush);
    cairo_fill(cr);
    if (pat) cairo_pattern_destroy(pat);
  }

  void draw(cairo_t* cr, const StrokeCommand& c, std::vector<bool>&) {
    if (!(c.stroke.width > 0) || !finite(c.stroke.width)) return;
    set_matrix(cr, c.transform);
    if (!shape_path(cr, c.shape)) return;
    cairo_set_line_width(cr, c.stroke.width);
    cairo_set_line_join(cr, c.stroke.join == LineJoin::Round   ? CAIRO_LINE_JOIN_ROUND
                            : c.stroke.join == LineJoin::Bevel ? CAIRO_LINE_JOIN_BEVEL
                                                               : CAIRO_LINE_JOIN_MITER);
    cairo_set_line_cap(cr, c.stroke.cap == LineCap::Round    ? CAIRO_LINE_CAP_ROUND
                           : c.stroke.cap == LineCap::Square ? CAIRO_LINE_CAP_SQUARE
                                                             : CAIRO_LINE_CAP_BUTT);
    cairo_set_miter_limit(cr, c.stroke.miter_limit);
    cairo_pattern_t* pat = set_brush(cr, c.brush);
    cairo_stroke(cr);
    if (pat) cairo_pattern_destroy(pat);
  }

  void draw(cairo_t* cr, const PushLayerCommand& c, std::vector<bool>& groups) {
    cairo_save(cr);
    set_matrix(cr, c.transform);
    if (shape_path(cr, c.clip)) {
      cairo_clip(cr);
    } else {
      cairo_new_path(cr);
      cairo_rectangle(cr, 0, 0, 0, 0);
      cairo_clip(cr);
    }
    const bool group = c.alpha < 1.0f;
    if (group) cairo_push_group(cr);
    groups.push_back(group);
    (void)c.blend;
    m_alpha.push_back(c.alpha);
  }

  void draw(cairo_t* cr, const PopLayerCommand&, std::vector<bool>& groups) {
    if (groups.empty()) return;
    if (groups.back()) {
      cairo_pop_group_to_source(cr);
      cairo_paint_with_alpha(cr, m_alpha.back());
    }
    cairo_restore(cr);
    groups.pop_back();
    m_alpha.pop_back();
  }

  void draw(cairo_t* cr, const ImageCommand& c, std::vector<bool>&) {
    const Image& img = *c.image;
    if (img.width() == 0 || img.height() == 0) return;
    const Affine full = c.transform * c.image_transform;
    if (c.clip && try_cached_cover(cr, c, full)) return;
    cairo_save(cr);
    if (c.clip) {
      set_matrix(cr, c.transform);
      cairo_new_path(cr);
      rounded_rect_path(cr, c.clip->rect, c.clip->radius);
      cairo_clip(cr);
    }
    set_matrix(cr, full);
    cairo_surface_t* src = wrap_image(img);
    cairo_set_source_surface(cr, src, 0, 0);
    cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_GOOD);
    cairo_new_path(cr);
    cairo_rectangle(cr, 0, 0, img.width(), img.height());
    cairo_clip(cr);
    cairo_paint_with_alpha(cr, c.alpha);
    cairo_restore(cr);
    cairo_surface_destroy(src);
  }

  // Draws an axis-aligned clipped cover from the cache; false when the
  // transform is not a plain scale and translation.
  bool try_cached_cover(cairo_t* cr, const ImageCommand& c, const Affine& full) {
    const Affine& t = c.transform;
    if (t.b != 0 || t.c != 0 || full.b != 0 || full.c != 0 || t.a <= 0 || t.d <= 0) return false;
    const Rect& clip = c.clip->rect;
    const double dx0 = t.a * clip.x0 + t.e, dy0 = t.d * clip.y0 + t.f;
    const double dw = t.a * clip.width(), dh = t.d * clip.height();
    const double ix = std::round(dx0), iy = std::round(dy0);
    if (std::abs(ix - dx0) > 1e-6 || std::abs(iy - dy0) > 1e-6) return false;
    const int w = static_cast<int>(std::ceil(dw - 1e-6)), h = static_cast<int>(std::ceil(dh - 1e-6));
    if (w <= 0 || h <= 0 || w > 8192 || h > 8192) return true;  // nothing visible, or too large to cache
    auto q = [](double v) { return std::lround(v * 64.0); };
    CoverKey key{c.image.get(), w,         h,         q(c.clip->radius * t.a), q(full.e - dx0),
                 q(full.f - dy0), q(full.a), q(full.d)};
    auto it = m_covers.find(key);
    if (it == m_covers.end()) {
      cairo_surface_t* surf = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
      cairo_t* sc = cairo_create(surf);
      cairo_new_path(sc);
      rounded_rect_path(sc, Rect{0, 0, dw, dh}, c.clip->radius * t.a);
      cairo_clip(sc);
      Affine local = Affine::translate(-dx0, -dy0) * full;
      set_matrix(sc, local);
      cairo_surface_t* src = wrap_image(*c.image);
      cairo_set_source_surface(sc, src, 0, 0);
      cairo_pattern_set_filter(cairo_get_source(sc), CAIRO_FILTER_GOOD);
      cairo_pattern_set_extend(cairo_get_source(sc), CAIRO_EXTEND_PAD);
      cairo_paint(sc);
      cairo_destroy(sc);
      cairo_surface_destroy(src);
      cairo_surface_flush(surf);
      it = m_covers.emplace(key, CoverEntry{c.image, surf, m_frame}).first;
    }
    it->second.last_used = m_frame;
    cairo_save(cr);
    cairo_identity_matrix(cr);
    cairo_set_source_surface(cr, it->second.surface, ix, iy);
    cairo_new_path(cr);
    cairo_rectangle(cr, ix, iy, w, h);
    if (c.alpha < 1.0f) {
      cairo_clip(cr);
      cairo_paint_with_alpha(cr, c.alpha);
    } else {
      cairo_fill(cr);
    }
    cairo_restore(cr);
    return true;
  }

  void draw(cairo_t* cr, const TextCommand& c, std::vector<bool>&) {
    set_matrix(cr, c.transform);
    cairo_set_source_rgba(cr, c.color.r, c.color.g, c.color.b, c.color.a);
    cairo_new_path(cr);
    cairo_move_to(cr, c.origin.x, c.origin.y);
    show_text_layout(*c.layout, cr);
    cairo_new_path(cr);
  }

  void trim_covers() {
    // Covers not used in the last few frames go once the cache grows large.
    if (m_covers.size() <= 256) return;
    for (auto it = m_covers.begin(); it != m_covers.end();) {
      if (it->second.last_used + 2 < m_frame) {
        cairo_surface_destroy(it->second.surface);
        it = m_covers.erase(it);
      } else {
        ++it;
      }
    }
  }

  cairo_surface_t* m_surface;
  std::uint32_t m_w, m_h;
  std::uint64_t m_frame = 0;
  std::vector<float> m_alpha;
  std::map<CoverKey, CoverEntry> m_covers;
};

cairo_status_t append_bytes(void* closure, const unsigned char* data, unsigned int length) {
  auto* out = static_cast<std::vector<std::uint8_t>*>(closure);
  out->insert(out->end(), data, data + length);
  return CAIRO_STATUS_SUCCESS;
}

}  // namespace

std::unique_ptr<CairoTarget> CairoTarget::create(std::uint32_t width, std::uint32_t height) {
  if (width == 0 || height == 0 || width > 32767 || height > 32767) return nullptr;
  cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, static_cast<int>(width), static_cast<int>(height));
  if (cairo_surface_status(s) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(s);
    return nullptr;
  }
  return std::make_unique<CairoTargetImpl>(s, width, height);
}

std::vector<std::uint8_t> encode_png_rgba(std::uint32_t width, std::uint32_t height,
                                          std::span<const std::uint8_t> rgba) {
  if (width == 0 || height == 0 || rgba.size() / 4 < std::size_t{width} * height) return {};
  cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, static_cast<int>(width), static_cast<int>(height));
  if (cairo_surface_status(s) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(s);
    return {};
  }
  cairo_surface_flush(s);
  unsigned char* data = cairo_image_surface_get_data(s);
  const int stride = cairo_image_surface_get_stride(s);
  for (std::uint32_t y = 0; y < height; ++y) {
    auto* row = reinterpret_cast<std::uint32_t*>(data + static_cast<std::size_t>(y) * stride);
    for (std::uint32_t x = 0; x < width; ++x) {
      const std::uint8_t* p = &rgba[(std::size_t{y} * width + x) * 4];
      const std::uint32_t a = p[3];
      auto mul = [a](std::uint32_t c) { return (c * a + 127) / 255; };
      row[x] = (a << 24) | (mul(p[0]) << 16) | (mul(p[1]) << 8) | mul(p[2]);
    }
  }
  cairo_surface_mark_dirty(s);
  std::vector<std::uint8_t> out;
  const cairo_status_t status = cairo_surface_write_to_png_stream(s, append_bytes, &out);
  cairo_surface_destroy(s);
  if (status != CAIRO_STATUS_SUCCESS) return {};
  return out;
}

}  // namespace vorn_ui::detail
