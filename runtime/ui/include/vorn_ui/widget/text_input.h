// TextInput: a one-line editable field with caret, selection and placeholder.
// Its text lives in one of three places: a shared LocalState cell (the field
// publishes every edit and shows what others publish), an external buffer
// (edited in place under its owner's lock), or the field itself. Interface thread;
// the cell and the buffer may be read by other threads.
#pragma once

#include <concepts>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "vorn_ui/local_state.h"
#include "vorn_ui/widget.h"

namespace vorn_ui::widget::text_input {

// An external buffer: a text that something outside the widget owns, in any
// shared record with a `mutex` that guards its `text`.
template <class B>
concept TextBufferLike = requires(B& b) {
  { b.mutex } -> std::convertible_to<std::mutex&>;
  { b.text } -> std::convertible_to<std::string&>;
};

enum class InputKind : std::uint8_t { Text = 0, Password = 1, Search = 2 };

enum class InputOption : std::uint8_t {
  SelectAllOnFocus = 1,  // focusing the field selects its text
  Sensitive = 2,         // the text is kept out of accessibility values and reviews
};

class TextInput final : public Widget {
 public:
  // A field keeping its own text.
  static TextInput local(std::string initial = {});
  // A field bound to a shared cell.
  static TextInput from_state(local_state::TextState state);

  TextInput with_id(std::string id) &&;
  TextInput with_kind(std::uint8_t kind) &&;
  TextInput with_placeholder(std::string placeholder) &&;
  TextInput with_label(std::string label) &&;
  TextInput with_text_size(float size) &&;
  // Edits go straight into the buffer's text under its mutex (replacing the
  // field's own text); the field keeps the buffer alive.
  template <TextBufferLike B>
  TextInput with_external_buffer(std::shared_ptr<B> buffer) && {
    if (!buffer) return std::move(*this);
    std::shared_ptr<std::mutex> mutex(buffer, &buffer->mutex);
    std::shared_ptr<std::string> text(buffer, &buffer->text);
    return std::move(*this).with_external_text(std::move(mutex), std::move(text));
  }
  TextInput with_option(InputOption option) &&;

  std::string text() const;
  std::size_t caret() const { return m_caret; }
  // The selected byte range [first, second); empty when nothing is selected.
  std::pair<std::size_t, std::size_t> selection() const;
  std::string_view placeholder() const { return m_placeholder; }

  void sync(RuntimeState& state) override;
  NodeId build_layout(LayoutContext& cx) override;
  void apply_layout(const layout::LayoutTree& tree, NodeId node, Point origin) override;
  void draw(Scene& scene, const Affine& transform, DrawContext& cx) override;
  void handle_event(const Event& event, EventContext& cx, NodeId node) override;
  std::string_view type_name() const override { return "TextInput"; }
  std::optional<std::string_view> widget_id() const override;
  Rect bounds() const override { return m_bounds; }
  std::optional<CursorShape> cursor_shape(Point point) const override;
  bool is_focusable() const override { return true; }
  void set_focus(bool focused) override;
  bool has_focus() const override { return m_focused; }
  std::optional<Rect> ime_cursor_rect() const override;
  std::optional<AccessNode> accessibility() const override;
  bool perform_action(AccessRequest request) override;
  std::optional<std::string> text_review() const override;
  // The caret and the selection's other end, so that a field built afresh
  // (the tree is rebuilt while the user types) carries on where the last stood.
  std::optional<std::string> get_state() const override;
  void set_state(std::string_view state) override;
  bool wants_pointer_capture() const override { return m_selecting; }
  bool needs_redraw() const override { return m_needs_redraw; }
  void mark_drawn() override { m_needs_redraw = false; }
  bool is_layout_dirty() const override { return !m_placed; }

 private:
  TextInput() = default;
  TextInput with_external_text(std::shared_ptr<std::mutex> mutex, std::shared_ptr<std::string> text) &&;
  void reload();
  void commit();
  void insert(std::string_view s);
  void erase_selection();
  bool has_selection() const { return m_anchor != m_caret; }
  void move_caret(std::size_t to, bool extend);
  bool keeps_selection_private() const;
  void offer_primary(EventContext& cx) const;
  void copy(EventContext& cx, bool cut);
  void paste(EventContext& cx, Selection which);
  std::size_t index_at_x(double x) const;
  double caret_x(std::size_t index) const;

  enum class Source : std::uint8_t { Own, Cell, Buffer };
  Source m_source = Source::Own;
  std::optional<local_state::TextState> m_cell;
  std::shared_ptr<std::mutex> m_buffer_mutex;  // both point into one shared buffer record
  std::shared_ptr<std::string> m_buffer_text;
  std::uint64_t m_seen_generation = 0;

  std::string m_text;
  std::size_t m_caret = 0;
  std::size_t m_anchor = 0;
  double m_scroll_x = 0;
  std::optional<std::string> m_id;
  std::optional<std::string> m_label;
  std::string m_placeholder;
  InputKind m_kind = InputKind::Text;
  bool m_select_all_on_focus = false;
  bool m_sensitive = false;
  float m_text_size = 14.0f;

  Rect m_bounds;
  bool m_placed = false;
  bool m_focused = false;
  bool m_selecting = false;
  bool m_needs_redraw = true;
  std::shared_ptr<const TextLayout> m_layout;  // the text as last drawn, for hit testing
};

}  // namespace vorn_ui::widget::text_input

namespace vorn_ui::widget {
using text_input::TextInput;
}
