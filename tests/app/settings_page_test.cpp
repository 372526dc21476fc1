// The settings page: its sections, rows, ids, labels and intents read back
// from the built tree; its layout as numbers through the runtime's solver;
// its controls driven by synthetic events; the device-sync rows for the
// unavailable, demonstration and hand-made handles.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "page_test_support.h"
#include "sarn/app/format.h"
#include "sarn/app/screens/blocks.h"
#include "sarn/app/screens/settings_page.h"
#include "sarn/app/widgets/switch.h"
#include "sarn/sync/handle.h"
#include "sarn/sync/queue.h"
#include "test_widgets.h"
#include "vorn_ui/offscreen.h"
#include "vorn_ui/widget/text_input.h"

namespace sarn::screens::test {
namespace {

namespace ui = vorn_ui;
using ui::widget::Widget;
using ui::widget::scrollable::Scrollable;
using ui::widget::TextInput;
using vorn_ui_test::Harness;
using widgets::Switch;

constexpr std::uint64_t kNow = 1'700'000'000;

// ---- drawing ----

// The colour a Text is drawn in.
ui::Color drawn_color(Text& text, const ui::Theme& theme) {
    ui::Scene scene;
    ui::TextRenderer renderer;
    ui::widget::PermissionContext permissions;
    ui::widget::DrawContext dcx{theme, renderer, permissions};
    text.draw(scene, ui::Affine::identity(), dcx);
    for (const auto& command : scene.commands())
        if (const auto* t = std::get_if<ui::TextCommand>(&command)) return t->color;
    ADD_FAILURE() << "nothing drawn for " << text.content();
    return {};
}

// ---- fixtures ----

PeerRecord peer(std::string id, std::string name) {
    PeerRecord p;
    p.id = std::move(id);
    p.name = std::move(name);
    p.descriptor = PeerDescriptor{"key", {"192.0.2.20"}, 12315};
    return p;
}

DeviceSyncHandle handle_with(DeviceSyncState state, std::vector<PeerRecord> peers,
                             std::string key = "AAAABBBBCCCCDDDDEEEEFFFFGGGG", std::string text = "status line") {
    DeviceSyncHandle handle = DeviceSyncHandle::unavailable();
    handle.set_status(SyncStatusEvent{std::move(key), std::move(text), std::move(peers), state});
    return handle;
}

// A handle as a freshly started worker leaves it: Ready, no rows, no local key yet.
DeviceSyncHandle fresh_worker_handle() {
    auto [sender, receiver] = make_queue<SyncWorkerEvent>(0);
    (void)sender;
    return DeviceSyncHandle(std::move(receiver), std::nullopt, "Loading approved devices…", DeviceSyncState::Ready);
}

// A settings page built from a library and a handle, laid out in a viewport.
struct SettingsFixture {
    SettingsFixture() : SettingsFixture(DeviceSyncHandle::unavailable()) {}
    explicit SettingsFixture(DeviceSyncHandle handle) : device_sync(std::move(handle)) {}

    Library library;
    DeviceSyncHandle device_sync;
    IntentQueue intents;
    std::uint64_t now = kNow;
    Harness h;
    std::optional<Scrollable> page;

