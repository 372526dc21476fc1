// Text backend over Pango and Cairo. The only file that talks to Pango.
#include <pango/pangocairo.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include "text_backend.h"
#include "vorn_ui/text.h"

namespace vorn_ui {
namespace {

// Latin, Greek and Cyrillic come from DejaVu Sans; fontconfig falls back to
// the packaged Droid Sans Fallback (CJK) and Noto Color Emoji for the rest.
constexpr const char* kFontFamily = "DejaVu Sans";
constexpr std::size_t kCacheGeneration = 4096;  // layouts kept per cache generation
// How long the font preparation waits before it starts, so that the frame
// that asked for it is drawn and presented without waiting for a font.
constexpr std::chrono::milliseconds kPreparePause{150};
// Shaped once per prepared style: letters, digits and the punctuation the
// pages show, so that their glyphs are loaded with the font.
constexpr const char* kPrepareSample =
    "The quick brown fox jumps over the lazy dog. THE QUICK BROWN FOX JUMPS OVER THE LAZY DOG 0123456789 "
    "\xE2\x80\xA2 \xC2\xB7 \xE2\x80\x94 \xE2\x80\xA6 ,;:!?'\"()[]/+-%&@#";

// Every call into Pango on one renderer's font map and its layouts holds
// this lock: the font preparation thread shares them with the interface
// thread.
using PangoLock = std::shared_ptr<std::mutex>;

struct LayoutKey {
  std::string text;
  TextStyle style;
  float max_width;  // negative: unwrapped
  friend bool operator==(const LayoutKey&, const LayoutKey&) = default;
};

struct LayoutKeyHash {
  std::size_t operator()(const LayoutKey& k) const noexcept {
    std::size_t h = std::hash<std::string>{}(k.text);
    auto mix = [&h](std::size_t v) { h ^= v + 0x9e3779b97f4a7c15ull + (h << 6) + (h >> 2); };
    mix(std::hash<float>{}(k.style.font_size));
    mix(std::hash<float>{}(k.style.line_height));
    mix(static_cast<std::size_t>(k.style.weight));
    mix(static_cast<std::size_t>(k.style.align));
    mix(k.style.max_lines);
    mix(std::hash<float>{}(k.max_width));
    return h;
  }
};

class PangoTextLayout final : public TextLayout {
 public:
  // Made with the lock held.
  PangoTextLayout(PangoLayout* layout, float line_px, PangoLock lock)
      : m_layout(layout), m_line_px(line_px), m_lock(std::move(lock)) {
    PangoRectangle logical;
    pango_layout_get_extents(m_layout, nullptr, &logical);
    m_lines = static_cast<std::size_t>(pango_layout_get_line_count(m_layout));
    const double width = static_cast<double>(logical.width) / PANGO_SCALE;
    m_size = {width, static_cast<double>(m_lines) * m_line_px};
    m_ink = ink_extents();
  }
  ~PangoTextLayout() override {
    std::lock_guard guard(*m_lock);
    g_object_unref(m_layout);
  }
  PangoTextLayout(const PangoTextLayout&) = delete;
  PangoTextLayout& operator=(const PangoTextLayout&) = delete;

  Size size() const override { return m_size; }
  const std::optional<Rect>& ink() const { return m_ink; }
  std::size_t line_count() const override { return m_lines; }
  double caret_x(std::size_t index) const override {
    std::lock_guard guard(*m_lock);
    const char* text = pango_layout_get_text(m_layout);
    const std::size_t len = std::char_traits<char>::length(text);
    if (index > len) index = len;
    PangoRectangle pos;
    pango_layout_index_to_pos(m_layout, static_cast<int>(index), &pos);
    return static_cast<double>(pos.x) / PANGO_SCALE;
  }
  std::size_t index_at(double x) const override {
    std::lock_guard guard(*m_lock);
    int index = 0, trailing = 0;
    pango_layout_xy_to_index(m_layout, static_cast<int>(std::lround(x * PANGO_SCALE)), 0, &index, &trailing);
    const char* text = pango_layout_get_text(m_layout);
    const char* p = text + index;
    while (trailing-- > 0 && *p) p = g_utf8_next_char(p);
    return static_cast<std::size_t>(p - text);
  }

