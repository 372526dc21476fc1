// The keyboard in the runtime: the focus moved with Tab through a tree in
// reading order, what handlers ask of it, its ring, the focus kept across a
// rebuild, and the text field's clipboard and leaving keys.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "test_widgets.h"
#include "vorn_ui/clipboard.h"
#include "vorn_ui/focus.h"
#include "vorn_ui/widget/scrollable.h"
#include "vorn_ui/widget/text_input.h"

namespace vorn_ui_test {
namespace {

using vorn_ui::widget::FocusManager;
using vorn_ui::widget::focus::Direction;
using vorn_ui::widget::focus::focus_order;
using vorn_ui::widget::scrollable::Scrollable;
using vorn_ui::widget::text_input::TextInput;

// A widget at a fixed place, focusable or not, with children: the order
// tests need no layout, only boxes.
class Placed final : public Widget {
 public:
  Placed(std::string id, Rect rect, bool focusable = true) : m_id(std::move(id)), m_rect(rect), m_focusable(focusable) {}
  Placed& add(Placed child) {
    m_children.push_back(std::make_unique<Placed>(std::move(child)));
    return *static_cast<Placed*>(m_children.back().get());
  }
  NodeId build_layout(LayoutContext& cx) override { return cx.tree.new_leaf(layout::Style{}); }
  void apply_layout(const layout::LayoutTree&, NodeId, Point) override {}
  void draw(Scene&, const Affine&, DrawContext&) override {}
  void handle_event(const Event& e, EventContext& cx, NodeId) override {
    if (const auto* key = std::get_if<KeyEvent>(&e); key && keeps_tab && m_focused && key->is_named(NamedKey::Tab)) {
      cx.handled = true;
    }
    for (auto& c : m_children) c->handle_event(e, cx, 0);
  }
  std::span<const std::unique_ptr<Widget>> children() const override { return m_children; }
  std::span<std::unique_ptr<Widget>> children_mut() override { return m_children; }
  std::string_view type_name() const override { return "Placed"; }
  std::optional<std::string_view> widget_id() const override { return std::string_view(m_id); }
  Rect bounds() const override { return m_rect; }
  bool is_focusable() const override { return m_focusable; }
  void set_focus(bool f) override { m_focused = f; }
  bool has_focus() const override { return m_focused; }
  std::optional<std::string> get_state() const override { return state; }
  void set_state(std::string_view s) override { state = std::string(s); }
  bool wants_pointer_capture() const override { return captures; }

  bool captures = false;
  bool keeps_tab = false;
  std::optional<std::string> state;

 private:
  std::string m_id;
  Rect m_rect;
  bool m_focusable;
  bool m_focused = false;
  std::vector<WidgetPtr> m_children;
};

std::vector<std::string> ids(const std::vector<Widget*>& widgets) {
  std::vector<std::string> out;
  for (const Widget* w : widgets) out.emplace_back(w->widget_id().value_or("?"));
  return out;
}

// A window as the program builds it: the content pane comes first in the
// tree but lies right of the sidebar; the top bar's controls are centred
// on its line, so their tops differ.
Placed window_tree() {
  Placed root("root", {0, 0, 800, 600}, false);
  Placed& bar = root.add(Placed("bar", {0, 0, 800, 60}, false));
  bar.add(Placed("search", {60, 9, 400, 51}));
  bar.add(Placed("menu", {10, 10, 50, 50}));
  Placed& split = root.add(Placed("split", {0, 60, 800, 600}, false));
  Placed& content = split.add(Placed("content", {100, 60, 800, 600}, false));
  Placed& first_row = content.add(Placed("row1", {100, 60, 800, 260}, false));
  first_row.add(Placed("card_b", {450, 60, 800, 260}));
  first_row.add(Placed("card_a", {100, 60, 440, 250}));
  content.add(Placed("card_c", {100, 270, 440, 470}));
  content.add(Placed("hidden", {0, 0, 0, 0})).add(Placed("inside_hidden", {100, 500, 200, 520}));
  Placed& sidebar = split.add(Placed("sidebar", {0, 60, 100, 600}, false));
  sidebar.add(Placed("nav_home", {0, 70, 100, 110}));
  sidebar.add(Placed("nav_settings", {0, 550, 100, 590}));
  return root;
}

Event tab(bool shift = false) {
  return KeyEvent::named_key(NamedKey::Tab, shift ? Modifiers{Modifiers::kShift} : Modifiers{});
}

// Delivers events through a focus manager, as the window loop does.
struct Driver {
  layout::LayoutTree tree;
  NodeRegistry registry;
  RuntimeState state;
  FocusManager focus;
  MemoryClipboard clipboard;

