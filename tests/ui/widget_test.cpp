#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>

#include "test_widgets.h"
#include "vorn_ui/local_state.h"
#include "vorn_ui/widget/nav_split.h"
#include "vorn_ui/widget/scrollable.h"
#include "vorn_ui/widget/text_input.h"
#include "vorn_ui/widget/text_widget.h"

namespace {

using namespace vorn_ui_test;
using vorn_ui::local_state::TextState;
using vorn_ui::widget::scrollable::ScrollOffset;

// A buffer record of the program's own kind: a mutex guarding a text.
struct PendingText {
  std::mutex mutex;
  std::string text;
};

TEST(WidgetDefaults, ClipTestNeedsAnOverlapWithArea) {
  const Rect bounds{0, 0, 100, 50};
  struct Row {
    std::optional<Rect> clip;
    bool clipped;
  };
  const Row rows[] = {
      {std::nullopt, false},          {Rect{0, 0, 10, 10}, false},   {Rect{100, 0, 200, 50}, true},
      {Rect{0, 50, 100, 90}, true},   {Rect{99, 49, 300, 300}, false}, {Rect{-50, -50, -1, -1}, true},
  };
  for (const Row& r : rows) EXPECT_EQ(is_clipped_out(bounds, PresenceContext{r.clip}), r.clipped);
}

TEST(WidgetDefaults, TraversalsAskTheChildrenInOrder) {
  Column col;
  Box& a = col.add_widget(Box(10, 10));
  Box& b = col.add_widget(Box(10, 10));
  ControlInvocation first{{"r", "first"}, nlohmann::json::object(), "{}"};
  ControlInvocation second{{"r", "second"}, nlohmann::json::object(), "{}"};
  b.invocations.push_back(second);
  a.invocations.push_back(first);
  EXPECT_EQ(col.take_control_invocation()->address.action, "first");
  EXPECT_EQ(col.take_control_invocation()->address.action, "second");
  EXPECT_FALSE(col.take_control_invocation().has_value());

  b.handles = "sarn.operation";
  EXPECT_TRUE(col.perform_operation({1, "sarn.operation", "{}"}).is_handled());
  EXPECT_FALSE(col.perform_operation({1, "other", "{}"}).is_handled());

  const auto now = std::chrono::steady_clock::now();
  a.deadline = now + std::chrono::seconds(5);
  b.deadline = now + std::chrono::seconds(2);
  EXPECT_EQ(col.next_wake_deadline(), b.deadline);

  EXPECT_TRUE(col.reveal_descendant(&b));
  Box stranger(1, 1);
  EXPECT_FALSE(col.reveal_descendant(&stranger));
}

TEST(WidgetDefaults, MeasureAndDamageFollowTheChildren) {
  Harness h;
  Column col;
  Box& a = col.add_widget(Box(10, 10));
  col.add_widget(Box(10, 10));
  // A container's own dirty answer is ignored while it has children.
  EXPECT_TRUE(col.layout_needs_measure());
  h.layout(col, 200, 100);
  EXPECT_FALSE(col.layout_needs_measure());
  a.dirty = true;
  EXPECT_TRUE(col.layout_needs_measure());

  std::vector<Rect> damage;
  a.redraw = true;
  col.collect_damage(damage);
  ASSERT_EQ(damage.size(), 1u);
  EXPECT_EQ(damage[0], col.bounds());
}

TEST(WidgetDefaults, LabelsAndKeyActions) {
  Harness h;
  Box box(50, 20);
  h.layout(box, 100, 100);
  EXPECT_FALSE(box.label_at({5, 5}).has_value());
  box.label = "Open video: x";
  auto label = box.label_at({5, 5});
  ASSERT_TRUE(label.has_value());
  EXPECT_EQ(label->text, "Open video: x");
  EXPECT_FALSE(box.label_at({50, 5}).has_value());  // x1 is outside

  // A well-formed identifier hands the request given to perform_action.
  struct Row {
    const char* identifier;
    AccessRequest request;
    bool performed;
  };
  const Row rows[] = {
      {"vorn.key-action:activate", AccessRequest::Activate, true},
      {"vorn.key-action:focus", AccessRequest::Activate, true},
      {"vorn.key-action:2", AccessRequest::Toggle, true},
      {"vorn.key-action:bogus", AccessRequest::Activate, false},
      {"vorn.key-action:", AccessRequest::Activate, false},
      {"other:activate", AccessRequest::Activate, false},
  };
  for (const Row& r : rows) {
    box.last_request.reset();
    EXPECT_EQ(box.handle_key_action(r.identifier, r.request), r.performed) << r.identifier;
    EXPECT_EQ(box.last_request, r.performed ? std::optional<AccessRequest>(r.request) : std::nullopt) << r.identifier;
  }
}

TEST(WidgetDefaults, BindingsComeFromAccessibilityNodes) {
  AccessNode button(Role::Button, Rect{});
  button.name = "Play";
  button.focusable = true;
  auto bindings = semantic_action_bindings(button);
  ASSERT_EQ(bindings.size(), 1u);
  EXPECT_EQ(bindings[0].control_id, "Play");
  button.enabled = false;
  EXPECT_TRUE(semantic_action_bindings(button).empty());
  EXPECT_TRUE(semantic_action_bindings(std::nullopt).empty());
}

// A scroll page: 20 boxes of 100 px with a gap of 10 inside a 400 px viewport.
struct ScrollPage {
  std::vector<Box*> boxes;
  std::shared_ptr<ScrollOffset> offset = std::make_shared<ScrollOffset>();
  std::unique_ptr<Scrollable> scroller;

