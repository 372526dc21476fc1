// The shell around every page: top bar, sidebar, action search overlay and
// the page scroll container.
#include "sarn/app/screens/shell.h"

#include <algorithm>
#include <cctype>

#include <fmt/format.h>

#include "sarn/app/action_tree.h"
#include "sarn/app/format.h"
#include "sarn/app/palette_search.h"
#include "sarn/app/screens/blocks.h"
#include "vorn_ui/icons.h"
#include "vorn_ui/widget/text_input.h"

namespace sarn::screens {

namespace {

using vorn_ui::icons::Icon;
using vorn_ui::icons::code;
using vorn_ui::widget::TextInput;
using widgets::Background;
using widgets::FlexAlign;

constexpr float kTopBarHeight = 66.0f;
constexpr std::size_t kPaletteRows = 8;
constexpr std::uint8_t kSearchInputKind = 2;

// A 40 × 40 box holding one icon, with the hover colour of a bar button.
Flex bar_button_box(const vorn_ui::Theme& theme, Icon which, std::string id) {
    return Flex::row()
        .with_id(std::move(id))
        .with_width(FlexSize::px(40))
        .with_height(FlexSize::px(40))
        .with_cross_align(FlexAlign::Center)
        .with_main_align(FlexAlign::Center)
        .with_hover_background(Background::filled(theme.control_hover, theme.radius_control))
        .child(icon(code(which), 20, theme.text));
}

Flex search_box(const vorn_ui::Theme& theme, const vorn_ui::local_state::TextState& search_text) {
    // The box takes the room before the spacer up to its 560: sharing it
    // evenly left a narrow window a field of a few letters beside empty space.
    return Flex::row()
        .with_grow(8)
        .with_shrink(1)
        .with_max_width(560)
        .with_height(FlexSize::px(42))
        .with_padding_xy(16, 0)
        .with_gap(10)
        .with_cross_align(FlexAlign::Center)
        .with_background(Background::filled(theme.control, theme.radius_control).with_border(1, theme.border))
        .child(icon(code(Icon::Search), 18, theme.text_muted))
        .child(Flex::row().with_grow(1).with_shrink(1).child(TextInput::from_state(search_text)
                                                                 .with_id("search_input")
                                                                 .with_kind(kSearchInputKind)
                                                                 .with_text_size(15)
                                                                 .with_placeholder("Search")));
}

Flex status_group(const PageContext& cx, bool compact) {
    const vorn_ui::Theme& theme = cx.theme();
    Flex group = Flex::row().with_gap(8).with_cross_align(FlexAlign::Center);
    if (cx.library.status.live || compact) return group;
    const bool connecting = cx.library.status.text.find("connect") != std::string::npos;
    const vorn_ui::Color dot = connecting ? theme.warning : theme.text_muted;
    return std::move(group).child(
        Flex::row()
            .with_gap(6)
            .with_padding_xy(10, 6)
            .with_cross_align(FlexAlign::Center)
            .with_background(Background::filled(theme.control, theme.radius_control))
            .child(Flex::row()
                       .with_width(FlexSize::px(8))
                       .with_height(FlexSize::px(8))
                       .with_background(Background::filled(dot, 4)))
            .child(colored_label_text(connecting ? "Connecting…" : "Offline", 12, theme.text_muted)));
}

std::string lower(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::tolower(c); });
    return out;
}

// The key of a route that selects a sidebar entry; empty for the others.
std::string_view sidebar_key(const Route& route) {
    switch (route.kind) {
        case Route::Kind::Home: return "home";
        case Route::Kind::Trending: return "trending";
        case Route::Kind::Subscriptions: return "subs";
        case Route::Kind::Queue: return "queue";
        case Route::Kind::History: return "history";
        case Route::Kind::Settings: return "settings";
        default: return "";
    }
}

Flex palette_row(const vorn_ui::Theme& theme, const IntentQueue& queue, const PaletteEntry& entry, std::size_t index,
                 bool selected) {
    const bool channel = entry.kind == kPaletteChannelKind;
    const std::string subtitle = channel ? fmt::format("Channel · {}", entry.secondary)
                                         : fmt::format("{} · {}", entry.secondary, timecode_from_secs(entry.duration));
    Flex row = Flex::row()
                   .with_id(fmt::format("palette_row_{}", index))
                   .with_width(FlexSize::fill())
                   .with_padding_xy(12, 9)
                   .with_gap(12)
                   .with_cross_align(FlexAlign::Center)
                   .with_hover_background(Background::filled(theme.control_hover, theme.radius_input));
    // The row the arrow keys picked: the hover colour, outlined so that it shows
    // in every theme.
    if (selected) {
        row = std::move(row).with_background(
            Background::filled(theme.control_hover, theme.radius_input).with_border(1, theme.focus_ring));
    }
    return std::move(row)
        .with_intent(queue, intent::OpenSearchResult{entry.link})
        .with_label(fmt::format("Open search result: {}", entry.title))
        .child(Flex::row()
                   .with_width(FlexSize::px(34))
                   .with_height(FlexSize::px(34))
                   .with_cross_align(FlexAlign::Center)
                   .with_main_align(FlexAlign::Center)
                   .with_background(Background::filled(theme.control, theme.radius_control))
                   .child(icon(code(channel ? Icon::Subscriptions : Icon::Play), 16, theme.text_muted)))
        .child(Flex::column()
                   .with_grow(1)
                   .with_shrink(1)
                   .with_gap(2)
                   .child(label_text(entry.title, 14))
                   .child(colored_label_text(subtitle, 12, theme.text_muted)))
        .child(icon(code(Icon::ArrowUpRight), 14, theme.text_muted));
}