  EventContext send(Widget& root, const Event& e, NodeId node = 0) {
    EventContext cx{Modifiers{}, state, 1.0, tree};
    if (const auto* key = std::get_if<KeyEvent>(&e)) cx.modifiers = key->modifiers;
    cx.clipboard = &clipboard;
    focus.deliver(root, e, cx, node, registry);
    return cx;
  }
  std::string focused() const {
    const Widget* w = focus.focused();
    return w ? std::string(w->widget_id().value_or("?")) : "";
  }
};

TEST(Keyboard, TraversalFollowsReadingOrder) {
  Placed root = window_tree();
  // The sidebar lies left of the content and is read first, all of it.
  EXPECT_EQ(ids(focus_order(root)),
            (std::vector<std::string>{"menu", "search", "nav_home", "nav_settings", "card_a", "card_b", "card_c"}));

  // A child that takes the pointer (a modal overlay) takes the traversal alone.
  Placed& overlay = root.add(Placed("overlay", {0, 0, 800, 600}, false));
  overlay.add(Placed("dialog_input", {200, 100, 600, 140}));
  overlay.add(Placed("dialog_row", {200, 150, 600, 190}));
  overlay.captures = true;
  EXPECT_EQ(ids(focus_order(root)), (std::vector<std::string>{"dialog_input", "dialog_row"}));
}

TEST(Keyboard, TabAndShiftTabWrapAtBothEnds) {
  Placed root = window_tree();
  Driver d;
  const std::vector<std::string> order{"menu", "search", "nav_home", "nav_settings", "card_a", "card_b", "card_c"};
  for (const auto& want : order) {
    EXPECT_TRUE(d.send(root, tab()).handled);
    EXPECT_EQ(d.focused(), want);
  }
  d.send(root, tab());
  EXPECT_EQ(d.focused(), "menu") << "Tab past the last widget wraps to the first";
  d.send(root, tab(true));
  EXPECT_EQ(d.focused(), "card_c") << "Shift+Tab before the first wraps to the last";
  d.send(root, tab(true));
  EXPECT_EQ(d.focused(), "card_b");

  // From no focus, Shift+Tab starts at the end.
  Driver fresh;
  fresh.send(root, tab(true));
  EXPECT_EQ(fresh.focused(), "card_c");

  // A widget that takes Tab itself keeps it; Ctrl+Tab is nobody's here.
  auto* card = static_cast<Placed*>(d.focus.focused());
  card->keeps_tab = true;
  d.send(root, tab());
  EXPECT_EQ(d.focused(), "card_b");
  card->keeps_tab = false;
  EXPECT_FALSE(d.send(root, KeyEvent::named_key(NamedKey::Tab, Modifiers{Modifiers::kControl})).handled);
  EXPECT_EQ(d.focused(), "card_b");
}

TEST(Keyboard, HandlersMoveTheFocusAndThePointerHidesTheRing) {
  Placed root = window_tree();
  Driver d;
  d.send(root, tab());
  EXPECT_TRUE(d.focus.ring_visible());

  // A primary press that nothing claims (the page's background) takes the focus away.
  d.send(root, press(700, 580));
  EXPECT_EQ(d.focused(), "");
  EXPECT_FALSE(root.children()[0]->children()[1]->has_focus());

  // An id asked for takes it now when the tree holds it, else after the next build.
  class Asking final : public Widget {
   public:
    NodeId build_layout(LayoutContext& cx) override { return cx.tree.new_leaf(layout::Style{}); }
    void apply_layout(const layout::LayoutTree&, NodeId, Point) override {}
    void draw(Scene&, const Affine&, DrawContext&) override {}
    void handle_event(const Event&, EventContext& cx, NodeId) override { cx.focus_id = id; }
    std::string_view type_name() const override { return "Asking"; }
    Rect bounds() const override { return {}; }
    std::string id;
  };
  Asking asking;
  asking.id = "card_b";
  EventContext cx{Modifiers{}, d.state, 1.0, d.tree};
  d.focus.deliver(asking, KeyEvent::character("k"), cx, 0, d.registry);
  EXPECT_EQ(d.focused(), "") << "the asking tree has no such widget yet";
  d.focus.before_rebuild();
  d.focus.after_rebuild(root);
  EXPECT_EQ(d.focused(), "card_b");
  EXPECT_FALSE(d.focus.ring_visible()) << "only Tab shows the ring";
}

TEST(Keyboard, RingIsDrawnAroundTheVisiblePartInEveryTheme) {
  for (const Theme& theme : {Theme::dark(), Theme::light(), Theme::high_contrast()}) {
    Placed root = window_tree();
    Driver d;
    Scene none;
    d.focus.paint_ring(none, Affine::identity(), theme, root);
    EXPECT_TRUE(none.commands().empty());
    d.send(root, tab());
    Scene scene;
    d.focus.paint_ring(scene, Affine::identity(), theme, root);
    const auto strokes = std::count_if(scene.commands().begin(), scene.commands().end(), [&](const auto& c) {
      const auto* s = std::get_if<StrokeCommand>(&c);
      return s != nullptr && std::get_if<Color>(&s->brush) && *std::get_if<Color>(&s->brush) == theme.focus_ring;
    });
    EXPECT_EQ(strokes, 1);
    // The ring's colour stands apart from the page it lies on.
    const Color ring = theme.focus_ring, page = theme.background;
    EXPECT_GT(std::abs(ring.r - page.r) + std::abs(ring.g - page.g) + std::abs(ring.b - page.b), 0.9f);
  }
}

// A full-width box the keyboard can reach, for the layouts with a scroll container.
class FocusBox final : public Box {
 public:
  FocusBox(std::string id, float h) : Box(0, h), m_id(std::move(id)) { fill_width = true; }
  std::optional<std::string_view> widget_id() const override { return std::string_view(m_id); }
  bool is_focusable() const override { return true; }
  void set_focus(bool f) override { m_focused = f; }
  bool has_focus() const override { return m_focused; }

