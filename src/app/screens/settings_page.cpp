#include "sarn/app/screens/settings_page.h"

#include <array>
#include <chrono>
#include <string_view>
#include <utility>
#include <vector>

#include <fmt/format.h>

#include "sarn/app/format.h"
#include "sarn/app/screens/blocks.h"
#include "sarn/app/screens/shell.h"
#include "sarn/sync/messages.h"
#include "vorn_ui/format.h"
#include "vorn_ui/icons.h"
#include "vorn_ui/widget/text_input.h"

namespace sarn::screens {

using vorn_ui::Color;
using vorn_ui::Theme;
using vorn_ui::widget::TextInput;
using widgets::Background;
using widgets::FlexAlign;
using widgets::Switch;

namespace {

constexpr std::uint16_t kIconDevices = vorn_ui::icons::code(vorn_ui::icons::Icon::Devices);       // 7
constexpr std::uint16_t kIconMonitor = vorn_ui::icons::code(vorn_ui::icons::Icon::Monitor);       // 9
constexpr std::uint16_t kIconKey = vorn_ui::icons::code(vorn_ui::icons::Icon::Key);               // 11
constexpr std::uint16_t kIconSettings = vorn_ui::icons::code(vorn_ui::icons::Icon::Settings);     // 26
constexpr std::uint16_t kIconChooser = vorn_ui::icons::code(vorn_ui::icons::Icon::ArrowUpRight);  // 42

constexpr std::size_t kLocalKeyShown = 18;
constexpr std::size_t kFingerprintLength = 10;

// The first `count` characters (code points) of a UTF-8 text.
std::string_view first_chars(std::string_view text, std::size_t count) {
    std::size_t end = 0;
    for (std::size_t seen = 0; end < text.size() && seen < count; ++seen) {
        ++end;
        while (end < text.size() && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) ++end;
    }
    return text.substr(0, end);
}

std::string fingerprint(const PeerRecord& peer) { return std::string(first_chars(peer.id, kFingerprintLength)); }

// The quality the chip asks for next: the entry after the current one,
// wrapping round; an unknown current value asks for "720p".
std::string next_quality(std::string_view current) {
    for (std::size_t i = 0; i < kAcceptedQualities.size(); ++i) {
        if (kAcceptedQualities[i] == current) {
            return std::string(kAcceptedQualities[(i + 1) % kAcceptedQualities.size()]);
        }
    }
    return "720p";
}

// ---- switches ----

struct SwitchRow {
    std::string_view id;
    std::string_view title;  // also the switch's accessible label
    std::string_view description;
    Setting setting;
};

constexpr std::array kPlaybackSwitches = {
    SwitchRow{"switch_autoplay", "Autoplay next video", "Play the up-next video when this one ends.",
              Setting::Autoplay},
    SwitchRow{"switch_comments", "Show comments", "Load the comment section on the watch page.",
              Setting::ShowComments},
    SwitchRow{"switch_dislikes", "Show dislikes", "Display the crowdsourced dislike count (Return YouTube Dislike).",
              Setting::ReturnDislike},
};
constexpr SwitchRow kSponsorBlockSwitch{"switch_sponsorblock", "Enable SponsorBlock",
                                        "Use community segment data to mark and skip parts of videos.",
                                        Setting::SponsorBlock};
constexpr std::array kDeArrowSwitches = {
    SwitchRow{"switch_dearrow", "Enable DeArrow", "Use community branding in place of clickbait.", Setting::DeArrow},
    SwitchRow{"switch_dearrow_titles", "Replace clickbait titles",
              "Show community-submitted, factual titles instead of clickbait.", Setting::DeArrowTitles},
    SwitchRow{"switch_dearrow_thumbs", "Replace thumbnails",
              "Use neutral community thumbnails in place of clickbait frames.", Setting::DeArrowThumbnails},
};

Flex switch_row(const PageContext& cx, const SwitchRow& row, bool dimmed) {
    const bool on = cx.library.settings.flag(row.setting);
    Switch toggle = Switch(on, intent::ToggleSetting{row.setting}, cx.intents)
                        .with_id(std::string(row.id))
                        .with_label(std::string(row.title));
    return settings_switch_row(cx.theme(), row.title, row.description, std::move(toggle), dimmed);
}

// ---- playback ----

Flex quality_row(const PageContext& cx) {
    const Theme& theme = cx.theme();
    const std::string& quality = cx.library.settings.preferred_quality;
    Flex chip = Flex::row()
                    .with_gap(6)
                    .with_padding_xy(10, 6)
                    .with_cross_align(FlexAlign::Center)
                    .with_background(Background::filled(theme.control, theme.radius_input).with_border(1, theme.border))
                    .with_intent(cx.intents, intent::SetQuality{next_quality(quality)})
                    .with_label(fmt::format("Playback quality, currently {}", quality))
                    .child(colored_label_text(quality, 12.5f, theme.text))
                    .child(icon(kIconChooser, 12, theme.text_muted));
    return settings_row(theme, "Preferred quality", "Highest resolution to request when available.", std::move(chip),
                        false);
}

Flex playback_section(const PageContext& cx) {
    std::vector<Flex> rows;
    for (const SwitchRow& row : kPlaybackSwitches) rows.push_back(switch_row(cx, row, false));
    rows.push_back(quality_row(cx));
    return settings_section(cx.theme(), "Playback", std::move(rows));
}

// ---- skip segments ----

constexpr std::array<std::string_view, kSponsorCategoryCount> kCategoryDescriptions = {
    "Paid promotion, paid referrals and direct advertisements.",
    "Unpaid/self promotion, merch, donations, charity.",
    "\"Like and subscribe\" reminders without other content.",
    "An interval without actual content — pause, animation, intro.",
    "Credits or when the video is over — endcards and outros.",
    "Quick recap of previous episodes or a preview of what's coming.",
    "Non-music sections in a music video — for music listening.",
    "Tangential scenes added only to lengthen the video.",
};

// The mode a chip shows: the stored entry, Skip when there is none. The
// master switch is not consulted: the chips show what is kept for later.
SponsorMode stored_mode(const PlaybackSettings& settings, SponsorCategory category) {
    const auto found = settings.sponsor_categories.find(category_key(category));
    return found == settings.sponsor_categories.end() ? SponsorMode::Skip : found->second;
}

struct ModeStyle {
    std::string_view word;
    Background rest;
    Background hover;
    Color text;
};

ModeStyle mode_style(const Theme& theme, SponsorMode mode) {
    const double r = theme.radius_control;
    switch (mode) {
        case SponsorMode::Skip:
            // Under the pointer the chip stays a selected control: its word keeps the
            // contrast colour of the selection, which `control_hover` would swallow.
            return {"Auto-skip", Background::filled(theme.selection, r), Background::filled(theme.selection_hover, r),
                    contrast_text_color(theme.selection)};
        case SponsorMode::Show:
            return {"Show", Background::filled(theme.control, r).with_border(1, theme.border),
                    Background::filled(theme.control_hover, r).with_border(1, theme.border), theme.text};
        case SponsorMode::Disabled:
            break;
    }
    return {"Off", Background::outlined(1, theme.border, r),
            Background::filled(theme.control_hover, r).with_border(1, theme.border), theme.text_muted};
}

Flex category_row(const PageContext& cx, SponsorCategory category) {
    const Theme& theme = cx.theme();
    const Rgb rgb = category_colour(category);
    const std::string_view label = category_label(category);
    const ModeStyle style = mode_style(theme, stored_mode(cx.library.settings, category));

    Flex swatch = Flex::row()
                      .with_width(FlexSize::px(14))
                      .with_height(FlexSize::px(14))
                      .with_background(Background::filled(Color::rgba8(rgb.r, rgb.g, rgb.b), 4));
    Flex block = Flex::row()
                     .with_gap(10)
                     .with_grow(1)
                     .with_cross_align(FlexAlign::Center)
                     .child(std::move(swatch))
                     .child(Flex::column()
                                .with_grow(1)
                                .with_gap(2)
                                .child(label_text(label, 14))
                                .child(colored_label_text(kCategoryDescriptions[static_cast<std::size_t>(category)],
                                                          12, theme.text_muted)));
    Flex chip = Flex::row()
                    .with_id(fmt::format("mode_{}", category_key(category)))
                    .with_width(FlexSize::px(104))
                    .with_padding_xy(12, 7)
                    .with_main_align(FlexAlign::Center)
                    .with_cross_align(FlexAlign::Center)
                    .with_background(style.rest)
                    .with_hover_background(style.hover)
                    .with_intent(cx.intents, intent::CycleSegmentMode{category})
                    .with_label(fmt::format("{}: {}", label, style.word))
                    .child(colored_label_text(style.word, 12.5f, style.text));
    return Flex::row()
        .with_width(FlexSize::fill())
        .with_padding_xy(0, 8)
        .with_gap(16)
        .with_cross_align(FlexAlign::Center)
        .child(std::move(block))
        .child(std::move(chip));
}

Flex sponsorblock_section(const PageContext& cx) {
    std::vector<Flex> rows;
    rows.push_back(switch_row(cx, kSponsorBlockSwitch, false));
    for (SponsorCategory category : kAllSponsorCategories) rows.push_back(category_row(cx, category));
    return settings_section(cx.theme(), "SponsorBlock", std::move(rows));
}

Flex dearrow_section(const PageContext& cx) {
    const bool master_on = cx.library.settings.dearrow;
    std::vector<Flex> rows;
    for (const SwitchRow& row : kDeArrowSwitches) {
        rows.push_back(switch_row(cx, row, row.setting != Setting::DeArrow && !master_on));
    }
    return settings_section(cx.theme(), "DeArrow", std::move(rows));
}

// ---- device sync ----

Flex muted_box(const Theme& theme, std::string_view text) {
    return Flex::row()
        .with_width(FlexSize::fill())
        .with_padding(16)
        .with_background(Background::filled(theme.control, theme.radius_control))
        .child(colored_label_text(text, 12.5f, theme.text_muted));
}

Flex device_header(const Theme& theme, const DeviceSyncHandle& device_sync) {
    Flex tile = Flex::row()
                    .with_width(FlexSize::px(42))
                    .with_height(FlexSize::px(42))
                    .with_main_align(FlexAlign::Center)
                    .with_cross_align(FlexAlign::Center)
                    .with_background(Background::filled(theme.tile, 12))
                    .child(icon(kIconDevices, 20, theme.accent));
    Flex state_chip =
        Flex::row()
            .with_padding_xy(10, 6)
            .with_background(Background::filled(theme.control, theme.radius_control).with_border(1, theme.border))
            .child(colored_label_text(device_sync_state_label(device_sync.state()), 12, theme.text_muted));
    return Flex::row()
        .with_width(FlexSize::fill())
        .with_gap(14)
        .with_cross_align(FlexAlign::Center)
        .child(std::move(tile))
        .child(Flex::column()
                   .with_grow(1)
                   .with_gap(3)
                   .child(label_text("Grayjay devices", 15))
                   .child(colored_label_text(device_sync.status_text(), 12, theme.text_muted)))
        .child(std::move(state_chip));
}

Flex local_key_row(const Theme& theme, std::string_view key) {
    return Flex::row()
        .with_width(FlexSize::fill())
        .with_gap(10)
        .with_cross_align(FlexAlign::Center)
        .child(icon(kIconKey, 16, theme.accent_alt))
        .child(colored_label_text(fmt::format("This device · {}… · key held by desktop secret broker",
                                              first_chars(key, kLocalKeyShown)),
                                  12, theme.text_muted));
}

Flex pairing_block(const PageContext& cx, const std::shared_ptr<PendingInvite>& invite) {
    const Theme& theme = cx.theme();
    // The field edits the handle's buffer in place, so the invite never sits
    // in a root state; it is kept out of accessibility values and reviews.
    TextInput field = TextInput::local()
                          .with_id("grayjay_pairing_invite")
                          .with_external_buffer(invite)
                          .with_placeholder("grayjay:// pairing invite")
                          .with_label("Grayjay pairing invite")
                          .with_option(vorn_ui::widget::text_input::InputOption::Sensitive);
    // The runtime's field draws no box of its own: framed like the other input
    // rows, it reads as a place to paste into rather than as a caption.
    Flex field_box =
        Flex::row()
            .with_width(FlexSize::fill())
            .with_padding_xy(8, 8)
            .with_cross_align(FlexAlign::Center)
            .with_background(Background::filled(theme.control, theme.radius_input).with_border(1, theme.input_border))
            .child(std::move(field));
    return Flex::column()
        .with_width(FlexSize::fill())
        .with_gap(8)
        .child(label_text("Pair a device", 14))
        .child(colored_label_text("In Grayjay, open Sync → Add device, then paste its invite here.", 12,
                                  theme.text_muted))
        .child(std::move(field_box))
        .child(settings_button(theme, cx.intents, "grayjay_pair", "Pair device", intent::PairDevice{}, false));
}

// One device as a card: the icon (19), the title (13.5) over the detail
// line (11.5, muted), then the card's button.
Flex device_card(const Theme& theme, Background background, std::uint16_t icon_number, Color icon_color,
                 std::string_view title, std::string detail, Flex button) {
    return Flex::row()
        .with_width(FlexSize::fill())
        .with_gap(12)
        .with_padding(12)
        .with_cross_align(FlexAlign::Center)
        .with_background(std::move(background))
        .child(icon(icon_number, 19, icon_color))
        .child(Flex::column()
                   .with_grow(1)
                   .with_gap(2)
                   .child(label_text(title, 13.5f))
                   .child(colored_label_text(std::move(detail), 11.5f, theme.text_muted)))
        .child(std::move(button));
}

Flex confirmation_card(const PageContext& cx, const PeerRecord& peer) {
    const Theme& theme = cx.theme();
    const std::string print = fingerprint(peer);
    return device_card(theme, Background::filled(theme.tile, 12).with_border(1, theme.input_border), kIconKey,
                       theme.accent, "Confirm this device",
                       fmt::format("Fingerprint {} · verify it on Grayjay", print),
                       settings_button(theme, cx.intents, fmt::format("grayjay_approve_{}", print), "Approve",
                                       intent::ApproveDevice{peer.id}, false));
}

Flex approved_header(const PageContext& cx) {
    return Flex::row()
        .with_width(FlexSize::fill())
        .with_cross_align(FlexAlign::Center)
        .child(label_text("Approved devices", 14))
        .child(flex_spacer())
        .child(settings_button(cx.theme(), cx.intents, "grayjay_sync_now", "Sync now", intent::SyncDevices{}, false));
}

Flex approved_row(const PageContext& cx, const PeerRecord& peer, std::uint64_t now) {
    const Theme& theme = cx.theme();
    const std::string print = fingerprint(peer);
    return device_card(theme, Background::filled(theme.control, theme.radius_control), kIconMonitor, theme.text_muted,
                       peer.name, fmt::format("{} · {}", print, peer_sync_text(peer, now)),
                       settings_button(theme, cx.intents, fmt::format("grayjay_revoke_{}", print), "Revoke",
                                       intent::RevokeDevice{peer.id}, true));
}

// A device waiting for approval gets a card unless it was revoked meanwhile.
bool awaits_approval(const PeerRecord& peer) { return peer.pending_approval && !peer.revoked_at.has_value(); }

// The rows of the device-sync section keep the other sections' 10 above and
// below, so that their text and buttons do not touch the dividers.
std::vector<Flex> spaced(std::vector<Flex> rows) {
    std::vector<Flex> out;
    out.reserve(rows.size());
    for (Flex& row : rows) {
        out.push_back(Flex::column().with_width(FlexSize::fill()).with_padding_xy(0, 10).child(std::move(row)));
    }
    return out;
}

Flex device_sync_section(const PageContext& cx, const DeviceSyncHandle& device_sync,
                         const std::shared_ptr<PendingInvite>& invite, std::uint64_t now) {
    const Theme& theme = cx.theme();
    std::vector<Flex> rows;
    rows.push_back(device_header(theme, device_sync));
    if (device_sync.state() == DeviceSyncState::Unavailable) {
        rows.push_back(muted_box(theme,
                                 "Encrypted device sync is unavailable on this desktop. Ensure the desktop secret "
                                 "broker is available and unlocked, then reopen Sarn."));
        return settings_section(theme, "Device sync", spaced(std::move(rows)));
    }
    if (const auto& key = device_sync.local_key()) rows.push_back(local_key_row(theme, *key));
    rows.push_back(pairing_block(cx, invite));
    for (const PeerRecord& peer : device_sync.peers()) {
        if (awaits_approval(peer)) rows.push_back(confirmation_card(cx, peer));
    }
    bool any_approved = false;
    for (const PeerRecord& peer : device_sync.peers()) {
        if (!peer.is_approved()) continue;
        if (!any_approved) rows.push_back(approved_header(cx));
        any_approved = true;
        rows.push_back(approved_row(cx, peer, now));
    }
    if (!any_approved) {
        rows.push_back(muted_box(theme, "No approved devices yet. Pairing requires confirmation on both devices."));
    }
    return settings_section(theme, "Device sync", spaced(std::move(rows)));
}

std::uint64_t system_now_unix_seconds() {
    const auto since = std::chrono::system_clock::now().time_since_epoch();
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(since).count();
    return seconds > 0 ? static_cast<std::uint64_t>(seconds) : 0;
}

}  // namespace

std::string peer_sync_text(const PeerRecord& peer, std::uint64_t now_unix_seconds) {
    if (peer.last_error) return fmt::format("Could not sync · {}", *peer.last_error);
    if (!peer.last_sync_at) return "Not synced yet";
    // A clock set back puts the last sync in the future: that is just now,
    // not an elapsed time wrapped round to centuries.
    const std::uint64_t last = *peer.last_sync_at;
    const std::uint64_t elapsed = now_unix_seconds > last ? now_unix_seconds - last : 0;
    return fmt::format("Last synced {}", vorn_ui::format::relative(elapsed));
}

vorn_ui::widget::scrollable::Scrollable settings_page(const PageContext& cx, const DeviceSyncHandle& device_sync,
                                                      const std::shared_ptr<PendingInvite>& invite) {
    return settings_page(cx, device_sync, invite, system_now_unix_seconds());
}

vorn_ui::widget::scrollable::Scrollable settings_page(const PageContext& cx, const DeviceSyncHandle& device_sync,
                                                      const std::shared_ptr<PendingInvite>& invite,
                                                      std::uint64_t now_unix_seconds) {
    Flex page = Flex::column()
                    .with_width(FlexSize::fill())
                    .with_max_width(820)
                    .with_padding(24)
                    .child(page_header(cx.theme(), kIconSettings, "Settings", ""))
                    .child(spacer_row(18))
                    .child(playback_section(cx))
                    .child(spacer_row(16))
                    .child(sponsorblock_section(cx))
                    .child(spacer_row(16))
                    .child(dearrow_section(cx))
                    .child(spacer_row(16))
                    .child(device_sync_section(cx, device_sync, invite, now_unix_seconds))
                    .child(spacer_row(24));
    return scroll_page(std::move(page));
}

}  // namespace sarn::screens
