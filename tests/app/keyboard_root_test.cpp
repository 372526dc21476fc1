// The root at the keyboard, headless, with the runtime's focus: the action
// palette driven by keys alone, Tab and Enter or Space on the pages'
// controls, Escape in a field, and the mouse's side buttons.
#include <gtest/gtest.h>

#include "page_test_support.h"
#include "root_harness.h"
#include "sarn/app/screens/shell.h"

namespace sarn {
namespace {

using test::quiet_options;
using test::RootHarness;
using vorn_ui::Modifiers;
using vorn_ui::NamedKey;

constexpr Modifiers kCtrl{Modifiers::kControl};

// Types text as the window delivers it: a key press, then the text it gives.
void type(RootHarness& h, std::string_view text) {
    for (const char c : text) {
        h.character(std::string(1, c));
        h.send(vorn_ui::TextInputEvent{std::string(1, c)});
    }
}

// Tab until the widget with the id has the focus; false when a whole round
// does not reach it.
bool tab_to(RootHarness& h, std::string_view id) {
    for (int i = 0; i < 200; ++i) {
        h.key(NamedKey::Tab);
        h.frame();
        if (h.focused_id() == id) return true;
    }
    return false;
}

vorn_ui::Point centre(RootHarness& h, std::string_view id) {
    const auto* w = screens::test::find_id(h.app(), id);
    EXPECT_NE(w, nullptr) << id;
    if (w == nullptr) return {};
    return w->bounds().center();
}

void click(RootHarness& h, vorn_ui::Point at) {
    h.send(vorn_ui::PointerButtonEvent{vorn_ui::PointerButton::Primary, true, at});
    h.send(vorn_ui::PointerButtonEvent{vorn_ui::PointerButton::Primary, false, at});
}

TEST(Keyboard, PaletteTakesTheKeyboardFromCtrlKToEnter) {
    RootHarness h(SarnApp::create(quiet_options()));
    h.frame();
    ASSERT_TRUE(h.character("k", kCtrl));
    h.frame();
    ASSERT_TRUE(h.app().library().palette_open);
    EXPECT_EQ(h.focused_id(), "palette_input") << "the field has the keyboard without a click";

    // What is typed arrives and filters at once; the field keeps the keyboard
    // across the rebuilds the typing causes.
    type(h, "analog synth");
    h.frame();
    EXPECT_EQ(h.app().palette_text().text(), "analog synth");
    EXPECT_EQ(h.app().library().palette_query, "analog synth");
    EXPECT_EQ(h.focused_id(), "palette_input");
    const auto rows = screens::palette_rows(h.app().library());
    ASSERT_GE(rows.size(), 1u);
    ASSERT_NE(screens::test::find_id(h.app(), "palette_row_0"), nullptr);

    // Down and Up move a selection that shows; it stops at the ends.
    EXPECT_FALSE(h.app().palette_selected_row().has_value());
    EXPECT_TRUE(h.key(NamedKey::ArrowDown));
    h.frame();
    EXPECT_EQ(h.app().palette_selected_row(), 0u);
    EXPECT_TRUE(screens::test::flex_id(h.app(), "palette_row_0").background().has_value())
        << "the selected row is drawn selected";
    for (std::size_t i = 0; i < rows.size() + 2; ++i) h.key(NamedKey::ArrowDown);
    EXPECT_EQ(h.app().palette_selected_row(), rows.size() - 1);
    for (std::size_t i = 0; i < rows.size() + 2; ++i) h.key(NamedKey::ArrowUp);
    EXPECT_EQ(h.app().palette_selected_row(), 0u);

    // Enter opens the selected row's video and closes the palette.
    ASSERT_TRUE(h.key(NamedKey::Enter));
    h.frame();
    EXPECT_FALSE(h.app().library().palette_open);
    EXPECT_EQ(h.app().library().route, Route::watch(std::string(rows[0].link.substr(rows[0].link.rfind('/') + 1))));
    EXPECT_EQ(h.app().library().history.front(), h.app().library().route.text);
}

TEST(Keyboard, PaletteEnterWithoutSelectionOpensTheFirstRowAndEscapeCloses) {
    RootHarness h(SarnApp::create(quiet_options()));
    h.frame();
    h.character("k", kCtrl);
    h.frame();
    type(h, "o");
    h.frame();
    const auto rows = screens::palette_rows(h.app().library());
    ASSERT_GE(rows.size(), 2u);
    h.key(NamedKey::ArrowDown);
    h.key(NamedKey::ArrowDown);
    EXPECT_EQ(h.app().palette_selected_row(), 1u);
    // A new query drops the selection made for the old rows.
    type(h, "n");
    h.frame();
    EXPECT_FALSE(h.app().palette_selected_row().has_value());
    h.send(vorn_ui::KeyEvent::named_key(NamedKey::Backspace));
    h.frame();
    const auto again = screens::palette_rows(h.app().library());
    ASSERT_FALSE(again.empty());
    h.key(NamedKey::Enter);
    h.frame();
    EXPECT_EQ(h.app().library().route.kind, Route::Kind::Watch);
    EXPECT_EQ("sarn://watch/" + h.app().library().route.text, again[0].link);

    // Escape in the palette's field closes the palette, in one press.
    h.character("k", kCtrl);
    h.frame();
    ASSERT_EQ(h.focused_id(), "palette_input");
    const Route before = h.app().library().route;
    EXPECT_TRUE(h.key(NamedKey::Escape));
    h.frame();
    EXPECT_FALSE(h.app().library().palette_open);
    EXPECT_EQ(h.app().library().route, before);
    // Enter on a blank palette opens nothing (the field keeps the last query
    // until it is cleared).
    h.character("k", kCtrl);
    h.frame();
    EXPECT_EQ(h.app().palette_text().text(), "o");
    h.character("a", kCtrl);
    h.key(NamedKey::Backspace);
    h.frame();
    EXPECT_EQ(h.app().library().palette_query, "");
    h.key(NamedKey::Enter);
    h.frame();
    EXPECT_TRUE(h.app().library().palette_open);
    EXPECT_EQ(h.app().library().route, before);
}

TEST(Keyboard, EscapeInTheSearchFieldLeavesTheFieldNotThePage) {
    RootHarness h(SarnApp::create(quiet_options()));
    h.frame();
    h.run({intent::Navigate{Route::trending()}});
    h.frame();
    click(h, centre(h, "search_input"));
    ASSERT_EQ(h.focused_id(), "search_input");
    type(h, "cats");
    EXPECT_TRUE(h.key(NamedKey::Escape));
    h.frame();
    EXPECT_EQ(h.app().library().route, Route::trending()) << "Escape while typing went back";
    EXPECT_EQ(h.focused_id(), std::nullopt) << "the field let the keyboard go";
    EXPECT_EQ(h.app().search_text().text(), "cats");
    // The next Escape is the page's again.
    EXPECT_TRUE(h.key(NamedKey::Escape));
    EXPECT_EQ(h.app().library().route, Route::home());
}

TEST(Keyboard, MouseBackButtonGoesBackAndForwardDoesNothing) {
    RootHarness h(SarnApp::create(quiet_options()));
    h.frame();
    const vorn_ui::Point at{600, 400};
    auto button = [&](vorn_ui::PointerButton which) {
        h.send(vorn_ui::PointerButtonEvent{which, true, at});
        h.send(vorn_ui::PointerButtonEvent{which, false, at});
        h.frame();
    };
    button(vorn_ui::PointerButton::Back);  // nothing to go back to
    EXPECT_EQ(h.app().library().route, Route::home());
    h.run({intent::Navigate{Route::trending()}});
    h.run({intent::Navigate{Route::history()}});
    button(vorn_ui::PointerButton::Forward);
    EXPECT_EQ(h.app().library().route, Route::history());
    button(vorn_ui::PointerButton::Back);
    EXPECT_EQ(h.app().library().route, Route::trending());
    // With the palette open the back button leaves the page alone, as Alt+Left does.
    h.run({intent::OpenActionSearch{}});
    h.frame();
    button(vorn_ui::PointerButton::Back);
    EXPECT_EQ(h.app().library().route, Route::trending());
}

TEST(Keyboard, TabReachesACardAndEnterOpensIt) {
    RootHarness h(SarnApp::create(quiet_options()));
    h.frame();
    const auto cards = screens::test::ids_with_prefix(h.app(), "video_card_");
    ASSERT_FALSE(cards.empty());
    ASSERT_TRUE(tab_to(h, cards.front()));
    EXPECT_TRUE(h.focus().ring_visible());
    ASSERT_TRUE(h.key(NamedKey::Enter));
    h.frame();
    const std::string id = cards.front().substr(std::string_view("video_card_").size());
    EXPECT_EQ(h.app().library().route, Route::watch(id));
}

TEST(Keyboard, ClickedControlTakesSpaceInsteadOfThePage) {
    const Library sample = Library::sample();
    const std::string id = sample.videos.at(0).id;
    RootHarness h(SarnApp::create(quiet_options()).with_route(Route::watch(id)));
    h.frame();
    const bool liked = h.app().library().is_liked(id);
    click(h, centre(h, "like_btn"));
    h.frame();
    EXPECT_NE(h.app().library().is_liked(id), liked);
    EXPECT_EQ(h.focused_id(), "like_btn") << "the rebuilt page keeps the clicked control focused";
    EXPECT_FALSE(h.focus().ring_visible()) << "a click shows no ring";
    const float offset = h.app().page_scroller()->offset().y;
    EXPECT_TRUE(h.key(NamedKey::Space));
    h.frame();
    EXPECT_EQ(h.app().library().is_liked(id), liked) << "Space acted on the like button";
    EXPECT_EQ(h.app().page_scroller()->offset().y, offset) << "Space scrolled the page";
}

// A change that lands between a control's press and its release (a result,
// another window's save) builds the page anew; the click still counts, and a
// release away from the control still does not.
TEST(Keyboard, AClickCountsWhenThePageIsBuiltAnewWhileTheButtonIsDown) {
    const Library sample = Library::sample();
    const std::string id = sample.videos.at(0).id;
    const std::string other = sample.videos.at(1).id;
    RootHarness h(SarnApp::create(quiet_options()).with_route(Route::watch(id)));
    h.frame();
    h.frame();  // placed where it stays
    const bool liked = h.app().library().is_liked(id);
    for (const bool release_on_it : {true, false}) {
        SCOPED_TRACE(release_on_it ? "released on the button" : "released away from it");
        const bool before = h.app().library().is_liked(id);
        const auto at = centre(h, "like_btn");
        h.send(vorn_ui::PointerButtonEvent{vorn_ui::PointerButton::Primary, true, at});
        h.apply_shared(action::SetQueueMembership{other, !h.app().library().is_queued(other)});
        ASSERT_TRUE(h.frame()) << "the change builds the page anew";
        const vorn_ui::Point up = release_on_it ? at : vorn_ui::Point{at.x, at.y + 400};
        h.send(vorn_ui::PointerButtonEvent{vorn_ui::PointerButton::Primary, false, up});
        h.frame();
        EXPECT_EQ(h.app().library().is_liked(id), release_on_it ? !before : before);
    }
    EXPECT_NE(h.app().library().is_liked(id), liked);
}

TEST(Keyboard, SpaceTogglesAFocusedSwitch) {
    RootHarness h(SarnApp::create(quiet_options()).with_route(Route::settings()));
    h.frame();
    const bool autoplay = h.app().library().settings.autoplay;
    ASSERT_TRUE(tab_to(h, "switch_autoplay"));
    EXPECT_TRUE(h.key(NamedKey::Space));
    h.frame();
    EXPECT_NE(h.app().library().settings.autoplay, autoplay);
    EXPECT_EQ(h.focused_id(), "switch_autoplay");
    EXPECT_TRUE(h.key(NamedKey::Space));
    h.frame();
    EXPECT_EQ(h.app().library().settings.autoplay, autoplay);
}

TEST(Keyboard, PairingFieldTakesAPastedInvite) {
    RootHarness h(SarnApp::create(quiet_options()).with_device_sync_demo().with_route(Route::settings()));
    h.frame();
    ASSERT_TRUE(tab_to(h, "grayjay_pairing_invite"));
    h.clipboard().set_text(vorn_ui::Selection::Clipboard, "grayjay://pair/abc");
    EXPECT_TRUE(h.character("v", kCtrl));
    const auto& invite = h.app().device_sync().pending_invite();
    std::lock_guard lock(invite->mutex);
    EXPECT_EQ(invite->text, "grayjay://pair/abc");
}

}  // namespace
}  // namespace sarn
