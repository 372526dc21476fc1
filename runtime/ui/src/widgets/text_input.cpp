#include "vorn_ui/widget/text_input.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include <fmt/format.h>

namespace vorn_ui::widget::text_input {
namespace {

constexpr double kPadding = 2.0;  // room for the caret at both ends

bool is_continuation(unsigned char c) { return (c & 0xC0) == 0x80; }

std::size_t prev_boundary(const std::string& s, std::size_t i) {
  if (i == 0) return 0;
  --i;
  while (i > 0 && is_continuation(static_cast<unsigned char>(s[i]))) --i;
  return i;
}

// The start of the character that holds byte `i` (the end stays the end).
std::size_t char_start(const std::string& s, std::size_t i) {
  i = std::min(i, s.size());
  while (i > 0 && i < s.size() && is_continuation(static_cast<unsigned char>(s[i]))) --i;
  return i;
}

std::size_t next_boundary(const std::string& s, std::size_t i) {
  if (i >= s.size()) return s.size();
  ++i;
  while (i < s.size() && is_continuation(static_cast<unsigned char>(s[i]))) ++i;
  return i;
}

// Drops control characters and line breaks, and any byte that does not form
// valid UTF-8, from typed or pasted text.
std::string clean(std::string_view in) {
  std::string out;
  out.reserve(in.size());
  std::size_t i = 0;
  while (i < in.size()) {
    const unsigned char c = static_cast<unsigned char>(in[i]);
    std::size_t len = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
    if (len == 0 || i + len > in.size()) {
      ++i;
      continue;
    }
    bool ok = true;
    for (std::size_t k = 1; k < len; ++k) ok = ok && is_continuation(static_cast<unsigned char>(in[i + k]));
    if (!ok) {
      ++i;
      continue;
    }
    if (len == 1 && (c < 0x20 || c == 0x7F)) {
      if (c == '\t') out += ' ';
      ++i;
      continue;
    }
    out.append(in.substr(i, len));
    i += len;
  }
  return out;
}

bool is_space(char c) { return c == ' ' || c == '\t'; }

// The start of the word before `i` (spaces before it skipped).
std::size_t prev_word(const std::string& s, std::size_t i) {
  while (i > 0 && is_space(s[i - 1])) --i;
  while (i > 0 && !is_space(s[i - 1])) --i;
  return i;
}

// The end of the word after `i` (spaces before it skipped).
std::size_t next_word(const std::string& s, std::size_t i) {
  while (i < s.size() && is_space(s[i])) ++i;
  while (i < s.size() && !is_space(s[i])) ++i;
  return i;
}

}  // namespace

TextInput TextInput::local(std::string initial) {
  TextInput t;
  t.m_source = Source::Own;
  t.m_text = clean(initial);
  t.m_caret = t.m_anchor = t.m_text.size();
  return t;
}

TextInput TextInput::from_state(local_state::TextState state) {
  TextInput t;
  t.m_source = Source::Cell;
  auto [text, generation] = state.snapshot();
  t.m_text = std::move(text);
  t.m_seen_generation = generation;
  t.m_cell = std::move(state);
  t.m_caret = t.m_anchor = t.m_text.size();
  return t;
}

TextInput TextInput::with_id(std::string id) && {
  m_id = std::move(id);
  return std::move(*this);
}
TextInput TextInput::with_kind(std::uint8_t kind) && {
  m_kind = kind <= 2 ? static_cast<InputKind>(kind) : InputKind::Text;
  return std::move(*this);
}
TextInput TextInput::with_placeholder(std::string placeholder) && {
  m_placeholder = std::move(placeholder);
  return std::move(*this);
}
TextInput TextInput::with_label(std::string label) && {
  m_label = std::move(label);
  return std::move(*this);
}
TextInput TextInput::with_text_size(float size) && {
  if (size > 0) m_text_size = size;
  return std::move(*this);
}
TextInput TextInput::with_external_text(std::shared_ptr<std::mutex> mutex, std::shared_ptr<std::string> text) && {
  m_source = Source::Buffer;
  m_buffer_mutex = std::move(mutex);
  m_buffer_text = std::move(text);
  m_cell.reset();
  reload();
  m_caret = m_anchor = m_text.size();
  return std::move(*this);
}
TextInput TextInput::with_option(InputOption option) && {
  if (option == InputOption::SelectAllOnFocus) m_select_all_on_focus = true;
  if (option == InputOption::Sensitive) m_sensitive = true;
  return std::move(*this);
}

std::string TextInput::text() const { return m_text; }

std::pair<std::size_t, std::size_t> TextInput::selection() const {
  return {std::min(m_anchor, m_caret), std::max(m_anchor, m_caret)};
}

void TextInput::reload() {
  std::string fresh;
  if (m_source == Source::Cell && m_cell) {
    auto [text, generation] = m_cell->snapshot();
    if (generation == m_seen_generation) return;
    m_seen_generation = generation;
    fresh = std::move(text);
  } else if (m_source == Source::Buffer && m_buffer_text) {
    std::lock_guard lock(*m_buffer_mutex);
    if (*m_buffer_text == m_text) return;
    fresh = *m_buffer_text;
  } else {
    return;
  }
  if (fresh == m_text) return;
  m_text = std::move(fresh);
  m_caret = std::min(m_caret, m_text.size());
  m_anchor = std::min(m_anchor, m_text.size());
  // Indices may now fall inside a character; move them to its start.
  while (m_caret > 0 && m_caret < m_text.size() && is_continuation(static_cast<unsigned char>(m_text[m_caret]))) --m_caret;
  while (m_anchor > 0 && m_anchor < m_text.size() && is_continuation(static_cast<unsigned char>(m_text[m_anchor])))
    --m_anchor;
  m_needs_redraw = true;
}

void TextInput::commit() {
  m_needs_redraw = true;
  if (m_source == Source::Cell && m_cell) {
    if (auto generation = m_cell->publish(m_text)) m_seen_generation = *generation;
  } else if (m_source == Source::Buffer && m_buffer_text) {
    std::lock_guard lock(*m_buffer_mutex);
    // Overwrite the old bytes before replacing them, so a removed secret
    // does not linger in the buffer's storage.
    std::fill(m_buffer_text->begin(), m_buffer_text->end(), '\0');
    m_buffer_text->assign(m_text);
  }
}

void TextInput::erase_selection() {
  auto [a, b] = selection();
  m_text.erase(a, b - a);
  m_caret = m_anchor = a;
}

void TextInput::insert(std::string_view s) {
  std::string cleaned = clean(s);
  if (cleaned.empty() && !has_selection()) return;
  erase_selection();
  m_text.insert(m_caret, cleaned);
  m_caret += cleaned.size();
  m_anchor = m_caret;
  commit();
}

void TextInput::move_caret(std::size_t to, bool extend) {
  m_caret = std::min(to, m_text.size());
  if (!extend) m_anchor = m_caret;
  m_needs_redraw = true;
}

double TextInput::caret_x(std::size_t index) const {
  if (!m_layout || m_text.empty()) return 0.0;
  return m_layout->caret_x(index);
}

std::size_t TextInput::index_at_x(double x) const {
  if (!m_layout || m_text.empty()) return 0;
  // The layout is the one last drawn: it may show other text than the field
  // holds (stars, or a text typed or published since), so its index is only
  // taken as far as it names a character start of the field's own text.
  return char_start(m_text, m_layout->index_at(x));
}

void TextInput::sync(RuntimeState& state) {
  (void)state;
  reload();
}

NodeId TextInput::build_layout(LayoutContext& cx) {
  layout::Style style;
  style.size = {layout::Dimension::percent(1.0f), layout::Dimension::length(std::ceil(m_text_size * 1.4f))};
  style.flex_grow = 1.0f;
  style.flex_shrink = 1.0f;
  style.min_size.width = layout::Dimension::length(0);
  NodeId node = cx.tree.new_leaf(style);
  cx.registry.register_node(node, this);
  return node;
}

void TextInput::apply_layout(const layout::LayoutTree& tree, NodeId node, Point origin) {
  auto l = tree.layout(node);
  if (!l) return;
  Rect b{origin.x + l->x, origin.y + l->y, origin.x + l->x + l->width, origin.y + l->y + l->height};
  if (b != m_bounds) m_needs_redraw = true;
  m_bounds = b;
  m_placed = true;
}

void TextInput::draw(Scene& scene, const Affine& transform, DrawContext& cx) {
  if (!(m_bounds.width() > 0) || !(m_bounds.height() > 0)) return;
  TextStyle style = TextStyle::sized(m_text_size);
  style.line_height = 1.25f;
  const std::string shown = m_kind == InputKind::Password ? std::string(m_text.size() ? 8 : 0, '*') : m_text;
  m_layout = cx.text.layout(shown, style);
  const double line_h = m_text_size * 1.25;
  const double y = m_bounds.y0 + (m_bounds.height() - line_h) / 2.0;

  // Keep the caret in view when the text is wider than the field.
  const double inner_w = std::max(0.0, m_bounds.width() - 2 * kPadding);
  const double cx_text = caret_x(m_caret);
  if (cx_text - m_scroll_x > inner_w) m_scroll_x = cx_text - inner_w;
  if (cx_text - m_scroll_x < 0) m_scroll_x = cx_text;
  if (m_layout->size().width <= inner_w) m_scroll_x = 0;
  const double x = m_bounds.x0 + kPadding - m_scroll_x;

  scene.push_layer(BlendMode::Normal, 1.0f, transform, m_bounds);
  if (m_text.empty()) {
    if (!m_placeholder.empty())
      cx.text.draw_style(scene, transform, m_placeholder, style, cx.theme.text_muted, Point{m_bounds.x0 + kPadding, y});
  } else {
    if (m_focused && has_selection() && m_kind != InputKind::Password) {
      auto [a, b] = selection();
      const double xa = x + caret_x(a), xb = x + caret_x(b);
      scene.fill(FillRule::NonZero, transform, cx.theme.text_selection, Rect{xa, y, xb, y + line_h});
    }
    scene.draw_text_layout(m_layout, Point{x, y}, cx.theme.text, transform);
  }
  if (m_focused) {
    const double cxp = std::round(x + (m_text.empty() ? 0.0 : cx_text));
    scene.fill(FillRule::NonZero, transform, cx.theme.caret, Rect{cxp, y, cxp + 1.5, y + line_h});
  }
  scene.pop_layer();
}

// Event handling:
//   primary press inside   → focus (asks the runtime), caret to the point, start selecting
//   primary press outside  → lose focus
//   middle press inside    → focus, caret to the point, paste the primary selection there
//   pointer move           → while selecting, extend the selection to the point
//   primary release        → stop selecting
//   text input (focused)   → replace the selection with the text
//   keys (focused, press)  → Backspace/Delete erase, arrows/Home/End move
//                            (Shift extends; Ctrl works by words), Ctrl+A selects all,
//                            Ctrl+C / Ctrl+Insert copy, Ctrl+X / Shift+Delete cut,
//                            Ctrl+V / Shift+Insert paste the clipboard, Escape leaves the
//                            field (the focus goes back to the page), Space is kept (its
//                            text follows as text input); Enter, Tab and everything else
//                            pass through
// A selection made with the pointer, Shift or Ctrl+A becomes the primary
// selection (not in a password or sensitive field).
void TextInput::handle_event(const Event& event, EventContext& cx, NodeId node) {
  const double scale = cx.scale > 0 ? cx.scale : 1.0;
  auto local_x = [&](Point p) { return p.x / scale - m_bounds.x0 - kPadding + m_scroll_x; };
  if (const auto* b = std::get_if<PointerButtonEvent>(&event)) {
    const Point p{b->position.x / scale, b->position.y / scale};
    if (b->button == PointerButton::Middle && b->pressed && m_bounds.contains(p) && !cx.handled) {
      set_focus(true);
      cx.focus_request = node;
      move_caret(index_at_x(local_x(b->position)), false);
      paste(cx, Selection::Primary);
      cx.handled = true;
      return;
    }
    if (b->button != PointerButton::Primary) return;
    if (b->pressed) {
      if (m_bounds.contains(p) && !cx.handled) {
        const bool was_focused = m_focused;
        set_focus(true);
        cx.focus_request = node;
        if (!was_focused && m_select_all_on_focus) {
          m_anchor = 0;
          m_caret = m_text.size();
        } else {
          move_caret(index_at_x(local_x(b->position)), false);
          m_selecting = true;
        }
        cx.handled = true;
      } else if (m_focused && !m_bounds.contains(p)) {
        set_focus(false);
      }
    } else {
      if (m_selecting && has_selection()) offer_primary(cx);
      m_selecting = false;
    }
    return;
  }
  if (const auto* m = std::get_if<PointerMoveEvent>(&event)) {
    if (m_selecting) {
      move_caret(index_at_x(local_x(m->position)), true);
      cx.handled = true;
    }
    return;
  }
  if (!m_focused || cx.handled) return;
  if (const auto* t = std::get_if<TextInputEvent>(&event)) {
    insert(t->text);
    cx.handled = true;
    return;
  }
  if (const auto* k = std::get_if<KeyEvent>(&event)) {
    if (k->released) return;
    const bool shift = k->modifiers.shift();
    const bool word = k->modifiers.control();
    if (k->kind == KeyEvent::Kind::Character) {
      if (!k->modifiers.control() || k->modifiers.alt() || k->text.size() != 1) return;
      switch (k->text[0]) {
        case 'a':
        case 'A':
          m_anchor = 0;
          m_caret = m_text.size();
          m_needs_redraw = true;
          offer_primary(cx);
          break;
        case 'c':
        case 'C': copy(cx, false); break;
        case 'x':
        case 'X': copy(cx, true); break;
        case 'v':
        case 'V': paste(cx, Selection::Clipboard); break;
        default: return;
      }
      cx.handled = true;
      return;
    }
    switch (k->named) {
      case NamedKey::Escape:
        set_focus(false);
        cx.release_focus = true;
        break;
      case NamedKey::Insert:
        if (shift && !word) {
          paste(cx, Selection::Clipboard);
        } else if (word && !shift) {
          copy(cx, false);
        } else {
          return;
        }
        break;
      case NamedKey::Backspace:
        if (!has_selection()) m_anchor = word ? prev_word(m_text, m_caret) : prev_boundary(m_text, m_caret);
        if (has_selection()) {
          erase_selection();
          commit();
        }
        break;
      case NamedKey::Delete:
        if (shift && !word && has_selection()) {
          copy(cx, true);
          break;
        }
        if (!has_selection()) m_anchor = word ? next_word(m_text, m_caret) : next_boundary(m_text, m_caret);
        if (has_selection()) {
          erase_selection();
          commit();
        }
        break;
      case NamedKey::ArrowLeft:
        if (word)
          move_caret(prev_word(m_text, m_caret), shift);
        else if (has_selection() && !shift)
          move_caret(selection().first, false);
        else
          move_caret(prev_boundary(m_text, m_caret), shift);
        break;
      case NamedKey::ArrowRight:
        if (word)
          move_caret(next_word(m_text, m_caret), shift);
        else if (has_selection() && !shift)
          move_caret(selection().second, false);
        else
          move_caret(next_boundary(m_text, m_caret), shift);
        break;
      case NamedKey::Home:
        move_caret(0, shift);
        break;
      case NamedKey::End:
        move_caret(m_text.size(), shift);
        break;
      case NamedKey::Space:
        // The space itself arrives as text input; the key press is the
        // field's, so nothing around it (a page that scrolls on Space, a
        // focused control) acts on it as well.
        if (k->modifiers.control() || k->modifiers.alt()) return;
        break;
      default:
        return;  // not an editing key: leave it to others
    }
    if (shift && has_selection()) offer_primary(cx);
    cx.handled = true;
  }
}

bool TextInput::keeps_selection_private() const { return m_sensitive || m_kind == InputKind::Password; }

void TextInput::offer_primary(EventContext& cx) const {
  if (cx.clipboard == nullptr || keeps_selection_private() || !has_selection()) return;
  auto [a, b] = selection();
  (void)cx.clipboard->set_text(Selection::Primary, std::string_view(m_text).substr(a, b - a));
}

void TextInput::copy(EventContext& cx, bool cut) {
  // A password never leaves its field.
  if (m_kind == InputKind::Password || !has_selection()) return;
  auto [a, b] = selection();
  if (cx.clipboard == nullptr || !cx.clipboard->set_text(Selection::Clipboard, std::string_view(m_text).substr(a, b - a))) {
    return;  // nothing is cut that did not reach the clipboard
  }
  if (cut) {
    erase_selection();
    commit();
  }
}

void TextInput::paste(EventContext& cx, Selection which) {
  if (cx.clipboard == nullptr) return;
  const std::optional<std::string> text = cx.clipboard->text(which);
  if (!text || text->empty()) return;
  insert(*text);
}

std::optional<std::string> TextInput::get_state() const { return fmt::format("{} {}", m_caret, m_anchor); }

void TextInput::set_state(std::string_view state) {
  std::size_t caret = 0, anchor = 0;
  const char* end = state.data() + state.size();
  auto first = std::from_chars(state.data(), end, caret);
  if (first.ec != std::errc() || first.ptr == end || *first.ptr != ' ') return;
  auto second = std::from_chars(first.ptr + 1, end, anchor);
  if (second.ec != std::errc() || second.ptr != end) return;
  // Indices that do not fall on a character of this text are moved back onto one.
  auto on_character = [&](std::size_t i) {
    i = std::min(i, m_text.size());
    while (i > 0 && i < m_text.size() && is_continuation(static_cast<unsigned char>(m_text[i]))) --i;
    return i;
  };
  m_caret = on_character(caret);
  m_anchor = on_character(anchor);
  m_needs_redraw = true;
}

std::optional<std::string_view> TextInput::widget_id() const {
  if (!m_id) return std::nullopt;
  return std::string_view(*m_id);
}

std::optional<CursorShape> TextInput::cursor_shape(Point point) const {
  if (m_bounds.contains(point)) return CursorShape::Text;
  return std::nullopt;
}

void TextInput::set_focus(bool focused) {
  if (focused == m_focused) return;
  m_focused = focused;
  if (!focused) {
    m_selecting = false;
    m_anchor = m_caret;
  }
  m_needs_redraw = true;
}

std::optional<Rect> TextInput::ime_cursor_rect() const {
  if (!m_focused) return std::nullopt;
  const double x = m_bounds.x0 + kPadding - m_scroll_x + caret_x(m_caret);
  return Rect{x, m_bounds.y0, x + 1, m_bounds.y1};
}

std::optional<AccessNode> TextInput::accessibility() const {
  AccessNode node(m_kind == InputKind::Search ? Role::SearchInput : Role::TextInput, m_bounds);
  node = std::move(node).with_optional_name(m_label ? m_label : std::optional<std::string>(m_placeholder));
  if (!m_sensitive && m_kind != InputKind::Password) node.value = m_text;
  node.focusable = true;
  node.focused = m_focused;
  return node;
}

bool TextInput::perform_action(AccessRequest request) {
  if (request == AccessRequest::Focus || request == AccessRequest::Activate) {
    set_focus(true);
    return true;
  }
  return false;
}

std::optional<std::string> TextInput::text_review() const {
  if (m_sensitive || m_kind == InputKind::Password) return std::nullopt;
  return m_text;
}

}  // namespace vorn_ui::widget::text_input
