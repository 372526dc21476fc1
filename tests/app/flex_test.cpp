// Flex: layout as numbers through the runtime's solver, input by synthetic
// events, drawing by the recorded scene (and pixels where the clip matters).
#include <gtest/gtest.h>

#include <cmath>

#include "sarn/app/widgets/flex.h"
#include "test_widgets.h"
#include "vorn_ui/offscreen.h"
#include "vorn_ui/widget/icon_widget.h"
#include "vorn_ui/widget/scrollable.h"
#include "vorn_ui/widget/text_input.h"
#include "vorn_ui/widget/text_widget.h"

namespace sarn::widgets {
namespace {

using vorn_ui_test::Box;
using vorn_ui_test::Harness;
using vorn_ui_test::move;
using vorn_ui_test::press;
using vorn_ui_test::release;
namespace ui = vorn_ui;

// A leaf that reports a structure change once and counts what it sees.
class Probe final : public ui::widget::Widget {
public:
    explicit Probe(float w = 10, float h = 10) : m_w(w), m_h(h) {}
    ui::widget::NodeId build_layout(ui::widget::LayoutContext& cx) override {
        ui::layout::Style s;
        s.size = {ui::layout::Dimension::length(m_w), ui::layout::Dimension::length(m_h)};
        s.flex_shrink = 0;
        auto n = cx.tree.new_leaf(s);
        cx.registry.register_node(n, this);
        return n;
    }
    void apply_layout(const ui::layout::LayoutTree& tree, ui::widget::NodeId node, ui::Point o) override {
        auto l = tree.layout(node);
        m_bounds = {o.x + l->x, o.y + l->y, o.x + l->x + l->width, o.y + l->y + l->height};
    }
    void draw(ui::Scene&, const ui::Affine&, ui::widget::DrawContext&) override {}
    void handle_event(const ui::Event&, ui::widget::EventContext&, ui::widget::NodeId) override { ++*events; }
    std::string_view type_name() const override { return "Probe"; }
    ui::Rect bounds() const override { return m_bounds; }
    bool take_structure_dirty() override { return std::exchange(*structure_dirty, false); }
    bool wants_pointer_capture() const override { return *capture; }
    bool needs_redraw() const override { return *redraw; }
    void mark_drawn() override { *redraw = false; }

