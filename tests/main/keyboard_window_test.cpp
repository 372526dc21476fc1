// The real program driven from the keyboard alone, in a real window: Tab to a
// control and Enter or Space on it, the action palette from Ctrl+K to Enter,
// Escape in the search field, the mouse's side buttons, and an invite pasted
// from another X client's clipboard that pairs with a stand-in Grayjay
// device. A headless twin gets the same keys: it tells how many Tabs reach a
// control and draws what the window should show, focus ring included; the
// ring is also checked against the same page drawn without it.
#include <gtest/gtest.h>

#include <fstream>

#include "fake_peer.h"
#include "fake_portal.h"
#include "program_window.h"
#include "sarn/sync/base64.h"

namespace sarn::entry {
namespace {

using namespace window;
using vorn_ui::NamedKey;

struct ThemeCase {
    const char* name;  // VORN_UI_THEME
    vorn_ui::Theme theme;
};
const ThemeCase kThemes[] = {{"", vorn_ui::Theme::dark()},
                             {"light", vorn_ui::Theme::light()},
                             {"high-contrast", vorn_ui::Theme::high_contrast()}};

constexpr vorn_ui::Rect kWindow{0, 0, 1280, 800};

vorn_ui::Modifiers modifiers_of(unsigned x_modifiers) {
    vorn_ui::Modifiers m;
    if (x_modifiers & XClient::Ctrl) m.bits |= vorn_ui::Modifiers::kControl;
    if (x_modifiers & XClient::Alt) m.bits |= vorn_ui::Modifiers::kAlt;
    if (x_modifiers & XClient::Shift) m.bits |= vorn_ui::Modifiers::kShift;
    return m;
}

class Keyboard : public ProgramWindow {
protected:
    // The same named key to the window and to the twin, which then takes a frame.
    void key(Twin& twin, XClient::Key x_key, NamedKey named, unsigned mods = XClient::None) {
        ASSERT_TRUE(m_x.key(x_key, mods));
        twin.harness().key(named, modifiers_of(mods));
        if (named == NamedKey::Space) twin.harness().send(vorn_ui::TextInputEvent{" "});
        twin.harness().perform_invocations();
        twin.harness().frame();
    }
    // A Ctrl+letter shortcut to both.
    void ctrl(Twin& twin, XClient::Key x_key, const char* letter) {
        ASSERT_TRUE(m_x.key(x_key, XClient::Ctrl));
        twin.harness().character(letter, modifiers_of(XClient::Ctrl));
        twin.harness().frame();
    }
    void type(Twin& twin, std::string_view text) {
        ASSERT_TRUE(m_x.type(text));
        for (const char c : text) {
            twin.harness().character(std::string(1, c));
            twin.harness().send(vorn_ui::TextInputEvent{std::string(1, c)});
        }
        twin.harness().frame();
    }
    // Starts the program on a home of its own (each theme's run starts afresh)
    // in the theme.
    std::optional<Running> launch_in(const vorn_test::ProgramHome& home, const Args& args, const char* theme) {
        auto env = home.environment();
        for (const char* fixture_own : {"DISPLAY", "DBUS_SESSION_BUS_ADDRESS"}) env.erase(fixture_own);
        env["VORN_UI_THEME"] = theme;
        return launch(args, env);
    }
    // Runs the body once in each theme, each time from a fresh start on a
    // home of its own, once the window shows the twin's first picture.
    using ThemeRun = std::function<void(const ThemeCase&, const vorn_test::ProgramHome&, Running&, Twin&)>;
    void in_each_theme(const Args& args, const ThemeRun& body) {
        for (const ThemeCase& t : kThemes) {
            SCOPED_TRACE(t.name);
            const vorn_test::ProgramHome home;
            auto running = launch_in(home, args, t.name);
            ASSERT_TRUE(running.has_value());
            Twin twin(args, t.theme);
            ASSERT_TRUE(shows(*running, twin, kWindow));
            body(t, home, *running, twin);
            if (HasFatalFailure()) return;
            close_and_expect_clean_exit(*running);
        }
    }
    // Tab in both until the twin's focus is on the widget.
    bool tab_to(Twin& twin, std::string_view id) {
        for (int i = 0; i < 120; ++i) {
            key(twin, XClient::Key::Tab, NamedKey::Tab);
            if (twin.harness().focused_id() == id) return true;
        }
        ADD_FAILURE() << "no Tab reaches " << id;
        return false;
    }