  void show(cairo_t* cr) const {
    std::lock_guard guard(*m_lock);
    double x0 = 0, y0 = 0;
    cairo_get_current_point(cr, &x0, &y0);
    for_each_line([&](PangoLayoutLine* line, double x, double baseline) {
      cairo_move_to(cr, x0 + x, y0 + baseline);
      pango_cairo_show_layout_line(cr, line);
    });
  }

 private:
  // Calls f(line, x, baseline) for every line, where (x, baseline) is the
  // line's origin relative to the layout's top-left: lines stand m_line_px
  // apart, each natural line box centred in its line height (half-leading).
  template <typename F>
  void for_each_line(F&& f) const {
    PangoLayoutIter* iter = pango_layout_get_iter(m_layout);
    std::size_t line_index = 0;
    do {
      PangoLayoutLine* line = pango_layout_iter_get_line_readonly(iter);
      PangoRectangle logical;
      pango_layout_iter_get_line_extents(iter, nullptr, &logical);
      const double natural = static_cast<double>(logical.height) / PANGO_SCALE;
      const double baseline_in_line =
          static_cast<double>(pango_layout_iter_get_baseline(iter) - logical.y) / PANGO_SCALE;
      const double top = static_cast<double>(line_index) * m_line_px + (m_line_px - natural) / 2.0;
      f(line, static_cast<double>(logical.x) / PANGO_SCALE, top + baseline_in_line);
      ++line_index;
    } while (pango_layout_iter_next_line(iter));
    pango_layout_iter_free(iter);
  }

  // The union of the lines' inked areas, placed as show() places the lines
  // (relative to the layout's top-left); none when nothing is inked.
  std::optional<Rect> ink_extents() const {
    std::optional<Rect> out;
    for_each_line([&](PangoLayoutLine* line, double x, double y) {
      PangoRectangle ink;
      pango_layout_line_get_extents(line, &ink, nullptr);  // relative to the line's origin on its baseline
      if (ink.width <= 0 || ink.height <= 0) return;
      const Rect r{x + static_cast<double>(ink.x) / PANGO_SCALE, y + static_cast<double>(ink.y) / PANGO_SCALE,
                   x + static_cast<double>(ink.x + ink.width) / PANGO_SCALE,
                   y + static_cast<double>(ink.y + ink.height) / PANGO_SCALE};
      out = out ? Rect{std::min(out->x0, r.x0), std::min(out->y0, r.y0), std::max(out->x1, r.x1),
                       std::max(out->y1, r.y1)}
                : r;
    });
    return out;
  }