Flex palette_note(const vorn_ui::Theme& theme, std::string_view text) {
    return Flex::column()
        .with_width(FlexSize::fill())
        .with_padding(20)
        .with_cross_align(FlexAlign::Center)
        .child(colored_label_text(text, 13, theme.text_muted));
}

}  // namespace

Flex top_bar(const PageContext& cx, bool can_go_back, const vorn_ui::local_state::TextState& search_text,
             bool compact) {
    const vorn_ui::Theme& theme = cx.theme();
    Flex toggle = bar_button_box(theme, Icon::Menu, "nav_toggle").with_label("Show or hide navigation");
    if (auto binding = sidebar_binding()) toggle = std::move(toggle).with_binding(std::move(*binding));

    Flex bar = Flex::row()
                   .with_width(FlexSize::fill())
                   .with_height(FlexSize::px(kTopBarHeight))
                   .with_padding_xy(20, 0)
                   .with_gap(16)
                   .with_cross_align(FlexAlign::Center)
                   .with_background(Background::filled(theme.chrome, 0).with_border(1, theme.border))
                   .child(std::move(toggle));
    if (can_go_back) {
        bar = std::move(bar).child(
            bar_button_box(theme, Icon::ArrowLeft, "back_btn").with_intent(cx.intents, intent::GoBack{}));
    }
    if (compact) {
        bar = std::move(bar).child(
            icon_intent_button(theme, cx.intents, code(Icon::Search), intent::OpenActionSearch{}, "compact_search"));
    } else {
        bar = std::move(bar).child(search_box(theme, search_text));
    }
    return std::move(bar).child(flex_spacer()).child(status_group(cx, compact)).child(small_avatar("You"));
}

Flex sidebar_item(const vorn_ui::Theme& theme, std::uint16_t icon_number, std::string_view label, const Route& route,
                  bool selected, bool wide) {
    const vorn_ui::Color ink = selected ? contrast_text_color(theme.selection) : theme.text_muted;
    Flex item = wide ? Flex::row().with_padding_xy(14, 12).with_gap(12).with_cross_align(FlexAlign::Center)
                     : Flex::column()
                           .with_padding_xy(4, 8)
                           .with_gap(4)
                           .with_cross_align(FlexAlign::Center)
                           .with_main_align(FlexAlign::Center);
    item = std::move(item)
               .with_id("nav_" + lower(label))
               .with_label(std::string(label))
               .with_width(FlexSize::fill())
               .with_hover_background(Background::filled(selected ? theme.selection : theme.control_hover, theme.radius))
               .child(icon(icon_number, wide ? 21 : 22, ink))
               .child(colored_label_text(label, wide ? 14 : 11, ink));
    if (selected) item = std::move(item).with_background(Background::filled(theme.selection, theme.radius));
    if (auto binding = route_binding(route)) item = std::move(item).with_binding(std::move(*binding));
    return item;
}

Flex sidebar(const PageContext& cx, double width) {
    const vorn_ui::Theme& theme = cx.theme();
    const bool wide = width > 86.0;
    const std::string_view current = sidebar_key(cx.library.route);
    struct Entry {
        std::string_view label;
        Icon icon;
        Route route;
    };
    const Entry entries[] = {
        {"Home", Icon::Home, Route::home()},
        {"Trending", Icon::Trending, Route::trending()},
        {"Subs", Icon::Subscriptions, Route::subscriptions()},
        {"Queue", Icon::List, Route::queue()},
        {"History", Icon::History, Route::history()},
    };
    Flex column = Flex::column()
                      .with_width(FlexSize::px(static_cast<float>(width)))
                      .with_height(FlexSize::fill())
                      .with_padding_xy(8, 14)
                      .with_gap(8)
                      .with_cross_align(FlexAlign::Center)
                      .with_background(Background::filled(theme.chrome, 0).with_border(1, theme.border))
                      .child(Flex::row()
                                 .with_width(FlexSize::px(44))
                                 .with_height(FlexSize::px(44))
                                 .with_cross_align(FlexAlign::Center)
                                 .with_main_align(FlexAlign::Center)
                                 .with_background(Background::filled(theme.accent, theme.radius))
                                 .child(icon(code(Icon::Play), 22, vorn_ui::Color::white())))
                      .child_if(wide, label_text("Sarn", 16))
                      .child(sized_box(1, 6));
    for (const Entry& e : entries) {
        column = std::move(column).child(
            sidebar_item(theme, code(e.icon), e.label, e.route, sidebar_key(e.route) == current, wide));
    }
    return std::move(column)
        .child(flex_spacer())
        .child(sidebar_item(theme, code(Icon::Settings), "Settings", Route::settings(), current == "settings", wide));
}