 private:
  std::string m_id;
  bool m_focused = false;
};

// Ten 100-high boxes in a 300-high scroll page.
Scrollable scroll_page_of_boxes() {
  auto column = std::make_unique<Column>();
  column->gap = 10;
  for (int i = 0; i < 10; ++i) column->add(std::make_unique<FocusBox>("box" + std::to_string(i), 100));
  return Scrollable::with_child(WidgetPtr(std::move(column)));
}

TEST(Keyboard, TabScrollsWhatItReachesIntoView) {
  Harness h;
  Scrollable page = scroll_page_of_boxes();
  h.layout(page, 400, 300);
  Driver d;
  auto visible = [&] {
    h.reposition(page);  // the new offset places the content, as the next frame does
    const Rect b = d.focus.focused()->bounds();
    return b.y0 >= page.bounds().y0 && b.y1 <= page.bounds().y1;
  };
  for (int i = 0; i < 10; ++i) {
    d.send(page, tab(), h.nodes.root);
    ASSERT_EQ(d.focused(), "box" + std::to_string(i));
    EXPECT_TRUE(visible()) << "box " << i << " at offset " << page.offset().y;
  }
  EXPECT_NEAR(page.offset().y, page.max_offset().height, 0.5);
  d.send(page, tab(), h.nodes.root);  // wraps to the first, at the top again
  EXPECT_EQ(d.focused(), "box0");
  EXPECT_TRUE(visible());
  EXPECT_EQ(page.offset().y, 0);
  d.send(page, tab(true), h.nodes.root);  // and back to the last
  EXPECT_EQ(d.focused(), "box9");
  EXPECT_TRUE(visible());

  // A widget already in view is not scrolled to.
  d.send(page, tab(true), h.nodes.root);
  const float offset = page.offset().y;
  EXPECT_TRUE(visible());
  EXPECT_EQ(page.offset().y, offset);
}

TEST(Keyboard, RebuildKeepsTheFocusOnTheWidgetWithTheSameId) {
  Placed old_tree = window_tree();
  Driver d;
  for (int i = 0; i < 5; ++i) d.send(old_tree, tab());
  ASSERT_EQ(d.focused(), "card_a");
  static_cast<Placed*>(d.focus.focused())->state = "caret 3";

  Placed new_tree = window_tree();
  d.focus.before_rebuild();
  EXPECT_FALSE(old_tree.children()[1]->children()[0]->children()[0]->children()[1]->has_focus())
      << "the old widget lets go";
  d.focus.after_rebuild(new_tree);
  ASSERT_EQ(d.focused(), "card_a");
  EXPECT_TRUE(d.focus.focused()->has_focus());
  EXPECT_EQ(static_cast<Placed*>(d.focus.focused())->state, "caret 3") << "its state comes along";
  EXPECT_TRUE(d.focus.ring_visible());
  d.send(new_tree, tab());
  EXPECT_EQ(d.focused(), "card_b") << "and Tab goes on from there";

  // A tree without the widget leaves nothing focused.
  Placed other("root", {0, 0, 800, 600}, false);
  other.add(Placed("elsewhere", {0, 0, 100, 100}));
  d.focus.before_rebuild();
  d.focus.after_rebuild(other);
  EXPECT_EQ(d.focused(), "");
}

// ---- the text field's keys ----

struct Field {
  Harness h;
  Driver d;
  Column col;
  TextInput* input = nullptr;
  explicit Field(TextInput field, std::optional<TextInput> second = std::nullopt) {
    input = &col.add_widget(std::move(field));
    if (second) col.add_widget(std::move(*second));
    h.layout(col, 300, 80);
    d.tree = std::move(h.tree);
    d.registry = std::move(h.registry);
  }
  EventContext key(NamedKey k, std::uint32_t mods = 0) {
    return d.send(col, KeyEvent::named_key(k, Modifiers{mods}), h.nodes.root);
  }
  EventContext ctrl(const char* letter) {
    return d.send(col, KeyEvent::character(letter, Modifiers{Modifiers::kControl}), h.nodes.root);
  }
  EventContext send(const Event& e) { return d.send(col, e, h.nodes.root); }
  void click(double x, double y) {
    send(press(x, y));
    send(release(x, y));
  }
};

TEST(Keyboard, TextFieldCopiesCutsAndPastesAsADesktopField) {
  Field f(TextInput::local("hello world"));
  f.click(5, 5);
  ASSERT_TRUE(f.input->has_focus());
  ASSERT_EQ(f.d.focused(), "?");  // the field, which has no id

  f.key(NamedKey::End);
  f.key(NamedKey::ArrowLeft, Modifiers::kShift | Modifiers::kControl);  // selects "world"
  EXPECT_EQ(f.d.clipboard.text(Selection::Primary), "world") << "a selection becomes the primary selection";
  EXPECT_TRUE(f.ctrl("c").handled);
  EXPECT_EQ(f.d.clipboard.text(Selection::Clipboard), "world");
  EXPECT_TRUE(f.ctrl("x").handled);
  EXPECT_EQ(f.input->text(), "hello ");
  f.key(NamedKey::Home);
  EXPECT_TRUE(f.ctrl("v").handled);
  EXPECT_EQ(f.input->text(), "worldhello ");
  EXPECT_EQ(f.input->caret(), 5u);

  // Shift+Insert pastes the clipboard too; pasted line breaks and controls go.
  f.d.clipboard.set_text(Selection::Clipboard, "a\nb\x07");
  f.key(NamedKey::End);
  EXPECT_TRUE(f.key(NamedKey::Insert, Modifiers::kShift).handled);
  EXPECT_EQ(f.input->text(), "worldhello ab");

  // Ctrl+A selects everything; a paste replaces it.
  f.ctrl("a");
  EXPECT_EQ(f.input->selection(), (std::pair<std::size_t, std::size_t>{0, 13}));
  f.d.clipboard.set_text(Selection::Clipboard, "grayjay://invite");
  f.ctrl("v");
  EXPECT_EQ(f.input->text(), "grayjay://invite");

  // The middle button pastes the primary selection where it is pressed.
  f.d.clipboard.set_text(Selection::Primary, "X");
  f.send(PointerButtonEvent{PointerButton::Middle, true, {2, 5}});
  EXPECT_EQ(f.input->text(), "Xgrayjay://invite");

  // With nothing on the clipboard a paste changes nothing.
  Field empty(TextInput::local("kept"));
  empty.click(5, 5);
  empty.ctrl("v");
  EXPECT_EQ(empty.input->text(), "kept");
}

TEST(Keyboard, PasswordAndSensitiveFieldsKeepTheirText) {
  Field password(TextInput::local("secret").with_kind(1));
  password.click(5, 5);
  password.ctrl("a");
  password.ctrl("c");
  password.ctrl("x");
  EXPECT_FALSE(password.d.clipboard.text(Selection::Clipboard).has_value());
  EXPECT_FALSE(password.d.clipboard.text(Selection::Primary).has_value());
  EXPECT_EQ(password.input->text(), "secret");

  // A sensitive field copies on request but never offers its selection to other programs.
  Field invite(TextInput::local("grayjay://x").with_option(vorn_ui::widget::text_input::InputOption::Sensitive));
  invite.click(5, 5);
  invite.ctrl("a");
  EXPECT_FALSE(invite.d.clipboard.text(Selection::Primary).has_value());
  invite.ctrl("c");
  EXPECT_EQ(invite.d.clipboard.text(Selection::Clipboard), "grayjay://x");
}

TEST(Keyboard, EscapeAndTabLeaveTheField) {
  Field f(TextInput::local("abc"));
  f.click(5, 5);
  ASSERT_TRUE(f.input->has_focus());
  const auto escape = f.key(NamedKey::Escape);
  EXPECT_TRUE(escape.handled) << "Escape is the field's: nothing behind it acts on it";
  EXPECT_FALSE(f.input->has_focus());
  EXPECT_EQ(f.d.focused(), "");
  EXPECT_FALSE(f.send(TextInputEvent{"x"}).handled);
  EXPECT_EQ(f.input->text(), "abc");

  // Tab is not an editing key: it moves the focus on to the next widget.
  Field two(TextInput::local("one").with_id("first"), TextInput::local("two").with_id("second"));
  two.click(5, 5);
  EXPECT_EQ(two.d.focused(), "first");
  EXPECT_TRUE(two.key(NamedKey::Tab).handled);
  EXPECT_EQ(two.d.focused(), "second");
  EXPECT_FALSE(two.input->has_focus());
}

TEST(Keyboard, FieldBuiltAfreshKeepsItsCaret) {
  Field f(TextInput::local("hello world").with_id("field"));
  f.click(5, 5);
  f.key(NamedKey::Home);
  f.key(NamedKey::ArrowRight);
  f.key(NamedKey::ArrowRight, Modifiers::kShift);
  const auto state = f.input->get_state();
  ASSERT_TRUE(state.has_value());

  TextInput again = TextInput::local("hello world").with_id("field");
  EXPECT_EQ(again.caret(), 11u);
  again.set_state(*state);
  EXPECT_EQ(again.caret(), 2u);
  EXPECT_EQ(again.selection(), (std::pair<std::size_t, std::size_t>{1, 2}));
  // A state from a longer text, or one that does not parse, is held to this text.
  TextInput shorter = TextInput::local("hé");
  shorter.set_state("2 9");
  EXPECT_EQ(shorter.caret(), 1u) << "inside the two bytes of é: moved onto it";
  EXPECT_EQ(shorter.selection().second, 3u);
  shorter.set_state("nonsense");
  EXPECT_EQ(shorter.caret(), 1u);
}

}  // namespace
}  // namespace vorn_ui_test