    std::shared_ptr<int> events = std::make_shared<int>(0);
    std::shared_ptr<bool> structure_dirty = std::make_shared<bool>(false);
    std::shared_ptr<bool> capture = std::make_shared<bool>(false);
    std::shared_ptr<bool> redraw = std::make_shared<bool>(false);

private:
    float m_w, m_h;
    ui::Rect m_bounds;
};

// The root of every test tree: a column pinned to the top left, so that the
// Flex under test is laid out at its own size.
Flex frame(Flex inner) { return Flex::column().with_width(FlexSize::fill()).child(std::move(inner)); }

ui::Rect child_bounds(const Flex& f, std::size_t i) { return f.children()[i]->bounds(); }
const Flex& child_flex(const Flex& f, std::size_t i) { return static_cast<const Flex&>(*f.children()[i]); }
Flex& child_flex(Flex& f, std::size_t i) { return static_cast<Flex&>(*f.children_mut()[i]); }

TEST(FlexLayout, ChildlessFlexIsALeafSizedByItsOwnSizeAndPadding) {
    Harness h;
    Flex root = frame(Flex::row().with_padding_edges(4, 6, 10, 2));
    root = std::move(root).child(Flex::row().with_width(FlexSize::px(50)).with_padding(7));
    h.layout(root, 400, 300);
    EXPECT_EQ(child_bounds(root, 0), (ui::Rect{0, 0, 14, 8}));
    EXPECT_EQ(child_bounds(root, 1), (ui::Rect{0, 8, 50, 22}));
    EXPECT_FALSE(root.is_layout_dirty());  // a Flex never dirties its own layout
}

TEST(FlexLayout, BlockContainerStacksFullWidthChildrenWithTheGap) {
    Harness h;
    Flex page = Flex::column()
                    .with_width(FlexSize::fill())
                    .with_block(true)
                    .with_gap(12)
                    .with_padding(8)
                    .child(Box(10, 10))
                    .child(Flex::row().with_height(FlexSize::px(20)))
                    .child(Box(30, 30));
    Flex root = frame(std::move(page));
    h.layout(root, 400, 300);
    const Flex& block = child_flex(root, 0);
    EXPECT_EQ(block.layout_style().display, ui::layout::Display::Block);
    EXPECT_EQ(block.bounds(), (ui::Rect{0, 0, 400, 8 + 10 + 12 + 20 + 12 + 30 + 8}));
    EXPECT_EQ(child_bounds(block, 0), (ui::Rect{8, 8, 18, 18}));    // a fixed width stays
    EXPECT_EQ(child_bounds(block, 1), (ui::Rect{8, 30, 392, 50}));  // an auto width fills the block
    EXPECT_EQ(child_bounds(block, 2), (ui::Rect{8, 62, 38, 92}));
}

TEST(FlexLayout, MinTrackMakesAnAutoFillGridThatIgnoresDirectionAndWrap) {
    Harness h;
    Flex grid = Flex::column().with_wrap(true).with_width(FlexSize::px(1000)).with_gap(10).with_min_track(300);
    for (int i = 0; i < 4; ++i) grid = std::move(grid).child(Flex::row().with_height(FlexSize::px(40)));
    Flex root = frame(std::move(grid));
    h.layout(root, 1200, 600);
    const Flex& g = child_flex(root, 0);
    EXPECT_EQ(g.layout_style().display, ui::layout::Display::Grid);
    // Three columns of (1000 - 2 * 10) / 3 = 326.67; the fourth card starts the second row.
    EXPECT_EQ(child_bounds(g, 0), (ui::Rect{0, 0, 327, 40}));
    EXPECT_EQ(child_bounds(g, 1), (ui::Rect{337, 0, 663, 40}));
    EXPECT_EQ(child_bounds(g, 2), (ui::Rect{673, 0, 1000, 40}));
    EXPECT_EQ(child_bounds(g, 3), (ui::Rect{0, 50, 327, 90}));
    EXPECT_EQ(g.bounds().height(), 90);
}

TEST(FlexLayout, MainAlignDistributesAlongTheRow) {
    struct Case {
        FlexAlign main;
        double x0, x1, x2;
    } cases[] = {
        {FlexAlign::Start, 0, 10, 20},
        {FlexAlign::Center, 35, 45, 55},
        {FlexAlign::End, 70, 80, 90},
        {FlexAlign::Fill, 0, 45, 90},  // the free space goes between
    };
    for (const Case& c : cases) {
        Harness h;
        Flex root = frame(Flex::row()
                              .with_width(FlexSize::px(100))
                              .with_main_align(c.main)
                              .child(Box(10, 10))
                              .child(Box(10, 10))
                              .child(Box(10, 10)));
        h.layout(root, 400, 300);
        const Flex& row = child_flex(root, 0);
        EXPECT_EQ(child_bounds(row, 0).x0, c.x0) << static_cast<int>(c.main);
        EXPECT_EQ(child_bounds(row, 1).x0, c.x1) << static_cast<int>(c.main);
        EXPECT_EQ(child_bounds(row, 2).x0, c.x2) << static_cast<int>(c.main);
    }
}

TEST(FlexLayout, CrossAlignDefaultsCentreRowsAndStartColumns) {
    Harness h;
    Flex root = frame(Flex::column()
                          .with_width(FlexSize::px(300))
                          .child(Flex::row().with_height(FlexSize::px(60)).child(Box(20, 20)))
                          .child(Box(50, 10))
                          .child(Flex::column().with_width(FlexSize::fill()).with_cross_align(FlexAlign::Fill).child(
                              Flex::row().with_height(FlexSize::px(5)))));
    h.layout(root, 400, 300);
    const Flex& col = child_flex(root, 0);
    EXPECT_EQ(child_bounds(child_flex(col, 0), 0), (ui::Rect{0, 20, 20, 40}));  // centred in the row
    EXPECT_EQ(child_bounds(col, 1), (ui::Rect{0, 60, 50, 70}));                 // not stretched in a column
    EXPECT_EQ(child_bounds(child_flex(col, 2), 0), (ui::Rect{0, 70, 300, 75}));  // Fill stretches
}

TEST(FlexLayout, GrowSharesTheFreeSpaceFromABasisOfZero) {
    Harness h;
    Flex root = frame(Flex::row()
                          .with_width(FlexSize::px(400))
                          .with_gap(10)
                          .with_cross_align(FlexAlign::Fill)
                          .child(Flex::row().with_grow(1).child(Box(150, 10)))
                          .child(Flex::row().with_width(FlexSize::px(90)))
                          .child(Flex::row().with_grow(1)));
    h.layout(root, 500, 300);
    const Flex& row = child_flex(root, 0);
    // (400 - 90 - 2 * 10) / 2 = 145 each, whatever the content of the first.
    EXPECT_EQ(child_bounds(row, 0).x0, 0);
    EXPECT_EQ(child_flex(row, 0).solved_box().width(), 145);
    EXPECT_EQ(child_bounds(row, 1), (ui::Rect{155, 0, 245, 10}));
    EXPECT_EQ(child_bounds(row, 2), (ui::Rect{255, 0, 400, 10}));
}

TEST(FlexLayout, OverflowingContentWidensTheBounds) {
    Harness h;
    Flex root = frame(Flex::row().with_width(FlexSize::px(100)).with_height(FlexSize::px(40)).child(Box(300, 20)));
    h.layout(root, 500, 300);
    const Flex& row = child_flex(root, 0);
    EXPECT_EQ(row.solved_box(), (ui::Rect{0, 0, 100, 40}));
    EXPECT_EQ(row.bounds(), (ui::Rect{0, 0, 300, 40}));
}

TEST(FlexLayout, OverlayAndModalCoverTheirParent) {
    Harness h;
    Flex root = frame(Flex::column()
                          .with_width(FlexSize::px(200))
                          .child(Box(50, 100))
                          .child(Flex::column().with_overlay(true))
                          .child(Flex::column().with_modal(true)));
    h.layout(root, 500, 300);
    const Flex& parent = child_flex(root, 0);
    EXPECT_EQ(parent.bounds(), (ui::Rect{0, 0, 200, 100}));
    EXPECT_EQ(child_bounds(parent, 1), (ui::Rect{0, 0, 200, 100}));
    EXPECT_EQ(child_bounds(parent, 2), (ui::Rect{0, 0, 200, 100}));
    EXPECT_TRUE(parent.children()[1]->draws_above_siblings());
    EXPECT_FALSE(parent.children()[2]->draws_above_siblings());
    EXPECT_TRUE(parent.wants_pointer_capture());  // through its modal child
}

// ---- drawing ----

std::vector<ui::FillCommand> fills(const ui::Scene& scene) {
    std::vector<ui::FillCommand> out;
    for (const auto& c : scene.commands())
        if (const auto* f = std::get_if<ui::FillCommand>(&c)) out.push_back(*f);
    return out;
}

TEST(FlexDrawing, ClipLayerUsesTheSolvedBoxNotTheContent) {
    Harness h;
    Flex root = frame(
        Flex::row().with_width(FlexSize::px(100)).with_height(FlexSize::px(40)).with_clip(true).child(Box(300, 20)));
    h.layout(root, 320, 60);
    const Flex& clipped = child_flex(root, 0);
    ASSERT_EQ(clipped.bounds().width(), 300);  // bounds still cover the content

    const ui::Scene scene = h.draw(root);
    const ui::PushLayerCommand* layer = nullptr;
    for (const auto& c : scene.commands())
        if (const auto* p = std::get_if<ui::PushLayerCommand>(&c)) layer = p;
    ASSERT_NE(layer, nullptr);
    EXPECT_EQ(std::get<ui::Rect>(layer->clip), (ui::Rect{0, 0, 100, 40}));

    auto renderer = ui::offscreen::OffscreenRenderer::create(320, 60);
    ASSERT_TRUE(renderer.has_value());
    auto image = renderer->render_resilient(scene, ui::Color::black());
    ASSERT_TRUE(image.has_value());
    EXPECT_EQ(image->rgba_at(50, 20), 0xffffffffu);   // inside the box: the child shows
    EXPECT_EQ(image->rgba_at(150, 20), 0x000000ffu);  // beyond it: hidden
}

TEST(FlexDrawing, ABorderStaysInsideTheBox) {
    // Square and rounded boxes, borders of whole and fractional widths: the
    // band along each edge inside the box carries the border, and not a pixel
    // outside the box is touched.
    const ui::Color fill = ui::Color::rgba8(10, 20, 30);
    struct Case {
        double width;
        double radius;
    };
    for (const Case c : {Case{1, 0}, Case{2, 0}, Case{1, 6}, Case{3, 10}, Case{1.5, 0}}) {
        Harness h;
        Flex root = Flex::column()
                        .with_width(FlexSize::fill())
                        .with_padding(10)
                        .child(Flex::row()
                                   .with_width(FlexSize::px(100))
                                   .with_height(FlexSize::px(40))
                                   .with_background(Background::filled(fill, c.radius).with_border(c.width, ui::Color::white())));
        h.layout(root, 120, 60);
        ASSERT_EQ(child_flex(root, 0).bounds(), (ui::Rect{10, 10, 110, 50}));
        const ui::Scene scene = h.draw(root);
        auto renderer = ui::offscreen::OffscreenRenderer::create(120, 60);
        ASSERT_TRUE(renderer.has_value());
        auto image = renderer->render_resilient(scene, ui::Color::black());
        ASSERT_TRUE(image.has_value());
        const std::string at = "border " + std::to_string(c.width) + " radius " + std::to_string(c.radius);
        for (std::uint32_t y = 0; y < 60; ++y) {
            for (std::uint32_t x = 0; x < 120; ++x) {
                if (x >= 10 && x < 110 && y >= 10 && y < 50) continue;
                ASSERT_EQ(image->rgba_at(x, y), 0x000000ffu) << at << " at " << x << "," << y;
            }
        }
        // Midway along each edge the outermost pixel inside is the border's
        // (wholly, for a border of whole pixels).
        const bool whole = c.width == std::floor(c.width);
        for (const auto& [x, y] : {std::pair{60u, 10u}, std::pair{60u, 49u}, std::pair{10u, 30u}, std::pair{109u, 30u}}) {
            if (whole) {
                EXPECT_EQ(image->rgba_at(x, y), 0xffffffffu) << at << " at " << x << "," << y;
            } else {
                EXPECT_NE(image->rgba_at(x, y), 0x0a141effu) << at << " at " << x << "," << y;
            }
        }
        EXPECT_EQ(image->rgba_at(60, 30), 0x0a141effu) << at;  // the fill inside
    }
}

TEST(FlexDrawing, HoverBackgroundReplacesTheRestingOneOnlyForAControl) {
    const ui::Color rest = ui::Color::rgba8(10, 20, 30);
    const ui::Color hover = ui::Color::rgba8(200, 100, 50);
    IntentQueue queue;
    Harness h;
    Flex root = frame(Flex::row()
                          .with_width(FlexSize::px(100))
                          .with_height(FlexSize::px(40))
                          .with_background(Background::filled(rest, 6).with_border(1, ui::Color::white()))
                          .with_hover_background(Background::filled(hover, 6))
                          .with_intent(queue, intent::GoBack{}));
    h.layout(root, 200, 100);
    auto at_rest = fills(h.draw(root));
    ASSERT_EQ(at_rest.size(), 1u);
    EXPECT_EQ(std::get<ui::Color>(at_rest[0].brush), rest);
    EXPECT_EQ(std::get<ui::RoundedRect>(at_rest[0].shape).radius, 6);

    h.send(root, move(50, 20));
    ASSERT_TRUE(child_flex(root, 0).is_hovered());
    const ui::Scene hovered = h.draw(root);
    auto over = fills(hovered);
    ASSERT_EQ(over.size(), 1u);
    EXPECT_EQ(std::get<ui::Color>(over[0].brush), hover);
    for (const auto& c : hovered.commands()) EXPECT_FALSE(std::holds_alternative<ui::StrokeCommand>(c));
}

TEST(FlexDrawing, OverlayChildrenAreDrawnAfterTheirSiblings) {
    const ui::Color over = ui::Color::rgba8(1, 2, 3);
    const ui::Color under = ui::Color::rgba8(4, 5, 6);
    Harness h;
    Flex root = frame(Flex::column()
                          .with_width(FlexSize::px(100))
                          .child(Flex::column().with_overlay(true).with_background(Background::filled(over)))
                          .child(Flex::row().with_height(FlexSize::px(30)).with_background(Background::filled(under))));
    h.layout(root, 200, 100);
    auto drawn = fills(h.draw(root));
    ASSERT_EQ(drawn.size(), 2u);
    EXPECT_EQ(std::get<ui::Color>(drawn[0].brush), under);
    EXPECT_EQ(std::get<ui::Color>(drawn[1].brush), over);
}

TEST(FlexDrawing, NothingIsDrawnWhenClippedOutOfThePresence) {
    Harness h;
    Flex root = frame(Flex::row()
                          .with_width(FlexSize::px(100))
                          .with_height(FlexSize::px(40))
                          .with_background(Background::filled(ui::Color::white())));
    h.layout(root, 200, 100);
    EXPECT_TRUE(h.draw(root, ui::Rect{100, 0, 200, 100}).commands().empty());  // touches along an edge only
    EXPECT_EQ(fills(h.draw(root, ui::Rect{99, 0, 200, 100})).size(), 1u);
}

// ---- input ----

struct ControlFixture : ::testing::Test {
    IntentQueue queue;
    Harness h;
    Flex root = Flex::column();