std::vector<PaletteEntry> palette_rows(const Library& library) {
    PaletteSource source = palette_source_for(library);
    auto entries = palette_channel_matches(source, library, library.palette_query);
    if (entries.size() > kPaletteRows) entries.resize(kPaletteRows);
    return entries;
}

std::optional<Flex> action_palette(const PageContext& cx, const vorn_ui::local_state::TextState& palette_text,
                                   std::optional<std::size_t> selected_row) {
    const Library& library = cx.library;
    if (!library.palette_open) return std::nullopt;
    const vorn_ui::Theme& theme = cx.theme();

    const auto entries = palette_rows(library);

    Flex search_row =
        Flex::row()
            .with_width(FlexSize::fill())
            .with_height(FlexSize::px(46))
            .with_padding_xy(14, 0)
            .with_gap(10)
            .with_cross_align(FlexAlign::Center)
            .with_background(Background::filled(theme.control, theme.radius_input).with_border(1, theme.input_border))
            .child(icon(code(Icon::Search), 18, theme.accent))
            .child(Flex::row().with_grow(1).with_shrink(1).child(TextInput::from_state(palette_text)
                                                                     .with_id("palette_input")
                                                                     .with_kind(kSearchInputKind)
                                                                     .with_text_size(16)
                                                                     .with_placeholder("Search videos and channels…")))
            .child(Flex::row()
                       .with_padding_xy(7, 3)
                       .with_background(Background::filled(theme.control, theme.radius_control))
                       .child(colored_label_text("Ctrl K", 11, theme.text_muted)));

    Flex list = Flex::column().with_width(FlexSize::fill()).with_gap(2);
    const bool blank = library.palette_query.find_first_not_of(" \t\n\r\f\v") == std::string::npos;
    if (blank) {
        list = std::move(list).child(palette_note(theme, "Type to search across Sarn"));
    } else if (entries.empty()) {
        list = std::move(list).child(palette_note(theme, "No matches"));
    } else {
        for (std::size_t i = 0; i < entries.size(); ++i) {
            list = std::move(list).child(palette_row(theme, cx.intents, entries[i], i, selected_row == i));
        }
    }

    Flex card = Flex::column()
                    .with_id("palette_card")
                    .with_width(FlexSize::percent(0.94f))
                    .with_max_width(560)
                    .with_gap(10)
                    .with_padding(14)
                    .with_background(Background::filled(theme.raised, theme.radius).with_border(1, theme.border))
                    .with_intent(cx.intents, intent::OpenActionSearch{})
                    .with_label("Action search dialog")
                    .child(std::move(search_row))
                    .child(divider(theme))
                    .child(std::move(list));

    return Flex::column()
        .with_id("palette_scrim")
        .with_width(FlexSize::fill())
        .with_height(FlexSize::fill())
        .with_padding_edges(0, 96, 0, 96)
        .with_cross_align(FlexAlign::Center)
        .with_main_align(FlexAlign::Start)
        .with_background(Background::filled(vorn_ui::Color::rgba8(0, 0, 0, 140)))
        .with_intent(cx.intents, intent::CloseActionSearch{})
        .with_label("Close action search")
        .child(std::move(card));
}

vorn_ui::widget::scrollable::Scrollable scroll_page(Flex page) {
    return vorn_ui::widget::scrollable::Scrollable::with_child(std::move(page).with_block(true))
        .with_settings(24.0f, 0.9f, 0.9f, 0.92f);
}

std::optional<Flex> storage_notices(const PageContext& cx) {
    const Library& library = cx.library;
    if (!library.library_notice && !library.records_notice) return std::nullopt;
    const vorn_ui::Theme& theme = cx.theme();
    auto notice = [&](std::string id, std::string_view title, const std::string& body) {
        return Flex::column()
            .with_id(std::move(id))
            .with_width(FlexSize::fill())
            .with_gap(4)
            .child(colored_label_text(title, 14, theme.warning))
            .child(colored_label_text(body, 12.5f, theme.text_muted));
    };
    Flex column = Flex::column()
                      .with_id("storage_notices")
                      .with_width(FlexSize::fill())
                      .with_gap(10)
                      .with_padding(14)
                      .with_background(Background::filled(theme.raised, 0));
    if (library.library_notice) {
        column = std::move(column).child(
            notice("library_notice", "Library changes are not being saved", *library.library_notice));
    }
    if (library.records_notice) {
        column = std::move(column).child(
            notice("records_notice", "Saved video details unavailable", *library.records_notice));
    }
    return column;
}

}  // namespace sarn::screens
