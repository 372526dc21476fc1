// The page tree: the page of the current route inside the shell, placed,
// drawn behind, and named for assistive technology.
#include <algorithm>

#include "sarn/app/palette_search.h"
#include "sarn/app/sarn_app.h"
#include "sarn/app/screens/browse_pages.h"
#include "sarn/app/screens/feed_pages.h"
#include "sarn/app/screens/settings_page.h"
#include "sarn/app/screens/shell.h"
#include "sarn/app/screens/watch_page.h"
#include "sarn/app/widgets/flex.h"
#include "vorn_ui/widget/nav_split.h"

namespace sarn {

namespace {

using screens::PageContext;
using vorn_ui::widget::scrollable::Scrollable;
using widgets::Flex;
using widgets::FlexSize;

constexpr float kPageScrollbarWidth = 14.0f;

// The sizes of the pages' text. The first page drawn uses some of them; the
// watch page, opened later, most of the others.
constexpr float kPageTextSizes[] = {10.5f, 11.0f, 11.5f, 12.0f, 12.5f, 13.0f, 13.5f,
                                    14.0f, 14.5f, 15.0f, 16.0f, 17.0f, 21.0f, 22.0f};

std::vector<vorn_ui::TextStyle> page_text_styles() {
    std::vector<vorn_ui::TextStyle> styles;
    for (const float size : kPageTextSizes) styles.push_back(vorn_ui::TextStyle::sized(size));
    return styles;
}

}  // namespace

vorn_ui::widget::NodeId SarnApp::build_layout(vorn_ui::widget::LayoutContext& cx) {
    // 1.-3. The scale, the watch page's bindings, the mode this tree is for.
    m_scale = cx.env.scale;
    current_video_resource();
    m_last_layout_mode = is_compact();

    // 4. The page of the current route.
    const PageContext page_cx{m_library, cx.env, m_intents, m_image_store};
    const Route& route = m_library.route;
    auto page = [&]() -> Scrollable {
        switch (route.kind) {
            case Route::Kind::Home: return screens::home_page(page_cx);
            case Route::Kind::Trending: return screens::trending_page(page_cx);
            case Route::Kind::Subscriptions: return screens::subscriptions_page(page_cx);
            case Route::Kind::Queue: return screens::queue_page(page_cx, layout_metrics());
            case Route::Kind::Watch: {
                const double height = std::max(m_bounds.y1 - m_bounds.y0, 1.0);
                return screens::watch_page(page_cx, route.text, m_player, layout_metrics(), height);
            }
            case Route::Kind::Channel: return screens::channel_page(page_cx, route.text);
            case Route::Kind::Playlist: return screens::playlist_page(page_cx, route.text);
            case Route::Kind::Search: return screens::search_page(page_cx, route.text);
            case Route::Kind::History: return screens::history_page(page_cx);
            case Route::Kind::Settings:
                return screens::settings_page(page_cx, *m_device_sync, m_device_sync->pending_invite());
        }
        return screens::home_page(page_cx);
    }();

    // 5. The page keeps its scroll position across rebuilds and navigation.
    auto& offset = m_scroll_offsets[route_scroll_key(route)];
    if (!offset) offset = std::make_shared<vorn_ui::widget::scrollable::ScrollOffset>();
    auto scroller = std::make_unique<Scrollable>(
        std::move(page).with_persisted_offset(offset).with_scrollbar_width(kPageScrollbarWidth));
    m_scroller = scroller.get();

    // 6. The content pane, under the notices of stored data that is not saved.
    Flex content = Flex::column()
                       .with_grow(1)
                       .with_width(FlexSize::fill())
                       .with_height(FlexSize::fill())
                       .with_clip(true);
    if (auto notices = screens::storage_notices(page_cx)) content = std::move(content).child(std::move(*notices));
    content = std::move(content).child(vorn_ui::widget::WidgetPtr(std::move(scroller)));

    // 7. and 8. The sidebar beside it.
    const bool large = m_scale >= kLargeScaleThreshold;
    const double width = m_bounds.x1 - m_bounds.x0;
    const float threshold = static_cast<float>(large ? kCompactWidthLargeScale : kCompactWidth);
    const bool shown = sidebar_visible();
    auto split = vorn_ui::widget::nav_split::NavSplit::make(
        vorn_ui::widget::WidgetPtr(std::make_unique<Flex>(screens::sidebar(page_cx, sidebar_width()))),
        vorn_ui::widget::WidgetPtr(std::make_unique<Flex>(std::move(content))),
        threshold, static_cast<float>(sidebar_width()), shown ? 1.0f : 0.0f);

    // 9. The shell column.
    const bool compact_bar = large && width <= kSidebarFullWidthUpTo;
    Flex shell = Flex::column()
                     .with_width(FlexSize::fill())
                     .with_height(FlexSize::fill())
                     .child(screens::top_bar(page_cx, m_navigation.can_go_back(), m_search_text, compact_bar))
                     .child(std::move(split));

    // 10. The action search lies over everything and takes every event. A row
    // picked for another query than the one shown now is no longer picked.
    if (m_palette_selection && m_palette_selection->query != m_library.palette_query) m_palette_selection.reset();
    std::unique_ptr<Widget> tree;
    if (auto overlay = screens::action_palette(page_cx, m_palette_text, palette_selected_row())) {
        tree = std::make_unique<Flex>(Flex::column()
                                          .with_width(FlexSize::fill())
                                          .with_height(FlexSize::fill())
                                          .child(std::move(shell))
                                          .child(std::move(*overlay).with_modal(true)));
    } else {
        tree = std::make_unique<Flex>(std::move(shell));
    }

    // 11. The new tree replaces the old one.
    m_child = std::move(tree);
    return m_child->build_layout(cx);
}

void SarnApp::apply_layout(const vorn_ui::layout::LayoutTree& tree, vorn_ui::widget::NodeId node,
                           vorn_ui::Point origin) {
    if (auto solved = tree.layout(node)) {
        m_bounds = vorn_ui::Rect{origin.x + solved->x, origin.y + solved->y, origin.x + solved->x + solved->width,
                                 origin.y + solved->y + solved->height};
    }
    if (m_child) m_child->apply_layout(tree, node, origin);
    if (m_bounds.x1 - m_bounds.x0 > 0.0) {
        const bool compact = is_compact();
        if (m_compact && *m_compact != compact) {
            m_sidebar_override = 2;
            m_structure_dirty = true;
        }
        m_compact = compact;
        if (m_last_layout_mode != compact) m_structure_dirty = true;
    }
}

void SarnApp::draw(vorn_ui::Scene& scene, const vorn_ui::Affine& transform, vorn_ui::widget::DrawContext& cx) {
    scene.fill(vorn_ui::FillRule::NonZero, transform, cx.theme.background, m_bounds);
    if (m_child) m_child->draw(scene, transform, cx);
    prepare_page_fonts(cx.text);
}

// Once the first frame is drawn, the fonts of the pages not shown yet load
// while the user looks at it, so that opening one costs no font loading.
void SarnApp::prepare_page_fonts(vorn_ui::TextRenderer& text) {
    if (m_page_fonts_requested) return;
    m_page_fonts_requested = true;
    text.prepare_fonts(page_text_styles());
}

void SarnApp::draw_with_presence(vorn_ui::Scene& scene, const vorn_ui::Affine& transform,
                                 vorn_ui::widget::DrawContext& cx, const vorn_ui::widget::PresenceContext& presence) {
    scene.fill(vorn_ui::FillRule::NonZero, transform, cx.theme.background, m_bounds);
    if (m_child) m_child->draw_with_presence(scene, transform, cx, presence);
    prepare_page_fonts(cx.text);
}

void SarnApp::mark_drawn() {
    if (m_child) m_child->mark_drawn();
}

std::span<const std::unique_ptr<vorn_ui::widget::Widget>> SarnApp::children() const {
    return {&m_child, m_child ? 1u : 0u};
}

std::span<std::unique_ptr<vorn_ui::widget::Widget>> SarnApp::children_mut() { return {&m_child, m_child ? 1u : 0u}; }

const vorn_ui::widget::scrollable::Scrollable* SarnApp::page_scroller() const { return m_child ? m_scroller : nullptr; }

std::optional<vorn_ui::AccessNode> SarnApp::accessibility() const {
    vorn_ui::AccessNode node(vorn_ui::Role::Window, m_bounds);
    node.name = "Sarn — " + route_screen_name(m_library.route, m_library);
    node.description = m_library.status.live ? "Privacy-respecting video client; live catalogue"
                                             : "Privacy-respecting video client; offline";
    node.busy = m_library.home_loading || m_library.search_loading;
    if (!m_library.notices.empty()) node.announcement = m_library.notices.front();
    return node;
}

vorn_ui::widget::SearchProviders SarnApp::search_providers() const {
    return {std::make_shared<SarnSearchProvider>(register_library_catalog(m_library))};
}

}  // namespace sarn