  PangoLayout* m_layout;
  float m_line_px;
  PangoLock m_lock;
  std::size_t m_lines = 0;
  Size m_size;
  std::optional<Rect> m_ink;
};

}  // namespace

class TextRenderer::Impl {
 public:
  Impl() {
    m_font_map = pango_cairo_font_map_new();
    m_context = pango_font_map_create_context(m_font_map);
    cairo_font_options_t* options = cairo_font_options_create();
    cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_NONE);
    cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
    cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_GRAY);
    pango_cairo_context_set_font_options(m_context, options);
    cairo_font_options_destroy(options);
    pango_cairo_context_set_resolution(m_context, 96.0);
    pango_context_set_round_glyph_positions(m_context, FALSE);
  }
  ~Impl() {
    {
      std::lock_guard guard(m_prepare_mutex);
      m_prepare_stop = true;
      m_prepare_styles.clear();
    }
    m_prepare_wake.notify_all();
    if (m_prepare_thread.joinable()) m_prepare_thread.join();
    m_current.clear();
    m_previous.clear();
    g_object_unref(m_context);
    g_object_unref(m_font_map);
  }

  std::shared_ptr<const TextLayout> get(std::string_view text, const TextStyle& style, std::optional<double> width) {
    std::unique_lock guard(*m_lock);
    LayoutKey key{std::string(text), style, width ? static_cast<float>(std::max(0.0, *width)) : -1.0f};
    if (auto it = m_current.find(key); it != m_current.end()) {
      ++m_stats.hits;
      return it->second;
    }
    if (auto it = m_previous.find(key); it != m_previous.end()) {
      ++m_stats.hits;
      auto layout = it->second;
      insert(std::move(key), layout);
      guard.unlock();
      m_evicted.clear();
      return layout;
    }
    ++m_stats.misses;
    auto layout = build(key);
    insert(std::move(key), layout);
    // Entries that the cache let go are destroyed once the lock is given
    // back: their destructors take it.
    guard.unlock();
    m_evicted.clear();
    return layout;
  }

  void prepare(std::vector<TextStyle> styles) {
    {
      std::lock_guard guard(m_prepare_mutex);
      m_prepare_styles = std::move(styles);
      m_prepare_due = std::chrono::steady_clock::now() + kPreparePause;
      m_prepare_busy = !m_prepare_styles.empty();
    }
    if (!m_prepare_thread.joinable() && m_prepare_busy) {
      try {
        m_prepare_thread = std::thread([this] { prepare_loop(); });
      } catch (const std::system_error&) {
        // No thread to be had: the fonts load when first used, as without
        // preparing.
        std::lock_guard guard(m_prepare_mutex);
        m_prepare_styles.clear();
        m_prepare_busy = false;
      }
    }
    m_prepare_wake.notify_all();
  }

  void finish_preparing() {
    std::unique_lock guard(m_prepare_mutex);
    m_prepare_done.wait(guard, [this] { return !m_prepare_busy || m_prepare_stop; });
  }

  TextCacheStats stats() const {
    std::lock_guard guard(*m_lock);
    TextCacheStats s = m_stats;
    s.entries = m_current.size() + m_previous.size();
    return s;
  }

 private:
  // The preparation thread: after the pause, one style at a time, each
  // with the lock held only while its font loads.
  void prepare_loop() {
    std::unique_lock guard(m_prepare_mutex);
    for (;;) {
      m_prepare_wake.wait(guard, [this] { return m_prepare_stop || !m_prepare_styles.empty(); });
      if (m_prepare_stop) break;
      if (m_prepare_wake.wait_until(guard, m_prepare_due, [this] { return m_prepare_stop; })) break;
      while (!m_prepare_stop && !m_prepare_styles.empty()) {
        const TextStyle style = m_prepare_styles.back();
        m_prepare_styles.pop_back();
        guard.unlock();
        load_font(style);
        guard.lock();
      }
      if (m_prepare_styles.empty()) {
        m_prepare_busy = false;
        m_prepare_done.notify_all();
      }
    }
    m_prepare_busy = false;
    m_prepare_done.notify_all();
  }

  // Shapes the sample in the style and lets the layout go: the font map
  // keeps the fonts it matched and loaded.
  void load_font(const TextStyle& style) {
    std::lock_guard guard(*m_lock);
    PangoLayout* layout = new_pango_layout(style);
    pango_layout_set_text(layout, kPrepareSample, -1);
    PangoRectangle ink;
    PangoRectangle logical;
    pango_layout_get_extents(layout, &ink, &logical);
    g_object_unref(layout);
  }

  PangoLayout* new_pango_layout(const TextStyle& style) {
    PangoLayout* layout = pango_layout_new(m_context);
    PangoFontDescription* desc = pango_font_description_new();
    pango_font_description_set_family(desc, kFontFamily);
    const float size = style.font_size > 0 ? style.font_size : 1.0f;
    pango_font_description_set_absolute_size(desc, static_cast<double>(size) * PANGO_SCALE);
    pango_font_description_set_weight(desc, static_cast<PangoWeight>(style.weight));
    pango_layout_set_font_description(layout, desc);
    pango_font_description_free(desc);
    return layout;
  }

  void insert(LayoutKey key, std::shared_ptr<const TextLayout> layout) {
    if (m_current.size() >= kCacheGeneration) {
      for (auto& entry : m_previous) m_evicted.push_back(std::move(entry.second));
      m_previous = std::move(m_current);
      m_current.clear();
    }
    m_current.emplace(std::move(key), std::move(layout));
  }

  std::shared_ptr<const TextLayout> build(const LayoutKey& key) {
    PangoLayout* layout = new_pango_layout(key.style);
    const float size = key.style.font_size > 0 ? key.style.font_size : 1.0f;
    pango_layout_set_text(layout, key.text.data(), static_cast<int>(key.text.size()));
    if (key.max_width >= 0) {
      pango_layout_set_width(layout, static_cast<int>(std::lround(key.max_width * PANGO_SCALE)));
      pango_layout_set_wrap(layout, PANGO_WRAP_WORD_CHAR);
    }
    switch (key.style.align) {
      case TextAlign::Center:
        pango_layout_set_alignment(layout, PANGO_ALIGN_CENTER);
        break;
      case TextAlign::End:
        pango_layout_set_alignment(layout, PANGO_ALIGN_RIGHT);
        break;
      default:
        break;
    }
    if (key.style.max_lines > 0) {
      pango_layout_set_ellipsize(layout, PANGO_ELLIPSIZE_END);
      pango_layout_set_height(layout, -static_cast<int>(key.style.max_lines));
    }
    const float line_px = size * (key.style.line_height > 0 ? key.style.line_height : 1.0f);
    return std::make_shared<PangoTextLayout>(layout, line_px, m_lock);
  }

  PangoLock m_lock = std::make_shared<std::mutex>();
  PangoFontMap* m_font_map = nullptr;
  PangoContext* m_context = nullptr;
  std::vector<std::shared_ptr<const TextLayout>> m_evicted;  // let go by the cache, not yet destroyed
  std::unordered_map<LayoutKey, std::shared_ptr<const TextLayout>, LayoutKeyHash> m_current;
  std::unordered_map<LayoutKey, std::shared_ptr<const TextLayout>, LayoutKeyHash> m_previous;
  TextCacheStats m_stats;

  std::mutex m_prepare_mutex;  // guards the fields below
  std::condition_variable m_prepare_wake;
  std::condition_variable m_prepare_done;
  std::vector<TextStyle> m_prepare_styles;
  std::chrono::steady_clock::time_point m_prepare_due;
  bool m_prepare_busy = false;
  bool m_prepare_stop = false;
  std::thread m_prepare_thread;  // last: it is joined before the rest goes
};