    Scrollable& build(double width = 1280, double height = 4000) {
        const PageContext cx{library, h.env, intents, {}};
        page.emplace(settings_page(cx, device_sync, device_sync.pending_invite(), now));
        page->sync(h.state);
        h.layout(*page, width, height);
        return *page;
    }
    Widget& at(std::string_view id) {
        Widget* w = find_id(*page, id);
        if (!w) throw std::runtime_error(fmt::format("no widget {}", id));
        return *w;
    }
    Widget& control(std::string_view name) {
        Widget* w = find_control(*page, name);
        if (!w) throw std::runtime_error(fmt::format("no control {}", name));
        return *w;
    }
    Flex& section(std::size_t index) {
        auto& column = dynamic_cast<Flex&>(*page->children_mut()[0]);
        // header, gap, Playback, gap, SponsorBlock, gap, DeArrow, gap, Device sync, gap
        return dynamic_cast<Flex&>(*column.children_mut()[2 + 2 * index]);
    }
    // The rows of a section: its children after the title and the 8 gap, without the dividers.
    std::vector<Widget*> rows(std::size_t index) {
        std::vector<Widget*> out;
        auto kids = section(index).children_mut();
        for (std::size_t i = 2; i < kids.size(); i += 2) {
            // The device-sync rows sit in a spacing column each.
            Widget* row = kids[i].get();
            if (index == 3 && row->children().size() == 1) row = row->children_mut()[0].get();
            out.push_back(row);
        }
        return out;
    }
    void click(Widget& target) { click_centre(h, *page, target); }
};

// ---- structure ----

TEST(SettingsPage, FourSectionsUnderTheHeaderInOrder) {
    SettingsFixture f;
    Scrollable& page = f.build();
    auto& column = dynamic_cast<Flex&>(*page.children_mut()[0]);
    EXPECT_TRUE(column.is_block());
    EXPECT_EQ(column.max_width(), 820.0f);
    EXPECT_EQ(column.padding(), (widgets::Padding{24, 24, 24, 24}));
    ASSERT_EQ(column.children().size(), 10u);
    EXPECT_TRUE(has_text(page, "Settings"));
    const float gaps[] = {18, 16, 16, 16, 24};
    for (std::size_t i = 0; i < 5; ++i) {
        const ui::Rect gap = column.children()[1 + 2 * i]->bounds();
        EXPECT_EQ(gap.height(), gaps[i]) << "gap " << i;
    }
    const char* titles[] = {"Playback", "SponsorBlock", "DeArrow", "Device sync"};
    for (std::size_t i = 0; i < 4; ++i) {
        auto* title = dynamic_cast<Text*>(f.section(i).children_mut()[0].get());
        ASSERT_NE(title, nullptr);
        EXPECT_EQ(title->content(), titles[i]);
    }
    // Playback: three switches and the quality row; SponsorBlock: the switch
    // and eight categories; DeArrow: three switches.
    EXPECT_EQ(f.rows(0).size(), 4u);
    EXPECT_EQ(f.rows(1).size(), 9u);
    EXPECT_EQ(f.rows(2).size(), 3u);
}

TEST(SettingsPage, SwitchesShowTheirSettingAndQueueChangeSetting) {
    struct Row {
        const char* id;
        const char* title;
        Setting setting;
    };
    const Row table[] = {
        {"switch_autoplay", "Autoplay next video", Setting::Autoplay},
        {"switch_comments", "Show comments", Setting::ShowComments},
        {"switch_dislikes", "Show dislikes", Setting::ReturnDislike},
        {"switch_sponsorblock", "Enable SponsorBlock", Setting::SponsorBlock},
        {"switch_dearrow", "Enable DeArrow", Setting::DeArrow},
        {"switch_dearrow_titles", "Replace clickbait titles", Setting::DeArrowTitles},
        {"switch_dearrow_thumbs", "Replace thumbnails", Setting::DeArrowThumbnails},
    };
    for (const Row& row : table) {
        for (const bool on : {true, false}) {
            SettingsFixture f;
            f.library.settings.set_flag(row.setting, on);
            f.build();
            auto& toggle = dynamic_cast<Switch&>(f.at(row.id));
            EXPECT_EQ(toggle.on(), on) << row.id;
            EXPECT_EQ(toggle.label(), std::optional<std::string>(row.title)) << row.id;
            f.click(toggle);
            EXPECT_EQ(take_intents(f.intents), std::vector<ControlIntent>{intent::ToggleSetting{row.setting}})
                << row.id;
        }
    }
    SettingsFixture f;
    f.build();
    EXPECT_EQ(ids_with_prefix(*f.page, "switch_").size(), 7u);
}

TEST(SettingsPage, DeArrowOffDimsTheTwoDependentTitlesButKeepsTheirSwitchesLive) {
    for (const bool dearrow : {true, false}) {
        SettingsFixture f;
        f.library.settings.dearrow = dearrow;
        f.build();
        const ui::Theme& theme = f.h.env.theme;
        struct Expect {
            const char* title;
            bool dimmed;
        };
        const Expect table[] = {
            {"Enable DeArrow", false},
            {"Replace clickbait titles", !dearrow},
            {"Replace thumbnails", !dearrow},
            {"Enable SponsorBlock", false},
            {"Autoplay next video", false},
        };
        for (const Expect& e : table) {
            Text* title = find_text(*f.page, e.title);
            ASSERT_NE(title, nullptr) << e.title;
            EXPECT_EQ(drawn_color(*title, theme), e.dimmed ? theme.text_muted : theme.text)
                << e.title << " dearrow=" << dearrow;
        }
        f.click(f.at("switch_dearrow_thumbs"));
        EXPECT_EQ(take_intents(f.intents),
                  std::vector<ControlIntent>{intent::ToggleSetting{Setting::DeArrowThumbnails}});
    }
}

TEST(SettingsPage, QualityChipShowsTheValueAndAsksForTheNextOne) {
    struct Case {
        const char* current;
        const char* next;
    };
    const Case table[] = {
        {"1080p", "720p"}, {"720p", "480p"}, {"480p", "auto"}, {"auto", "1080p"}, {"4k", "720p"}, {"", "720p"},
    };
    for (const Case& c : table) {
        SettingsFixture f;
        f.library.settings.preferred_quality = c.current;
        f.build();
        Widget& chip = f.control(fmt::format("Playback quality, currently {}", c.current));
        EXPECT_TRUE(has_text(chip, c.current)) << c.current;
        f.click(chip);
        EXPECT_EQ(take_intents(f.intents), std::vector<ControlIntent>{intent::SetQuality{c.next}}) << c.current;
    }
}

TEST(SettingsPage, CategoryChipsShowTheStoredModeAndCycleTheirCategory) {
    SettingsFixture f;
    f.library.settings.sponsor_categories = {{"sponsor", SponsorMode::Skip},
                                             {"selfpromo", SponsorMode::Show},
                                             {"interaction", SponsorMode::Disabled}};
    f.library.settings.sponsorblock = false;  // the chips still show what is stored
    f.build();
    const ui::Theme& theme = f.h.env.theme;
    EXPECT_EQ(ids_with_prefix(*f.page, "mode_"),
              (std::vector<std::string>{"mode_sponsor", "mode_selfpromo", "mode_interaction", "mode_intro",
                                        "mode_outro", "mode_preview", "mode_music_offtopic", "mode_filler"}));
    struct Case {
        SponsorCategory category;
        const char* word;
        std::optional<ui::Color> fill;
        bool bordered;
        ui::Color hover;
    };
    const Case table[] = {
        {SponsorCategory::Sponsor, "Auto-skip", theme.selection, false, theme.selection_hover},
        {SponsorCategory::SelfPromo, "Show", theme.control, true, theme.control_hover},
        {SponsorCategory::Interaction, "Off", std::nullopt, true, theme.control_hover},
        {SponsorCategory::Intro, "Auto-skip", theme.selection, false, theme.selection_hover},  // no stored entry
        {SponsorCategory::Filler, "Auto-skip", theme.selection, false, theme.selection_hover},
    };
    for (const Case& c : table) {
        const std::string id = fmt::format("mode_{}", category_key(c.category));
        auto& chip = dynamic_cast<Flex&>(f.at(id));
        EXPECT_EQ(chip.label(), fmt::format("{}: {}", category_label(c.category), c.word)) << id;
        EXPECT_EQ(texts_of(chip), std::vector<std::string>{c.word}) << id;
        ASSERT_TRUE(chip.background().has_value());
        EXPECT_EQ(chip.background()->fill, c.fill) << id;
        EXPECT_EQ(chip.background()->border.has_value(), c.bordered) << id;
        EXPECT_EQ(chip.background()->radius, theme.radius_control);
        ASSERT_TRUE(chip.hover_background().has_value());
        EXPECT_EQ(chip.hover_background()->fill, c.hover) << id;
        EXPECT_EQ(chip.hover_background()->border.has_value(), c.bordered) << id;
        f.click(chip);
        EXPECT_EQ(take_intents(f.intents), std::vector<ControlIntent>{intent::CycleSegmentMode{c.category}}) << id;
    }
    // The words follow the mode's colours: the contrast colour on the selection.
    EXPECT_EQ(drawn_color(*find_text(f.at("mode_sponsor"), "Auto-skip"), theme), contrast_text_color(theme.selection));
    EXPECT_EQ(drawn_color(*find_text(f.at("mode_interaction"), "Off"), theme), theme.text_muted);
    // Each category shows its label and description.
    EXPECT_TRUE(has_text(*f.page, "Non-music section"));
    EXPECT_TRUE(has_text(*f.page, "\"Like and subscribe\" reminders without other content."));
}

TEST(SettingsPage, ModeChipWordsStayReadableAtRestAndUnderThePointer) {
    // The word of every chip against what is painted behind it, resting and
    // hovered, in each theme; a chip without a fill shows the section's `raised`.
    for (const ui::Theme& theme : {ui::Theme::dark(), ui::Theme::light(), ui::Theme::high_contrast()}) {
        SettingsFixture f;
        f.h.env.theme = theme;
        f.library.settings.sponsor_categories = {
            {"sponsor", SponsorMode::Skip}, {"selfpromo", SponsorMode::Show}, {"interaction", SponsorMode::Disabled}};
        f.build();
        for (const char* id : {"mode_sponsor", "mode_selfpromo", "mode_interaction"}) {
            auto& chip = dynamic_cast<Flex&>(f.at(id));
            const ui::Color word = drawn_color(*all_of<Text>(chip)[0], theme);
            const ui::Color rest = chip.background()->fill.value_or(theme.raised);
            const ui::Color hover = chip.hover_background()->fill.value_or(theme.raised);
            EXPECT_GE(contrast_ratio(rest, word), 4.5) << id;
            EXPECT_GE(contrast_ratio(hover, word), 4.5) << id << " hovered";
        }
    }
}

// ---- layout ----

TEST(SettingsPageLayout, ColumnSectionsAndControlsAtTwoWidths) {
    struct Case {
        double viewport;
        double column;  // the page column's right edge: at most 820 wide
    };
    for (const Case c : {Case{1280, 820}, Case{560, 560}}) {
        SettingsFixture f;
        Scrollable& page = f.build(c.viewport);
        auto& column = dynamic_cast<Flex&>(*page.children_mut()[0]);
        EXPECT_EQ(column.bounds().x0, 0);
        EXPECT_EQ(column.bounds().x1, c.column);
        const double inner = c.column - 24;   // the column's padding
        const double row_end = inner - 20;    // the section's padding
        const ui::Rect header = column.children()[0]->bounds();
        EXPECT_EQ(header.x0, 24);
        EXPECT_EQ(header.y0, 24);
        double expected_top = header.y1 + 18;
        for (std::size_t i = 0; i < 4; ++i) {
            const ui::Rect s = f.section(i).bounds();
            EXPECT_EQ(s.x0, 24) << i;
            EXPECT_EQ(s.x1, inner) << i;
            EXPECT_EQ(s.y0, expected_top) << i;
            expected_top = s.y1 + (i < 3 ? 16 : 24);
            // rows below the title (at 16 from the top), a 1 × 8 gap and a gap of 2 each side
            const ui::Rect title = f.section(i).children()[0]->bounds();
            EXPECT_EQ(title.y0, s.y0 + 16);
            const auto rows = f.rows(i);
            // The device-sync rows keep 10 above and below inside their spacing.
            const double pad = i == 3 ? 10 : 0;
            EXPECT_EQ(rows[0]->bounds().y0, title.y1 + 2 + 8 + 2 + pad) << i;
            for (std::size_t r = 1; r < rows.size(); ++r) {
                EXPECT_EQ(rows[r]->bounds().y0, rows[r - 1]->bounds().y1 + 5 + 2 * pad) << i << "/" << r;  // 2, divider, 2
                EXPECT_EQ(rows[r]->bounds().x0, 44);
                EXPECT_EQ(rows[r]->bounds().x1, row_end);
            }
        }
        EXPECT_EQ(column.bounds().y1, expected_top + 24);
        // A switch is 46 × 26 at the row's end, centred in its row.
        const ui::Rect sw = f.at("switch_autoplay").bounds();
        const ui::Rect sw_row = f.rows(0)[0]->bounds();
        EXPECT_EQ(sw, (ui::Rect{row_end - 46, sw.y0, row_end, sw.y0 + 26}));
        EXPECT_NEAR(sw.y0 - sw_row.y0, sw_row.y1 - sw.y1, 1.0);  // the solver rounds to whole pixels
        // A mode chip is 104 wide at the row's end.
        const ui::Rect chip = f.at("mode_filler").bounds();
        EXPECT_EQ(chip.x0, row_end - 104);
        EXPECT_EQ(chip.x1, row_end);
        EXPECT_EQ(f.control("Playback quality, currently 1080p").bounds().x1, row_end);
    }
}

// ---- device sync ----

TEST(SettingsDeviceSync, UnavailableShowsOnlyTheHeaderAndTheUnavailableBox) {
    SettingsFixture plain;
    plain.build();
    EXPECT_TRUE(has_text(*plain.page, "Start the live app to initialize device sync."));
    EXPECT_TRUE(has_text(*plain.page, "Unavailable"));
    EXPECT_EQ(plain.rows(3).size(), 2u);

    // Even with devices listed, an unavailable handle shows nothing of them.
    SettingsFixture f{handle_with(DeviceSyncState::Unavailable, {peer("approved-peer-id", "Phone")})};
    f.build();
    const auto rows = f.rows(3);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(texts_of(*rows[1]),
              std::vector<std::string>{"Encrypted device sync is unavailable on this desktop. Ensure the desktop "
                                       "secret broker is available and unlocked, then reopen Sarn."});
    EXPECT_FALSE(has_text(*f.page, "Phone"));
    EXPECT_EQ(find_id(*f.page, "grayjay_pairing_invite"), nullptr);
    EXPECT_EQ(find_id(*f.page, "grayjay_pair"), nullptr);
}

TEST(SettingsDeviceSync, DemonstrationHandleShowsKeyPairingCardAndApprovedDevice) {
    SettingsFixture f{demo_device_sync_handle()};
    const PeerRecord& phone = f.device_sync.peers()[0];
    const PeerRecord& tablet = f.device_sync.peers()[1];
    ASSERT_TRUE(phone.last_sync_at.has_value());
    f.now = *phone.last_sync_at + 180;
    f.build();

    const auto rows = f.rows(3);
    ASSERT_EQ(rows.size(), 6u);  // header, key, pairing, one card, approved header, one device
    EXPECT_EQ(texts_of(*rows[0]), (std::vector<std::string>{"Grayjay devices",
                                                             "Two devices are ready; one awaits your approval.",
                                                             "Ready"}));
    EXPECT_EQ(texts_of(*rows[1]),
              std::vector<std::string>{"This device · demoIdentity7Q4X2K… · key held by desktop secret broker"});
    EXPECT_EQ(texts_of(*rows[2]),
              (std::vector<std::string>{"Pair a device",
                                        "In Grayjay, open Sync → Add device, then paste its invite here.",
                                        "Pair device"}));
    EXPECT_EQ(texts_of(*rows[3]), (std::vector<std::string>{"Confirm this device",
                                                             "Fingerprint 5f:d2:60:8 · verify it on Grayjay",
                                                             "Approve"}));
    EXPECT_EQ(texts_of(*rows[4]), (std::vector<std::string>{"Approved devices", "Sync now"}));
    EXPECT_EQ(texts_of(*rows[5]),
              (std::vector<std::string>{"Phone", "3a:41:9c:0 · Last synced 3 minutes ago", "Revoke"}));

    struct Control {
        const char* id;
        ControlIntent intent;
    };
    const Control controls[] = {
        {"grayjay_pair", intent::PairDevice{}},
        {"grayjay_approve_5f:d2:60:8", intent::ApproveDevice{tablet.id}},
        {"grayjay_sync_now", intent::SyncDevices{}},
        {"grayjay_revoke_3a:41:9c:0", intent::RevokeDevice{phone.id}},
    };
    for (const Control& c : controls) {
        f.click(f.at(c.id));
        EXPECT_EQ(take_intents(f.intents), std::vector<ControlIntent>{c.intent}) << c.id;
    }
    // The revoke button is the danger form.
    auto& revoke = dynamic_cast<Flex&>(f.at("grayjay_revoke_3a:41:9c:0"));
    EXPECT_EQ(revoke.background()->border->color, f.h.env.theme.danger);
}

TEST(SettingsDeviceSync, RevokedAndPendingDevicesGetNeitherCardNorRow) {
    PeerRecord revoked_pending = peer("revoked-pending-id", "Old tablet");
    revoked_pending.pending_approval = true;
    revoked_pending.revoked_at = kNow - 10;
    PeerRecord revoked = peer("revoked-approved-id", "Old phone");
    revoked.revoked_at = kNow - 10;
    PeerRecord pending = peer("pending-peer-id", "New tablet");
    pending.pending_approval = true;

    SettingsFixture f{handle_with(DeviceSyncState::NeedsAttention, {revoked_pending, revoked, pending})};
    f.build();
    EXPECT_EQ(ids_with_prefix(*f.page, "grayjay_approve_"), std::vector<std::string>{"grayjay_approve_pending-pe"});
    EXPECT_TRUE(ids_with_prefix(*f.page, "grayjay_revoke_").empty());
    EXPECT_EQ(find_id(*f.page, "grayjay_sync_now"), nullptr);
    EXPECT_FALSE(has_text(*f.page, "Old tablet"));
    EXPECT_FALSE(has_text(*f.page, "Old phone"));
    EXPECT_TRUE(has_text(*f.page, "No approved devices yet. Pairing requires confirmation on both devices."));
    EXPECT_TRUE(has_text(*f.page, "Needs attention"));
}

TEST(SettingsDeviceSync, WithoutALocalKeyThereIsNoKeyLine) {
    SettingsFixture f{fresh_worker_handle()};
    f.build();
    const auto rows = f.rows(3);
    ASSERT_EQ(rows.size(), 3u);  // header, pairing, the no-devices box
    EXPECT_EQ(texts_of(*rows[0]),
              (std::vector<std::string>{"Grayjay devices", "Loading approved devices…", "Ready"}));
    EXPECT_EQ(rows[1]->children().size(), 4u);  // the pairing block
    EXPECT_EQ(texts_of(*rows[2]),
              std::vector<std::string>{"No approved devices yet. Pairing requires confirmation on both devices."});
}

TEST(SettingsDeviceSync, ApprovedDevicesInHandleOrderWithTheirSyncTexts) {
    PeerRecord first = peer("ffffffffff-first", "Laptop");
    first.last_error = "transport error: refused";
    PeerRecord second = peer("0000000000-second", "Phone");
    second.last_sync_at = kNow - 120;
    PeerRecord third = peer("1111111111-third", "Watch");

    SettingsFixture f{handle_with(DeviceSyncState::Syncing, {first, second, third}, "short")};
    f.build();
    EXPECT_TRUE(has_text(*f.page, "This device · short… · key held by desktop secret broker"));
    EXPECT_EQ(ids_with_prefix(*f.page, "grayjay_revoke_"),
              (std::vector<std::string>{"grayjay_revoke_ffffffffff", "grayjay_revoke_0000000000",
                                        "grayjay_revoke_1111111111"}));
    EXPECT_TRUE(has_text(*f.page, "ffffffffff · Could not sync · transport error: refused"));
    EXPECT_TRUE(has_text(*f.page, "0000000000 · Last synced 2 minutes ago"));
    EXPECT_TRUE(has_text(*f.page, "1111111111 · Not synced yet"));
    EXPECT_TRUE(has_text(*f.page, "Syncing…"));
    EXPECT_FALSE(has_text(*f.page, "No approved devices yet. Pairing requires confirmation on both devices."));
}

TEST(SettingsDeviceSync, PeerSyncText) {
    struct Case {
        std::optional<std::uint64_t> last_sync_at;
        std::optional<std::string> last_error;
        std::uint64_t now;
        const char* text;
    };
    const Case table[] = {
        {std::nullopt, std::nullopt, kNow, "Not synced yet"},
        {kNow - 120, std::nullopt, kNow, "Last synced 2 minutes ago"},
        {kNow - 5, std::nullopt, kNow, "Last synced just now"},
        {kNow, std::nullopt, kNow, "Last synced just now"},
        {kNow - 120, "peer was revoked on this device", kNow, "Could not sync · peer was revoked on this device"},
        // The clock was set back past the last sync: never a wrapped elapsed time.
        {kNow + 3600, std::nullopt, kNow, "Last synced just now"},
        {kNow, std::nullopt, 0, "Last synced just now"},
    };
    for (const Case& c : table) {
        PeerRecord p = peer("id", "name");
        p.last_sync_at = c.last_sync_at;
        p.last_error = c.last_error;
        EXPECT_EQ(peer_sync_text(p, c.now), c.text);
    }
}

TEST(SettingsDeviceSync, ADeviceSyncedAfterNowShowsJustNowOnThePage) {
    PeerRecord ahead = peer("aaaaaaaaaa-ahead", "Phone");
    ahead.last_sync_at = kNow + 86'400;
    SettingsFixture f{handle_with(DeviceSyncState::Ready, {ahead})};
    f.build();
    EXPECT_TRUE(has_text(*f.page, "aaaaaaaaaa · Last synced just now"));
}

TEST(SettingsDeviceSync, PairingFieldEditsTheHandlesInviteBuffer) {
    SettingsFixture f{demo_device_sync_handle()};
    {
        std::lock_guard lock(f.device_sync.pending_invite()->mutex);
        f.device_sync.pending_invite()->text = "grayjay://abc";
    }
    f.build();
    auto& field = dynamic_cast<TextInput&>(f.at("grayjay_pairing_invite"));
    // The field sits in a framed box of its own, the third child of the pairing block.
    auto& box = dynamic_cast<Flex&>(*f.rows(3)[2]->children_mut()[2]);
    ASSERT_EQ(box.children().size(), 1u);
    EXPECT_EQ(box.children()[0].get(), &field);
    ASSERT_TRUE(box.background() && box.background()->border);
    EXPECT_EQ(box.background()->border->color, f.h.env.theme.input_border);
    EXPECT_EQ(box.background()->fill, f.h.env.theme.control);
    EXPECT_EQ(field.placeholder(), "grayjay:// pairing invite");
    EXPECT_EQ(field.text(), "grayjay://abc");  // shows what the buffer holds
    const auto node = field.accessibility();
    ASSERT_TRUE(node.has_value());
    EXPECT_EQ(node->name, "Grayjay pairing invite");
    EXPECT_FALSE(node->value.has_value() && !node->value->empty());  // the invite stays out of it
    EXPECT_FALSE(field.text_review().has_value());

    (void)f.h.draw(*f.page);  // a drawn field places the caret where it is clicked
    f.click(field);
    f.h.send(*f.page, ui::TextInputEvent{"def"});
    EXPECT_EQ(f.device_sync.pending_invite()->text, "grayjay://abcdef");
    EXPECT_EQ(f.device_sync.take_pairing_invite(), "grayjay://abcdef");
    EXPECT_TRUE(take_intents(f.intents).empty());  // typing queues nothing
}

// ---- pictures ----

// Writes PNGs of the page when SARN_SETTINGS_SHOTS names a directory: the
// three themes at 1280 and 560 wide, and at display scale 2.
TEST(SettingsPageShots, RendersThemesWidthsAndScales) {
    const char* dir = std::getenv("SARN_SETTINGS_SHOTS");
    if (!dir || !*dir) GTEST_SKIP() << "set SARN_SETTINGS_SHOTS to a directory to write the pictures";
    struct Theme {
        const char* name;
        ui::Theme theme;
    };
    const Theme themes[] = {{"dark", ui::Theme::dark()}, {"light", ui::Theme::light()},
                            {"contrast", ui::Theme::high_contrast()}};
    struct Handle {
        const char* name;
        std::function<DeviceSyncHandle()> make;
        bool sponsorblock;
    };
    const Handle handles[] = {{"demo", demo_device_sync_handle, true},
                              {"unavailable", DeviceSyncHandle::unavailable, false}};
    for (const Theme& t : themes) {
        for (const Handle& hd : handles) {
            for (const double width : {1280.0, 560.0}) {
                for (const float scale : {1.0f, 2.0f}) {
                    SettingsFixture f{hd.make()};
                    f.library.settings.sponsorblock = hd.sponsorblock;
                    f.library.settings.dearrow = hd.sponsorblock;
                    f.h.env.theme = t.theme.with_scale(scale);
                    f.h.env.scale = scale;
                    f.library.settings.sponsor_categories["selfpromo"] = SponsorMode::Show;
                    if (const auto& peers = f.device_sync.peers(); !peers.empty() && peers[0].last_sync_at) {
                        f.now = *peers[0].last_sync_at + 180;
                    }
                    const double height = 2300;
                    f.build(width, height);
                    // The first chip is drawn hovered.
                    const ui::Rect chip = f.at("mode_sponsor").bounds();
                    f.h.send(*f.page, vorn_ui_test::move((chip.x0 + chip.x1) / 2 * scale, (chip.y0 + chip.y1) / 2 * scale),
                             scale);
                    ui::Scene scene;
                    ui::widget::DrawContext dcx{f.h.env.theme, f.h.text, f.h.permissions};
                    f.page->draw_with_presence(scene, ui::Affine::scale(scale), dcx,
                                               ui::widget::PresenceContext{ui::Rect{0, 0, width, height}});
                    auto renderer = ui::offscreen::OffscreenRenderer::create(static_cast<std::uint32_t>(width * scale),
                                                                             static_cast<std::uint32_t>(height * scale));
                    ASSERT_TRUE(renderer.has_value());
                    auto image = renderer->render_resilient(scene, f.h.env.theme.background);
                    ASSERT_TRUE(image.has_value());
                    auto png = ui::offscreen::encode_png(image->width, image->height, image->rgba);
                    ASSERT_TRUE(png.has_value());
                    const auto path = std::filesystem::path(dir) /
                                      fmt::format("settings-{}-{}-{}-x{}.png", t.name, hd.name, width, scale);
                    ASSERT_TRUE(ui::offscreen::write_file_atomically(path, *png).has_value());
                }
            }
        }
    }
}

}  // namespace
}  // namespace sarn::screens::test