    // A 100 × 40 control at (0, 0), below it a 100 × 40 plain row.
    void SetUp() override {
        root = frame(Flex::row()
                         .with_width(FlexSize::px(100))
                         .with_height(FlexSize::px(40))
                         .with_intent(queue, intent::OpenVideo{"v1"}))
                   .child(Flex::row().with_width(FlexSize::px(100)).with_height(FlexSize::px(40)));
        h.layout(root, 300, 200);
    }
    Flex& control() { return child_flex(root, 0); }
    Flex& plain() { return child_flex(root, 1); }
};

TEST_F(ControlFixture, PressAndReleaseInsideEmitsOnce) {
    h.send(root, move(10, 10));
    h.send(root, press(10, 10));
    EXPECT_TRUE(control().is_pressed());
    const auto cx = h.send(root, release(12, 12));
    EXPECT_TRUE(cx.handled);
    EXPECT_FALSE(control().is_pressed());
    const auto taken = take_intents(queue);
    ASSERT_EQ(taken.size(), 1u);
    EXPECT_EQ(taken[0], ControlIntent(intent::OpenVideo{"v1"}));
}

TEST_F(ControlFixture, PressInsideReleaseOutsideEmitsNothing) {
    // With and without a move between: the release's own position counts.
    for (const bool move_between : {true, false}) {
        h.send(root, move(10, 10));
        h.send(root, press(10, 10));
        if (move_between) h.send(root, move(150, 10));
        const auto cx = h.send(root, release(150, 10));
        EXPECT_FALSE(cx.handled);
        EXPECT_FALSE(control().is_pressed());
        EXPECT_TRUE(take_intents(queue).empty()) << move_between;
    }
    // A release without a press does nothing either.
    h.send(root, move(10, 10));
    h.send(root, release(10, 10));
    EXPECT_TRUE(take_intents(queue).empty());
}

TEST_F(ControlFixture, PositionsAreDividedByTheDisplayScale) {
    h.send(root, move(150, 60), 2.0);  // logical (75, 30): inside
    EXPECT_TRUE(control().is_hovered());
    h.send(root, press(150, 60), 2.0);
    h.send(root, release(150, 60), 2.0);
    EXPECT_EQ(take_intents(queue).size(), 1u);
    h.send(root, move(150, 60), 1.0);  // logical (150, 60): outside
    EXPECT_FALSE(control().is_hovered());
}

TEST_F(ControlFixture, EnterAndSpaceEmitOnlyWhenFocused) {
    const auto enter = ui::KeyEvent::named_key(ui::NamedKey::Enter);
    const auto space = ui::KeyEvent::named_key(ui::NamedKey::Space);
    EXPECT_FALSE(h.send(root, enter).handled);
    EXPECT_TRUE(take_intents(queue).empty());

    control().set_focus(true);
    EXPECT_TRUE(h.send(root, enter).handled);
    EXPECT_TRUE(h.send(root, space).handled);
    auto released = ui::KeyEvent::named_key(ui::NamedKey::Enter);
    released.released = true;
    EXPECT_FALSE(h.send(root, released).handled);
    EXPECT_FALSE(h.send(root, ui::KeyEvent::named_key(ui::NamedKey::Tab)).handled);
    EXPECT_EQ(take_intents(queue).size(), 2u);
}

TEST_F(ControlFixture, ControlAnswersAccessibilityCursorAndLabel) {
    const Flex& c = control();
    EXPECT_TRUE(c.is_focusable());
    const auto node = c.accessibility();
    ASSERT_TRUE(node.has_value());
    EXPECT_EQ(node->role, ui::Role::Button);
    EXPECT_EQ(node->name, "Open video");
    EXPECT_EQ(node->bounds, (ui::Rect{0, 0, 100, 40}));
    EXPECT_TRUE(node->focusable);
    EXPECT_EQ(c.cursor_shape({5, 5}), ui::CursorShape::Pointer);
    EXPECT_EQ(c.cursor_shape({100, 5}), std::nullopt);
    EXPECT_EQ(c.action_label(), "Open video");
    EXPECT_EQ(c.label_at({5, 5})->text, "Open video");
}

TEST_F(ControlFixture, PlainFlexOnlyRoutes) {
    Flex& p = plain();
    h.send(root, move(10, 50));
    h.send(root, press(10, 50));
    h.send(root, release(10, 50));
    EXPECT_FALSE(p.is_hovered());
    EXPECT_FALSE(p.is_pressed());
    EXPECT_FALSE(p.is_focusable());
    EXPECT_FALSE(p.accessibility().has_value());
    EXPECT_FALSE(p.cursor_shape({10, 50}).has_value());
    EXPECT_FALSE(p.perform_action(ui::AccessRequest::Activate));
    EXPECT_TRUE(take_intents(queue).empty());
}

TEST_F(ControlFixture, AccessRequestsActivateAndFocus) {
    Flex& c = control();
    c.mark_drawn();
    EXPECT_TRUE(c.perform_action(ui::AccessRequest::Activate));
    EXPECT_EQ(take_intents(queue).size(), 1u);
    EXPECT_TRUE(c.perform_action(ui::AccessRequest::Focus));
    EXPECT_TRUE(c.has_focus());
    EXPECT_TRUE(c.needs_redraw());
    EXPECT_FALSE(c.perform_action(ui::AccessRequest::Toggle));
    EXPECT_TRUE(take_intents(queue).empty());
}

TEST(FlexInput, InnerControlKeepsThePressFromTheOuterOne) {
    // The action-search scrim and its card: a click on the card is the card's.
    IntentQueue queue;
    Harness h;
    Flex root = frame(Flex::column()
                          .with_width(FlexSize::px(300))
                          .with_height(FlexSize::px(200))
                          .with_padding(50)
                          .with_intent(queue, intent::CloseActionSearch{})
                          .child(Flex::column()
                                     .with_height(FlexSize::px(50))
                                     .with_width(FlexSize::px(100))
                                     .with_intent(queue, intent::OpenActionSearch{})));
    h.layout(root, 400, 300);
    auto click = [&](double x, double y) {
        h.send(root, move(x, y));
        h.send(root, press(x, y));
        h.send(root, release(x, y));
        return take_intents(queue);
    };
    const auto inside = click(60, 60);
    ASSERT_EQ(inside.size(), 1u);
    EXPECT_EQ(inside[0], ControlIntent(intent::OpenActionSearch{}));
    const auto outside = click(250, 150);
    ASSERT_EQ(outside.size(), 1u);
    EXPECT_EQ(outside[0], ControlIntent(intent::CloseActionSearch{}));
}

TEST(FlexInput, OverlayIsHitTestedBeforeItsSiblings) {
    IntentQueue queue;
    Harness h;
    Box under(100, 40);
    Flex root = frame(Flex::column()
                          .with_width(FlexSize::px(100))
                          .child(std::move(under))
                          .child(Flex::column().with_overlay(true).with_intent(queue, intent::GoBack{})));
    h.layout(root, 200, 100);
    const Flex& parent = child_flex(root, 0);
    const auto& box = static_cast<const Box&>(*parent.children()[0]);
    h.send(root, move(10, 10));
    h.send(root, press(10, 10));
    EXPECT_TRUE(h.send(root, release(10, 10)).handled);
    EXPECT_EQ(take_intents(queue).size(), 1u);
    EXPECT_EQ(box.clicks, 0);
}

TEST(FlexInput, ChildWantingCaptureTakesEveryEventAlone) {
    IntentQueue queue;
    Harness h;
    Probe sibling;
    Probe modal;
    auto sibling_events = sibling.events;
    auto modal_events = modal.events;
    *modal.capture = true;
    Flex root = frame(Flex::column()
                          .with_width(FlexSize::px(100))
                          .with_height(FlexSize::px(100))
                          .with_intent(queue, intent::GoBack{})
                          .child(std::move(sibling))
                          .child(std::move(modal)));
    h.layout(root, 200, 200);
    Flex& parent = child_flex(root, 0);
    parent.set_focus(true);
    const ui::Event events[] = {move(5, 5), press(5, 5), release(5, 5), ui::KeyEvent::named_key(ui::NamedKey::Enter)};
    for (const auto& e : events) h.send(root, e);
    EXPECT_EQ(*modal_events, 4);
    EXPECT_EQ(*sibling_events, 0);
    EXPECT_FALSE(parent.is_hovered());
    EXPECT_TRUE(take_intents(queue).empty());
}

TEST(FlexInput, ModalFlexCapturesItsParentsEvents) {
    IntentQueue queue;
    Harness h;
    Probe sibling(100, 100);
    auto sibling_events = sibling.events;
    Flex root = frame(Flex::column()
                          .with_width(FlexSize::px(100))
                          .child(std::move(sibling))
                          .child(Flex::column().with_modal(true).with_intent(queue, intent::CloseActionSearch{})));
    h.layout(root, 200, 200);
    h.send(root, move(5, 5));
    h.send(root, press(5, 5));
    h.send(root, release(5, 5));
    EXPECT_EQ(*sibling_events, 0);
    EXPECT_EQ(take_intents(queue).size(), 1u);
}

// ---- builders and the rest of the contract ----

TEST(FlexBuilders, LabelsFollowTheOrderOfLabelAndIntent) {
    IntentQueue queue;
    Flex intent_after = Flex::row().with_label("Custom").with_intent(queue, intent::GoBack{});
    EXPECT_EQ(intent_after.accessibility()->name, "Go back");
    EXPECT_EQ(intent_after.action_label(), "Go back");

    Flex label_after = Flex::row().with_intent(queue, intent::GoBack{}).with_label("Share");
    EXPECT_EQ(label_after.accessibility()->name, "Share");
    EXPECT_EQ(label_after.action_label(), "Go back");

    // Without an action there is no action label, whatever the label.
    EXPECT_FALSE(Flex::row().with_label("Plain").action_label().has_value());
}

TEST(FlexBuilders, ChildTakesAnyWidgetAndChildIfDropsItWhenTheFlagIsClear) {
    Flex f = Flex::row()
                 .child_if(true, Box(1, 1))
                 .child_if(false, Box(2, 2))
                 .child(Flex::column())
                 .child(ui::widget::Text("t"))
                 .child(ui::widget::IconWidget(64, 12))
                 .child(ui::widget::TextInput::local())
                 .child(ui::widget::Scrollable::with_child(Flex::column()))
                 .child(ui::widget::WidgetPtr{});  // nothing to add
    std::vector<std::string_view> names;
    for (const auto& c : f.children()) names.push_back(c->type_name());
    EXPECT_EQ(names, (std::vector<std::string_view>{"Box", "Flex", "Text", "IconWidget", "TextInput", "Scrollable"}));
}

TEST(FlexBuilders, StyleFollowsTheSettings) {
    const auto s = Flex::column()
                       .with_grow(1)
                       .with_min_width(20)
                       .with_max_width(560)
                       .with_width(FlexSize::percent(0.94f))
                       .with_cross_align(FlexAlign::End)
                       .layout_style();
    EXPECT_EQ(s.flex_basis, ui::layout::Dimension::length(0));
    EXPECT_EQ(s.flex_shrink, 0.0f);  // not 1 unless set
    EXPECT_EQ(s.size.width, ui::layout::Dimension::percent(0.94f));
    EXPECT_EQ(s.min_size.width, ui::layout::Dimension::length(20));
    EXPECT_EQ(s.max_size.width, ui::layout::Dimension::length(560));
    EXPECT_EQ(s.max_size.height, ui::layout::Dimension::auto_());
    EXPECT_EQ(s.align_items, ui::layout::AlignItems::FlexEnd);
    EXPECT_EQ(s.flex_direction, ui::layout::FlexDirection::Column);
    EXPECT_EQ(Flex::row().layout_style().flex_basis, ui::layout::Dimension::auto_());
    EXPECT_EQ(Flex::row().with_clip(true).layout_style().overflow.width, ui::layout::Overflow::Hidden);
}

vorn_actions::resource::Resource navigation() {
    using vorn_actions::resource::ActionSpec;
    return vorn_actions::resource::Resource("sarn.navigation", "navigation", "Navigation")
        .with_action(ActionSpec::fixed("home", "Home", vorn_actions::EncodedAction{"sarn.operation", "\"Home\""}))
        .with_action(ActionSpec::fixed("queue", "Queue", vorn_actions::EncodedAction{"sarn.operation", "\"Q\""}));
}

TEST(FlexBindings, BoundControlQueuesInvocationsBeforeItsChildren) {
    using vorn_actions::resource::ActionBinding;
    IntentQueue queue;
    Flex outer = Flex::column()
                     .with_id("nav_home")
                     .with_intent(queue, intent::GoBack{})
                     .with_binding(*ActionBinding::unit_for(navigation(), "home"))
                     .child(Flex::row().with_binding(*ActionBinding::unit_for(navigation(), "queue")));
    EXPECT_FALSE(outer.intent().has_value());  // the binding replaces the intent
    EXPECT_TRUE(outer.perform_action(ui::AccessRequest::Activate));
    EXPECT_TRUE(take_intents(queue).empty());
    EXPECT_TRUE(static_cast<Flex&>(*outer.children_mut()[0]).emit_intent());

    const auto bindings = outer.control_action_bindings();
    ASSERT_EQ(bindings.size(), 2u);
    EXPECT_EQ(bindings[0], (ui::ControlBindingMetadata{"nav_home", {"sarn.navigation", "home"}}));
    EXPECT_EQ(bindings[1], (ui::ControlBindingMetadata{"sarn.custom-control", {"sarn.navigation", "queue"}}));

    EXPECT_EQ(outer.take_control_invocation()->address.action, "home");
    EXPECT_EQ(outer.take_control_invocation()->address.action, "queue");
    EXPECT_FALSE(outer.take_control_invocation().has_value());
}

TEST(FlexBindings, UnavailableActionsDisableTheWholeTree) {
    using vorn_actions::resource::ActionBinding;
    Flex outer = Flex::column()
                     .with_binding(*ActionBinding::unit_for(navigation(), "home"))
                     .child(Flex::row().with_binding(*ActionBinding::unit_for(navigation(), "queue")));
    ASSERT_TRUE(outer.emit_intent());
    outer.refresh_control_action_availability({});
    EXPECT_FALSE(outer.emitter()->enabled());
    EXPECT_FALSE(static_cast<const Flex&>(*outer.children()[0]).emitter()->enabled());
    EXPECT_FALSE(outer.take_control_invocation().has_value());  // the queued one was dropped
    EXPECT_TRUE(outer.emit_intent());                            // accepted and discarded
    EXPECT_FALSE(outer.take_control_invocation().has_value());

    const ui::AvailableActions only_queue{ui::ActionAddress{"sarn.navigation", "queue"}};
    outer.refresh_control_action_availability(only_queue);
    EXPECT_FALSE(outer.emitter()->enabled());
    EXPECT_TRUE(static_cast<const Flex&>(*outer.children()[0]).emitter()->enabled());
}

TEST(FlexContract, StructureDirtyAsksEveryChildAndRedrawFollowsTheTree) {
    Probe a, b;
    auto a_dirty = a.structure_dirty, b_dirty = b.structure_dirty, b_redraw = b.redraw;
    *a_dirty = *b_dirty = true;
    Flex f = Flex::column().child(std::move(a)).child(std::move(b));
    EXPECT_TRUE(f.take_structure_dirty());
    EXPECT_FALSE(*a_dirty);
    EXPECT_FALSE(*b_dirty);  // no early stop
    EXPECT_FALSE(f.take_structure_dirty());

    EXPECT_TRUE(f.needs_redraw());  // a new Flex
    f.mark_drawn();
    EXPECT_FALSE(f.needs_redraw());
    *b_redraw = true;
    EXPECT_TRUE(f.needs_redraw());
    std::vector<ui::Rect> damage;
    f.collect_damage(damage);
    EXPECT_EQ(damage.size(), 1u);  // the Flex's whole bounds, once
    f.mark_drawn();
    EXPECT_FALSE(*b_redraw);
}

}  // namespace
}  // namespace sarn::widgets