  explicit ScrollPage(float start_y = 0) {
    auto col = std::make_unique<Column>();
    col->gap = 10;
    for (int i = 0; i < 20; ++i) {
      Box& b = col->add_widget(Box(100, 100));
      b.fill_width = true;
      boxes.push_back(&b);
    }
    offset->y = start_y;
    scroller = std::make_unique<Scrollable>(
        Scrollable::with_child(WidgetPtr(std::move(col))).with_persisted_offset(offset).with_settings(24, 0.9f, 0.9f, 1.0f));
  }
};

TEST(Scrolling, ScrollRepositionsWithoutAnotherSolve) {
  Harness h;
  ScrollPage page;
  h.layout(*page.scroller, 300, 400);
  EXPECT_EQ(page.boxes[1]->bounds().y0, 110);
  EXPECT_EQ(page.scroller->max_offset().height, 20 * 100 + 19 * 10 - 400);
  EXPECT_FALSE(page.scroller->layout_needs_measure());

  for (int frame = 0; frame < 3; ++frame) {
    auto cx = h.send(*page.scroller, scroll(-3.0));
    EXPECT_TRUE(cx.handled);
    EXPECT_FALSE(page.scroller->layout_needs_measure());
    h.reposition(*page.scroller);
  }
  EXPECT_EQ(page.offset->y, 9);
  EXPECT_EQ(page.boxes[1]->bounds().y0, 101);
  EXPECT_TRUE(page.scroller->needs_redraw());

  // A wheel notch moves by the step; the offset stops at the end.
  h.send(*page.scroller, scroll(-1.0, false));
  EXPECT_EQ(page.offset->y, 33);
  h.send(*page.scroller, scroll(-1000.0, false));
  EXPECT_EQ(page.offset->y, 1790);
  h.send(*page.scroller, scroll(5000.0));
  EXPECT_EQ(page.offset->y, 0);
  EXPECT_FALSE(h.send(*page.scroller, scroll(10.0)).handled);  // already at the top
}

TEST(Scrolling, KeysTheChildLeavesScrollThePage) {
  Harness h;
  ScrollPage page;
  h.layout(*page.scroller, 300, 400);
  struct Row {
    Event key;
    float offset;
  };
  const Row rows[] = {
      {KeyEvent::named_key(NamedKey::PageDown), 360},
      {KeyEvent::named_key(NamedKey::ArrowDown), 400},
      {KeyEvent::named_key(NamedKey::Space, Modifiers{Modifiers::kShift}), 40},
      {KeyEvent::named_key(NamedKey::End), 1790},
      {KeyEvent::named_key(NamedKey::ArrowUp), 1750},
      {KeyEvent::named_key(NamedKey::Home), 0},
  };
  for (const Row& r : rows) {
    h.send(*page.scroller, r.key);
    EXPECT_EQ(page.offset->y, r.offset);
  }
  KeyEvent released = KeyEvent::named_key(NamedKey::PageDown);
  released.released = true;
  EXPECT_FALSE(h.send(*page.scroller, released).handled);
  EXPECT_FALSE(h.send(*page.scroller, KeyEvent::named_key(NamedKey::PageDown, Modifiers{Modifiers::kAlt})).handled);
  EXPECT_EQ(page.offset->y, 0);
}

TEST(Scrolling, PersistedOffsetIsSharedAndClamped) {
  Harness h;
  ScrollPage page(5000);
  h.layout(*page.scroller, 300, 400);
  EXPECT_EQ(page.offset->y, 1790);
  EXPECT_EQ(page.boxes[19]->bounds().y1, 400);

  // Only boxes inside the viewport are drawn.
  Scene scene = h.draw(*page.scroller, Rect{0, 0, 300, 400});
  int drawn = 0;
  for (Box* b : page.boxes) drawn += b->draws;
  EXPECT_EQ(drawn, 4);
  EXPECT_EQ(scene.layer_depth(), 0u);
}

TEST(Scrolling, DragScrollsAndSwallowsTheClick) {
  Harness h;
  ScrollPage page;
  h.layout(*page.scroller, 300, 400);
  // A click without movement reaches the box.
  h.send(*page.scroller, press(50, 50));
  h.send(*page.scroller, release(50, 50));
  EXPECT_EQ(page.boxes[0]->clicks, 1);

  h.send(*page.scroller, press(50, 300));
  h.send(*page.scroller, move(50, 280));
  EXPECT_TRUE(page.scroller->wants_pointer_capture());
  h.send(*page.scroller, move(50, 200));
  EXPECT_EQ(page.offset->y, 100);
  auto cx = h.send(*page.scroller, release(50, 200));
  EXPECT_TRUE(cx.handled);
  EXPECT_FALSE(page.scroller->wants_pointer_capture());
  int clicks = 0;
  for (Box* b : page.boxes) clicks += b->clicks;
  EXPECT_EQ(clicks, 1);

  // The fling left by the drag decays over the next frames.
  const float after_release = page.offset->y;
  EXPECT_TRUE(page.scroller->needs_animation_frame());
  for (int i = 0; i < 200 && page.scroller->needs_animation_frame(); ++i) page.scroller->sync(h.state);
  EXPECT_GT(page.offset->y, after_release);
  EXPECT_FALSE(page.scroller->needs_animation_frame());
}

TEST(Scrolling, TheReleaseEndingADragReachesTheChildHandled) {
  // A control pressed where a drag began sees the release (marked handled, so
  // it is no click) and can let go of its press.
  Harness h;
  auto tall = std::make_unique<Box>(100, 2000);
  Box* box = tall.get();
  Scrollable scroller = Scrollable::with_child(WidgetPtr(std::move(tall)));
  h.layout(scroller, 300, 400);
  h.send(scroller, press(50, 300));
  h.send(scroller, move(50, 200));
  ASSERT_TRUE(scroller.wants_pointer_capture());
  const int seen = box->events;
  EXPECT_TRUE(h.send(scroller, release(50, 200)).handled);
  EXPECT_EQ(box->events, seen + 1);
  EXPECT_EQ(box->clicks, 0);
}

TEST(TextEditing, TypingPublishesIntoTheSharedCell) {
  Harness h;
  TextState cell("");
  Column col;
  auto& input = col.add_widget(TextInput::from_state(cell).with_id("search_input").with_kind(2).with_placeholder("Search"));
  h.layout(col, 300, 40);
  EXPECT_FALSE(input.has_focus());

  auto cx = h.send(col, press(10, 5));
  EXPECT_TRUE(input.has_focus());
  ASSERT_TRUE(cx.focus_request.has_value());
  h.send(col, TextInputEvent{"rust"});
  h.send(col, TextInputEvent{" prog\x01"});  // control bytes are dropped
  EXPECT_EQ(cell.text(), "rust prog");
  EXPECT_EQ(cell.generation(), 2u);

  h.send(col, KeyEvent::named_key(NamedKey::Backspace));
  EXPECT_EQ(cell.text(), "rust pro");
  // Shift+Left twice selects "ro"; typing replaces it.
  KeyEvent left = KeyEvent::named_key(NamedKey::ArrowLeft, Modifiers{Modifiers::kShift});
  h.send(col, left);
  h.send(col, left);
  EXPECT_EQ(input.selection(), (std::pair<std::size_t, std::size_t>{6, 8}));
  h.send(col, TextInputEvent{"é"});
  EXPECT_EQ(cell.text(), "rust pé");
  h.send(col, KeyEvent::named_key(NamedKey::Backspace));  // a whole two-byte character
  EXPECT_EQ(cell.text(), "rust p");

  // Ctrl+Left jumps over a word; Ctrl+Backspace erases one.
  h.send(col, KeyEvent::named_key(NamedKey::ArrowLeft, Modifiers{Modifiers::kControl}));
  EXPECT_EQ(input.caret(), 5u);
  h.send(col, KeyEvent::named_key(NamedKey::End));
  h.send(col, TextInputEvent{" more"});
  h.send(col, KeyEvent::named_key(NamedKey::Backspace, Modifiers{Modifiers::kControl}));
  EXPECT_EQ(cell.text(), "rust p ");
  h.send(col, KeyEvent::named_key(NamedKey::Backspace));

  // Enter is not the field's: it stays unhandled for the shortcuts.
  EXPECT_FALSE(h.send(col, KeyEvent::named_key(NamedKey::Enter)).handled);
  // Ctrl+A then typing replaces everything.
  h.send(col, KeyEvent::character("a", Modifiers{Modifiers::kControl}));
  h.send(col, TextInputEvent{"new"});
  EXPECT_EQ(cell.text(), "new");

  // What another owner publishes shows up after the next sync.
  cell.publish("from root");
  input.sync(h.state);
  EXPECT_EQ(input.text(), "from root");

  // A press elsewhere takes the focus away; typing then goes nowhere.
  h.send(col, press(10, 500));
  EXPECT_FALSE(input.has_focus());
  EXPECT_FALSE(h.send(col, TextInputEvent{"x"}).handled);
  EXPECT_EQ(cell.text(), "from root");
}

TEST(TextEditing, SpaceInAFocusedFieldDoesNotScrollThePage) {
  // The field sits before a scroll page in one column, as the top bar's search
  // field sits before the page: a key the field leaves goes on to the page.
  Harness h;
  Column col;
  col.size = {vorn_ui::layout::Dimension::percent(1), vorn_ui::layout::Dimension::percent(1)};
  auto& input = col.add_widget(TextInput::local().with_id("search_input"));
  ScrollPage page;
  Scrollable& scroller = col.add_widget(std::move(*page.scroller));
  h.layout(col, 300, 440);
  input.set_focus(true);
  EXPECT_TRUE(h.send(col, KeyEvent::named_key(NamedKey::Space)).handled);
  h.send(col, TextInputEvent{" "});
  EXPECT_EQ(input.text(), " ");
  EXPECT_EQ(scroller.offset().y, 0);
  // Unfocused, Space pages down as before.
  input.set_focus(false);
  h.send(col, KeyEvent::named_key(NamedKey::Space));
  EXPECT_GT(scroller.offset().y, 0);
}

TEST(TextEditing, ExternalBufferIsEditedInPlace) {
  Harness h;
  auto buffer = std::make_shared<PendingText>();
  Column col;
  auto& input = col.add_widget(TextInput::local()
                                   .with_id("grayjay_pairing_invite")
                                   .with_external_buffer(buffer)
                                   .with_placeholder("grayjay:// pairing invite")
                                   .with_label("Grayjay pairing invite")
                                   .with_option(vorn_ui::widget::text_input::InputOption::Sensitive));
  h.layout(col, 300, 40);
  input.set_focus(true);
  h.send(col, TextInputEvent{"grayjay://abc"});
  {
    std::lock_guard lock(buffer->mutex);
    EXPECT_EQ(buffer->text, "grayjay://abc");
    buffer->text.clear();  // the owner takes the invite out
  }
  input.sync(h.state);
  EXPECT_EQ(input.text(), "");
  auto node = input.accessibility();
  ASSERT_TRUE(node.has_value());
  EXPECT_EQ(node->name, "Grayjay pairing invite");
  EXPECT_FALSE(node->value.has_value());  // sensitive text stays out of the tree
  EXPECT_FALSE(input.text_review().has_value());
}

TEST(TextEditing, PlaceholderAndCaretAreDrawn) {
  Harness h;
  Column col;
  auto& input = col.add_widget(TextInput::local().with_placeholder("Search").with_text_size(15));
  h.layout(col, 300, 40);
  Scene idle = h.draw(col);
  int texts = 0;
  for (const auto& c : idle.commands()) texts += std::holds_alternative<TextCommand>(c);
  EXPECT_EQ(texts, 1);
  input.set_focus(true);
  Scene focused = h.draw(col);
  EXPECT_GT(focused.commands().size(), idle.commands().size());  // the caret
}

TEST(LocalStates, PublicationsCountAndWake) {
  std::atomic<int> wakes = 0;
  vorn_ui::wake::set_loop_waker([&] { ++wakes; });
  TextState cell("start");
  EXPECT_EQ(cell.generation(), 0u);
  EXPECT_EQ(cell.publish("same"), 1u);
  EXPECT_EQ(cell.publish("same"), 2u);
  EXPECT_EQ(wakes.load(), 2);
  TextState shared = cell;  // a copy shares the cell
  EXPECT_TRUE(shared.same_cell(cell));
  cell.wake_handle().close();
  EXPECT_FALSE(shared.publish("refused").has_value());
  EXPECT_EQ(shared.text(), "same");
  vorn_ui::wake::set_loop_waker({});
}

TEST(NavSplits, PaneBesideOverOrHidden) {
  struct Row {
    double width;
    float reveal;
    double content_x0, content_width;
    bool overlay;
  };
  const Row rows[] = {
      {1280, 1.0f, 86, 1280 - 86, false},
      {1280, 0.0f, 0, 1280, false},
      {560, 1.0f, 0, 560, true},
      {560, 0.0f, 0, 560, false},
  };
  for (const Row& r : rows) {
    Harness h;
    auto side = std::make_unique<Box>(86, 10);
    auto content = std::make_unique<Box>(10, 10);
    side->fill_width = true;
    content->fill_width = true;
    Box* side_ptr = side.get();
    Box* content_ptr = content.get();
    auto split = NavSplit::make(WidgetPtr(std::move(side)), WidgetPtr(std::move(content)), 760, 86, r.reveal);
    h.layout(split, r.width, 800);
    EXPECT_EQ(split.is_overlay(), r.overlay) << r.width;
    EXPECT_EQ(content_ptr->bounds().x0, r.content_x0) << r.width;
    EXPECT_EQ(content_ptr->bounds().width(), r.content_width) << r.width;
    if (r.reveal > 0) {
      EXPECT_EQ(side_ptr->bounds().x0, 0);
    }
    EXPECT_FALSE(split.layout_needs_measure());
    // In overlay mode the pane takes the click first.
    auto cx = h.send(split, release(40, 5));
    EXPECT_TRUE(cx.handled);
    EXPECT_EQ(side_ptr->clicks, r.reveal > 0 ? 1 : 0);
  }
}

TEST(NavSplits, BothPanesAreSyncedAndReportStructureChanges) {
  // A pane's leaves load their pictures in sync; a split that kept it from
  // them would never show a picture nor advance a player.
  struct Leaf : Box {
    Leaf() : Box(10, 10) {}
    void sync(RuntimeState&) override { ++syncs; }
    bool take_structure_dirty() override { return std::exchange(dirty, false); }
    int syncs = 0;
    bool dirty = false;
  };
  for (float reveal : {1.0f, 0.0f}) {
    auto side = std::make_unique<Leaf>();
    auto content = std::make_unique<Leaf>();
    Leaf* side_ptr = side.get();
    Leaf* content_ptr = content.get();
    auto split = NavSplit::make(WidgetPtr(std::move(side)), WidgetPtr(std::move(content)), 760, 86, reveal);
    RuntimeState state;
    split.sync(state);
    split.sync(state);
    EXPECT_EQ(content_ptr->syncs, 2);
    EXPECT_EQ(side_ptr->syncs, 2);
    EXPECT_FALSE(split.take_structure_dirty());
    content_ptr->dirty = true;
    EXPECT_TRUE(split.take_structure_dirty());
    EXPECT_FALSE(split.take_structure_dirty());
    side_ptr->dirty = true;
    EXPECT_TRUE(split.take_structure_dirty());
  }
}

TEST(TextLabels, MeasuredAndWrappedInAColumn) {
  Harness h;
  Column col;
  col.size = {vorn_ui::layout::Dimension::length(120), vorn_ui::layout::Dimension::auto_()};
  auto& short_text = col.add_widget(Text("Home").with_size(14));
  auto& long_text = col.add_widget(Text("A rather long title that has to wrap over lines").with_size(14));
  h.layout(col, 400, 400);
  const Size one_line = h.text.measure("Home", 14);
  EXPECT_DOUBLE_EQ(short_text.bounds().height(), std::round(one_line.height));
  EXPECT_GT(long_text.bounds().height(), 2 * std::round(one_line.height) - 1);
  EXPECT_LE(long_text.bounds().width(), 120);
  EXPECT_FALSE(col.layout_needs_measure());
}

TEST(TextLabels, RoundingNeverBreaksAMeasuredLine) {
  // A text placed at x = 0.6 loses up to a pixel of width to rounding; it
  // must still be drawn on the one line it was measured on.
  Harness h;
  Column row;
  row.direction = vorn_ui::layout::FlexDirection::Row;
  row.align = vorn_ui::layout::AlignItems::Start;
  row.add_widget(Box(0.6f, 10));
  auto& label = row.add_widget(Text("Rust in 100 seconds #1").with_size(14.5f));
  h.layout(row, 400, 100);
  EXPECT_LT(label.bounds().width(), h.text.measure("Rust in 100 seconds #1", 14.5f).width);
  Scene scene = h.draw(row);
  bool found = false;
  for (const auto& c : scene.commands()) {
    if (const auto* t = std::get_if<TextCommand>(&c)) {
      EXPECT_EQ(t->layout->line_count(), 1u);
      found = true;
    }
  }
  EXPECT_TRUE(found);
}

}  // namespace