    // The window shows the twin's picture with the ring around the focused
    // control; against the same page without the ring only the ring's box
    // differs, and there the theme's ring colour shows.
    void expect_ring(const Running& running, Twin& twin, const vorn_ui::Theme& theme) {
        const vorn_ui::widget::Widget* focused = twin.harness().focus().focused();
        ASSERT_NE(focused, nullptr);
        ASSERT_TRUE(twin.harness().focus().ring_visible());
        EXPECT_TRUE(shows(running, twin, kWindow, 0.002));
        const auto plain = twin.harness().render(false);
        const vorn_ui::Rect b = focused->bounds();
        const vorn_ui::Rect ring{b.x0 - 6, b.y0 - 6, b.x1 + 6, b.y1 + 6};
        long outside = 0, coloured = 0, total = 0;
        // The ring differs from the page without it in fewer pixels than the
        // share `shows` allows, so the window may still be a frame behind:
        // the shot is taken again until the ring shows or time runs out.
        (void)wait_until([&] {
            const auto s = shot(running);
            if (!s) return false;
            outside = coloured = total = 0;
            for (int y = 0; y < std::min<int>(s->h, 800); ++y) {
                for (int x = 0; x < std::min<int>(s->w, 1280); ++x) {
                    ++total;
                    const bool in_ring = ring.contains({x + 0.5, y + 0.5});
                    const std::uint32_t got = s->at(x, y);
                    if (!in_ring && !near(got, plain.rgba_at(x, y) >> 8, 24)) ++outside;
                    if (in_ring && near(got, rgb(theme.focus_ring), 40)) ++coloured;
                }
            }
            return coloured > static_cast<long>(b.width() + b.height());
        }, 5s);
        ASSERT_GT(total, 0) << "no shot of the window";
        EXPECT_LT(outside, total / 500) << "the focused page differs from the page without focus away from the ring";
        EXPECT_GT(coloured, static_cast<long>(b.width() + b.height())) << "the ring's colour does not show around "
                                                                         << focused->widget_id().value_or("?");
        // With VORN_SHOT_DIR set, the focused window and the page without the ring are left there.
        if (std::getenv("VORN_SHOT_DIR") != nullptr) keep_pictures(running, plain);
    }
};

TEST_F(Keyboard, TabToACardAndEnterOpensItsWatchPage) {
    in_each_theme({"--route", "home"}, [&](const ThemeCase& t, const vorn_test::ProgramHome& home, Running& running,
                                            Twin& twin) {
        const auto cards = screens::test::with_id_prefix(screens::test::dump_tree(twin.harness().app()), "video_card_");
        ASSERT_FALSE(cards.empty());
        ASSERT_TRUE(tab_to(twin, cards.front().id));
        expect_ring(running, twin, t.theme);

        key(twin, XClient::Key::Enter, NamedKey::Enter);
        const std::string video_id = cards.front().id.substr(std::string_view("video_card_").size());
        ASSERT_EQ(twin.harness().app().library().route, Route::watch(video_id));
        EXPECT_TRUE(wait_until([&] {
            const auto ids = history_in(home);
            return std::find(ids.begin(), ids.end(), video_id) != ids.end();
        })) << "the history file does not hold " << video_id;
        twin.take_extras(video_id);
        EXPECT_TRUE(shows(running, twin, {0, 66, 1280, 800}));

        // On the watch page, Tab to the like button and Space likes it.
        ASSERT_TRUE(tab_to(twin, "like_btn"));
        expect_ring(running, twin, t.theme);
        const bool liked = Library::sample().is_liked(video_id);
        key(twin, XClient::Key::Space, NamedKey::Space);
        EXPECT_TRUE(wait_until([&] { return shared_library_in(home).is_liked(video_id) != liked; }))
            << "the shared document on disk does not hold the like";
        EXPECT_EQ(twin.harness().focused_id(), "like_btn");
        EXPECT_TRUE(shows(running, twin, {0, 66, 1280, 800}, 0.002));
    });
}

TEST_F(Keyboard, CtrlKTypeDownEnterOpensThatVideo) {
    in_each_theme({"--route", "home"}, [&](const ThemeCase&, const vorn_test::ProgramHome& home, Running& running,
                                            Twin& twin) {
        ctrl(twin, XClient::Key::K, "k");
        ASSERT_EQ(twin.harness().focused_id(), "palette_input");
        type(twin, "analog syn");
        key(twin, XClient::Key::Down, NamedKey::ArrowDown);
        ASSERT_EQ(twin.harness().app().palette_selected_row(), 0u);
        // The typed query and the selected row show in the window as in the twin.
        const auto card = twin.find("palette_card");
        ASSERT_TRUE(card.has_value());
        EXPECT_TRUE(shows(running, twin, card->rect, 0.002));
        key(twin, XClient::Key::Enter, NamedKey::Enter);
        ASSERT_EQ(twin.harness().app().library().route, Route::watch("vid_synth"));
        EXPECT_TRUE(wait_until([&] {
            const auto ids = history_in(home);
            return std::find(ids.begin(), ids.end(), "vid_synth") != ids.end();
        })) << "the palette's row did not open its video";
        twin.take_extras("vid_synth");
        EXPECT_TRUE(shows(running, twin, {0, 66, 1280, 800}));
    });
}

TEST_F(Keyboard, EscapeInTheSearchFieldLeavesTheRouteAndBackButtonGoesBack) {
    in_each_theme({"--route", "home"}, [&](const ThemeCase& t, const vorn_test::ProgramHome&, Running& running,
                                            Twin& twin) {
        // To Trending from the sidebar, so that there is a page to go back to.
        ASSERT_TRUE(tab_to(twin, "nav_trending"));
        expect_ring(running, twin, t.theme);
        key(twin, XClient::Key::Enter, NamedKey::Enter);
        ASSERT_EQ(twin.harness().app().library().route, Route::trending());

        // Typing in the search field, then Escape: the field lets go, the page stays.
        ASSERT_TRUE(tab_to(twin, "search_input"));
        type(twin, "cats");
        key(twin, XClient::Key::Escape, NamedKey::Escape);
        EXPECT_EQ(twin.harness().app().library().route, Route::trending());
        EXPECT_EQ(twin.harness().focused_id(), std::nullopt);
        EXPECT_TRUE(shows(running, twin, kWindow, 0.002)) << "Escape in the search field left the page";

        // The forward button does nothing; the back button goes back.
        const auto at = twin.centre_of("nav_trending");
        m_x.click_button(running.window, static_cast<int>(at.x), static_cast<int>(at.y), 9);
        m_x.park_pointer();
        EXPECT_TRUE(shows(running, twin, {0, 66, 1280, 800}, 0.002)) << "the forward button changed the page";
        m_x.click_button(running.window, static_cast<int>(at.x), static_cast<int>(at.y), 8);
        m_x.park_pointer();
        twin.harness().send(vorn_ui::PointerButtonEvent{vorn_ui::PointerButton::Back, true, at});
        twin.harness().send(vorn_ui::PointerButtonEvent{vorn_ui::PointerButton::Back, false, at});
        twin.harness().frame();
        ASSERT_EQ(twin.harness().app().library().route, Route::home());
        EXPECT_TRUE(shows(running, twin, {0, 66, 1280, 800}, 0.002)) << "the back button did not go back";
    });
}

// The device a pairing invite names: the stand-in peer on 127.0.0.1, with a code.
std::string invite_for(const testing::FakePeer& peer, std::string_view code) {
    const std::string json = R"({"publicKey":")" + peer.public_key() + R"(","addresses":["127.0.0.1"],"port":)" +
                             std::to_string(peer.port()) + R"(,"pairingCode":")" + std::string(code) + R"("})";
    std::string b64 = encode_base64(std::span(reinterpret_cast<const std::uint8_t*>(json.data()), json.size()));
    for (char& c : b64) {
        if (c == '+') c = '-';
        if (c == '/') c = '_';
    }
    while (!b64.empty() && b64.back() == '=') b64.pop_back();
    return "grayjay://sync/" + b64;
}

std::string file_text(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

TEST_F(Keyboard, InvitePastedFromAnotherProgramPairsWithTheDevice) {
    // The desktop: a secret portal on the session bus, and a Grayjay device
    // that authorizes the pairing and waits for the program to hang up.
    vorn_test::FakePortal portal(std::string(32, 'k'), 0, m_bus.address());
    ASSERT_TRUE(portal.ok()) << "the stand-in portal did not get its name on the bus";
    testing::FakePeer peer({[](SyncSession& session) {
        if (testing::await_client_authorized(session)) testing::send_notify(session, NotifySubopcode::Authorized);
        (void)testing::await_data(session);
    }});
    const std::string invite = invite_for(peer, "K3YB0ARD");
    vorn_test::SelectionOwner clipboard("CLIPBOARD", invite);
    ASSERT_TRUE(clipboard.owns());

    auto running = launch({});
    ASSERT_TRUE(running.has_value());
    // The twin's device sync is ready with no device, as the program's is once
    // its worker has the key.
    Twin twin([](SarnAppOptions options) {
        options.start_device_sync = [](std::string_view) {
            DeviceSyncHandle handle = DeviceSyncHandle::unavailable();
            handle.set_status(SyncStatusEvent{"twin-key", "Paste a Grayjay pairing invite to add your first device.", {},
                                              DeviceSyncState::Ready});
            return handle;
        };
        return live_app(std::move(options));
    });

    // The live root learns its window's width with its first layout and then
    // shows the sidebar.
    twin.harness().frame();
    twin.harness().frame();
    ASSERT_TRUE(shows(*running, twin, {0, 0, 86, 800}, 0.002));
    // To the settings page, keyboard only.
    ASSERT_TRUE(tab_to(twin, "nav_settings"));
    EXPECT_TRUE(shows(*running, twin, {0, 0, 86, 800}, 0.002)) << "the window's focus is elsewhere";
    key(twin, XClient::Key::Enter, NamedKey::Enter);
    ASSERT_EQ(twin.harness().app().library().route, Route::settings());
    ASSERT_TRUE(twin.find("grayjay_pairing_invite").has_value()) << "the twin's settings page has no pairing field";
    ASSERT_TRUE(tab_to(twin, "grayjay_pairing_invite"));

    // Ctrl+V brings the other program's clipboard into the field; Tab to the
    // pair button and Enter pairs.
    twin.harness().clipboard().set_text(vorn_ui::Selection::Clipboard, invite);
    ctrl(twin, XClient::Key::V, "v");
    EXPECT_TRUE(wait_until([&] { return clipboard.served() > 0; })) << "the program never asked for the clipboard";
    ASSERT_TRUE(tab_to(twin, "grayjay_pair"));
    key(twin, XClient::Key::Enter, NamedKey::Enter);

    const auto store = m_home.state() / "vorn-sarn" / "grayjay-peers.json";
    EXPECT_TRUE(wait_until([&] { return file_text(store).find(peer.public_key()) != std::string::npos; }, 20s))
        << "the peer store does not hold the device; stderr:\n"
        << running->process.standard_error();
    peer.wait();
    EXPECT_EQ(peer.pairing_codes, std::vector<std::string>{"K3YB0ARD"});
    EXPECT_TRUE(peer.errors.empty()) << peer.errors.front();
    close_and_expect_clean_exit(*running);
}

}  // namespace
}  // namespace sarn::entry