TextRenderer::TextRenderer() : m_impl(std::make_unique<Impl>()) {}
TextRenderer::~TextRenderer() = default;
TextRenderer::TextRenderer(TextRenderer&&) noexcept = default;
TextRenderer& TextRenderer::operator=(TextRenderer&&) noexcept = default;

Size TextRenderer::measure(std::string_view text, float font_size, std::optional<double> max_width) {
  return measure_style(text, TextStyle::sized(font_size), max_width);
}

Size TextRenderer::measure_style(std::string_view text, const TextStyle& style, std::optional<double> max_width) {
  return m_impl->get(text, style, max_width)->size();
}

void TextRenderer::draw_text(Scene& scene, const Affine& transform, std::string_view text, float font_size,
                             Color color, Point origin, std::optional<double> max_width) {
  draw_style(scene, transform, text, TextStyle::sized(font_size), color, origin, max_width);
}

void TextRenderer::draw_style(Scene& scene, const Affine& transform, std::string_view text, const TextStyle& style,
                              Color color, Point origin, std::optional<double> max_width) {
  if (text.empty()) return;
  scene.draw_text_layout(m_impl->get(text, style, max_width), origin, color, transform);
}

std::shared_ptr<const TextLayout> TextRenderer::layout(std::string_view text, const TextStyle& style,
                                                       std::optional<double> max_width) {
  return m_impl->get(text, style, max_width);
}

TextCacheStats TextRenderer::cache_stats() const { return m_impl->stats(); }

void TextRenderer::prepare_fonts(std::vector<TextStyle> styles) { m_impl->prepare(std::move(styles)); }

void TextRenderer::finish_preparing_fonts() { m_impl->finish_preparing(); }

namespace detail {

void show_text_layout(const TextLayout& layout, cairo_t* cr) {
  if (auto* pango = dynamic_cast<const PangoTextLayout*>(&layout)) pango->show(cr);
}

std::optional<Rect> text_ink_bounds(const TextLayout& layout) {
  if (auto* pango = dynamic_cast<const PangoTextLayout*>(&layout)) return pango->ink();
  return std::nullopt;
}

}  // namespace detail
}  // namespace vorn_ui
